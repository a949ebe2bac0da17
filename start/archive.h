// Zip archives, as releases are distributed: the first VIC 20 file inside is
// taken out (libzip) into a private folder of this process, and used as if
// it had been named itself. Disk and tape images taken out are read-only.
//
// Nothing is written outside that folder (mode 0700 in $TMPDIR or /tmp), and
// the folder goes when the process ends. An archive that could harm (an
// entry whose path leaves its folder, entries or a whole that would unpack
// to more than the limits, more entries than any release has) or that
// cannot be read whole is refused with one line, and nothing is taken out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// True for a name ending in ".zip" in any case.
bool is_archive_name(const char* name);

// True for the names of the files the emulator starts or attaches: the
// suffixes .prg, .crt, .a0, .20, .60, .b0, .d64, .tap and .t64 (any case).
bool is_vic_file_name(const std::string& name);

// Limits above which an archive is refused: far beyond any VIC 20 file (the
// longest are tape images of a few megabytes).
constexpr uint64_t ARCHIVE_ENTRY_LIMIT = 16u << 20;
constexpr uint64_t ARCHIVE_TOTAL_LIMIT = 64u << 20;
constexpr int64_t ARCHIVE_MAX_ENTRIES = 4096;

// Takes out the archive's first VIC 20 file (in the archive's order, from
// any folder in it); its path, or "" after one line saying why not.
std::string take_out_of_archive(const std::string& archive);

// The command line's arguments with each archive replaced by what it holds
// (an archive refused is left out).
std::vector<std::string> take_out_of_archives(const std::vector<const char*>& files);

// The private folder ("" until something was taken out), and its removal,
// which also runs when the process that made it ends, at exit or by a
// signal (exit_work.h).
std::string archive_folder();
void remove_archive_folder();
