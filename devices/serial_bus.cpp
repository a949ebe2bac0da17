// The kernal's serial-bus routines answered for drives 8 to 11.
//
// Each routine's entry is a trap point (and TKSA's turn-round, which CHKIN
// calls alone for a file without a secondary address). When the device it addresses is an
// attached drive, the handler plays the drive's part of the bus exchange
// (devices/dos.h) and returns to the caller as the routine would, with the
// status bits the routine sets in $90; for any other device, or a drive
// with nothing attached, the kernal's own code drives the bus (and finds
// nobody there: ?DEVICE NOT PRESENT). So OPEN, CLOSE, CHKIN, CHKOUT,
// CHRIN, CHROUT, GETIN and BASIC's file statements reach the drives
// unchanged, from BASIC or machine code.
#include "serial_bus.h"

#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>

#include "dos.h"
#include "drive_media.h"
#include "kernal_trap.h"
#include "../core/cpu.h"
#include "../core/hooks.h"
#include "../core/memory.h"
#include "../files/exit_work.h"

namespace {

struct Code {
    uint16_t address;
    uint8_t bytes[3];
};

// The routines' entries and their first bytes, the same in both kernals.
constexpr Code TALK = {0xEE14, {0x09, 0x40, 0x2C}};      // ora #$40, then LISTEN's code
constexpr Code LISTEN = {0xEE17, {0x09, 0x20, 0x20}};    // ora #$20
constexpr Code SECOND = {0xEEC0, {0x85, 0x95, 0x20}};    // sta $95, send it under ATN
constexpr Code TKSA = {0xEECE, {0x85, 0x95, 0x20}};      // sta $95, send it, turn round
constexpr Code TURN_ROUND = {0xEED3, {0x78, 0x20, 0xA9}};  // sei: CHKIN's talk without a secondary address
constexpr Code CIOUT = {0xEEE4, {0x24, 0x94, 0x30}};     // bit $94: a byte buffered?
constexpr Code UNTALK = {0xEEF6, {0x20, 0x8D, 0xEF}};    // jsr, then lda #$5F
constexpr Code UNLISTEN = {0xEF04, {0xA9, 0x3F, 0x20}};  // lda #$3F
constexpr Code ACPTR = {0xEF19, {0x78, 0xA9, 0x00}};     // sei, lda #0
constexpr Code CODE[] = {TALK, LISTEN, SECOND, TKSA, TURN_ROUND, CIOUT, UNTALK, UNLISTEN, ACPTR};

constexpr uint8_t DEVICE_MASK = 0x1F;
constexpr uint8_t COMMAND_MASK = 0xF0, CHANNEL_MASK = 0x0F;
constexpr uint8_t COMMAND_DATA = 0x60, COMMAND_CLOSE = 0xE0, COMMAND_OPEN = 0xF0;
constexpr uint8_t CR = 0x0D;
constexpr int TRAP_CYCLES = 2;

// Who the machine addresses now, when it is one of the drives.
enum class Listen { NONE, DATA, OPENING };
struct Bus {
    unsigned listener = 0, talker = 0;  // 0: no drive of ours
    unsigned listen_channel = 0, talk_channel = 0;
    Listen listening = Listen::NONE;
    std::string name;  // an OPEN's name as it arrives
};
Bus bus;

bool fits() {
    for (const Code& c : CODE)
        for (unsigned i = 0; i < std::size(c.bytes); i++)
            if (memory[uint16_t(c.address + i)] != c.bytes[i]) return false;
    return true;
}

// Ends the routine as its RTS would, carry clear and A as given.
void return_with(uint8_t a) {
    Register.A = a;
    Flags[FLAG_Z] = a == 0;
    Flags[FLAG_N] = a >> 7;
    Flags[FLAG_C] = 0;
    uint8_t low = pull_byte();
    Register.PC = uint16_t((low | pull_byte() << 8) + 1);
    cycles = TRAP_CYCLES;
}

unsigned drive_addressed(uint8_t a) {
    unsigned unit = a & DEVICE_MASK;
    return is_drive_unit(unit) && drive_attached(unit) ? unit : 0;
}

// Without a secondary address the drive uses channel 0.
bool on_talk() {
    bus.talker = drive_addressed(Register.A);
    bus.talk_channel = 0;
    if (!bus.talker) return false;
    return_with(uint8_t(Register.A | 0x40));
    return true;
}

bool on_listen() {
    bus.listener = drive_addressed(Register.A);
    bus.listening = Listen::DATA;
    bus.listen_channel = 0;
    if (!bus.listener) return false;
    return_with(uint8_t(Register.A | 0x20));
    return true;
}

bool on_second() {
    if (!bus.listener) return false;
    uint8_t a = Register.A;
    bus.listen_channel = a & CHANNEL_MASK;
    switch (a & COMMAND_MASK) {
    case COMMAND_OPEN:
        bus.listening = Listen::OPENING;
        bus.name.clear();
        break;
    case COMMAND_CLOSE:
        bus.listening = Listen::NONE;
        dos_close(bus.listener, bus.listen_channel);
        break;
    case COMMAND_DATA:
    default:
        bus.listening = Listen::DATA;
    }
    return_with(a);
    return true;
}

bool on_tksa() {
    if (!bus.talker) return false;
    bus.talk_channel = Register.A & CHANNEL_MASK;
    return_with(Register.A);
    return true;
}

bool on_turn_round() {
    if (!bus.talker) return false;
    return_with(Register.A);
    return true;
}

bool on_ciout() {
    if (!bus.listener) return false;
    if (bus.listening == Listen::OPENING) bus.name.push_back(char(Register.A));
    else if (bus.listening == Listen::DATA) dos_write(bus.listener, bus.listen_channel, Register.A);
    return_with(Register.A);
    return true;
}

bool on_unlisten() {
    unsigned unit = std::exchange(bus.listener, 0);
    if (!unit) return false;
    if (bus.listening == Listen::OPENING) dos_open(unit, bus.listen_channel, bus.name);
    else if (bus.listening == Listen::DATA) dos_end_of_write(unit, bus.listen_channel);
    bus.listening = Listen::NONE;
    return_with(Register.A);
    return true;
}

bool on_untalk() {
    if (!std::exchange(bus.talker, 0)) return false;
    return_with(Register.A);
    return true;
}

bool on_acptr() {
    if (!bus.talker) return false;
    uint8_t byte = CR;
    bool last = false;
    uint8_t& status = memory[KERNAL_STATUS];
    if (!dos_read(bus.talker, bus.talk_channel, byte, last))
        status |= STATUS_READ_TIMEOUT | STATUS_END_OF_FILE;  // the drive sends nothing
    else if (last)
        status |= STATUS_END_OF_FILE;
    return_with(byte);
    return true;
}

constexpr KernalTrap TRAPS[] = {
    {TALK.address, on_talk},         {LISTEN.address, on_listen},     {SECOND.address, on_second},
    {TKSA.address, on_tksa},         {TURN_ROUND.address, on_turn_round}, {CIOUT.address, on_ciout},       {UNTALK.address, on_untalk},
    {UNLISTEN.address, on_unlisten}, {ACPTR.address, on_acptr},
};

}  // namespace

