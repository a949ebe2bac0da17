// Drive 8: what it holds (a host folder of .prg files, by default the
// working directory, or an attached .d64 image) and what LOAD and SAVE ask
// of it. Names are PETSCII bytes as the machine sends them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk.h"

// A name as a 1541 reads it: "@0:" (or "@:") asks to replace an existing
// file, "0:" is the drive number and is dropped, "$" (with an optional drive
// number and ":pattern") asks for the directory.
struct DriveName {
    std::string pattern;
    bool replace = false;
    bool directory = false;
    char type_filter = 0;  // "$*=S": the type letter a listing keeps, else 0
};
DriveName parse_drive_name(const std::string& raw);

// A 1541 pattern: '?' stands for any one byte, '*' for whatever follows
// (the rest of the pattern is ignored). With `fold_case`, letters of either
// PETSCII case match each other.
bool drive_name_matches(const std::string& pattern, const std::string& name, bool fold_case);

// The directory as the BASIC program that LOAD "$",8 brings: load address
// $0401, the header line in reverse with the disk name and id, a line per
// file (blocks as line number, quoted name, type), then "BLOCKS FREE.".
std::vector<uint8_t> listing_program(const DiskListing& listing);

// A host file name (without ".prg") as the PETSCII name the machine sees, and
// a PETSCII name as the host file name SAVE writes (letters in lower case).
std::string petscii_from_host(const std::string& host);
std::string host_from_petscii(const std::string& petscii);

// ---- LOAD and SAVE on drives 8 to 11 (drive_media.h has what they hold) -----------

// LOAD: the bytes of the first matching PRG file, load address first, or
// the directory program for "$" (with its pattern and type filter).
// NOT_FOUND when nothing matches or nothing is attached.
DiskStatus drive_load(unsigned unit, const std::string& raw_name, std::vector<uint8_t>& data);

// SAVE: writes a PRG file (data starts with its load address). EXISTS
// without "@0:", WRITE_ERROR for a pattern or an empty name,
// WRITE_PROTECTED for a read-only medium (drive8_save gives WRITE_ERROR
// there, as before); on any failure the old file or image is left as it was.
DiskStatus drive_save(unsigned unit, const std::string& raw_name, const std::vector<uint8_t>& data);

// ---- drive 8 as before drives 9 to 11 came ----------------------------------------

// Makes a folder drive 8; false (and nothing changed) when it is no folder.
bool drive8_use_folder(const std::string& path);

// Makes a .d64 image drive 8; false (and nothing changed) when it cannot be
// read or is no image.
bool drive8_attach_image(const std::string& path);

// What drive 8 shows now: the folder's .prg files or the image's directory.
DiskStatus drive8_listing(DiskListing& listing);

// LOAD: the bytes of the first matching PRG file, load address first, or
// the directory program for "$". NOT_FOUND when nothing matches.
DiskStatus drive8_load(const std::string& raw_name, std::vector<uint8_t>& data);

// SAVE: writes a PRG file (data starts with its load address). EXISTS
// without "@0:", WRITE_ERROR for a pattern or an empty name; on any failure
// the old file or image is left as it was.
DiskStatus drive8_save(const std::string& raw_name, const std::vector<uint8_t>& data);

// True for a name ending in ".d64" in any case.
bool is_disk_image_name(const char* name);

// True when `s` ends in `suffix` (given in lower case), in either case.
bool iequals_suffix(const std::string& s, const char* suffix);
