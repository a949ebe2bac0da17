// The ld65 label file reader.
#include "labels.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

LabelSet labels;

bool load_label_file(const std::string& path, std::string& error, unsigned& count) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    count = 0;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind, value, name;
        if (!(fields >> kind >> value >> name) || kind != "al" || value.size() > 8) continue;
        char* end = nullptr;
        const unsigned long addr = std::strtoul(value.c_str(), &end, 16);
        if (*end || addr > 0xFFFF) continue;
        if (name[0] == '.') name.erase(0, 1);
        if (name.empty()) continue;
        labels.by_address.emplace(uint16_t(addr), name);
        labels.by_name[name] = uint16_t(addr);
        count++;
    }
    if (count == 0) {
        error = path + " holds no ld65 labels";
        return false;
    }
    return true;
}

std::string label_at(uint16_t addr) {
    auto it = labels.by_address.find(addr);
    return it == labels.by_address.end() ? std::string() : it->second;
}

std::optional<uint16_t> label_value(const std::string& name) {
    auto it = labels.by_name.find(name[0] == '.' ? name.substr(1) : name);
    if (it == labels.by_name.end()) return std::nullopt;
    return it->second;
}
