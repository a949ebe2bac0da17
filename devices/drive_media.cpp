// The drives' media: host folders and .d64 images behind one set of calls.
#include "drive_media.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <sys/statvfs.h>
#include <unistd.h>

#include "drive8.h"
#include "../files/fileutil.h"

namespace {

constexpr size_t NAME_LIMIT = 16;
constexpr size_t FILE_LIMIT = size_t(16) << 20;  // a host file the drive refuses beyond
constexpr unsigned BLOCK_DATA = 254;
constexpr unsigned LINE_NUMBER_LIMIT = 0xFFFF;
constexpr uint8_t TYPE_CLOSED = 0x80;
constexpr const char* FOLDER_DISK_ID = "00 2A";
constexpr const char* SUFFIXES[] = {nullptr, ".seq", ".prg", ".usr", ".rel"};

enum class Holder { NONE, FOLDER, IMAGE };
struct Medium {
    Holder holder = Holder::NONE;
    std::string folder;
    std::string image_path;
    D64Image image;
    bool read_only = false;
};
Medium media[LAST_DRIVE + 1 - FIRST_DRIVE] = {{Holder::FOLDER, ".", "", {}, false}};

Medium* medium_of(unsigned unit) { return is_drive_unit(unit) ? &media[unit - FIRST_DRIVE] : nullptr; }

unsigned blocks_of(uintmax_t bytes) {
    uintmax_t blocks = std::max<uintmax_t>(1, (bytes + BLOCK_DATA - 1) / BLOCK_DATA);
    return unsigned(std::min<uintmax_t>(blocks, LINE_NUMBER_LIMIT));
}

// ---- the folder ----------------------------------------------------------------

// A host file's name as a drive's file: its type by the suffix, a REL
// file's record length after the last comma. False for other files.
bool host_file(const std::string& host, DiskFile& f) {
    for (uint8_t type = FILE_SEQ; type <= FILE_REL; type++) {
        if (!iequals_suffix(host, SUFFIXES[type]) || host.size() == 4) continue;
        std::string stem = host.substr(0, host.size() - 4);
        f.type = uint8_t(TYPE_CLOSED | type);
        if (type == FILE_REL) {
            size_t comma = stem.rfind(',');
            if (comma == std::string::npos) return false;
            int length = std::atoi(stem.c_str() + comma + 1);
            if (length < 1 || length > 254) return false;
            f.record_length = uint8_t(length);
            stem.erase(comma);
        }
        f.name = petscii_from_host(stem).substr(0, NAME_LIMIT);
        return !f.name.empty();
    }
    return false;
}

std::string host_name(const std::string& name, uint8_t type, uint8_t record_length) {
    std::string stem = host_from_petscii(name);
    if (type == FILE_REL) stem += "," + std::to_string(record_length);
    return stem + SUFFIXES[type];
}

// Every drive file in the folder, in the order of the names the machine
// sees; false when the folder cannot be read.
bool folder_files(const Medium& m, std::vector<DiskFile>& out) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(m.folder, ec);
    if (ec) return false;
    for (const fs::directory_entry& entry : it) {
        DiskFile f{"", 0, 0, 0, 0};
        if (!host_file(entry.path().filename().string(), f)) continue;
        std::error_code e2;
        if (!entry.is_regular_file(e2)) continue;
        uintmax_t size = entry.file_size(e2);
        if (e2) continue;
        f.blocks = uint16_t(blocks_of(size));
        f.path = entry.path().string();
        out.push_back(f);
    }
    std::sort(out.begin(), out.end(),
              [](const DiskFile& a, const DiskFile& b) { return a.name != b.name ? a.name < b.name : a.path < b.path; });
    return true;
}

DiskStatus folder_listing(const Medium& m, DiskListing& listing) {
    std::vector<DiskFile> files;
    if (!folder_files(m, files)) return DiskStatus::NOT_FOUND;
    std::error_code ec;
    std::filesystem::path full = std::filesystem::weakly_canonical(m.folder, ec);
    std::string base = (full.has_filename() ? full : full.parent_path()).filename().string();
    listing.disk_name = petscii_from_host(base).substr(0, NAME_LIMIT);
    listing.disk_id = FOLDER_DISK_ID;
    listing.files = std::move(files);
    struct statvfs vfs;
    uintmax_t free_bytes = statvfs(m.folder.c_str(), &vfs) == 0 ? uintmax_t(vfs.f_bavail) * vfs.f_frsize : 0;
    listing.blocks_free = unsigned(std::min<uintmax_t>(free_bytes / BLOCK_DATA, LINE_NUMBER_LIMIT));
    return DiskStatus::OK;
}

// The file of that name (any case) among the folder's, or none.
const DiskFile* folder_find(const std::vector<DiskFile>& files, const std::string& name) {
    for (const DiskFile& f : files)
        if (drive_name_matches(name, f.name, true) && name.find_first_of("*?") == std::string::npos) return &f;
    return nullptr;
}

