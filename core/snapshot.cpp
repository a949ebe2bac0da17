// The machine's state as snapshot bytes: the core's sections, the devices'
// sections through their hooks, the header and the checksum.
#include "snapshot.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>

#include "hooks.h"
#include "host.h"
#include "memory.h"
#include "tarvikon.h"
#include "via.h"
#include "vic.h"

static_assert(std::endian::native == std::endian::little, "fields are stored as the host keeps them");

namespace {

constexpr size_t HEADER_SIZE = sizeof SNAPSHOT_MAGIC + 4;  // magic, version (2), machine, standard
constexpr size_t CHECKSUM_SIZE = 4;

// ---- the core's fields, one table per chip -----------------------------------------------

const StateField CPU_FIELDS[] = {
    {"pc", &Register.PC, 2}, {"a", &Register.A, 1},       {"x", &Register.X, 1},
    {"y", &Register.Y, 1},   {"sp", &Register.SP, 1},     {"flags", Flags, sizeof Flags},
    {"nmi_low", &nmi_low, 1}, {"nmi_alt", &nmi_alt, 1}, {"irq_low", &irq_low, 1},
};

// The VIAs' registers are bytes of the I/O block (the memory section); these
// are the values a Via record keeps beside them.
struct ViaMember {
    const char* name;
    size_t offset;
    uint32_t size;
};
#define VIA_MEMBER(m) ViaMember{#m, offsetof(Via, m), sizeof(Via::m)}
const ViaMember VIA_MEMBERS[] = {
    VIA_MEMBER(irb), VIA_MEMBER(ira), VIA_MEMBER(porta_in), VIA_MEMBER(t2_latch_low), VIA_MEMBER(t2_armed),
    VIA_MEMBER(t1_armed), VIA_MEMBER(t1_reload), VIA_MEMBER(t2_hold),
};
#undef VIA_MEMBER

std::vector<StateField> via_fields(Via& via) {
    std::vector<StateField> fields;
    for (const ViaMember& m : VIA_MEMBERS)
        fields.push_back({m.name, reinterpret_cast<uint8_t*>(&via) + m.offset, m.size});
    return fields;
}

const StateField CLOCK_FIELDS[] = {
    {"line_start_cycle", &line_start_cycle, 8}, {"line_cycles", &line_cycles, 2}, {"frame_count", &frame_count, 4},
    {"frame_ready", &frame_ready, 1},           {"intdef", &intdef, 1},           {"raster", &raster, 2},
    {"x", &x, 2},                               {"y", &y, 2},
};

const StateField VIC_FIELDS[] = {
    {"lightpen_x", &Vic.lightpen_x, 1}, {"lightpen_y", &Vic.lightpen_y, 1},
    {"field_odd", &field_odd, 1},       {"field_extra", &field_extra, 1},
    {"interlaced", &frame_interlaced, 1}, {"drawn_frame", &vic_drawn.frame, 4},
    {"drawn_row", &vic_drawn.row, 2},   {"drawn_cells", &vic_drawn.cells, 2},
    {"drawn_columns", &vic_drawn.columns, 2},
};

const StateField INPUT_FIELDS[] = {
    {"keyrow", keyrow, sizeof keyrow},   {"keycol", keycol, sizeof keycol},     {"keycount", &keycount, 4},
    {"joystick", &joystick, 2},          {"joystick2", &joystick2, 2},          {"cassette_keys", &cassette_keys, 1},
};

// Memory: everything but the system ROMs ($8000-$8FFF, $C000-$FFFF), which
// the ROM section names by checksum, a field per 4 KB block; cartridge
// images are in the blocks saved. A block with nothing fitted keeps what
// was put there when the layout was made (no write reaches it), so the
// rewind ring, which never crosses a change of layout, leaves such blocks out.
uint8_t layout[16];
uint8_t ram_at_a000;
constexpr const char* BLOCK_NAMES[12] = {"block_0", "block_1", "block_2", "block_3", "block_4", "block_5",
                                         "block_6", "block_7", nullptr,   "block_9", "block_a", "block_b"};
std::vector<StateField> memory_fields(bool every_block) {
    std::vector<StateField> fields = {
        {"layout", layout, 16}, {"memexp", &memexp, 4}, {"memdef", &memdef, 1}, {"ram_at_a000", &ram_at_a000, 1}};
    for (unsigned b = 0; b < 12; b++)
        if (BLOCK_NAMES[b] && (every_block || b <= 1 || b == 9 || layout[b] != BLOCK_NONE))
            fields.push_back({BLOCK_NAMES[b], memory + b * 0x1000, 0x1000});
    return fields;
}

struct RomChecksums {
    uint32_t kernal, basic, chargen;
};
RomChecksums rom_checksums() {
    std::vector<uint8_t> kernal(0x2000);
    for (unsigned i = 0; i < kernal.size(); i++) kernal[i] = kernal_byte(uint16_t(0xE000 + i));
    return {crc32_of(kernal.data(), kernal.size()), crc32_of(memory + 0xC000, 0x2000),
            crc32_of(memory + 0x8000, 0x1000)};
}

// The picture as colour codes, so that it means the same on any display.
constexpr size_t PICTURE_ROWS = 2 * FRAME_LINES;
std::vector<uint8_t> picture_codes() {
    static uint8_t code_of[0x10000];  // a value no colour has reads as black
    std::memset(code_of, 0, sizeof code_of);
    for (uint8_t code = VIC_COLOR_COUNT; code-- > 0;) code_of[uint16_t(vic_colors[code].double_pixel)] = code;
    std::vector<uint8_t> codes(PICTURE_ROWS * FRAME_CELLS);
    for (size_t row = 0; row < PICTURE_ROWS; row++)
        for (size_t cell = 0; cell < FRAME_CELLS; cell++) {
            uint16_t value;
            std::memcpy(&value, frame_image + row * FRAME_LINE_BYTES + 2 * cell, 2);
            codes[row * FRAME_CELLS + cell] = code_of[value];
        }
    return codes;
}
void draw_picture(const uint8_t* codes) {
    for (size_t i = 0; i < PICTURE_ROWS * FRAME_CELLS; i++) {
        const uint16_t value = uint16_t(vic_colors[codes[i] < VIC_COLOR_COUNT ? codes[i] : 0].double_pixel);
        std::memcpy(frame_image + (i / FRAME_CELLS) * FRAME_LINE_BYTES + 2 * (i % FRAME_CELLS), &value, 2);
    }
}

// ---- sections -------------------------------------------------------------------------

struct DeviceSection {
    const char* name;
    SectionSave save;
    SectionLoad load;
};
constexpr unsigned MAX_DEVICE_SECTIONS = 8;
DeviceSection device_sections[MAX_DEVICE_SECTIONS];
unsigned device_section_count = 0;

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (8 * i)));
}
uint32_t get_u32(const uint8_t* p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24); }

