// Labels from ld65's label files (ld65 -Ln FILE: lines "al 00100D .start"),
// shown in the disassembly and usable in the monitor's commands.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

struct LabelSet {
    std::map<uint16_t, std::string> by_address;  // the first name read for an address
    std::map<std::string, uint16_t> by_name;     // without the leading dot
};
extern LabelSet labels;

// Adds the labels of a file; false with `error` set when it cannot be read
// or holds no label line. Lines of other kinds are skipped.
bool load_label_file(const std::string& path, std::string& error, unsigned& count);

// The label at an address, or empty.
std::string label_at(uint16_t addr);
std::optional<uint16_t> label_value(const std::string& name);
