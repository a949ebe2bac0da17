// The files last started or attached, newest first, for File > Recent.
// Kept in the user's configuration folder, $XDG_CONFIG_HOME/tarvikon/recent
// (~/.config/tarvikon/recent when that is unset), one absolute path a line;
// never in the working directory: without either variable nothing is kept.
#pragma once

#include <string>
#include <vector>

constexpr unsigned RECENT_MAX = 10;

// The list's file, or "" when there is no configuration folder.
std::string recent_list_path();

// The list as kept, at most RECENT_MAX paths.
std::vector<std::string> recent_files();

// Puts a file (made absolute) at the top, once, and keeps the list; false
// when it could not be kept.
bool add_recent_file(const std::string& path);
