// Fuzz target: the 1541 disk image reader and writer on damaged images:
// the directory, every file it lists, one file from any track and sector,
// a PRG file written (new or replacing), and the image saved and read back.
//
// Input: one byte of mode (bits 0-1 which image: 0 the base disk, 1 the
// base disk with error bytes, 2 the base disk cut or grown to a length from
// the input, 3 the rest of the input itself; bit 2 replace; bit 3 save the
// image to a file and read it back; bit 4 a long file to write; bit 5 the
// file written is a REL file, bit 6 a SEQ file; bit 7 the image goes into
// drive 11 and its DOS runs a command and reads a file), a name
// selector (below 128: the name of a listed file), the length of the file
// to write (16 bits, times 3 with bit 4), a track and a sector to read from,
// then for the base disk patches of four bytes each: track, sector, offset,
// value (track and sector taken modulo the disk's geometry).
//
// Checked: no access outside the image (it is an exact heap block);
// BAD_IMAGE exactly for a size other than the two image sizes, and every
// other outcome one of the statuses each call may give; reading changes
// nothing and never yields more than the disk holds (a chain that does not
// end would hang or exceed it); the listing's blocks free is the sum of
// the BAM's counts; a failed write leaves every byte as it was; a
// successful one lists the file first under its name as a closed PRG of the
// right size that reads back exactly, keeps the error bytes and keeps every
// BAM count that agreed with its bitmap in agreement; a new file takes
// exactly its blocks from a consistent BAM; the saved image reads back the
// same and leaves no other file behind. Then the image edits the DOS makes:
// a scratch takes the file out of the listing and frees blocks, a rename
// lists it under the new name, a validate leaves every BAM track
// consistent; a failed edit changes nothing. A DOS command chosen from the
// command table on the image, and a file opened and read through a
// channel, give a status line of the drive's form and never leave the
// image file damaged or of another size.
#include <algorithm>
#include <bit>
#include <cstring>

#include "devices/d64.h"
#include "devices/dos.h"
#include "devices/drive_media.h"
#include "fuzz_support.h"

