// Host keyboard layouts. A US layout keeps the key table of XCB.cpp, by each
// key's unshifted symbol. On any other layout a key that types a character
// types that character: the symbol the layout gives with the modifiers held
// (Shift, AltGr) becomes the VIC 20 key with or without the VIC's SHIFT,
// whatever the host's Shift keys hold. With -keymap positional the keys map
// by their place on the keyboard instead: the key where a US keyboard has a
// symbol acts as that symbol does in the key table, whatever it is labelled.
#include "X.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include "../start/startup.h"

namespace {

// The character keys of a US keyboard by place (the kernel's key codes; X
// adds 8), with their two symbols.
struct KeyPlace {
    unsigned code;
    KeySym plain, shifted;
};
constexpr unsigned X_KEYCODE_OFFSET = 8;
constexpr KeyPlace US_PLACES[] = {
    {41, XK_grave, XK_asciitilde}, {2, XK_1, XK_exclam}, {3, XK_2, XK_at}, {4, XK_3, XK_numbersign},
    {5, XK_4, XK_dollar}, {6, XK_5, XK_percent}, {7, XK_6, XK_asciicircum}, {8, XK_7, XK_ampersand},
    {9, XK_8, XK_asterisk}, {10, XK_9, XK_parenleft}, {11, XK_0, XK_parenright}, {12, XK_minus, XK_underscore},
    {13, XK_equal, XK_plus},
    {16, XK_q, XK_Q}, {17, XK_w, XK_W}, {18, XK_e, XK_E}, {19, XK_r, XK_R}, {20, XK_t, XK_T}, {21, XK_y, XK_Y},
    {22, XK_u, XK_U}, {23, XK_i, XK_I}, {24, XK_o, XK_O}, {25, XK_p, XK_P}, {26, XK_bracketleft, XK_braceleft},
    {27, XK_bracketright, XK_braceright}, {43, XK_backslash, XK_bar},
    {30, XK_a, XK_A}, {31, XK_s, XK_S}, {32, XK_d, XK_D}, {33, XK_f, XK_F}, {34, XK_g, XK_G}, {35, XK_h, XK_H},
    {36, XK_j, XK_J}, {37, XK_k, XK_K}, {38, XK_l, XK_L}, {39, XK_semicolon, XK_colon},
    {40, XK_apostrophe, XK_quotedbl},
    {44, XK_z, XK_Z}, {45, XK_x, XK_X}, {46, XK_c, XK_C}, {47, XK_v, XK_V}, {48, XK_b, XK_B}, {49, XK_n, XK_N},
    {50, XK_m, XK_M}, {51, XK_comma, XK_less}, {52, XK_period, XK_greater}, {53, XK_slash, XK_question},
};

// Characters besides letters and digits: the key-table symbol of the VIC
// key that types them, and whether with the VIC's SHIFT.
struct CharacterKey {
    KeySym typed, key;
    bool shift;
};
constexpr CharacterKey CHARACTERS[] = {
    {XK_space, XK_space, false}, {XK_exclam, XK_1, true}, {XK_quotedbl, XK_2, true},
    {XK_numbersign, XK_3, true}, {XK_dollar, XK_4, true}, {XK_percent, XK_5, true},
    {XK_ampersand, XK_6, true}, {XK_apostrophe, XK_7, true}, {XK_parenleft, XK_8, true},
    {XK_parenright, XK_9, true}, {XK_plus, XK_equal, false}, {XK_minus, XK_minus, false},
    {XK_asterisk, XK_bracketright, false}, {XK_at, XK_bracketleft, false}, {XK_colon, XK_apostrophe, false},
    {XK_semicolon, XK_semicolon, false}, {XK_equal, XK_backslash, false}, {XK_comma, XK_comma, false},
    {XK_period, XK_period, false}, {XK_slash, XK_slash, false}, {XK_less, XK_comma, true},
    {XK_greater, XK_period, true}, {XK_question, XK_slash, true}, {XK_bracketleft, XK_apostrophe, true},
    {XK_bracketright, XK_semicolon, true}, {XK_sterling, XK_Insert, false},
    // The VIC's arrows stand where ASCII has ^ and _; ` is its left arrow on a US keyboard.
    {XK_asciicircum, XK_End, false}, {XK_dead_circumflex, XK_End, false}, {XK_Greek_pi, XK_End, true},
    {XK_underscore, XK_grave, false}, {XK_grave, XK_grave, false}, {XK_dead_grave, XK_grave, false},
};

// The binding a key got when it was pressed, for its release: the symbol
// it types can change in between (Shift let go first).
KeyBinding pressed_as[256];

bool types_character(KeySym sym) {
    return (sym >= 0x20 && sym <= 0xFF) || (sym >= 0xFE50 && sym <= 0xFE8F) /* dead keys */ ||
           (sym & 0xFF000000) == 0x01000000;
}

unsigned group_of(const XKeyEvent* key) { return XkbGroupForCoreState(key->state); }

// Whether every character key has its US symbols in the layout in use.
bool us_layout(XKeyEvent* key) {
    for (const KeyPlace& p : US_PLACES) {
        const KeyCode code = KeyCode(p.code + X_KEYCODE_OFFSET);
        if (XkbKeycodeToKeysym(key->display, code, group_of(key), 0) != p.plain ||
            XkbKeycodeToKeysym(key->display, code, group_of(key), 1) != p.shifted)
            return false;
    }
    return true;
}

}  // namespace

KeyBinding character_binding(KeySym typed) {
    KeySym key = NoSymbol;
    bool shift = false;
    if ((typed >= XK_a && typed <= XK_z) || (typed >= XK_0 && typed <= XK_9)) {
        key = typed;
    } else if (typed >= XK_A && typed <= XK_Z) {
        key = typed - XK_A + XK_a, shift = true;
    } else {
        for (const CharacterKey& c : CHARACTERS)
            if (c.typed == typed) key = c.key, shift = c.shift;
    }
    const KeyBinding* b = key == NoSymbol ? nullptr : find_key(key);
    if (!b) return {NoSymbol, KEY_MATRIX, 0, 0};
    return {typed, shift ? KEY_SHIFTED : KEY_PLAIN, b->a, b->b};
}

KeySym position_symbol(unsigned keycode) {
    for (const KeyPlace& p : US_PLACES)
        if (p.code + X_KEYCODE_OFFSET == keycode) return p.plain;
    return NoSymbol;
}

const KeyBinding* symbol_binding(KeySym sym) {
    const KeyBinding& b = pressed_as[sym & 0xFF];
    return b.sym == NoSymbol ? nullptr : &b;
}

KeySym event_key(XKeyEvent* key) {
    if (positional_keys) {
        const KeySym at = position_symbol(key->keycode);
        if (at != NoSymbol) return at;
    }
    const KeySym sym = key_symbol(key);
    if (positional_keys || !types_character(sym) || us_layout(key)) return sym;
    KeyBinding& b = pressed_as[key->keycode & 0xFF];
    if (key->type == KeyPress) {
        // Caps Lock does not make letters into the VIC's shifted graphics.
        XKeyEvent unlocked = *key;
        unlocked.state &= ~unsigned(LockMask);
        char text[8];
        KeySym typed = NoSymbol;
        XLookupString(&unlocked, text, sizeof text, &typed, nullptr);
        b = character_binding(typed);
    }
    return b.sym == NoSymbol ? NoSymbol : SYMBOL_KEY | key->keycode;
}
