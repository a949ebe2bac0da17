// Drive 8's contents: names and patterns as a 1541 reads them, the
// directory program, the host-folder backend and the attached disk image.
#include "drive8.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/statvfs.h>
#include <unistd.h>

#include "d64.h"
#include "../files/fileutil.h"

namespace {

constexpr size_t NAME_LIMIT = 16;               // a 1541 keeps 16 bytes of a name
constexpr size_t PRG_LIMIT = 0x10000 + 2;       // more would only wrap round the address space
constexpr unsigned BLOCK_DATA = 254;            // data bytes in one disk block
constexpr unsigned LINE_NUMBER_LIMIT = 0xFFFF;
constexpr uint16_t LISTING_ADDRESS = 0x0401;
constexpr uint8_t LISTING_LINK = 0x01;          // the drive's dummy links; LOAD relinks
constexpr uint8_t PETSCII_REVERSE_ON = 0x12;
constexpr uint8_t TYPE_CLOSED = 0x80, TYPE_LOCKED = 0x40, TYPE_MASK = 0x07, TYPE_PRG = 0x02;
constexpr const char* TYPE_NAMES[] = {"DEL", "SEQ", "PRG", "USR", "REL"};
constexpr const char* FOLDER_DISK_ID = "00 2A";

enum class Holder { FOLDER, IMAGE };
struct Drive {
    Holder holder = Holder::FOLDER;
    std::string folder = ".";
    std::string image_path;
    D64Image image;
};
Drive drive;

uint8_t fold(uint8_t c) {
    if (c >= 0x61 && c <= 0x7A) return uint8_t(c - 0x20);
    if (c >= 0xC1 && c <= 0xDA) return uint8_t(c - 0x80);
    return c;
}

bool is_prg(const DiskFile& f) { return (f.type & (TYPE_CLOSED | TYPE_MASK)) == (TYPE_CLOSED | TYPE_PRG); }

bool iequals_suffix(const std::string& s, const char* suffix) {
    size_t n = std::char_traits<char>::length(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; i++)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) return false;
    return true;
}

// ---- the folder ------------------------------------------------------------------

struct HostFile {
    DiskFile file;
    std::string path;
};

unsigned blocks_of(uintmax_t bytes) {
    uintmax_t blocks = std::max<uintmax_t>(1, (bytes + BLOCK_DATA - 1) / BLOCK_DATA);
    return unsigned(std::min<uintmax_t>(blocks, LINE_NUMBER_LIMIT));
}

// Every *.prg (any case) that is a regular file, in the order of the names
// the machine sees; false when
// the folder cannot be read.
bool folder_files(std::vector<HostFile>& out) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(drive.folder, ec);
    if (ec) return false;
    for (const fs::directory_entry& entry : it) {
        std::string host = entry.path().filename().string();
        if (!iequals_suffix(host, ".prg") || host.size() == 4) continue;
        std::error_code e2;
        if (!entry.is_regular_file(e2)) continue;
        uintmax_t size = entry.file_size(e2);
        if (e2) continue;
        DiskFile f{petscii_from_host(host.substr(0, host.size() - 4)).substr(0, NAME_LIMIT), TYPE_CLOSED | TYPE_PRG,
                   uint16_t(blocks_of(size)), 0, 0};
        out.push_back({f, entry.path().string()});
    }
    std::sort(out.begin(), out.end(), [](const HostFile& a, const HostFile& b) {
        return a.file.name != b.file.name ? a.file.name < b.file.name : a.path < b.path;
    });
    return true;
}

DiskStatus folder_listing(DiskListing& listing) {
    std::vector<HostFile> files;
    if (!folder_files(files)) return DiskStatus::NOT_FOUND;
    std::error_code ec;
    std::filesystem::path full = std::filesystem::weakly_canonical(drive.folder, ec);
    std::string base = (full.has_filename() ? full : full.parent_path()).filename().string();
    listing.disk_name = petscii_from_host(base).substr(0, NAME_LIMIT);
    listing.disk_id = FOLDER_DISK_ID;
    listing.files.clear();
    for (const HostFile& h : files) listing.files.push_back(h.file);
    struct statvfs vfs;
    uintmax_t free_bytes = statvfs(drive.folder.c_str(), &vfs) == 0 ? uintmax_t(vfs.f_bavail) * vfs.f_frsize : 0;
    listing.blocks_free = unsigned(std::min<uintmax_t>(free_bytes / BLOCK_DATA, LINE_NUMBER_LIMIT));
    return DiskStatus::OK;
}

DiskStatus read_host_file(const std::string& path, std::vector<uint8_t>& data) {
    return read_file_start(path.c_str(), PRG_LIMIT, data) != -1 && data.size() >= 2 ? DiskStatus::OK
                                                                                      : DiskStatus::READ_ERROR;
}

