// The VIC 20 address space and the processor's data accesses.
//
// `memory` is the flat 64 KB image, chip registers included. READMEM and
// WRITMEM add the machine's behaviour on top of it: blocks without memory
// read as open bus, ROM refuses writes, colour RAM keeps four bits, and the
// VIC and VIA registers run their side effects through a dispatch table.
// Instruction bytes, zero page, the stack and the VIC's own fetches use the
// array directly.
#pragma once

#include <cstdint>

#include "vic.h"

extern uint8_t* memory;      // 65536 bytes, allocated at start-up
extern uint8_t rombank[16];  // state of each 4 KB block
extern uint32_t memexp;      // expansion chosen (0..4)
extern uint8_t memdef;       // expansion in effect
extern uint8_t ram;          // bit 0: $A000-$BFFF is RAM; bit 1: no version patch

constexpr uint32_t MEMORY_SIZE = 0x10000;

enum BlockState : uint8_t { BLOCK_RAM = 0, BLOCK_NONE = 1, BLOCK_ROM = 2 };
// Added to a kernal block's state while it holds trap points (hooks.h).
constexpr uint8_t BLOCK_TRAPPED = 0x04;

constexpr uint8_t RAM_AT_A000 = 0x01;
constexpr uint8_t NO_VERSION_PATCH = 0x02;

// Expansion indices used by memexp, memdef, the memory dialog and the files.
// EXP_ALL: the 3 KB block and the 24 KB together (with RAM at $A000, which
// every layout has where no cartridge is).
enum Expansion { EXP_NONE = 0, EXP_3K = 1, EXP_8K = 2, EXP_16K = 3, EXP_24K = 4, EXP_ALL = 5 };

constexpr uint16_t COLOR_RAM_START = 0x9400, COLOR_RAM_END = 0x97FF;

// ---- register dispatch --------------------------------------------------------

// The handlers cover $9000-$91AF: the VIC, both VIAs and the VIAs' mirrors at
// $9190-$91AF. A read handler returns the byte read. A write handler may
// change the value or the address that is stored to; it returns false when
// the write ends without a store.
constexpr uint16_t IO_BASE = 0x9000;
constexpr uint16_t IO_DISPATCH_SIZE = 0x1B0;
using IoReadHandler = uint8_t (*)(uint16_t addr);
using IoWriteHandler = bool (*)(uint16_t& addr, uint8_t& value);
extern IoReadHandler io_read[IO_DISPATCH_SIZE];
extern IoWriteHandler io_write[IO_DISPATCH_SIZE];

// The VIAs' page. An access there may change the timers or the interrupt
// lines; the other chip accesses (the VIC, colour RAM, the RAM the VIC
// reads) change nothing but the picture.
inline bool reaches_via(uint16_t addr) { return (addr & 0xFF00) == 0x9100; }

// Fills the dispatch table from the chips' register tables.
void install_io_handlers();

uint8_t read_io(uint16_t addr);
void write_io(uint16_t addr, uint8_t value);

// Blocks whose state takes a read off the plain path: state 1 for the
// cartridge/expansion blocks, any non-RAM state for blocks 4 and 5 (the
// open-bus value); the kernal blocks while they hold trap points.
constexpr uint8_t SLOW_READ_MASK[16] = {0, 0, 1, 1, 3, 3, 1, 1, 0, 0, 1, 1, 0, 0, BLOCK_TRAPPED, BLOCK_TRAPPED};
// The slow path: the open-bus value, or a trapped kernal block's own byte.
[[gnu::cold]] uint8_t slow_read(uint16_t addr);

// Test builds (TARVIKON_BUS_TRACE) report every READMEM and WRITMEM call, so
// that tests can count the processor's accesses per address.
#ifdef TARVIKON_BUS_TRACE
extern void (*bus_trace_hook)(char kind, uint16_t addr);
#define BUS_TRACE(kind, addr) \
    do {                      \
        if (bus_trace_hook) bus_trace_hook(kind, addr); \
    } while (0)
#else
#define BUS_TRACE(kind, addr) \
    do {                      \
    } while (0)
#endif

// True while a test build traces the bus: every access then takes the full path.
inline bool bus_traced() {
#ifdef TARVIKON_BUS_TRACE
    return bus_trace_hook != nullptr;
#else
    return false;
#endif
}

// Whether a processor read at `addr` is a plain read of the image, and a
// write a plain store into it: no chip, no open bus, no trap point, no
// protected memory, no memory the VIC reads while it draws. The processor
// takes a shorter path when they are.
//
// Blocks 0 and 1, where most data lies, always read the image; for the
// others the read test is SLOW_READ_MASK and the I/O block in one: bit 8,
// always set in the value tested, is the I/O block's own.
constexpr auto NOT_PLAIN_READ = [] {
    struct { uint16_t mask[16]; } t{};
    for (unsigned block = 0; block < 16; block++) t.mask[block] = block == 9 ? 0x100 : SLOW_READ_MASK[block];
    return t;
}();

