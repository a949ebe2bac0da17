#include "loader_model.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "core/memory.h"
#include "core/tarvikon.h"
#include "fuzz_support.h"
#include "ui/headless.h"

namespace {

constexpr uint8_t ROM = 2;

// Copies up to `limit` bytes of the file from `offset` on to `address`,
// stopping at the end of the file and of the image; the count copied.
int copy_in(ModelMachine& m, const std::vector<uint8_t>& bytes, size_t offset, uint16_t address, size_t limit) {
    size_t available = offset < bytes.size() ? bytes.size() - offset : 0;
    size_t n = std::min({limit, available, size_t(0x10000 - address)});
    std::copy_n(bytes.begin() + long(offset), n, m.mem.begin() + address);
    return int(n);
}

uint16_t word(const ModelMachine& m, unsigned addr) { return uint16_t(m.mem[addr] | m.mem[addr + 1] << 8); }

bool usable(const ModelFile& f) { return f.kind == FileKind::REGULAR && !f.bytes.empty(); }

int refuse(ModelMachine& m, uint32_t needed) {
    m.memexp = needed;
    m.dialogs++;
    m.last_dialog = int(needed);
    m.config = 1;
    return -1;
}

void mark_image_block(ModelMachine& m, unsigned block) {
    static const bool CARTRIDGE_OR_EXPANSION[16] = {1, 0, 1, 1, 1, 1, 1, 1, 0, 0, 1, 1, 0, 0, 0, 0};
    if (block < 16 && CARTRIDGE_OR_EXPANSION[block]) m.bank[block] = ROM;
}

unsigned big_endian(const std::vector<uint8_t>& b, size_t at, unsigned n) {
    unsigned v = 0;
    for (unsigned i = 0; i < n; i++) v = v << 8 | b[at + i];
    return v;
}

// A cartridge with the "VIC20 CARTRIDGE" header: after the header (its
// length at $10, big-endian; 80 bytes when that is no length), packets of
// "CHIP", packet length, type, bank, load address and size. Chips of bank 0
// that lie wholly in the cartridge blocks load and mark them; a short or
// damaged packet ends the list.
void model_chip_cartridge(ModelMachine& m, const std::vector<uint8_t>& b) {
    static const bool CARTRIDGE[16] = {0, 0, 1, 1, 1, 1, 1, 1, 0, 0, 1, 1, 0, 0, 0, 0};
    size_t at = b.size() >= 0x14 ? big_endian(b, 0x10, 4) : 0;
    if (at < 0x20 || at > b.size()) at = 0x50;
    while (at + 16 <= b.size() && std::memcmp(&b[at], "CHIP", 4) == 0) {
        unsigned packet = big_endian(b, at + 4, 4), bank = big_endian(b, at + 10, 2);
        unsigned address = big_endian(b, at + 12, 2), size = big_endian(b, at + 14, 2);
        if (packet < 16 || packet > b.size() - at) return;
        size = std::min(size, packet - 16);
        bool fits = bank == 0 && size > 0 && address + size <= 0x10000;
        for (unsigned block = address >> 12; fits && block <= (address + size - 1) >> 12; block++)
            fits = CARTRIDGE[block];
        if (fits) {
            std::copy_n(b.begin() + long(at + 16), size, m.mem.begin() + address);
            for (unsigned block = address >> 12; block <= (address + size - 1) >> 12; block++) m.bank[block] = ROM;
        }
        at += packet;
    }
}

}  // namespace

ModelMachine model_capture() {
    ModelMachine m;
    m.mem.assign(memory, memory + MEMORY_SIZE);
    std::memcpy(m.bank, rombank, 16);
    m.memdef = memdef;
    m.memexp = memexp;
    m.config = config;
    m.dialogs = int(headless.wrongmemory_dialogs);
    m.last_dialog = headless.last_wrongmemory;
    return m;
}

int model_readfile(ModelMachine& m, const ModelFile& f, uint16_t default_address, size_t area) {
    if (!usable(f)) return -1;
    size_t length = f.bytes.size();
    if (length == 4098 || length == 8194) return copy_in(m, f.bytes, 2, uint16_t(f.bytes[1] << 8), area);
    return copy_in(m, f.bytes, 0, default_address, area);
}

int model_readcrt(ModelMachine& m, const ModelFile& f) {
    if (!usable(f)) return -1;
    size_t length = f.bytes.size();
    size_t offset = 0;
    uint16_t address = 0xA000;
    if (length == 4098 || length == 8193 || length == 8194) {
        address = uint16_t(f.bytes[1] << 8);
        offset = 2;
        length -= 2;
    }
    if (length > 8192) {  // 16 KB image: the first half at $6000
        offset += size_t(copy_in(m, f.bytes, offset, 0x6000, 8192));
        m.bank[6] = m.bank[7] = ROM;
        address = 0xA000;
    }
    int n = copy_in(m, f.bytes, offset, address, 8192);
    m.bank[10] = m.bank[11] = ROM;
    return n;
}

// First address past the BASIC memory from `start` on: the top of the
// memory the expansion gives BASIC (the unexpanded and 3 KB machines keep
// their screen at $1E00), or the first block from `start` on that holds
// no RAM.
unsigned basic_top(const ModelMachine& m, uint16_t start) {
    static const unsigned TOP[5] = {0x1E00, 0x1E00, 0x4000, 0x6000, 0x8000};
    unsigned top = m.memdef < 5 ? TOP[m.memdef] : 0x8000;
    for (unsigned address = start & 0xF000u; address < top; address += 0x1000)
        if (m.bank[address >> 12] != 0) return std::max<unsigned>(start, address);
    return top;
}