DiskStatus folder_write(const Medium& m, const std::string& name, uint8_t type, uint8_t record_length,
                        const std::vector<uint8_t>& data, bool replace) {
    std::vector<DiskFile> files;
    if (!folder_files(m, files)) return DiskStatus::WRITE_ERROR;
    std::string path = m.folder + "/" + host_name(name, type, record_length);
    std::string old;
    if (const DiskFile* f = folder_find(files, name)) {
        if (!replace) return DiskStatus::EXISTS;
        // The file keeps its own spelling where its type and length stay.
        DiskFile same{"", 0, 0, 0, 0};
        if (host_file(std::filesystem::path(f->path).filename().string(), same) &&
            (same.type & 7) == type && same.record_length == record_length)
            path = f->path;
        else
            old = f->path;
    }
    if (replace_file(path.c_str(), {{data.data(), data.size()}}) != 0)
        return access(path.c_str(), F_OK) == 0 && access(path.c_str(), W_OK) != 0 ? DiskStatus::WRITE_PROTECTED
                                                                                 : DiskStatus::WRITE_ERROR;
    if (!old.empty()) unlink(old.c_str());
    return DiskStatus::OK;
}

// ---- the image ---------------------------------------------------------------------

// Runs a change on a copy of the image and keeps it once the file holds it.
template <typename Change>
DiskStatus change_image(Medium& m, Change change) {
    if (m.read_only) return DiskStatus::WRITE_PROTECTED;
    D64Image changed = m.image;
    DiskStatus status = change(changed);
    if (status == DiskStatus::OK) status = d64_write_image(m.image_path.c_str(), changed);
    if (status == DiskStatus::OK) m.image = std::move(changed);
    return status;
}

}  // namespace

bool drive_use_folder(unsigned unit, const std::string& path) {
    Medium* m = medium_of(unit);
    printf("Using folder %s as drive %u...", path.c_str(), unit);
    std::error_code ec;
    if (!m || !std::filesystem::is_directory(path, ec)) {
        fputs("failed\n", stdout);
        return false;
    }
    *m = Medium{Holder::FOLDER, path, "", {}, false};
    fputs("OK\n", stdout);
    return true;
}

bool drive_attach_image(unsigned unit, const std::string& path) {
    Medium* m = medium_of(unit);
    if (unit == FIRST_DRIVE)
        printf("Attaching disk image %s...", path.c_str());
    else
        printf("Attaching disk image %s to drive %u...", path.c_str(), unit);
    D64Image image;
    if (!m || d64_read_image(path.c_str(), image) != DiskStatus::OK) {
        fputs("failed\n", stdout);
        return false;
    }
    *m = Medium{Holder::IMAGE, "", path, std::move(image), access(path.c_str(), W_OK) != 0};
    fputs("OK\n", stdout);
    return true;
}

void drive_detach(unsigned unit) {
    if (Medium* m = medium_of(unit)) *m = Medium{};
}

bool drive_attached(unsigned unit) {
    const Medium* m = medium_of(unit);
    return m && m->holder != Holder::NONE;
}

std::string drive_image_name(unsigned unit) {
    const Medium* m = medium_of(unit);
    return m && m->holder == Holder::IMAGE ? m->image_path : "";
}

std::string drive_folder_name(unsigned unit) {
    const Medium* m = medium_of(unit);
    return m && m->holder == Holder::FOLDER ? m->folder : "";
}

bool drive_folds_case(unsigned unit) {
    const Medium* m = medium_of(unit);
    return m && m->holder == Holder::FOLDER;
}

DiskStatus drive_listing(unsigned unit, DiskListing& listing) {
    const Medium* m = medium_of(unit);
    if (!m || m->holder == Holder::NONE) return DiskStatus::NOT_FOUND;
    if (m->holder == Holder::FOLDER) return folder_listing(*m, listing);
    return d64_directory(m->image, listing);
}

DiskStatus drive_read(unsigned unit, const DiskFile& file, std::vector<uint8_t>& data, size_t limit) {
    const Medium* m = medium_of(unit);
    if (!m || m->holder == Holder::NONE) return DiskStatus::NOT_FOUND;
    if (m->holder == Holder::IMAGE) return d64_read_file(m->image, file, data);
    std::vector<uint8_t> got;
    off_t length = read_file_start(file.path.c_str(), limit ? limit : FILE_LIMIT, got);
    if (length == -1 || (!limit && size_t(length) != got.size())) return DiskStatus::READ_ERROR;
    data = std::move(got);
    return DiskStatus::OK;
}

DiskStatus drive_writable(unsigned unit, const DiskFile* existing) {
    const Medium* m = medium_of(unit);
    if (!m || m->holder == Holder::NONE) return DiskStatus::NOT_FOUND;
    if (m->holder == Holder::IMAGE) return m->read_only ? DiskStatus::WRITE_PROTECTED : DiskStatus::OK;
    const std::string& path = existing ? existing->path : m->folder;
    return access(path.c_str(), W_OK) == 0 ? DiskStatus::OK : DiskStatus::WRITE_PROTECTED;
}

