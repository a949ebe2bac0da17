// Drives 8 to 11 inside the kernal: LOAD, VERIFY and SAVE on an attached
// drive are done on the host instead of over the serial bus, through trap
// points in the kernal's serial load and save paths (core/hooks.h). At a
// trap point with such a drive the handler does the drive's part and continues where the kernal
// would after the bus transfer; with another device the kernal runs on.
#pragma once

#include <cstdint>

#include "../core/hooks.h"

// Start-up: hands drive 8's trap points to the core; they go in only where
// the kernal image holds the VIC 20 kernal's code, so another kernal runs
// untouched.
void add_drive8_traps();

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
