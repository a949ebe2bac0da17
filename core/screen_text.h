// The text on the VIC's screen: the character matrix decoded to Unicode, for
// people and scripts (copying the screen, checking what a program printed).
#pragma once

#include <cstdint>
#include <string>

// One screen code as UTF-8, in the character set the VIC shows
// (upper case and graphics, or lower and upper case). Reversed codes read as
// their plain characters.
std::string screen_code_utf8(uint8_t code, bool lower_case_set);

// The screen's rows as UTF-8, each ended by '\n', trailing spaces dropped.
std::string screen_text();
