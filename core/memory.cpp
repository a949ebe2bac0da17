// Address map: the I/O page dispatch, the expansion layouts and cartridge removal.
#include "memory.h"

#include <cstring>

#include "hooks.h"
#include "tarvikon.h"
#include "via.h"
#include "vic.h"

uint8_t* memory = nullptr;
uint8_t rombank[16];
uint32_t memexp = 0;
uint8_t memdef = 0;
uint8_t ram = 0;

IoReadHandler io_read[IO_DISPATCH_SIZE];
IoWriteHandler io_write[IO_DISPATCH_SIZE];

#ifdef TARVIKON_BUS_TRACE
void (*bus_trace_hook)(char kind, uint16_t addr) = nullptr;
#endif

void install_io_handlers() {
    std::memset(io_read, 0, sizeof io_read);
    std::memset(io_write, 0, sizeof io_write);
    install_vic_handlers();
    install_via_handlers();
}

uint8_t slow_read(uint16_t addr) {
    return rombank[addr >> 12] & BLOCK_TRAPPED ? kernal_byte(addr) : uint8_t(addr >> 8);
}

uint8_t read_io(uint16_t addr) {
    if (addr >= COLOR_RAM_START && addr <= COLOR_RAM_END) return memory[addr] | 0xF0;  // four-bit cells
    unsigned index = addr - IO_BASE;
    if (index < IO_DISPATCH_SIZE && io_read[index]) return io_read[index](addr);
    return memory[addr];
}

void write_io(uint16_t addr, uint8_t value) {
    if (vic_reads_color(addr)) vic_catch_up();
    unsigned index = addr - IO_BASE;
    if (index < IO_DISPATCH_SIZE && io_write[index] && !io_write[index](addr, value)) return;
    memory[addr] = value;
}

namespace {

// Block states per expansion index, for blocks 0 and 2..7. KEEP_ROM turns a
// RAM block into "nothing fitted" but leaves a cartridge; RAM_KEEP_ROM makes
// a block RAM unless it holds a cartridge.
enum LayoutRule : uint8_t { NONE, RAM, NONE_KEEP_ROM, RAM_KEEP_ROM };
constexpr LayoutRule LAYOUTS[EXP_ALL + 1][8] = {
    //  0     1    2              3              4     5     6              7
    {NONE, RAM, NONE_KEEP_ROM, NONE_KEEP_ROM, NONE, NONE, NONE_KEEP_ROM, NONE_KEEP_ROM},  // unexpanded
    {RAM, RAM, NONE_KEEP_ROM, NONE_KEEP_ROM, NONE, NONE, NONE_KEEP_ROM, NONE_KEEP_ROM},   // 3 KB
    {NONE, RAM, RAM_KEEP_ROM, RAM_KEEP_ROM, NONE, NONE, NONE_KEEP_ROM, NONE_KEEP_ROM},    // 8 KB
    {NONE, RAM, RAM_KEEP_ROM, RAM_KEEP_ROM, RAM, RAM, NONE_KEEP_ROM, NONE_KEEP_ROM},      // 16 KB
    {NONE, RAM, RAM_KEEP_ROM, RAM_KEEP_ROM, RAM, RAM, RAM_KEEP_ROM, RAM_KEEP_ROM},        // 24 KB
    {RAM, RAM, RAM_KEEP_ROM, RAM_KEEP_ROM, RAM, RAM, RAM_KEEP_ROM, RAM_KEEP_ROM},         // all
};

}  // namespace

void apply_expansion_layout(uint32_t expansion) {
    if (expansion > EXP_ALL) return;
    for (unsigned block = 0; block < 8; block++) {
        if (block == 1) continue;  // internal RAM
        switch (LAYOUTS[expansion][block]) {
        case NONE: rombank[block] = BLOCK_NONE; break;
        case RAM: rombank[block] = BLOCK_RAM; break;
        case NONE_KEEP_ROM:
            if (rombank[block] == BLOCK_RAM) rombank[block] = BLOCK_NONE;
            break;
        case RAM_KEEP_ROM:
            if (rombank[block] != BLOCK_ROM) rombank[block] = BLOCK_RAM;
            break;
        }
    }
}

void remove_rom_memory() {
    for (unsigned block = 0; block < 16; block++) {
        if (rombank[block] != BLOCK_ROM) continue;
        std::memset(memory + block * 0x1000, 0xFF, 0x1000);
        rombank[block] = BLOCK_NONE;
    }
}
