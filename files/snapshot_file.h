// Snapshot files: the machine's state (core/snapshot.h) written to a new
// file and renamed into place, so that a failed save leaves the previous
// snapshot whole, and read back, a bad file refused with one line and the
// machine untouched. The window's requests wait for the end of the frame.
#pragma once

#include <string>

constexpr const char* QUICK_SNAPSHOT = "quick.snap";

// "Saving snapshot NAME...OK" or "...failed: why".
bool save_snapshot_file(const char* path);

// "Loading snapshot NAME...OK" or "...refused: why". A snapshot made with
// other ROMs or for the other video standard is refused unless `agreed`;
// `ask` (when given) is then set, so that the user can be asked.
bool load_snapshot_file(const char* path, bool agreed, bool* ask = nullptr);

// From the window: done by snapshot_between_frames(), after the frame.
void request_snapshot_save(const std::string& path);
void request_snapshot_load(const std::string& path, bool agreed);
void snapshot_between_frames();

// Called when a requested load needs the user's agreement; the answer comes
// back as request_snapshot_load(path, true).
extern void (*ask_snapshot_load)(const std::string& path);

// What the title says after a save: "quick.snap saved 21:04:33".
extern std::string snapshot_note;
