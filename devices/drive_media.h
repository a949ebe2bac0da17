// What drives 8 to 11 hold: a host folder or a .d64 image each, or nothing.
// Every file operation the drives' DOS needs, the same for both media;
// names are PETSCII bytes as stored (up to 16), types the directory's low
// bits (1 SEQ, 2 PRG, 3 USR, 4 REL).
//
// In a folder a file is `name.prg`, `name.seq`, `name.usr`, or
// `name,LEN.rel` for a REL file of records of LEN bytes; suffixes in any
// case. A change to an image is written to its file before it counts: on
// any failure the image and its file stay as they were.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "d64.h"
#include "disk.h"

constexpr unsigned FIRST_DRIVE = 8;
constexpr unsigned LAST_DRIVE = 11;
constexpr uint8_t FILE_SEQ = 1, FILE_PRG = 2, FILE_USR = 3, FILE_REL = 4;

inline bool is_drive_unit(unsigned unit) { return unit >= FIRST_DRIVE && unit <= LAST_DRIVE; }

// Attaching prints "Using folder DIR as drive N..." or "Attaching disk image
// PATH to drive N..." (drive 8: "Attaching disk image PATH...") and OK or
// failed; a failure changes nothing.
bool drive_use_folder(unsigned unit, const std::string& path);
bool drive_attach_image(unsigned unit, const std::string& path);
void drive_detach(unsigned unit);
bool drive_attached(unsigned unit);
// What a drive holds, for a snapshot: the image's name when it holds an
// image (else empty), and the folder's when it holds a folder (else empty).
std::string drive_image_name(unsigned unit);
std::string drive_folder_name(unsigned unit);

// Names in a folder match in either case, as the host's names are lower case.
bool drive_folds_case(unsigned unit);

DiskStatus drive_listing(unsigned unit, DiskListing& listing);
// The whole file (READ_ERROR for a host file beyond 16 MB), or with
// `limit` its first `limit` bytes at most.
DiskStatus drive_read(unsigned unit, const DiskFile& file, std::vector<uint8_t>& data, size_t limit = 0);

// OK when a file of this name may be written (or replaced, `existing`),
// WRITE_PROTECTED when the image, the file or the folder is read-only.
DiskStatus drive_writable(unsigned unit, const DiskFile* existing);

// Writes a whole closed file. EXISTS unless `replace`; a replaced file of
// another type goes.
DiskStatus drive_write(unsigned unit, const std::string& name, uint8_t type, uint8_t record_length,
                       const std::vector<uint8_t>& data, bool replace);
DiskStatus drive_scratch(unsigned unit, const DiskFile& file);
DiskStatus drive_rename(unsigned unit, const DiskFile& file, const std::string& to);

// An image's new disk and BAM check; a folder answers OK to both.
DiskStatus drive_format(unsigned unit, const std::string& disk_name, const std::string& disk_id);
DiskStatus drive_validate(unsigned unit);

// Block access on an image: a copy of one sector, and a sector or BAM
// change written through to the image file. ILLEGAL_SECTOR for a track and
// sector the disk lacks, and on a folder, which has no blocks.
DiskStatus drive_read_block(unsigned unit, unsigned track, unsigned sector, uint8_t* out);
DiskStatus drive_write_block(unsigned unit, unsigned track, unsigned sector, const uint8_t* in);
DiskStatus drive_allocate_block(unsigned unit, unsigned track, unsigned sector, bool allocate);