// A section is written in place: its name, room for its length, the body
// appended after them, then the length filled in.
size_t open_section(std::vector<uint8_t>& out, const char* name) {
    const size_t n = std::strlen(name);
    out.push_back(uint8_t(n));
    out.insert(out.end(), name, name + n);
    put_u32(out, 0);
    return out.size();
}
void close_section(std::vector<uint8_t>& out, size_t body_start) {
    const uint32_t length = uint32_t(out.size() - body_start);
    for (int i = 0; i < 4; i++) out[body_start - 4 + i] = uint8_t(length >> (8 * i));
}
void put_section(std::vector<uint8_t>& out, const char* name, const StateField* fields, size_t count) {
    const size_t body = open_section(out, name);
    put_fields(out, fields, count);
    close_section(out, body);
}
template <size_t N>
void put_section(std::vector<uint8_t>& out, const char* name, const StateField (&fields)[N]) {
    put_section(out, name, fields, N);
}

struct Section {
    std::string name;
    const uint8_t* body;
    uint32_t size;
};

// The parsed file: header values and sections.
struct Parsed {
    uint8_t standard = 0;
    std::vector<Section> sections;
    const Section* find(const std::string& name) const {
        for (const Section& s : sections)
            if (s.name == name) return &s;
        return nullptr;
    }
};

