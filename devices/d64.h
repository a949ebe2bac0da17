// A 1541 disk image (.d64) held in memory: its directory, its files read by
// their sector chains, and PRG files written into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disk.h"

constexpr size_t D64_SIZE = 174848;              // 35 tracks, 683 sectors of 256 bytes
constexpr size_t D64_SIZE_WITH_ERRORS = 175531;  // one error byte per sector follows them

struct D64Image {
    std::vector<uint8_t> bytes;  // D64_SIZE or D64_SIZE_WITH_ERRORS bytes
};

// Reads an image file. BAD_IMAGE for any other size, NOT_FOUND or
// READ_ERROR when the file cannot be read.
DiskStatus d64_read_image(const char* path, D64Image& image);

// The header and the directory chain from track 18 sector 1: every entry
// with a non-zero type, as stored. The disk id shows its $A0 bytes as
// spaces. Blocks free is the sum of the BAM's counts outside track 18. A
// bad link, a loop or a track out of range gives READ_ERROR; an image of
// the wrong size BAD_IMAGE.
DiskStatus d64_directory(const D64Image& image, DiskListing& listing);

// The file's bytes, following its chain from its first sector. A bad link
// (track above 35, sector beyond its track, a first track of 0), a loop or
// a last-byte index below 2 gives READ_ERROR; `data` is then untouched.
DiskStatus d64_read_file(const D64Image& image, const DiskFile& file, std::vector<uint8_t>& data);

// Writes a closed PRG file (data includes the two-byte load address),
// allocating sectors in the BAM and a directory entry. The name (raw
// PETSCII) is cut to 16 bytes. An existing file of that name gives EXISTS
// unless `replace`, and always when it is locked; a replacement must fit
// beside the old file, whose sectors are freed afterwards and whose entry
// it takes over. Too little room, or a full directory track, gives
// DISK_FULL; a damaged directory (or old file, when replacing) READ_ERROR;
// an empty name or empty data WRITE_ERROR. On any failure the image is left
// exactly as it was.
// `type` is the file type without the closed bit (2 PRG, 1 SEQ, 3 USR, 4
// REL); a REL file gets side sectors listing its blocks and keeps
// `record_length`.
DiskStatus d64_write_file(D64Image& image, const std::string& name, const std::vector<uint8_t>& data, bool replace,
                          uint8_t type = 2, uint8_t record_length = 0);

// Takes out the file stored under exactly `name` and frees its sectors
// (NOT_FOUND, WRITE_PROTECTED when locked, READ_ERROR for a damaged directory).
DiskStatus d64_scratch(D64Image& image, const std::string& name);

// Gives a file a new name: EXISTS when one is stored under it already.
DiskStatus d64_rename(D64Image& image, const std::string& from, const std::string& to);

// Rebuilds the BAM from the directory and the files' chains; entries of
// unclosed files or broken chains go.
DiskStatus d64_validate(D64Image& image);

// A new, empty disk in the image; with an empty id the old one stays.
DiskStatus d64_format(D64Image& image, const std::string& disk_name, const std::string& disk_id);

// One sector's 256 bytes, or nullptr for a track and sector the disk lacks.
uint8_t* d64_sector(D64Image& image, unsigned track, unsigned sector);

// Marks a sector used (NO_BLOCK when it is) or free in the BAM.
DiskStatus d64_allocate(D64Image& image, unsigned track, unsigned sector, bool allocate);

// Writes the whole image to a new file beside `path` and renames it over
// `path` only when complete; WRITE_ERROR leaves the old file as it was.
DiskStatus d64_write_image(const char* path, const D64Image& image);

// A freshly formatted, empty disk of D64_SIZE bytes: name and id (up to 16
// and 2 bytes) as given, DOS type "2A", every sector free but the BAM's
// and the first directory sector's.
D64Image d64_blank(const std::string& disk_name, const std::string& disk_id);