[[gnu::always_inline]] inline bool plain_read(uint16_t addr) {
    if (bus_traced()) return false;
    static_assert(SLOW_READ_MASK[0] == 0 && SLOW_READ_MASK[1] == 0);
    if (addr < 0x2000) return true;
    unsigned block = addr >> 12;
    return ((rombank[block] | 0x100u) & NOT_PLAIN_READ.mask[block]) == 0;
}

// A processor read. `before_chip` runs before a chip register sees the
// access, so that the chip finds the machine as it stands at that moment.
template <class BeforeChip>
[[gnu::always_inline]] inline uint8_t read_bus(const uint8_t* image, uint16_t addr, BeforeChip&& before_chip) {
    BUS_TRACE('R', addr);
    unsigned block = addr >> 12;
    if (rombank[block] & SLOW_READ_MASK[block]) [[unlikely]]
        return slow_read(addr);
    if (block == 9) [[unlikely]] {
        before_chip();
        return read_io(addr);
    }
    return image[addr];
}

inline uint8_t READMEM(uint16_t addr) {
    return read_bus(memory, addr, [] {});
}

// How a block takes a write.
enum WriteRule : uint8_t { WR_LOW, WR_ALWAYS, WR_IF_RAM, WR_NEVER, WR_IO };
constexpr WriteRule WRITE_RULE[16] = {WR_LOW,     WR_ALWAYS, WR_IF_RAM, WR_IF_RAM, WR_IF_RAM, WR_IF_RAM,
                                      WR_IF_RAM,  WR_IF_RAM, WR_NEVER,  WR_IO,     WR_IF_RAM, WR_IF_RAM,
                                      WR_NEVER,   WR_NEVER,  WR_NEVER,  WR_NEVER};

template <class BeforeChip>
[[gnu::always_inline]] inline void write_bus(uint8_t* image, uint16_t addr, uint8_t value, BeforeChip&& before_chip) {
    BUS_TRACE('W', addr);
    unsigned block = addr >> 12;
    switch (WRITE_RULE[block]) {
    case WR_LOW:
        if (addr >= 0x0400 && rombank[0] != BLOCK_RAM) return;
        [[fallthrough]];
    case WR_ALWAYS:
        if (vic_pages[addr >> 8]) [[unlikely]] {
            before_chip();
            return vic_ram_write(addr, value);
        }
        break;
    case WR_IF_RAM:
        if (rombank[block] != BLOCK_RAM) return;
        break;
    case WR_NEVER:
        return;
    case WR_IO:
        before_chip();
        write_io(addr, value);
        return;
    }
    image[addr] = value;
}

// The same rules as write_bus's, in the order of the most frequent writes:
// blocks 0 and 1, where the VIC may be watching a page, then the blocks
// that take a write only as RAM, then colour RAM.
[[gnu::always_inline]] inline bool plain_write(uint16_t addr) {
    if (bus_traced()) return false;
    static_assert(WRITE_RULE[0] == WR_LOW && WRITE_RULE[1] == WR_ALWAYS);
    if (addr < 0x2000)
        return (!vic_pages[addr >> 8] || !frame_drawn()) && (addr < 0x0400 || addr >= 0x1000 || rombank[0] == BLOCK_RAM);
    unsigned block = addr >> 12;
    if (WRITE_RULE[block] == WR_IF_RAM) return rombank[block] == BLOCK_RAM;
    return uint16_t(addr - COLOR_RAM_START) <= COLOR_RAM_END - COLOR_RAM_START && !frame_drawn();
}

inline void WRITMEM(uint16_t addr, uint8_t value) {
    write_bus(memory, addr, value, [] {});
}

// A little-endian word as the ROM code keeps its pointers, read and
// written straight in the image (no chip sees the access).
inline uint16_t memory_word(uint16_t addr) { return uint16_t(memory[addr] | memory[uint16_t(addr + 1)] << 8); }
inline void set_memory_word(uint16_t addr, uint16_t value) {
    memory[addr] = uint8_t(value);
    memory[uint16_t(addr + 1)] = uint8_t(value >> 8);
}

// ---- layout ----------------------------------------------------------------------

// Brings blocks 0 and 2-7 into the states of an expansion index (reset rule:
// cartridge ROM in blocks 2, 3, 6, 7 survives; blocks 4 and 5 are set outright).
void apply_expansion_layout(uint32_t expansion);

// Fills every ROM block with $FF and marks it as not fitted.
void remove_rom_memory();