StateCheck refusal(StateRefusal kind, const std::string& reason) {
    StateCheck c;
    c.refusal = kind;
    c.reason = reason;
    return c;
}

constexpr const char* CORE_SECTIONS[] = {"cpu", "memory", "clock", "via1", "via2", "vic", "input", "roms"};
constexpr const char* STANDARD_NAMES[2] = {"NTSC", "PAL"};

StateCheck parse(const uint8_t* data, size_t size, Parsed& p, bool sealed = true) {
    if (size < sizeof SNAPSHOT_MAGIC || std::memcmp(data, SNAPSHOT_MAGIC, sizeof SNAPSHOT_MAGIC) != 0)
        return refusal(StateRefusal::DAMAGED, "not a snapshot");
    if (size < HEADER_SIZE + CHECKSUM_SIZE) return refusal(StateRefusal::DAMAGED, "cut short");
    const uint16_t version = uint16_t(data[8] | data[9] << 8);
    if (version > SNAPSHOT_VERSION)
        return refusal(StateRefusal::DAMAGED, "made by a later version (format " + std::to_string(version) + ")");
    if (data[10] != SNAPSHOT_MACHINE_VIC20) return refusal(StateRefusal::DAMAGED, "made for another machine");
    if (data[11] > 1) return refusal(StateRefusal::DAMAGED, "damaged (no such video standard)");
    p.standard = data[11];
    const size_t end = size - CHECKSUM_SIZE;
    for (size_t at = HEADER_SIZE; at < end;) {
        const size_t name_length = data[at];
        if (at + 1 + name_length + 4 > end) return refusal(StateRefusal::DAMAGED, "cut short");
        Section s;
        s.name.assign(reinterpret_cast<const char*>(data + at + 1), name_length);
        s.size = get_u32(data + at + 1 + name_length);
        s.body = data + at + 1 + name_length + 4;
        if (s.size > end - (at + 1 + name_length + 4)) return refusal(StateRefusal::DAMAGED, "cut short");
        at += 1 + name_length + 4 + s.size;
        p.sections.push_back(std::move(s));
    }
    if (sealed && crc32_of(data, end) != get_u32(data + end))
        return refusal(StateRefusal::DAMAGED, "damaged (wrong checksum)");
    for (const char* name : CORE_SECTIONS)
        if ((sealed || std::strcmp(name, "roms") != 0) && !p.find(name))
            return refusal(StateRefusal::DAMAGED, std::string("incomplete (no ") + name + " section)");
    for (Section& s : p.sections)
        if (p.find(s.name) != &s) return refusal(StateRefusal::DAMAGED, "damaged (" + s.name + " twice)");
    return {};
}

// The core section of `name` against its table: sizes checked, copied in when applying.
bool core_fields(const Parsed& p, const char* name, const StateField* fields, size_t count, bool apply) {
    std::vector<FieldView> found;
    const Section* s = p.find(name);
    return parse_fields(s->body, s->size, found) && get_fields(found, fields, count, apply);
}
template <size_t N>
bool core_fields(const Parsed& p, const char* name, const StateField (&fields)[N], bool apply) {
    return core_fields(p, name, fields, N, apply);
}

// Every core section, in an order in which each finds what it needs: the
// memory before the VIC decodes its registers from it.
bool core_sections(const Parsed& p, bool apply) {
    const std::vector<StateField> mem = memory_fields(true), via1 = via_fields(Via1), via2 = via_fields(Via2);
    if (!core_fields(p, "memory", mem.data(), mem.size(), apply) || !core_fields(p, "cpu", CPU_FIELDS, apply) ||
        !core_fields(p, "clock", CLOCK_FIELDS, apply) || !core_fields(p, "via1", via1.data(), via1.size(), apply) ||
        !core_fields(p, "via2", via2.data(), via2.size(), apply) || !core_fields(p, "vic", VIC_FIELDS, apply) ||
        !core_fields(p, "input", INPUT_FIELDS, apply))
        return false;
    if (const Section* picture = p.find("picture")) {
        std::vector<FieldView> found;
        if (!parse_fields(picture->body, picture->size, found)) return false;
        const FieldView* codes = find_field(found, "codes");
        if (codes && codes->size != PICTURE_ROWS * FRAME_CELLS) return false;
        if (apply && codes) draw_picture(codes->data);
    }
    return true;
}

}  // namespace