namespace {

constexpr size_t TRACK18 = 0x16500;
constexpr size_t MOST_DATA = 683 * 254;

unsigned sectors_in(unsigned track) { return track <= 17 ? 21 : track <= 24 ? 19 : track <= 30 ? 18 : 17; }

size_t offset(unsigned track, unsigned sector) {
    size_t at = 0;
    for (unsigned t = 1; t < track; t++) at += sectors_in(t);
    return (at + sector) * 256;
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = uint8_t((i * 13 + seed) % 253);
    return v;
}

// Ten files over two directory sectors: one sector, sector boundaries,
// several tracks.
const D64Image& base_disk() {
    static const D64Image disk = [] {
        D64Image image = d64_blank("FUZZ DISK", "FZ");
        const size_t sizes[] = {1, 254, 255, 509, 3000, 2, 100, 600, 20, 7000};
        for (size_t i = 0; i < std::size(sizes); i++)
            FUZZ_CHECK(d64_write_file(image, "FILE" + std::to_string(i), pattern(sizes[i], uint8_t(i)), false) ==
                       DiskStatus::OK);
        return image;
    }();
    return disk;
}

bool valid_size(size_t size) { return size == D64_SIZE || size == D64_SIZE_WITH_ERRORS; }

const uint8_t* bam_entry(const D64Image& image, unsigned track) { return &image.bytes[TRACK18 + 4 * track]; }

bool track_consistent(const D64Image& image, unsigned track) {
    const uint8_t* entry = bam_entry(image, track);
    unsigned free = 0;
    for (unsigned s = 0; s < sectors_in(track); s++) free += (entry[1 + s / 8] >> (s % 8)) & 1;
    return entry[0] == free;
}

unsigned counted_free(const D64Image& image) {
    unsigned free = 0;
    for (unsigned t = 1; t <= 35; t++)
        if (t != 18) free += bam_entry(image, t)[0];
    return free;
}

std::string status_name(DiskStatus s) {
    const char* names[] = {"OK",        "NOT_FOUND",       "READ_ERROR", "DISK_FULL",     "EXISTS",
                           "WRITE_ERROR", "BAD_IMAGE", "WRITE_PROTECTED", "NO_BLOCK", "ILLEGAL_SECTOR"};
    return names[int(s)];
}

D64Image image_from(FuzzInput& in, uint8_t mode) {
    if ((mode & 3) == 3) return D64Image{std::vector<uint8_t>(in.rest(), in.rest() + in.left())};
    std::vector<uint8_t> bytes = base_disk().bytes;
    if ((mode & 3) == 1) bytes.resize(D64_SIZE_WITH_ERRORS, 1);
    if ((mode & 3) == 2) bytes.resize(in.dword() % (D64_SIZE_WITH_ERRORS + 2), 0x55);
    while (in.left() >= 4 && valid_size(bytes.size())) {
        unsigned track = 1 + in.byte() % 35;
        unsigned sector = in.byte() % sectors_in(track);
        size_t at = offset(track, sector) + in.byte();
        bytes[at] = in.byte();
    }
    return D64Image{std::vector<uint8_t>(bytes.begin(), bytes.end())};  // exactly as long as it is
}

void check_reads(const D64Image& image, DiskListing& listing, DiskStatus& listed, uint8_t track, uint8_t sector) {
    const std::vector<uint8_t> before = image.bytes;
    bool valid = valid_size(image.bytes.size());
    listed = d64_directory(image, listing);
    FUZZ_CHECK_AT(valid ? (listed == DiskStatus::OK || listed == DiskStatus::READ_ERROR) : listed == DiskStatus::BAD_IMAGE,
                  "d64_directory on %zu bytes gave %s", image.bytes.size(), status_name(listed).c_str());
    if (listed == DiskStatus::OK) {
        FUZZ_CHECK(listing.files.size() <= 683 * 8);
        FUZZ_CHECK_AT(listing.blocks_free == counted_free(image), "blocks free %u, the BAM counts %u",
                      listing.blocks_free, counted_free(image));
        for (const DiskFile& file : listing.files) {
            FUZZ_CHECK(file.type != 0 && file.name.size() <= 16);
            std::vector<uint8_t> data;
            DiskStatus read = d64_read_file(image, file, data);
            FUZZ_CHECK_AT(read == DiskStatus::OK || read == DiskStatus::READ_ERROR, "reading %s gave %s",
                          file.name.c_str(), status_name(read).c_str());
            if (read == DiskStatus::OK) FUZZ_CHECK_AT(!data.empty() && data.size() <= MOST_DATA, "%zu bytes", data.size());
        }
    }
    std::vector<uint8_t> data;
    DiskStatus read = d64_read_file(image, {"ANY", 0x82, 1, track, sector}, data);
    FUZZ_CHECK_AT(valid ? (read == DiskStatus::OK || read == DiskStatus::READ_ERROR) : read == DiskStatus::BAD_IMAGE,
                  "reading %u/%u gave %s", track, sector, status_name(read).c_str());
    if (read == DiskStatus::OK) FUZZ_CHECK(!data.empty() && data.size() <= MOST_DATA);
    FUZZ_CHECK_AT(image.bytes == before, "reading changed the image");
}

void check_write(D64Image& image, const DiskListing& listing, DiskStatus listed, const std::string& name,
                 const std::vector<uint8_t>& data, bool replace, uint8_t type, uint8_t record_length) {
    const D64Image before = image;
    const DiskFile* old = nullptr;
    if (listed == DiskStatus::OK)
        for (const DiskFile& file : listing.files)
            if (!old && file.name == name.substr(0, 16)) old = &file;
    DiskStatus wrote = d64_write_file(image, name, data, replace, type, record_length);
    std::string how = status_name(wrote);
    if (wrote != DiskStatus::OK) {
        FUZZ_CHECK_AT(image.bytes == before.bytes, "a write that gave %s changed the image", how.c_str());
        switch (wrote) {
        case DiskStatus::BAD_IMAGE: FUZZ_CHECK(!valid_size(image.bytes.size())); break;
        case DiskStatus::WRITE_ERROR: FUZZ_CHECK(data.empty() || (type == 4 && record_length == 0)); break;
        case DiskStatus::EXISTS: FUZZ_CHECK(old && (!replace || (old->type & 0x40))); break;
        case DiskStatus::READ_ERROR: FUZZ_CHECK(listed == DiskStatus::READ_ERROR || (old && replace)); break;
        case DiskStatus::DISK_FULL: FUZZ_CHECK(listed == DiskStatus::OK || type == 4); break;
        default: FUZZ_CHECK_AT(false, "the write gave %s", how.c_str());
        }
        return;
    }
    FUZZ_CHECK(listed == DiskStatus::OK && !data.empty() && image.bytes.size() == before.bytes.size());
    FUZZ_CHECK_AT(std::equal(image.bytes.begin() + D64_SIZE, image.bytes.end(), before.bytes.begin() + D64_SIZE),
                  "the write changed the error bytes");
    DiskListing after;
    FUZZ_CHECK_AT(d64_directory(image, after) == DiskStatus::OK, "the directory no longer reads");
    auto file = std::find_if(after.files.begin(), after.files.end(),
                             [&](const DiskFile& f) { return f.name == name.substr(0, 16); });
    FUZZ_CHECK(file != after.files.end());
    const size_t data_blocks = (data.size() + 253) / 254, side_sectors = type == 4 ? (data_blocks + 119) / 120 : 0;
    FUZZ_CHECK_AT(file->type == (0x80 | type) && file->blocks == data_blocks + side_sectors, "type $%02X, %u blocks",
                  file->type, file->blocks);
    if (type == 4) FUZZ_CHECK(file->record_length == record_length);
    std::vector<uint8_t> back;
    FUZZ_CHECK_AT(d64_read_file(image, *file, back) == DiskStatus::OK && back == data, "the file does not read back");
    bool all_consistent = true;
    for (unsigned t = 1; t <= 35; t++) {
        bool was = track_consistent(before, t);
        all_consistent = all_consistent && was;
        FUZZ_CHECK_AT(!was || track_consistent(image, t), "the BAM of track %u no longer agrees", t);
    }
    if (all_consistent && !old)
        FUZZ_CHECK_AT(counted_free(image) == counted_free(before) - file->blocks, "%u blocks free after, %u before",
                      counted_free(image), counted_free(before));
}

// Scratch, rename and validate on the image as the DOS edits it.
void check_edits(D64Image& image, const std::string& name) {
    if (!valid_size(image.bytes.size())) {
        FUZZ_CHECK(d64_rename(image, name, "X") == DiskStatus::BAD_IMAGE);
        FUZZ_CHECK(d64_scratch(image, name) == DiskStatus::BAD_IMAGE);
        FUZZ_CHECK(d64_validate(image) == DiskStatus::BAD_IMAGE);
        return;
    }
    DiskListing before_listing;
    const bool readable = d64_directory(image, before_listing) == DiskStatus::OK;
    const std::vector<uint8_t> before = image.bytes;
    DiskStatus renamed = d64_rename(image, name.substr(0, 16), "RENAMED");
    if (renamed != DiskStatus::OK) FUZZ_CHECK_AT(image.bytes == before, "a rename that gave %s changed the image",
                                                 status_name(renamed).c_str());
    const std::string now = renamed == DiskStatus::OK ? "RENAMED" : name.substr(0, 16);
    const std::vector<uint8_t> renamed_bytes = image.bytes;
    const unsigned free_before = counted_free(image);
    DiskStatus scratched = d64_scratch(image, now);
    DiskListing after;
    if (scratched != DiskStatus::OK) {
        FUZZ_CHECK_AT(image.bytes == renamed_bytes, "a scratch that gave %s changed the image", status_name(scratched).c_str());
    } else {
        FUZZ_CHECK(readable && d64_directory(image, after) == DiskStatus::OK);
        FUZZ_CHECK_AT(counted_free(image) >= free_before, "a scratch took blocks");
    }
    const std::vector<uint8_t> scratched_bytes = image.bytes;
    DiskStatus validated = d64_validate(image);
    if (validated != DiskStatus::OK) {
        FUZZ_CHECK(image.bytes == scratched_bytes);
        return;
    }
    for (unsigned t = 1; t <= 35; t++) FUZZ_CHECK_AT(track_consistent(image, t), "track %u after validate", t);
    FUZZ_CHECK(d64_directory(image, after) == DiskStatus::OK);
    for (const DiskFile& f : after.files) {
        std::vector<uint8_t> data;
        FUZZ_CHECK_AT(d64_read_file(image, f, data) == DiskStatus::OK, "%s unreadable after validate", f.name.c_str());
    }
}

// One command of the drive's table on the image in drive 11, then a file
// read through a channel.
void check_dos(const D64Image& image, const std::string& name, uint8_t choice, uint8_t track, uint8_t sector) {
    if (!valid_size(image.bytes.size())) return;
    InFuzzDir in_dir;
    const char* path = "dos.d64";
    FUZZ_CHECK(d64_write_image(path, image) == DiskStatus::OK);
    FUZZ_CHECK(drive_attach_image(11, path));
    dos_reset(11);
    const std::string t = std::to_string(track), s = std::to_string(sector);
    const std::string commands[] = {
        "S0:" + name, "R0:OTHER=" + name, "C0:COPY=" + name + "," + name, "V", "N0:NEW,ID", "N0:SHORT",
        "B-A 0 " + t + " " + s, "B-F 0 " + t + " " + s, "U1:5 0 " + t + " " + s, "U2:5 0 " + t + " " + s,
        "B-P 5 " + t, "I", std::string{'P', 0x66, char(track), char(sector), 1}, "S0:*",
    };
    dos_open(11, 5, "#");
    dos_open(11, 6, name + ",L," + char(sector | 1));
    dos_command(11, commands[choice % std::size(commands)]);
    std::string status = dos_status_line(11);
    FUZZ_CHECK_AT(status.size() >= 11 && status[2] == ',' && status.substr(status.size() - 6, 1) == ",",
                  "status line %s", status.c_str());
    dos_open(11, 2, choice & 1 ? name : "$");
    uint8_t byte;
    bool last = false;
    size_t count = 0;
    while (!last && dos_read(11, 2, byte, last)) FUZZ_CHECK_AT(++count <= MOST_DATA + 2, "a channel that never ends");
    dos_write(11, 6, 'x');
    dos_end_of_write(11, 6);
    dos_flush_all();
    D64Image back;
    FUZZ_CHECK_AT(d64_read_image(path, back) == DiskStatus::OK, "the image file no longer reads");
    drive_detach(11);
    fuzz_remove(path);
}

void check_saved(const D64Image& image) {
    InFuzzDir in_dir;
    const char* path = "disk.d64";
    DiskStatus saved = d64_write_image(path, image);
    FUZZ_CHECK(saved == (valid_size(image.bytes.size()) ? DiskStatus::OK : DiskStatus::WRITE_ERROR));
    FUZZ_CHECK_AT(fuzz_only_file_here(path), "saving left another file behind");
    D64Image loaded;
    DiskStatus read = d64_read_image(path, loaded);
    if (saved == DiskStatus::OK) FUZZ_CHECK(read == DiskStatus::OK && loaded.bytes == image.bytes);
    else FUZZ_CHECK(read == DiskStatus::NOT_FOUND);
    fuzz_remove(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_setup_once();
    FuzzInput in{data, size};
    uint8_t mode = in.byte();
    uint8_t name_choice = in.byte();
    size_t length = in.word() * ((mode & 0x10) ? 3u : 1u);
    uint8_t track = in.byte(), sector = in.byte();
    D64Image image = image_from(in, mode);

    DiskListing listing;
    DiskStatus listed;
    check_reads(image, listing, listed, track, sector);

    std::string name = "NEW" + std::to_string(name_choice);
    if (name_choice < 128 && listed == DiskStatus::OK && !listing.files.empty())
        name = listing.files[name_choice % listing.files.size()].name;
    if (name.empty()) name = "EMPTY";
    const uint8_t type = (mode & 0x20) ? 4 : (mode & 0x40) ? 1 : 2;
    check_write(image, listing, listed, name, pattern(length, name_choice), mode & 4, type, uint8_t(name_choice * 7));

    if (mode & 8) check_saved(image);
    if (mode & 0x80) check_dos(image, name, name_choice, track, sector);
    if (mode & 0x60) check_edits(image, name);
    return 0;
}
