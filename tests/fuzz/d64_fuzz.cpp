// Fuzz target: the 1541 disk image reader and writer on damaged images:
// the directory, every file it lists, one file from any track and sector,
// a PRG file written (new or replacing), and the image saved and read back.
//
// Input: one byte of mode (bits 0-1 which image: 0 the base disk, 1 the
// base disk with error bytes, 2 the base disk cut or grown to a length from
// the input, 3 the rest of the input itself; bit 2 replace; bit 3 save the
// image to a file and read it back; bit 4 a long file to write), a name
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
// same and leaves no other file behind.
#include <algorithm>
#include <bit>
#include <cstring>

#include "devices/d64.h"
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
    const char* names[] = {"OK", "NOT_FOUND", "READ_ERROR", "DISK_FULL", "EXISTS", "WRITE_ERROR", "BAD_IMAGE"};
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
                 const std::vector<uint8_t>& data, bool replace) {
    const D64Image before = image;
    const DiskFile* old = nullptr;
    if (listed == DiskStatus::OK)
        for (const DiskFile& file : listing.files)
            if (!old && file.name == name.substr(0, 16)) old = &file;
    DiskStatus wrote = d64_write_file(image, name, data, replace);
    std::string how = status_name(wrote);
    if (wrote != DiskStatus::OK) {
        FUZZ_CHECK_AT(image.bytes == before.bytes, "a write that gave %s changed the image", how.c_str());
        switch (wrote) {
        case DiskStatus::BAD_IMAGE: FUZZ_CHECK(!valid_size(image.bytes.size())); break;
        case DiskStatus::WRITE_ERROR: FUZZ_CHECK(data.empty()); break;
        case DiskStatus::EXISTS: FUZZ_CHECK(old && (!replace || (old->type & 0x40))); break;
        case DiskStatus::READ_ERROR: FUZZ_CHECK(listed == DiskStatus::READ_ERROR || (old && replace)); break;
        case DiskStatus::DISK_FULL: FUZZ_CHECK(listed == DiskStatus::OK); break;
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
    FUZZ_CHECK_AT(file->type == 0x82 && file->blocks == (data.size() + 253) / 254, "type $%02X, %u blocks",
                  file->type, file->blocks);
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
    check_write(image, listing, listed, name, pattern(length, name_choice), mode & 4);

    if (mode & 8) check_saved(image);
    return 0;
}