int model_readbasic(ModelMachine& m, const ModelFile& f) {
    if (f.kind != FileKind::REGULAR || f.bytes.size() < 2) return -1;
    uint16_t start = word(m, 0x2B);
    uint8_t low = f.bytes[0], page = f.bytes[1];
    size_t length = f.bytes.size();
    uint16_t address = start;
    bool pointers = true;
    size_t limit = 0;  // 0: a BASIC program, which must fit whole
    switch (page) {
    case 0x04:
        if (start != 0x0401) return refuse(m, 1);
        break;
    case 0x10:
        if (start != 0x1001) return refuse(m, 0);
        break;
    case 0x12:
        if (start != 0x1201) return refuse(m, length <= 11773 ? 2 : length <= 19965 ? 3 : 4);
        // The all-expansions layout (5) holds what 24 KB holds.
        if (length > 19965 && m.memdef < 4) return refuse(m, 4);
        if (length > 11773 && length <= 19965 && m.memdef < 3) return refuse(m, 3);
        break;
    case 0xA0:
        address = 0xA000;
        m.bank[10] = m.bank[11] = ROM;
        m.config = 1;
        limit = 8192;  // up to $BFFF, BASIC's image stays
        break;
    default:
        address = uint16_t(page << 8 | low);
        mark_image_block(m, page >> 4);
        mark_image_block(m, (page >> 4) + 1u);
        pointers = false;
        limit = 25000;
        break;
    }
    if (limit == 0) {
        unsigned top = basic_top(m, address);
        limit = top > address ? top - address : 0;
        if (length - 2 > limit) return -1;  // refused: nothing changes
    }
    int n = copy_in(m, f.bytes, 2, address, limit);
    if (pointers) {
        uint16_t end = uint16_t(address + n);
        for (unsigned p : {0x2Du, 0x2Fu, 0x31u, 0xAEu, 0x35u}) {
            m.mem[p] = uint8_t(end);
            m.mem[p + 1] = uint8_t(end >> 8);
        }
    }
    m.mem[0xBA] = 1;
    return n;
}

void model_load_game_cartridge(ModelMachine& m, const std::string& name, const ModelFile& f, bool starting_up) {
    // A disk image becomes drive 8 and leaves memory and settings alone.
    if (name.size() >= 4) {
        std::string tail = name.substr(name.size() - 4);
        for (char& c : tail) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (tail == ".d64") return;
    }
    m.memdef = 0;
    if (starting_up && m.memexp != 0) m.config = 1;
    // Raw image: mark the first block, load no more than the marked blocks
    // hold (8 KB, 4 KB at $B000), mark the second one if more than 4 KB
    // arrived.
    auto raw = [&](uint16_t address, int first, int second) {
        m.bank[first] = ROM;
        if (model_readfile(m, f, address, second >= 0 ? 8192 : 4096) > 4096 && second >= 0) m.bank[second] = ROM;
    };
    if (usable(f) && f.bytes.size() >= 15 && std::memcmp(f.bytes.data(), "VIC20 CARTRIDGE", 15) == 0)
        return model_chip_cartridge(m, f.bytes);
    // The first dot of the file's own name, after the last slash.
    size_t slash = name.rfind('/');
    size_t dot = name.find('.', slash == std::string::npos ? 0 : slash + 1);
    if (dot == std::string::npos) return raw(0xA000, 10, 11);
    char c1 = dot + 1 < name.size() ? name[dot + 1] : '\0';
    char c2 = dot + 2 < name.size() ? name[dot + 2] : '\0';
    bool r = c2 == 'r' || c2 == 'R';
    switch (c1) {
    case '2': return raw(0x2000, 2, 3);
    case '6': return raw(0x6000, 6, 7);
    case 'a': case 'A': return raw(0xA000, 10, 11);
    case 'b': case 'B': return raw(0xB000, 11, -1);
    case 'c': case 'C':
        if (r) {
            model_readcrt(m, f);
            return;
        }
        break;
    case 'p': case 'P':
        if (r) {
            model_readbasic(m, f);
            return;
        }
        break;
    default: break;
    }
    raw(0xA000, 10, 11);
}

bool model_writebasic(const ModelMachine& m, std::vector<uint8_t>& file) {
    unsigned start = word(m, 0x2B), end = word(m, 0x2D);
    if (end == start + 2 || end < start) return false;
    file.assign({m.mem[0x2B], m.mem[0x2C]});
    file.insert(file.end(), m.mem.begin() + start, m.mem.begin() + end);
    return true;
}

void model_expect(const ModelMachine& m, const char* after) {
    long at = fuzz_first_difference(m.mem.data(), memory, 0, MEMORY_SIZE);
    FUZZ_CHECK_AT(at < 0, "%s: $%04lx holds $%02x, expected $%02x", after, at, memory[at], m.mem[size_t(at)]);
    for (unsigned block = 0; block < 16; block++) {
        FUZZ_CHECK_AT(rombank[block] <= 2, "%s: block %u in state %u", after, block, rombank[block]);
        FUZZ_CHECK_AT(rombank[block] == m.bank[block], "%s: block %u in state %u, expected %u", after, block,
                      rombank[block], m.bank[block]);
    }
    FUZZ_CHECK_AT(memdef == m.memdef, "%s: memdef %u, expected %u", after, memdef, m.memdef);
    FUZZ_CHECK_AT(memexp == m.memexp, "%s: memexp %u, expected %u", after, memexp, m.memexp);
    FUZZ_CHECK_AT(config == m.config, "%s: config %u, expected %u", after, config, m.config);
    FUZZ_CHECK_AT(int(headless.wrongmemory_dialogs) == m.dialogs && headless.last_wrongmemory == m.last_dialog,
                  "%s: %u expansion dialogs (last %d), expected %d (last %d)", after, headless.wrongmemory_dialogs,
                  headless.last_wrongmemory, m.dialogs, m.last_dialog);
}