// ---- fields ------------------------------------------------------------------------------

void put_field(std::vector<uint8_t>& out, const char* name, const void* data, uint32_t size) {
    const size_t n = std::strlen(name);
    out.push_back(uint8_t(n));
    out.insert(out.end(), name, name + n);
    put_u32(out, size);
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    out.insert(out.end(), bytes, bytes + size);
}

void put_fields(std::vector<uint8_t>& out, const StateField* fields, size_t count) {
    for (size_t i = 0; i < count; i++) put_field(out, fields[i].name, fields[i].at, fields[i].size);
}

bool parse_fields(const uint8_t* body, size_t size, std::vector<FieldView>& fields) {
    fields.clear();
    for (size_t at = 0; at < size;) {
        const size_t name_length = body[at];
        if (size - at < 1 + name_length + 4) return false;
        FieldView f;
        f.name.assign(reinterpret_cast<const char*>(body + at + 1), name_length);
        f.size = get_u32(body + at + 1 + name_length);
        f.data = body + at + 1 + name_length + 4;
        if (f.size > size - (at + 1 + name_length + 4)) return false;
        at += 1 + name_length + 4 + f.size;
        fields.push_back(std::move(f));
    }
    return true;
}

const FieldView* find_field(const std::vector<FieldView>& fields, const char* name) {
    for (const FieldView& f : fields)
        if (f.name == name) return &f;
    return nullptr;
}

bool get_fields(const std::vector<FieldView>& found, const StateField* fields, size_t count, bool apply) {
    for (size_t i = 0; i < count; i++) {
        const FieldView* f = find_field(found, fields[i].name);
        if (!f) continue;
        if (f->size != fields[i].size) return false;
        if (apply) std::memcpy(fields[i].at, f->data, f->size);
    }
    return true;
}

uint64_t field_number(const FieldView* field) {
    uint64_t v = 0;
    if (field)
        for (uint32_t i = 0; i < field->size && i < 8; i++) v |= uint64_t(field->data[i]) << (8 * i);
    return v;
}

void put_number(std::vector<uint8_t>& out, const char* name, uint64_t value, uint32_t size) {
    uint8_t bytes[8];
    for (uint32_t i = 0; i < size && i < 8; i++) bytes[i] = uint8_t(value >> (8 * i));
    put_field(out, name, bytes, size < 8 ? size : 8);
}

bool get_number(const std::vector<FieldView>& found, const char* name, uint32_t size, uint64_t& value) {
    const FieldView* f = find_field(found, name);
    if (!f) return true;
    if (f->size != size) return false;
    value = field_number(f);
    return true;
}

void add_state_section(const char* name, SectionSave save, SectionLoad load) {
    for (unsigned i = 0; i < device_section_count; i++)
        if (std::strcmp(device_sections[i].name, name) == 0) return;
    if (device_section_count < MAX_DEVICE_SECTIONS) device_sections[device_section_count++] = {name, save, load};
}

// ---- the whole machine -------------------------------------------------------------------