DiskStatus folder_load(const std::string& pattern, std::vector<uint8_t>& data) {
    std::vector<HostFile> files;
    if (!folder_files(files)) return DiskStatus::NOT_FOUND;
    for (const HostFile& h : files)
        if (drive_name_matches(pattern, h.file.name, true)) return read_host_file(h.path, data);
    return DiskStatus::NOT_FOUND;
}

DiskStatus folder_save(const std::string& name, bool replace, const std::vector<uint8_t>& data) {
    std::vector<HostFile> files;
    if (!folder_files(files)) return DiskStatus::WRITE_ERROR;
    std::string path = drive.folder + "/" + host_from_petscii(name) + ".prg";
    for (const HostFile& h : files) {
        if (!drive_name_matches(name, h.file.name, true)) continue;
        if (!replace) return DiskStatus::EXISTS;
        path = h.path;  // the file keeps its own spelling
        break;
    }
    return replace_file(path.c_str(), {{data.data(), data.size()}}) == 0 ? DiskStatus::OK : DiskStatus::WRITE_ERROR;
}

// ---- the image ---------------------------------------------------------------------

DiskStatus image_load(const std::string& pattern, std::vector<uint8_t>& data) {
    DiskListing listing;
    DiskStatus status = d64_directory(drive.image, listing);
    if (status != DiskStatus::OK) return status;
    for (const DiskFile& f : listing.files) {
        if (!is_prg(f) || !drive_name_matches(pattern, f.name, false)) continue;
        status = d64_read_file(drive.image, f, data);
        if (status == DiskStatus::OK && data.size() < 2) return DiskStatus::READ_ERROR;
        return status;
    }
    return DiskStatus::NOT_FOUND;
}

DiskStatus image_save(const std::string& name, bool replace, const std::vector<uint8_t>& data) {
    D64Image changed = drive.image;
    DiskStatus status = d64_write_file(changed, name, data, replace);
    if (status == DiskStatus::OK) status = d64_write_image(drive.image_path.c_str(), changed);
    if (status == DiskStatus::OK) drive.image = std::move(changed);
    return status;
}

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
        n.pattern = colon == std::string::npos ? "*" : s.substr(colon + 1);
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

// ---- drive 8 ----------------------------------------------------------------------------

bool drive8_use_folder(const std::string& path) {
    printf("Using folder %s as drive 8...", path.c_str());
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) {
        fputs("failed\n", stdout);
        return false;
    }
    drive.holder = Holder::FOLDER;
    drive.folder = path;
    fputs("OK\n", stdout);
    return true;
}

bool drive8_attach_image(const std::string& path) {
    printf("Attaching disk image %s...", path.c_str());
    D64Image image;
    if (d64_read_image(path.c_str(), image) != DiskStatus::OK) {
        fputs("failed\n", stdout);
        return false;
    }
    drive.holder = Holder::IMAGE;
    drive.image_path = path;
    drive.image = std::move(image);
    fputs("OK\n", stdout);
    return true;
}

std::string drive8_image_name() { return drive.holder == Holder::IMAGE ? drive.image_path : ""; }
std::string drive8_folder_name() { return drive.folder; }

DiskStatus drive8_listing(DiskListing& listing) {
    if (drive.holder == Holder::FOLDER) return folder_listing(listing);
    return d64_directory(drive.image, listing);
}

DiskStatus drive8_load(const std::string& raw_name, std::vector<uint8_t>& data) {
    DriveName n = parse_drive_name(raw_name);
    if (!n.directory) {
        // As a 1541 does, a longer name is cut to the 16 bytes a name keeps.
        n.pattern.resize(std::min(n.pattern.size(), NAME_LIMIT));
        if (n.pattern.empty()) return DiskStatus::NOT_FOUND;
        return drive.holder == Holder::FOLDER ? folder_load(n.pattern, data) : image_load(n.pattern, data);
    }
    DiskListing listing;
    DiskStatus status = drive8_listing(listing);
    if (status != DiskStatus::OK) return status;
    const bool fold_case = drive.holder == Holder::FOLDER;
    std::erase_if(listing.files, [&](const DiskFile& f) { return !drive_name_matches(n.pattern, f.name, fold_case); });
    data = listing_program(listing);
    return DiskStatus::OK;
}

DiskStatus drive8_save(const std::string& raw_name, const std::vector<uint8_t>& data) {
    DriveName n = parse_drive_name(raw_name);
    std::string name = n.pattern.substr(0, NAME_LIMIT);
    if (n.directory || name.empty() || name.find_first_of("*?") != std::string::npos) return DiskStatus::WRITE_ERROR;
    return drive.holder == Holder::FOLDER ? folder_save(name, n.replace, data) : image_save(name, n.replace, data);
}

bool is_disk_image_name(const char* name) { return iequals_suffix(name, ".d64"); }
