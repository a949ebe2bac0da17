// BASIC program files for tests, built byte by byte as SAVE writes them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Token bytes for the keywords the tests use.
inline const std::string PRINT_TOKEN = "\x99", PEEK_TOKEN = "\xC2", REM_TOKEN = "\x8F", END_TOKEN = "\x80";

// The load address, then each line (link to the next line, line number, its
// tokenised text, 0) and the two zero bytes that end a program. With
// `file_bytes`, a REM line at the end pads the file to exactly that length.
std::string basic_file(uint16_t start, const std::vector<std::pair<int, std::string>>& lines, size_t file_bytes = 0);

// 10 PRINT"AUTOSTART";PEEK(44):END: shows that it ran and the page BASIC
// starts on. Padded to `file_bytes` when given.
std::string marker_program(uint16_t start, size_t file_bytes = 0);