namespace {

void machine_state(std::vector<uint8_t>& out, bool with_picture, bool sealed) {
    out.assign(SNAPSHOT_MAGIC, SNAPSHOT_MAGIC + sizeof SNAPSHOT_MAGIC);
    out.insert(out.end(),
               {uint8_t(SNAPSHOT_VERSION), uint8_t(SNAPSHOT_VERSION >> 8), SNAPSHOT_MACHINE_VIC20, vid_time});
    out.reserve(0x10000 + (with_picture ? PICTURE_ROWS * FRAME_CELLS : 0));

    if (sealed) {
        const RomChecksums roms = rom_checksums();
        const StateField rom_fields[] = {{"kernal", const_cast<uint32_t*>(&roms.kernal), 4},
                                         {"basic", const_cast<uint32_t*>(&roms.basic), 4},
                                         {"chargen", const_cast<uint32_t*>(&roms.chargen), 4}};
        put_section(out, "roms", rom_fields);
    }
    put_section(out, "cpu", CPU_FIELDS);
    for (unsigned b = 0; b < 16; b++) layout[b] = uint8_t(rombank[b] & ~BLOCK_TRAPPED);
    ram_at_a000 = ram & RAM_AT_A000;
    const std::vector<StateField> mem = memory_fields(sealed);
    put_section(out, "memory", mem.data(), mem.size());
    put_section(out, "clock", CLOCK_FIELDS);
    const std::vector<StateField> via1 = via_fields(Via1), via2 = via_fields(Via2);
    put_section(out, "via1", via1.data(), via1.size());
    put_section(out, "via2", via2.data(), via2.size());
    put_section(out, "vic", VIC_FIELDS);
    put_section(out, "input", INPUT_FIELDS);
    if (with_picture) {
        const size_t body = open_section(out, "picture");
        const std::vector<uint8_t> codes = picture_codes();
        put_field(out, "codes", codes.data(), uint32_t(codes.size()));
        close_section(out, body);
    }
    for (unsigned i = 0; i < device_section_count; i++) {
        const size_t body = open_section(out, device_sections[i].name);
        device_sections[i].save(out);
        close_section(out, body);
    }
    put_u32(out, sealed ? crc32_of(out.data(), out.size()) : 0);
}

}  // namespace

std::vector<uint8_t> save_machine_state(bool with_picture) {
    std::vector<uint8_t> out;
    machine_state(out, with_picture, true);
    return out;
}
void save_ring_state(std::vector<uint8_t>& state) { machine_state(state, false, false); }

namespace {

// Values that no machine has and that would make it misbehave (a layout
// index, a line longer than any).
struct Limit {
    const char* section;
    const char* field;
    uint64_t most;
};
constexpr Limit LIMITS[] = {{"memory", "memexp", EXP_ALL}, {"memory", "memdef", EXP_ALL}, {"clock", "line_cycles", 127},
                            {"clock", "raster", 511},      {"vic", "field_extra", 2}};

bool values_in_range(const Parsed& p) {
    std::vector<FieldView> found;
    for (const Limit& limit : LIMITS) {
        const Section* s = p.find(limit.section);
        if (!parse_fields(s->body, s->size, found) || field_number(find_field(found, limit.field)) > limit.most)
            return false;
    }
    const Section* cpu = p.find("cpu");
    if (!parse_fields(cpu->body, cpu->size, found)) return false;
    if (const FieldView* f = find_field(found, "flags"))
        for (uint32_t i = 0; i < f->size; i++)
            if (f->data[i] > 1) return false;
    const Section* mem = p.find("memory");
    if (!parse_fields(mem->body, mem->size, found)) return false;
    if (const FieldView* f = find_field(found, "layout"))
        for (uint32_t b = 0; b < f->size; b++)
            if (f->data[b] > BLOCK_ROM) return false;
    return true;
}

StateCheck check_parsed(const Parsed& p) {
    if (!core_sections(p, false) || !values_in_range(p))
        return refusal(StateRefusal::DAMAGED, "damaged (a field of the wrong size or value)");
    for (unsigned i = 0; i < device_section_count; i++) {
        const Section* s = p.find(device_sections[i].name);
        if (s && !device_sections[i].load(s->body, s->size, false))
            return refusal(StateRefusal::DAMAGED, std::string("its ") + s->name + " cannot be restored");
    }
    if (p.standard != vid_time)
        return refusal(StateRefusal::OTHER_STANDARD, std::string("made for ") + STANDARD_NAMES[p.standard] +
                                                         ", the machine runs " + STANDARD_NAMES[vid_time ? 1 : 0]);
    std::vector<FieldView> found;
    const Section* roms = p.find("roms");
    if (!parse_fields(roms->body, roms->size, found)) return refusal(StateRefusal::DAMAGED, "damaged (roms section)");
    const RomChecksums here = rom_checksums();
    const uint32_t mine[3] = {here.kernal, here.basic, here.chargen};
    const char* names[3] = {"kernal", "basic", "chargen"};
    for (int i = 0; i < 3; i++)
        if (field_number(find_field(found, names[i])) != mine[i])
            return refusal(StateRefusal::OTHER_ROMS, "made with other ROMs");
    return {};
}

}  // namespace