DiskStatus drive_write(unsigned unit, const std::string& name, uint8_t type, uint8_t record_length,
                       const std::vector<uint8_t>& data, bool replace) {
    Medium* m = medium_of(unit);
    if (!m || m->holder == Holder::NONE) return DiskStatus::NOT_FOUND;
    if (type < FILE_SEQ || type > FILE_REL) return DiskStatus::WRITE_ERROR;
    if (m->holder == Holder::FOLDER) return folder_write(*m, name, type, record_length, data, replace);
    return change_image(*m, [&](D64Image& image) {
        // A replacement of another type is a scratch and a new file.
        DiskListing listing;
        if (replace && d64_directory(image, listing) == DiskStatus::OK)
            for (const DiskFile& f : listing.files)
                if (f.name == name.substr(0, NAME_LIMIT) && (f.type & 7) != type) {
                    if (DiskStatus s = d64_scratch(image, f.name); s != DiskStatus::OK) return s;
                    break;
                }
        return d64_write_file(image, name, data, replace, type, record_length);
    });
}

DiskStatus drive_scratch(unsigned unit, const DiskFile& file) {
    Medium* m = medium_of(unit);
    if (!m || m->holder == Holder::NONE) return DiskStatus::NOT_FOUND;
    if (m->holder == Holder::IMAGE)
        return change_image(*m, [&](D64Image& image) { return d64_scratch(image, file.name); });
    if (drive_writable(unit, nullptr) != DiskStatus::OK) return DiskStatus::WRITE_PROTECTED;
    return unlink(file.path.c_str()) == 0 ? DiskStatus::OK : DiskStatus::WRITE_ERROR;
}

DiskStatus drive_rename(unsigned unit, const DiskFile& file, const std::string& to) {
    Medium* m = medium_of(unit);
    if (!m || m->holder == Holder::NONE) return DiskStatus::NOT_FOUND;
    if (m->holder == Holder::IMAGE)
        return change_image(*m, [&](D64Image& image) { return d64_rename(image, file.name, to); });
    std::vector<DiskFile> files;
    if (!folder_files(*m, files)) return DiskStatus::READ_ERROR;
    if (folder_find(files, to)) return DiskStatus::EXISTS;
    if (drive_writable(unit, nullptr) != DiskStatus::OK) return DiskStatus::WRITE_PROTECTED;
    std::string path = m->folder + "/" + host_name(to, uint8_t(file.type & 7), file.record_length);
    return std::rename(file.path.c_str(), path.c_str()) == 0 ? DiskStatus::OK : DiskStatus::WRITE_ERROR;
}

DiskStatus drive_format(unsigned unit, const std::string& disk_name, const std::string& disk_id) {
    Medium* m = medium_of(unit);
    if (!m || m->holder == Holder::NONE) return DiskStatus::NOT_FOUND;
    if (m->holder == Holder::FOLDER) return DiskStatus::OK;
    return change_image(*m, [&](D64Image& image) { return d64_format(image, disk_name, disk_id); });
}

DiskStatus drive_validate(unsigned unit) {
    Medium* m = medium_of(unit);
    if (!m || m->holder == Holder::NONE) return DiskStatus::NOT_FOUND;
    if (m->holder == Holder::FOLDER) return DiskStatus::OK;
    return change_image(*m, [](D64Image& image) { return d64_validate(image); });
}

DiskStatus drive_read_block(unsigned unit, unsigned track, unsigned sector, uint8_t* out) {
    Medium* m = medium_of(unit);
    if (!m || m->holder != Holder::IMAGE) return DiskStatus::ILLEGAL_SECTOR;
    const uint8_t* at = d64_sector(m->image, track, sector);
    if (!at) return DiskStatus::ILLEGAL_SECTOR;
    std::copy_n(at, 256, out);
    return DiskStatus::OK;
}

DiskStatus drive_write_block(unsigned unit, unsigned track, unsigned sector, const uint8_t* in) {
    Medium* m = medium_of(unit);
    if (!m || m->holder != Holder::IMAGE) return DiskStatus::ILLEGAL_SECTOR;
    if (!d64_sector(m->image, track, sector)) return DiskStatus::ILLEGAL_SECTOR;
    return change_image(*m, [&](D64Image& image) {
        std::copy_n(in, 256, d64_sector(image, track, sector));
        return DiskStatus::OK;
    });
}

DiskStatus drive_allocate_block(unsigned unit, unsigned track, unsigned sector, bool allocate) {
    Medium* m = medium_of(unit);
    if (!m || m->holder != Holder::IMAGE) return DiskStatus::ILLEGAL_SECTOR;
    return change_image(*m, [&](D64Image& image) { return d64_allocate(image, track, sector, allocate); });
}
