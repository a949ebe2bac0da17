// Pasted text into the kernal's keyboard buffer.
#include "paste.h"

#include <cstdio>
#include <map>

#include "../core/hooks.h"
#include "../core/screen_text.h"
#include "../core/vic.h"
#include "autostart.h"

namespace {

constexpr uint8_t RETURN_KEY = 0x0D;

std::string waiting;  // PETSCII keys not yet in the buffer
size_t next_key = 0;

// The PETSCII code the keyboard gives for the character a screen code shows:
// the inverse of the kernal's own PETSCII-to-screen-code conversion, with
// the shifted keys ($C0-$DF) for screen codes 64-95.
uint8_t petscii_of_screen_code(uint8_t code) {
    if (code < 32) return uint8_t(code + 64);
    if (code < 64) return code;
    if (code < 96) return uint8_t(code + 128);
    return uint8_t(code + 64);
}

// The next code point of UTF-8 text, or U+FFFD (one byte used) where it is malformed.
char32_t next_code_point(const std::string& s, size_t& at) {
    const unsigned char b = static_cast<unsigned char>(s[at++]);
    if (b < 0x80) return b;
    const unsigned length = b >= 0xF0 && b < 0xF5 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    if (length == 0 || at + length - 1 > s.size()) return 0xFFFD;
    char32_t c = b & (0x7F >> length);
    for (unsigned i = 1; i < length; i++) {
        const unsigned char t = static_cast<unsigned char>(s[at + i - 1]);
        if ((t & 0xC0) != 0x80) return 0xFFFD;
        c = c << 6 | (t & 0x3F);
    }
    at += length - 1;
    return c;
}

// Every character the set shows, by the text screen_text() gives for it;
// where two screen codes look alike the first one is kept.
const std::map<char32_t, uint8_t>& characters_of(bool lower_case_set) {
    static std::map<char32_t, uint8_t> sets[2];
    std::map<char32_t, uint8_t>& set = sets[lower_case_set];
    if (!set.empty()) return set;
    for (unsigned code = 0; code < 128; code++) {
        const std::string utf8 = screen_code_utf8(uint8_t(code), lower_case_set);
        size_t at = 0;
        set.emplace(next_code_point(utf8, at), petscii_of_screen_code(uint8_t(code)));
    }
    // Text written elsewhere: a letter of the other case where the set has
    // only one, and the plain space rather than the shifted one.
    for (char32_t c = 'a'; c <= 'z' && !lower_case_set; c++) set.emplace(c, uint8_t(c - 'a' + 'A'));
    set[' '] = ' ';
    set['\n'] = RETURN_KEY;
    return set;
}

}  // namespace

PetsciiText petscii_from_utf8(const std::string& text, bool lower_case_set) {
    const std::map<char32_t, uint8_t>& set = characters_of(lower_case_set);
    PetsciiText out;
    for (size_t at = 0; at < text.size();) {
        char32_t c = next_code_point(text, at);
        if (c == '\r') {
            if (at < text.size() && text[at] == '\n') continue;
            c = '\n';
        }
        auto it = set.find(c);
        if (it == set.end())
            out.skipped++;
        else
            out.keys += char(it->second);
    }
    return out;
}

bool lower_case_shown() { return (charaddr & 0xF800) == 0x8800; }

void paste_text(const std::string& utf8) {
    PetsciiText t = petscii_from_utf8(utf8, lower_case_shown());
    if (t.skipped)
        printf("Pasted without %u character%s the VIC 20 does not have\n", t.skipped, t.skipped == 1 ? "" : "s");
    waiting.erase(0, next_key);
    next_key = 0;
    waiting += t.keys;
    add_frame_call(paste_at_frame_end);
    add_reset_call(paste_clear);  // the rest was meant for the program a reset ends
}

void paste_at_frame_end() {
    next_key += type_into_buffer(waiting, next_key);
    if (next_key >= waiting.size()) paste_clear();
}

size_t paste_pending() { return waiting.size() - next_key; }

void paste_clear() {
    waiting.clear();
    next_key = 0;
}
