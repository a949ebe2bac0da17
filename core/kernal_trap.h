// Drive 8 inside the kernal: LOAD, VERIFY and SAVE on device 8 are done on
// the host instead of over the serial bus.
//
// A few instructions of the kernal's serial load and save paths are replaced
// in the memory image by TRAP_OPCODE, an opcode that otherwise halts the
// processor. Its handler looks the address up here: at a trap point with
// device 8 it does the drive's part and continues where the kernal would
// after the bus transfer; otherwise it runs the instruction that was there.
// No other instruction pays anything for this.
#pragma once

#include <cstdint>

constexpr uint8_t TRAP_OPCODE = 0x02;

// Puts the traps into the kernal image at $E000-$FFFF. Does nothing unless
// every trap point holds the instructions of the VIC 20 kernal, so another
// kernal runs untouched. Called wherever the kernal is (re)loaded.
void install_kernal_traps();

// The TRAP_OPCODE handler's question: true when the instruction at PC was a
// trap and has been dealt with (registers, PC and `cycles` set); false when
// the opcode is to run as what it is.
bool run_kernal_trap();

// Zero-page cells of the kernal's file calls.
constexpr uint16_t KERNAL_STATUS = 0x90;        // ST
constexpr uint16_t KERNAL_VERIFY_FLAG = 0x93;   // 0 LOAD, else VERIFY
constexpr uint16_t KERNAL_POINTER = 0xAC;       // SAVE's running pointer
constexpr uint16_t KERNAL_END = 0xAE;           // LOAD's running address; SAVE's end
constexpr uint16_t KERNAL_NAME_LENGTH = 0xB7;
constexpr uint16_t KERNAL_SECONDARY = 0xB9;
constexpr uint16_t KERNAL_DEVICE = 0xBA;
constexpr uint16_t KERNAL_NAME_POINTER = 0xBB;
constexpr uint16_t KERNAL_START = 0xC1;         // SAVE's start
constexpr uint16_t KERNAL_LOAD_ADDRESS = 0xC3;  // LOAD's address for secondary 0

constexpr uint8_t STATUS_READ_TIMEOUT = 0x02;
constexpr uint8_t STATUS_VERIFY_MISMATCH = 0x10;
constexpr uint8_t STATUS_END_OF_FILE = 0x40;
constexpr uint8_t STATUS_NO_DEVICE = 0x80;