void bus_save_state(unsigned unit, std::vector<uint8_t>& body) {
    if (bus.listener == unit) {
        put_number(body, "bus_listen_mode", unsigned(bus.listening), 1);
        put_number(body, "bus_listen_channel", bus.listen_channel, 1);
        if (bus.listening == Listen::OPENING) put_field(body, "bus_name", bus.name.data(), uint32_t(bus.name.size()));
    }
    if (bus.talker == unit) put_number(body, "bus_talk_channel", bus.talk_channel, 1);
}

bool bus_load_state(unsigned unit, const std::vector<FieldView>& found, bool apply) {
    uint64_t mode = 0, listen_channel = 0, talk_channel = 0;
    if (!get_number(found, "bus_listen_mode", 1, mode) || mode > unsigned(Listen::OPENING) ||
        !get_number(found, "bus_listen_channel", 1, listen_channel) || listen_channel > CHANNEL_MASK ||
        !get_number(found, "bus_talk_channel", 1, talk_channel) || talk_channel > CHANNEL_MASK)
        return false;
    if (!apply) return true;
    if (find_field(found, "bus_listen_mode")) {
        bus.listener = unit;
        bus.listening = Listen(mode);
        bus.listen_channel = unsigned(listen_channel);
        const FieldView* name = find_field(found, "bus_name");
        bus.name = name ? std::string(reinterpret_cast<const char*>(name->data), name->size) : "";
    } else if (bus.listener == unit) {
        bus.listener = 0;
        bus.listening = Listen::NONE;
    }
    if (find_field(found, "bus_talk_channel")) {
        bus.talker = unit;
        bus.talk_channel = unsigned(talk_channel);
    } else if (bus.talker == unit) {
        bus.talker = 0;
    }
    return true;
}

void add_serial_bus_traps() {
    add_exit_work(dos_flush_all, dos_writing);  // files open for writing reach their media
    add_kernal_traps(fits, TRAPS, unsigned(std::size(TRAPS)));
}