StateCheck check_machine_state(const uint8_t* data, size_t size) {
    Parsed p;
    StateCheck c = parse(data, size, p);
    if (c.refusal != StateRefusal::NONE) return c;
    c = check_parsed(p);
    c.standard = p.standard;
    return c;
}

namespace {

void apply(const Parsed& p) {
    if (p.standard != vid_time) change_video_standard(p.standard);
    uint8_t traps[16];
    for (unsigned b = 0; b < 16; b++) traps[b] = uint8_t(rombank[b] & BLOCK_TRAPPED);
    core_sections(p, true);
    for (unsigned b = 0; b < 16; b++) rombank[b] = uint8_t(layout[b] | traps[b]);
    ram = uint8_t((ram & ~RAM_AT_A000) | (ram_at_a000 & RAM_AT_A000));
    vic_decode_registers();
    cancel_cycle_call();  // a device that keeps time asks again below
    for (unsigned i = 0; i < device_section_count; i++)
        if (const Section* s = p.find(device_sections[i].name)) device_sections[i].load(s->body, s->size, true);
    for (uint8_t reg = VIC_BASS; reg <= VIC_VOLUME; reg++)
        forward_sound(reg == VIC_VOLUME ? uint8_t(SND_VOLUME) : uint8_t(SND_BASS + reg - VIC_BASS),
                      memory[VIC_BASE + reg]);
}

}  // namespace

StateCheck load_machine_state(const uint8_t* data, size_t size, bool agreed) {
    Parsed p;
    StateCheck c = parse(data, size, p);
    if (c.refusal == StateRefusal::NONE) c = check_parsed(p);
    c.standard = p.standard;
    if (c.refusal == StateRefusal::DAMAGED || (c.refusal != StateRefusal::NONE && !agreed)) return c;
    apply(p);
    return c;
}

bool load_ring_state(const std::vector<uint8_t>& state) {
    Parsed p;
    if (parse(state.data(), state.size(), p, false).refusal != StateRefusal::NONE || p.standard != vid_time)
        return false;
    apply(p);
    return true;
}

// Eight bytes a step through eight tables ("slicing by eight"), then the
// rest a byte at a time.
uint32_t crc32_of(const uint8_t* data, size_t size, uint32_t crc) {
    static const auto tables = [] {
        std::array<std::array<uint32_t, 256>, 8> t{};
        for (uint32_t n = 0; n < 256; n++) {
            uint32_t c = n;
            for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][n] = c;
        }
        for (size_t k = 1; k < 8; k++)
            for (uint32_t n = 0; n < 256; n++) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
        return t;
    }();
    crc = ~crc;
    for (; size >= 8; size -= 8, data += 8) {
        const uint32_t low = crc ^ get_u32(data), high = get_u32(data + 4);
        crc = tables[7][low & 0xFF] ^ tables[6][(low >> 8) & 0xFF] ^ tables[5][(low >> 16) & 0xFF] ^
              tables[4][low >> 24] ^ tables[3][high & 0xFF] ^ tables[2][(high >> 8) & 0xFF] ^
              tables[1][(high >> 16) & 0xFF] ^ tables[0][high >> 24];
    }
    for (; size > 0; size--, data++) crc = tables[0][(crc ^ *data) & 0xFF] ^ (crc >> 8);
    return ~crc;
}
