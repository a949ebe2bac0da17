// The kernal's serial LOAD and SAVE with drives 8 to 11, done on the host.
//
// LOAD: the kernal checks the device and the name and prints SEARCHING FOR;
// the first trap then finds the file on the host, skips the bus's open and
// talk and goes on where the kernal has the file's load address (it prints
// LOADING or VERIFYING); the second, at the top of the byte loop, moves all
// the bytes and ends as the loop does at the end of the file.
// SAVE: the first trap skips the bus's open and lets the kernal print
// SAVING; the second writes the file and ends the routine.
#include "kernal_trap.h"

#include <string>
#include <iterator>
#include <vector>

#include "drive8.h"
#include "dos.h"
#include "drive_media.h"
#include "../core/cpu.h"
#include "../core/memory.h"
#include "../core/tarvikon.h"

namespace {

// Kernal code the traps rely on, as bytes, so that another kernal is left alone.
struct Code {
    uint16_t address;
    uint8_t bytes[3];
    uint8_t length;
};

// The trap points; the first byte of each is what the trap replaces.
constexpr Code LOAD_OPEN_CODE = {0xF566, {0xA9, 0x60}, 2};        // lda #$60: secondary address for LOAD
constexpr Code LOAD_DATA_CODE = {0xF58A, {0xA9, 0xFD}, 2};        // lda #$FD: top of the byte loop
constexpr Code SAVE_OPEN_CODE = {0xF69D, {0x20, 0x95, 0xF4}, 3};  // jsr open the file on the bus
constexpr Code SAVE_DATA_CODE = {0xF6A3, {0xA5, 0xBA}, 2};        // lda $BA: listen, then the bytes

// Where the traps continue in the kernal.
constexpr uint16_t LOAD_ADDRESS_SET = 0xF587;  // secondary 0 takes $C3/$C4; prints LOADING
constexpr uint16_t LOAD_END = 0xF641;          // clc, X/Y from $AE/$AF, rts
constexpr uint16_t FILE_NOT_FOUND = 0xF787;    // kernal error 4
constexpr uint16_t SAVE_MESSAGE = 0xF6A0;      // prints SAVING and the name
constexpr uint16_t SAVE_END = 0xF6EF;          // clc, rts
constexpr uint16_t NOT_OUTPUT_FILE = 0xF790;   // kernal error 7
constexpr Code CODE[] = {
    {LOAD_ADDRESS_SET, {0x20, 0xC1, 0xE4}, 3}, {LOAD_END, {0x18, 0xA6, 0xAE}, 3},
    {FILE_NOT_FOUND, {0xA9, 0x04}, 2},         {SAVE_MESSAGE, {0x20, 0x28, 0xF7}, 3},
    {SAVE_END, {0x18, 0x60}, 2},               {NOT_OUTPUT_FILE, {0xA9, 0x07}, 2},
    LOAD_OPEN_CODE,                            LOAD_DATA_CODE,
    SAVE_OPEN_CODE,                            SAVE_DATA_CODE,
};

constexpr uint8_t LOAD_SECONDARY = 0x60;
constexpr int TRAP_CYCLES = 2;

// Between the two traps of one LOAD or SAVE.
struct Transfer {
    bool active = false;
    DiskStatus status = DiskStatus::OK;
    std::vector<uint8_t> data;  // LOAD: the bytes after the load address
    std::string name;           // SAVE
};
Transfer load, save;

bool holds(const Code& c) {
    for (unsigned i = 0; i < c.length; i++)
        if (memory[uint16_t(c.address + i)] != c.bytes[i]) return false;
    return true;
}

bool is_vic20_kernal() {
    for (const Code& c : CODE)
        if (!holds(c)) return false;
    return true;
}

std::string file_name() {
    std::string name;
    uint16_t at = memory_word(KERNAL_NAME_POINTER);
    for (unsigned i = 0; i < memory[KERNAL_NAME_LENGTH]; i++) name.push_back(char(READMEM(uint16_t(at + i))));
    return name;
}

void continue_at(uint16_t pc) {
    Register.PC = pc;
    cycles = TRAP_CYCLES;
}

void load_open() {
    load = Transfer{};
    std::vector<uint8_t> file;
    load.status = drive_load(memory[KERNAL_DEVICE], file_name(), file);
    dos_transfer_done(memory[KERNAL_DEVICE], load.status);
    // The kernal's own steps: the secondary address kept in X while the
    // drive is asked with its own one.
    Register.X = memory[KERNAL_SECONDARY];
    memory[KERNAL_SECONDARY] = LOAD_SECONDARY;
    if (load.status == DiskStatus::NOT_FOUND) {
        memory[KERNAL_STATUS] |= STATUS_READ_TIMEOUT | STATUS_END_OF_FILE;
        continue_at(FILE_NOT_FOUND);
        return;
    }
    // The load address from the file, or from $C3/$C4 when nothing is readable.
    uint16_t address = memory_word(KERNAL_LOAD_ADDRESS);
    if (load.status == DiskStatus::OK) {
        address = uint16_t(file[0] | file[1] << 8);
        load.data.assign(file.begin() + 2, file.end());
    }
    set_memory_word(KERNAL_END, address);
    load.active = true;
    continue_at(LOAD_ADDRESS_SET);
}

void load_data() {
    load.active = false;
    uint8_t& status = memory[KERNAL_STATUS];
    status &= uint8_t(~STATUS_READ_TIMEOUT);
    if (load.status != DiskStatus::OK) {
        status |= STATUS_READ_TIMEOUT | STATUS_END_OF_FILE;
        continue_at(LOAD_END);
        return;
    }
    const bool verify = memory[KERNAL_VERIFY_FLAG] != 0;
    uint16_t address = memory_word(KERNAL_END);
    for (uint8_t byte : load.data) {
        if (!verify) WRITMEM(address, byte);
        else if (READMEM(address) != byte) status |= STATUS_VERIFY_MISMATCH;
        address++;
    }
    status |= STATUS_END_OF_FILE;
    set_memory_word(KERNAL_END, address);
    load.data.clear();
    continue_at(LOAD_END);
}

void save_open() {
    save = Transfer{};
    save.name = file_name();
    save.active = true;
    continue_at(SAVE_MESSAGE);
}

void save_data() {
    save.active = false;
    uint16_t start = memory_word(KERNAL_START), end = memory_word(KERNAL_END);
    std::vector<uint8_t> file = {uint8_t(start), uint8_t(start >> 8)};
    uint16_t address = start;
    for (; address < end; address++) file.push_back(READMEM(address));
    set_memory_word(KERNAL_POINTER, address);
    DiskStatus status = drive_save(memory[KERNAL_DEVICE], save.name, file);
    dos_transfer_done(memory[KERNAL_DEVICE], status);
    continue_at(status == DiskStatus::OK ? SAVE_END : NOT_OUTPUT_FILE);
}

// A drive with nothing attached is left to the kernal: nobody answers on the bus.
bool on_drive() { return is_drive_unit(memory[KERNAL_DEVICE]) && drive_attached(memory[KERNAL_DEVICE]); }

// A trap point answered on an attached drive only; a data trap also only while its
// transfer is open, else the kernal's own code runs.
template <void (*serve)(), const Transfer* transfer = nullptr>
bool drive_trap() {
    if (!on_drive()) return false;
    if constexpr (transfer != nullptr)
        if (!transfer->active) return false;
    serve();
    return true;
}

constexpr KernalTrap TRAPS[] = {
    {LOAD_OPEN_CODE.address, drive_trap<load_open>},
    {LOAD_DATA_CODE.address, drive_trap<load_data, &load>},
    {SAVE_OPEN_CODE.address, drive_trap<save_open>},
    {SAVE_DATA_CODE.address, drive_trap<save_data, &save>},
};

}  // namespace

void add_drive8_traps() { add_kernal_traps(is_vic20_kernal, TRAPS, unsigned(std::size(TRAPS))); }
