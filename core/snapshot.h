// The whole machine as bytes: what decides what it does next, so that a
// machine loaded from them runs on cycle for cycle as the one saved would.
//
// The bytes are a small header (magic, version, machine, video standard),
// named sections each with its length, and a CRC-32 of all that. The core
// writes its own sections (processor, memory and layout, VIAs, VIC, input
// lines, clock, picture); the devices add theirs through add_state_section.
// A reader skips sections it does not know and, within the core's sections,
// fields it does not know, so later versions read older files.
//
// Saving and loading happen only between two turns of the main loop, where
// nothing of a turn is half done: from the calls between frames (hooks.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr char SNAPSHOT_MAGIC[8] = {'T', 'V', 'K', 'S', 'N', 'A', 'P', 0x1A};
constexpr uint16_t SNAPSHOT_VERSION = 1;
constexpr uint8_t SNAPSHOT_MACHINE_VIC20 = 20;

// ---- fields: the body of a section --------------------------------------------------

// A field is its name (a length byte and the bytes), its size (4 bytes,
// little-endian) and its bytes. A table of StateField saves and loads a
// chip's fields; adding a field is one line of its table.
struct StateField {
    const char* name;
    void* at;
    uint32_t size;
};
void put_field(std::vector<uint8_t>& out, const char* name, const void* data, uint32_t size);
void put_fields(std::vector<uint8_t>& out, const StateField* fields, size_t count);

// A field as found in a section.
struct FieldView {
    std::string name;
    const uint8_t* data;
    uint32_t size;
};
// Splits a section body into its fields; false when they do not fill it exactly.
bool parse_fields(const uint8_t* body, size_t size, std::vector<FieldView>& fields);
const FieldView* find_field(const std::vector<FieldView>& fields, const char* name);
// Every table field found must have its size; with `apply` they are copied
// in. Fields the table lacks are skipped; fields the section lacks keep
// their values.
bool get_fields(const std::vector<FieldView>& found, const StateField* fields, size_t count, bool apply);
uint64_t field_number(const FieldView* field);  // little-endian, 0 when absent
// A number of `size` bytes (at most 8), little-endian; reading it is false
// when the field has another size, and leaves `value` when it is absent.
void put_number(std::vector<uint8_t>& out, const char* name, uint64_t value, uint32_t size);
bool get_number(const std::vector<FieldView>& found, const char* name, uint32_t size, uint64_t& value);

// ---- device sections -------------------------------------------------------------------

// A device's section: `save` appends its body (to the bytes written so far); `load` checks a body
// (apply false: could it be applied?) or applies it (apply true). A
// refusal at the check leaves the machine untouched.
using SectionSave = void (*)(std::vector<uint8_t>& body);
using SectionLoad = bool (*)(const uint8_t* body, size_t size, bool apply);
void add_state_section(const char* name, SectionSave save, SectionLoad load);

// ---- the whole machine ------------------------------------------------------------------

// The machine's state as snapshot bytes; the picture drawn so far is left
// out unless asked for (a state taken at a frame's end needs none).
std::vector<uint8_t> save_machine_state(bool with_picture);

enum class StateRefusal { NONE, DAMAGED, OTHER_ROMS, OTHER_STANDARD };
struct StateCheck {
    StateRefusal refusal = StateRefusal::NONE;
    std::string reason;  // one line, without its end
    uint8_t standard = 0;
};

// Checks the bytes as a whole: header, sections, checksum, every section's
// fields, the ROMs and the video standard. Nothing changes.
StateCheck check_machine_state(const uint8_t* data, size_t size);

// Loads the bytes into the machine when check_machine_state finds nothing,
// or only other ROMs or another video standard and `agreed` is set (the
// machine then switches to the snapshot's standard). On a refusal nothing
// has changed.
StateCheck load_machine_state(const uint8_t* data, size_t size, bool agreed);

// The same for the rewind ring, which needs no picture, checksum or ROM
// names: a state of this machine taken and loaded in the same session.
void save_ring_state(std::vector<uint8_t>& state);  // its room kept from one state to the next
bool load_ring_state(const std::vector<uint8_t>& state);

// CRC-32 (the zlib polynomial) of a stretch of bytes.
uint32_t crc32_of(const uint8_t* data, size_t size, uint32_t crc = 0);
