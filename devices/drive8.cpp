// Names and patterns as a 1541 reads them, the directory program, and LOAD
// and SAVE on drives 8 to 11 over their media (drive_media.cpp).
#include "drive8.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "drive_media.h"

namespace {

constexpr size_t NAME_LIMIT = 16;               // a 1541 keeps 16 bytes of a name
constexpr size_t PRG_LIMIT = 0x10000 + 2;       // more would only wrap round the address space
constexpr unsigned LINE_NUMBER_LIMIT = 0xFFFF;
constexpr uint16_t LISTING_ADDRESS = 0x0401;
constexpr uint8_t LISTING_LINK = 0x01;          // the drive's dummy links; LOAD relinks
constexpr uint8_t PETSCII_REVERSE_ON = 0x12;
constexpr uint8_t TYPE_CLOSED = 0x80, TYPE_LOCKED = 0x40, TYPE_MASK = 0x07, TYPE_PRG = 0x02;
constexpr const char* TYPE_NAMES[] = {"DEL", "SEQ", "PRG", "USR", "REL"};
// The letter of a type filter ("$*=S") for each type.
constexpr char TYPE_LETTERS[] = "DSPUR";

uint8_t fold(uint8_t c) {
    if (c >= 0x61 && c <= 0x7A) return uint8_t(c - 0x20);
    if (c >= 0xC1 && c <= 0xDA) return uint8_t(c - 0x80);
    return c;
}

bool is_prg(const DiskFile& f) { return (f.type & (TYPE_CLOSED | TYPE_MASK)) == (TYPE_CLOSED | TYPE_PRG); }

// ---- the directory program -------------------------------------------------------------

void put_word(std::vector<uint8_t>& out, unsigned value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void put_text(std::vector<uint8_t>& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

void begin_line(std::vector<uint8_t>& out, unsigned number) {
    out.push_back(LISTING_LINK);
    out.push_back(LISTING_LINK);
    put_word(out, std::min(number, LINE_NUMBER_LIMIT));
}

std::string padded(const std::string& s, size_t width) {
    std::string out = s.substr(0, std::max(width, s.size()));
    if (out.size() < width) out.append(width - out.size(), ' ');
    return out;
}

}  // namespace

// ---- names -----------------------------------------------------------------------------

DriveName parse_drive_name(const std::string& raw) {
    DriveName n;
    std::string s = raw;
    if (!s.empty() && s[0] == '$') {
        n.directory = true;
        size_t colon = s.find(':');
        // "$", "$0", "$0:PAT" and "$PAT" (as "$*=S").
        size_t from = colon != std::string::npos ? colon + 1 : std::min(s.size(), s.find_first_not_of("0123456789", 1));
        n.pattern = s.substr(from);
        if (size_t equals = n.pattern.find('='); equals != std::string::npos) {
            if (equals + 1 < n.pattern.size()) n.type_filter = char(fold(uint8_t(n.pattern[equals + 1])));
            n.pattern.erase(equals);
        }
        if (n.pattern.empty()) n.pattern = "*";
        return n;
    }
    if (!s.empty() && s[0] == '@') {
        n.replace = true;
        s.erase(0, 1);
    }
    size_t colon = s.find(':');
    if (colon != std::string::npos && s.find_first_not_of("0123456789") == colon) s.erase(0, colon + 1);
    n.pattern = s.substr(0, s.find(','));
    return n;
}

bool drive_name_matches(const std::string& pattern, const std::string& name, bool fold_case) {
    for (size_t i = 0; i < pattern.size(); i++) {
        uint8_t p = uint8_t(pattern[i]);
        if (p == '*') return true;
        if (i >= name.size()) return false;
        uint8_t c = uint8_t(name[i]);
        if (p == '?') continue;
        if (fold_case ? fold(p) != fold(c) : p != c) return false;
    }
    return pattern.size() == name.size();
}

// Bytes a host name cannot hold, or that would not come back as they were,
// are written as %XX; "%" itself too, so that the way back is unambiguous.
namespace {
constexpr char HEX[] = "0123456789abcdef";
bool needs_escape(unsigned char c) { return c < 0x20 || c == '/' || c == '%' || c == 0x60 || (c > 0x7A && c < 0xC1) || c > 0xDA; }
int hex_value(char c) {
    const char* at = c ? std::strchr(HEX, std::tolower(static_cast<unsigned char>(c))) : nullptr;
    return at ? int(at - HEX) : -1;
}
}  // namespace

std::string petscii_from_host(const std::string& host) {
    std::string out;
    for (size_t i = 0; i < host.size(); i++) {
        unsigned char c = static_cast<unsigned char>(host[i]);
        int high = c == '%' && i + 2 < host.size() ? hex_value(host[i + 1]) : -1;
        int low = high >= 0 ? hex_value(host[i + 2]) : -1;
        if (low >= 0) {
            out.push_back(char(high << 4 | low));
            i += 2;
            continue;
        }
        if (c >= 'a' && c <= 'z') c = uint8_t(c - 0x20);
        out.push_back(c >= 0x20 && c <= 0x5F ? char(c) : '?');
    }
    return out;
}

std::string host_from_petscii(const std::string& petscii) {
    std::string out;
    for (unsigned char c : petscii) {
        if (needs_escape(c)) {
            out += {'%', HEX[c >> 4], HEX[c & 15]};
            continue;
        }
        if (c >= 0x41 && c <= 0x5A) c = uint8_t(c + 0x20);
        else if (c >= 0xC1 && c <= 0xDA) c = uint8_t(c - 0x80);
        else if (c >= 0x61 && c <= 0x7A) c = uint8_t(c - 0x20);
        out.push_back(char(c));
    }
    return out;
}

std::vector<uint8_t> listing_program(const DiskListing& listing) {
    std::vector<uint8_t> out;
    put_word(out, LISTING_ADDRESS);
    begin_line(out, 0);
    out.push_back(PETSCII_REVERSE_ON);
    put_text(out, "\"" + padded(listing.disk_name.substr(0, NAME_LIMIT), NAME_LIMIT) + "\" " +
                      padded(listing.disk_id.substr(0, 5), 5));
    out.push_back(0);
    for (const DiskFile& f : listing.files) {
        begin_line(out, f.blocks);
        std::string text(f.blocks < 10 ? 3 : f.blocks < 100 ? 2 : f.blocks < 1000 ? 1 : 0, ' ');
        text += "\"" + f.name + "\"" + std::string(f.name.size() < NAME_LIMIT ? NAME_LIMIT - f.name.size() : 0, ' ');
        text += (f.type & TYPE_CLOSED) ? ' ' : '*';
        unsigned kind = f.type & TYPE_MASK;
        text += kind < std::size(TYPE_NAMES) ? TYPE_NAMES[kind] : "???";
        text += (f.type & TYPE_LOCKED) ? '<' : ' ';
        put_text(out, text);
        out.push_back(0);
    }
    begin_line(out, listing.blocks_free);
    put_text(out, "BLOCKS FREE.");
    out.push_back(0);
    put_word(out, 0);
    return out;
}

// ---- LOAD and SAVE ------------------------------------------------------------------------

std::vector<uint8_t> directory_program(unsigned unit, const DriveName& n, DiskStatus& status) {
    DiskListing listing;
    status = drive_listing(unit, listing);
    if (status != DiskStatus::OK) return {};
    const bool fold_case = drive_folds_case(unit);
    std::erase_if(listing.files, [&](const DiskFile& f) {
        unsigned kind = f.type & TYPE_MASK;
        bool type_ok = !n.type_filter || (kind < std::size(TYPE_LETTERS) - 1 && TYPE_LETTERS[kind] == n.type_filter);
        return !type_ok || !drive_name_matches(n.pattern, f.name, fold_case);
    });
    return listing_program(listing);
}

DiskStatus drive_load(unsigned unit, const std::string& raw_name, std::vector<uint8_t>& data) {
    DriveName n = parse_drive_name(raw_name);
    DiskStatus status;
    if (n.directory) {
        std::vector<uint8_t> listing = directory_program(unit, n, status);
        if (status == DiskStatus::OK) data = std::move(listing);
        return status;
    }
    // As a 1541 does, a longer name is cut to the 16 bytes a name keeps.
    n.pattern.resize(std::min(n.pattern.size(), NAME_LIMIT));
    if (n.pattern.empty()) return DiskStatus::NOT_FOUND;
    DiskListing listing;
    if ((status = drive_listing(unit, listing)) != DiskStatus::OK) return status;
    for (const DiskFile& f : listing.files) {
        if (!is_prg(f) || !drive_name_matches(n.pattern, f.name, drive_folds_case(unit))) continue;
        std::vector<uint8_t> got;
        status = drive_read(unit, f, got, PRG_LIMIT);
        if (status == DiskStatus::OK && got.size() < 2) return DiskStatus::READ_ERROR;
        if (status == DiskStatus::OK && got.size() > PRG_LIMIT) got.resize(PRG_LIMIT);
        if (status == DiskStatus::OK) data = std::move(got);
        return status;
    }
    return DiskStatus::NOT_FOUND;
}

DiskStatus drive_save(unsigned unit, const std::string& raw_name, const std::vector<uint8_t>& data) {
    DriveName n = parse_drive_name(raw_name);
    std::string name = n.pattern.substr(0, NAME_LIMIT);
    if (n.directory || name.empty() || name.find_first_of("*?") != std::string::npos) return DiskStatus::WRITE_ERROR;
    return drive_write(unit, name, TYPE_PRG, 0, data, n.replace);
}

bool drive8_use_folder(const std::string& path) { return drive_use_folder(FIRST_DRIVE, path); }
bool drive8_attach_image(const std::string& path) { return drive_attach_image(FIRST_DRIVE, path); }
DiskStatus drive8_listing(DiskListing& listing) { return drive_listing(FIRST_DRIVE, listing); }
DiskStatus drive8_load(const std::string& raw_name, std::vector<uint8_t>& data) {
    return drive_load(FIRST_DRIVE, raw_name, data);
}
DiskStatus drive8_save(const std::string& raw_name, const std::vector<uint8_t>& data) {
    DiskStatus status = drive_save(FIRST_DRIVE, raw_name, data);
    return status == DiskStatus::WRITE_PROTECTED ? DiskStatus::WRITE_ERROR : status;
}

bool iequals_suffix(const std::string& s, const char* suffix) {
    size_t n = std::char_traits<char>::length(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; i++)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) return false;
    return true;
}

bool is_disk_image_name(const char* name) { return iequals_suffix(name, ".d64"); }
