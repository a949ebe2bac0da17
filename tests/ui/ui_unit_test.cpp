// The parts of the X interface that need no display: the key table as the
// keyboard VIA scans it, joystick and paddle keys, the command keys that only
// touch memory, the light pen, the doubled frame and the window geometry.
#include "support.h"  // before the X headers, whose None would hide gtest's

#include <X11/keysym.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <vector>

#include "core/rewind.h"
#include "core/host.h"
#include "core/memory.h"
#include "core/pacing.h"
#include "core/tarvikon.h"
#include "core/via.h"
#include "core/vic.h"
#include "ui/X.h"

namespace {

using Pair = std::pair<int, int>;

class Keys : public ::testing::Test {
protected:
    void SetUp() override {
        if (!memory) memory = static_cast<uint8_t*>(std::malloc(MEMORY_SIZE));
        std::memset(memory, 0, MEMORY_SIZE);
        std::memset(rombank, 0, sizeof rombank);
        std::memset(keyrow, 0xFF, sizeof keyrow);
        std::memset(keycol, 0xFF, sizeof keycol);
        keycount = 0;
        joystick = joystick2 = 0x00FF;
        wire_vias();
        wire_vic();
        install_io_handlers();
    }

    // Frame ends pass and the held quick taps due by then are let go.
    static void frames_pass(unsigned n) {
        frame_count += n;
        release_held_keys();
    }
    static Pair sticks() { return {joystick, joystick2}; }
    // Whether the key's matrix switch reads closed.
    static bool down(KeySym sym) {
        const KeyBinding* k = find_key(sym);
        return (rows_in_column(k->b) & (1u << k->a)) == 0;
    }

    // The rows the keyboard VIA reads with one column driven low.
    static uint8_t rows_in_column(unsigned column) {
        WRITMEM(VIA2_BASE + VIA_DDRB, 0xFF);
        WRITMEM(VIA2_BASE + VIA_DDRA, 0x00);
        WRITMEM(VIA2_BASE + VIA_ORB, uint8_t(~(1u << column)));
        return READMEM(VIA2_BASE + VIA_ORA);
    }
    // The columns it reads the other way round, with one row driven low.
    static uint8_t columns_in_row(unsigned row) {
        WRITMEM(VIA2_BASE + VIA_DDRA, 0xFF);
        WRITMEM(VIA2_BASE + VIA_DDRB, 0x00);
        WRITMEM(VIA2_BASE + VIA_ORA, uint8_t(~(1u << row)));
        return uint8_t(READMEM(VIA2_BASE + VIA_ORB) | 0x80);  // bit 7 also carries the joystick
    }
    static bool nothing_down() {
        for (unsigned c = 0; c < 8; c++)
            if (rows_in_column(c) != 0xFF) return false;
        return true;
    }
};

// The VIC 20 keyboard matrix as wired: VIC_MATRIX[column][row] is the host
// key that stands for the VIC 20 key at port B bit `column`, port A bit `row`.
const char* const VIC_MATRIX[8][8] = {
    {"1", "3", "5", "7", "9", "equal", "Insert", "BackSpace"},                // 1 3 5 7 9 + pound DEL
    {"grave", "w", "r", "y", "i", "p", "bracketright", "Return"},             // <- W R Y I P * RETURN
    {"Control_L", "a", "d", "g", "j", "l", "semicolon", "Prior"},             // CTRL A D G J L ; CRSR-RIGHT
    {"Tab", "Shift_L", "x", "v", "n", "comma", "slash", "Next"},              // STOP LSHIFT X V N , / CRSR-DOWN
    {"space", "z", "c", "b", "m", "period", "Shift_R", "F1"},                 // SPACE Z C B M . RSHIFT F1
    {"Alt_L", "s", "f", "h", "k", "apostrophe", "backslash", "F3"},           // C= S F H K : = F3
    {"q", "e", "t", "u", "o", "bracketleft", "End", "F5"},                    // Q E T U O @ UP-ARROW F5
    {"2", "4", "6", "8", "0", "minus", "Home", "F7"},                         // 2 4 6 8 0 - HOME F7
};

TEST_F(Keys, EveryMatrixKeyIsSeenAtItsRowAndColumnInBothScanDirections) {
    for (unsigned column = 0; column < 8; column++)
        for (unsigned row = 0; row < 8; row++) {
            const char* name = VIC_MATRIX[column][row];
            KeySym sym = XStringToKeysym(name);
            ASSERT_NE(sym, KeySym(NoSymbol)) << name;
            ASSERT_TRUE(handle_key(sym, true)) << name;
            for (unsigned c = 0; c < 8; c++)
                EXPECT_EQ(rows_in_column(c), c == column ? uint8_t(~(1u << row)) : 0xFF) << name << " column " << c;
            for (unsigned r = 0; r < 8; r++)
                EXPECT_EQ(columns_in_row(r), r == row ? uint8_t(~(1u << column) | 0x80) : 0xFF) << name << " row " << r;
            EXPECT_EQ(keycount, 1) << name;
            handle_key(sym, false);
            EXPECT_TRUE(nothing_down()) << name;
            EXPECT_EQ(keycount, 0) << name;
        }
    // DEL has a second host key.
    handle_key(XK_Delete, true);
    EXPECT_EQ(rows_in_column(0), 0x7F);
    handle_key(XK_Delete, false);
    // The example of the key table: Tab is row 0 of keyrow[4] and column 3 of keycol[0].
    handle_key(XK_Tab, true);
    EXPECT_EQ(keyrow[4], 0xFE);
    EXPECT_EQ(keycol[0], 0xF7);
}

TEST_F(Keys, TableHasEachSymbolOnceAndEachMatrixPositionOnceExceptDel) {
    int seen[8][8] = {};
    for (unsigned i = 0; i < KEY_TABLE_SIZE; i++) {
        for (unsigned j = i + 1; j < KEY_TABLE_SIZE; j++) EXPECT_NE(KEY_TABLE[i].sym, KEY_TABLE[j].sym) << i << " " << j;
        if (KEY_TABLE[i].kind == KEY_MATRIX) seen[KEY_TABLE[i].b][KEY_TABLE[i].a]++;
    }
    for (unsigned c = 0; c < 8; c++)
        for (unsigned r = 0; r < 8; r++) EXPECT_EQ(seen[c][r], c == 0 && r == 7 ? 2 : 1) << c << "," << r;
}

// Characters typed on other layouts: the VIC key (by its US host key) and SHIFT.
TEST_F(Keys, CharactersOfOtherLayoutsFindTheirVicKeyAndShift) {
    const std::tuple<KeySym, const char*, bool> cases[] = {
        {XK_q, "q", false}, {XK_Z, "z", true}, {XK_7, "7", false}, {XK_slash, "slash", false},
        {XK_apostrophe, "7", true}, {XK_quotedbl, "2", true}, {XK_plus, "equal", false},
        {XK_equal, "backslash", false}, {XK_colon, "apostrophe", false}, {XK_at, "bracketleft", false},
        {XK_asterisk, "bracketright", false}, {XK_question, "slash", true}, {XK_greater, "period", true},
        {XK_bracketleft, "apostrophe", true}, {XK_bracketright, "semicolon", true}, {XK_sterling, "Insert", false},
        {XK_asciicircum, "End", false}, {XK_dead_circumflex, "End", false}, {XK_Greek_pi, "End", true},
        {XK_underscore, "grave", false}, {XK_dead_grave, "grave", false}, {XK_space, "space", false},
    };
    for (const auto& [typed, vic_key, shift] : cases) {
        const KeyBinding b = character_binding(typed), *key = find_key(XStringToKeysym(vic_key));
        ASSERT_TRUE(key) << vic_key;
        EXPECT_EQ(std::tuple(b.sym, b.kind, b.a, b.b), std::tuple(typed, shift ? KEY_SHIFTED : KEY_PLAIN, key->a, key->b))
            << XKeysymToString(typed);
    }
    for (KeySym none : {XK_braceleft, XK_bar, XK_asciitilde, XK_adiaeresis, XK_eacute, XK_dead_acute})
        EXPECT_EQ(character_binding(none).sym, KeySym(NoSymbol)) << XKeysymToString(none);
    // Positional: the kernel's key codes 21 and 44 (plus 8) are US y and z.
    EXPECT_EQ(position_symbol(21 + 8), KeySym(XK_y));
    EXPECT_EQ(position_symbol(44 + 8), KeySym(XK_z));
    EXPECT_EQ(position_symbol(28 + 8), KeySym(NoSymbol));  // Return: by its symbol
}

TEST_F(Keys, KeyCountNeverGoesBelowZeroAndKeysWithoutActionDoNothing) {
    handle_key(XK_a, true);
    handle_key(XK_a, false);
    handle_key(XK_a, true);
    handle_key(XK_a, false);
    EXPECT_EQ(keycount, 0);
    handle_key(XK_b, false);  // a release never seen pressed
    EXPECT_EQ(keycount, 0);
    EXPECT_TRUE(nothing_down());

    // Shift and 2 together: both keys down, the VIC 20 makes a quote of them.
    handle_key(XK_Shift_L, true);
    handle_key(XK_2, true);
    EXPECT_EQ(rows_in_column(3), 0xFD);
    EXPECT_EQ(rows_in_column(7), 0xFE);
    EXPECT_EQ(keycount, 2);
    handle_key(XK_2, false);
    handle_key(XK_Shift_L, false);

    std::vector<uint8_t> before(memory, memory + MEMORY_SIZE);
    EXPECT_TRUE(handle_key(XK_Scroll_Lock, true) && rewind_held) << "the rewind runs while its key is held";
    EXPECT_TRUE(handle_key(XK_Scroll_Lock, false) && !rewind_held);
    for (KeySym sym : {XK_Caps_Lock, XK_Alt_R, XK_KP_5, XK_KP_0, XK_KP_End, XK_A}) {
        EXPECT_FALSE(handle_key(sym, true)) << XKeysymToString(sym);
        EXPECT_FALSE(handle_key(sym, false)) << XKeysymToString(sym);
    }
    EXPECT_EQ(keycount, 0);
    EXPECT_TRUE(nothing_down());
    EXPECT_EQ(sticks(), Pair(0xFF, 0xFF));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), memory));
}

TEST_F(Keys, JoystickKeysDriveTheirLinesOnly) {
    // The key, then both joystick bytes while it is down.
    for (auto [sym, js, js2] : {std::array<KeySym, 3>{XK_Up, 0xFF, 0xFB}, {XK_KP_8, 0xFF, 0xFB}, {XK_Down, 0xFF, 0xF7},
                                {XK_KP_2, 0xFF, 0xF7}, {XK_Left, 0xFF, 0xEF}, {XK_KP_4, 0xFF, 0xEF},
                                {XK_Right, 0x7F, 0xFF}, {XK_KP_6, 0x7F, 0xFF}, {XK_Control_R, 0xFF, 0xDF},
                                {XK_KP_Up, 0xFF, 0xFB}, {XK_KP_Down, 0xFF, 0xF7}, {XK_KP_Left, 0xFF, 0xEF},
                                {XK_KP_Right, 0x7F, 0xFF}}) {
        handle_key(sym, true);
        EXPECT_EQ(sticks(), Pair(int(js), int(js2))) << XKeysymToString(sym);
        EXPECT_EQ(keycount, 0);
        handle_key(sym, false);
        EXPECT_EQ(sticks(), Pair(0xFF, 0xFF));
    }
    EXPECT_TRUE(nothing_down());

    // Up and KP_8 share the line: releasing one releases it for both.
    handle_key(XK_Up, true);
    handle_key(XK_KP_8, true);
    handle_key(XK_Up, false);
    EXPECT_EQ(joystick2, 0xFF);

    // Lines combine; the right line's release sets the whole byte.
    handle_key(XK_Left, true);
    handle_key(XK_Control_R, true);
    EXPECT_EQ(joystick2, 0xCF);
    joystick = 0x0012;
    handle_key(XK_Right, true);
    EXPECT_EQ(joystick, 0x0012);
    handle_key(XK_Right, false);
    EXPECT_EQ(joystick, 0x00FF);

    // The first VIA's port A shows up, down, left and fire.
    WRITMEM(VIA1_BASE + VIA_DDRA, 0x00);
    EXPECT_EQ(READMEM(VIA1_BASE + VIA_ORA) & 0x3C, 0x0C);
}

TEST_F(Keys, LettingGoOfHostInputReleasesAllAndLaterReleasesCountNothing) {
    for (KeySym sym : {XK_a, XK_Shift_L, XK_Up, XK_Right, XK_Control_R, XK_Left}) handle_key(sym, true);
    handle_key(XK_a, true);  // auto-repeat: a key already down is not counted again
    EXPECT_EQ(keycount, 2);
    release_host_input();
    EXPECT_TRUE(nothing_down());
    EXPECT_EQ(keycount, 0);
    EXPECT_EQ(sticks(), Pair(0xFF, 0xFF));

    // The releases still to come find the keys up and leave a newly held one counted.
    handle_key(XK_b, true);
    handle_key(XK_a, false);
    handle_key(XK_Shift_L, false);
    EXPECT_EQ(keycount, 1);
    EXPECT_EQ(rows_in_column(4), 0xF7);  // B is still down
    handle_key(XK_b, false);
    EXPECT_EQ(keycount, 0);
    EXPECT_TRUE(nothing_down());
}

TEST_F(Keys, PaddleKeysMoveByFourAndStopAtTheEnds) {
    uint8_t& px = memory[0x9008];
    uint8_t& py = memory[0x9009];
    struct Case {
        KeySym sym;
        uint8_t* reg;
        uint8_t from, to;
    };
    for (Case k : {Case{XK_KP_1, &px, 0, 4}, Case{XK_KP_1, &px, 251, 255}, Case{XK_KP_1, &px, 253, 255},
                   Case{XK_KP_1, &px, 255, 255}, Case{XK_KP_3, &px, 2, 0}, Case{XK_KP_3, &px, 4, 0},
                   Case{XK_KP_3, &px, 100, 96}, Case{XK_KP_7, &py, 10, 14}, Case{XK_KP_7, &py, 252, 255},
                   Case{XK_KP_9, &py, 4, 0}, Case{XK_KP_9, &py, 3, 0}, Case{XK_KP_9, &py, 200, 196}}) {
        px = py = 77;
        *k.reg = k.from;
        handle_key(k.sym, true);
        EXPECT_EQ(*k.reg, k.to) << XKeysymToString(k.sym) << " from " << int(k.from);
        EXPECT_EQ(k.reg == &px ? py : px, 77) << "the other paddle moved";
        handle_key(k.sym, false);  // a release does nothing
        EXPECT_EQ(*k.reg, k.to);
    }
    EXPECT_EQ(keycount, 0);
    EXPECT_TRUE(nothing_down());
}

TEST_F(Keys, QuickTapStaysDownForAWholeFrameAndLongHoldsReleaseAtOnce) {
    frame_count = 1000;
    key_event(XK_a, true);
    key_event(XK_a, false);  // press and release in one frame
    EXPECT_TRUE(down(XK_a));
    frames_pass(1);
    EXPECT_TRUE(down(XK_a)) << "released before a whole frame had passed";
    frames_pass(1);
    EXPECT_FALSE(down(XK_a));
    EXPECT_EQ(keycount, 0);

    // Held over two frame ends: the release counts at once.
    key_event(XK_a, true);
    frame_count += 2;
    key_event(XK_a, false);
    EXPECT_FALSE(down(XK_a));

    // Tapped again while the first tap's release waits: release, press, and
    // the second tap is held in its turn.
    key_event(XK_a, true);
    key_event(XK_a, false);
    key_event(XK_a, true);
    EXPECT_EQ(keycount, 1);
    key_event(XK_a, false);
    frames_pass(2);
    EXPECT_EQ(keycount, 1);
    EXPECT_TRUE(down(XK_a)) << "the second tap went by without a frame of its own";
    frames_pass(2);
    EXPECT_EQ(keycount, 0);
    EXPECT_TRUE(nothing_down());
}

TEST_F(Keys, EventsInABurstKeepTheirOrderButPaddleAndCommandKeysActAtOnce) {
    // Shift held, 8 tapped: the host's events come late, all in one frame.
    frame_count = 2000;
    key_event(XK_Shift_L, true);
    frame_count += 5;
    key_event(XK_8, true);
    key_event(XK_8, false);
    key_event(XK_Shift_L, false);
    EXPECT_TRUE(down(XK_8));
    EXPECT_TRUE(down(XK_Shift_L)) << "8 left down without its Shift";
    frames_pass(2);
    EXPECT_TRUE(nothing_down());

    // CTRL tapped, then R: R waits until CTRL is up, and gets its own frame.
    for (KeySym sym : {XK_Control_L, XK_r}) key_event(sym, true), key_event(sym, false);
    EXPECT_FALSE(down(XK_r)) << "R pressed with CTRL still down";
    frames_pass(2);
    EXPECT_FALSE(down(XK_Control_L));
    EXPECT_TRUE(down(XK_r));
    frames_pass(1);
    EXPECT_TRUE(down(XK_r));
    frames_pass(1);
    EXPECT_TRUE(nothing_down());
    EXPECT_EQ(keycount, 0);

    // Paddle keys and Pause act at once, whatever waits; Pause toggles warp
    // speed on its press only.
    key_event(XK_a, true);
    key_event(XK_a, false);
    memory[0x9008] = 0;
    key_event(XK_KP_1, true);
    key_event(XK_KP_1, false);
    EXPECT_EQ(memory[0x9008], 4);
    warp_speed = 0;
    const std::pair<bool, int> pauses[] = {{true, 1}, {false, 1}, {true, 0}, {false, 0}};
    for (auto [press, warp] : pauses) {
        key_event(XK_Pause, press);
        EXPECT_EQ(warp_speed, warp) << press;
    }
    frames_pass(2);
    EXPECT_TRUE(nothing_down());
    EXPECT_EQ(keycount, 0);
}

TEST_F(Keys, RestoreKeyOnlyRaisesTheCa1FlagOfTheFirstVia) {
    memory[VIA1_BASE + VIA_IFR] = 0x40;
    memory[VIA1_BASE + VIA_IER] = 0x00;
    std::vector<uint8_t> before(memory, memory + MEMORY_SIZE);
    handle_key(XK_F12, true);
    EXPECT_EQ(memory[VIA1_BASE + VIA_IFR], 0x42);
    before[VIA1_BASE + VIA_IFR] = 0x42;
    EXPECT_TRUE(std::equal(before.begin(), before.end(), memory));
    handle_key(XK_F12, false);
    EXPECT_EQ(memory[VIA1_BASE + VIA_IFR], 0x42);
    EXPECT_EQ(keycount, 0);
}

// ---- light pen ---------------------------------------------------------------------------

TEST(LightPen, PositionFollowsScaleAndOverscan) {
    // Pointer x and y, scale, overscan, then the pen's x and y.
    for (auto [x, y, zoom, top, pen_x, pen_y] :
         {std::array<int, 6>{100, 50, 0, 28, 48, 37}, {100, 50, 0, 9, 48, 27}, {100, 50, 1, 28, 35, 24},
          {0, 0, 0, 28, 23, 12}, {3, 1, 0, 9, 23, 2}, {457, 282, 0, 28, 137, 153}, {915, 565, 1, 9, 137, 143},
          // Divisions truncate toward zero; the sums wrap at 256.
          {-5, -3, 0, 28, 22, 11}, {-200, -100, 0, 9, 229, 208}, {1000, 600, 0, 28, 17, 56}}) {
        PenPosition p = lightpen_position(x, y, unsigned(zoom), unsigned(top));
        EXPECT_EQ(Pair(p.x, p.y), Pair(pen_x, pen_y)) << x << "," << y << " scale " << zoom << " overscan " << top;
    }
}

TEST(LightPen, ButtonPressIsTheFireLineAndReleaseLatches) {
    joystick2 = 0x00FF;
    scale = 0;
    overscan = 28;
    Vic.lightpen_x = Vic.lightpen_y = 0;
    XEvent e{};
    e.type = ButtonPress;
    e.xbutton.x = 100;
    e.xbutton.y = 50;
    MouseCB(nullptr, nullptr, &e, nullptr);
    EXPECT_EQ(joystick2, 0x00DF);
    EXPECT_EQ(Vic.lightpen_x, 0);  // nothing latched yet
    e.type = ButtonRelease;
    MouseCB(nullptr, nullptr, &e, nullptr);
    EXPECT_EQ(joystick2, 0x00FF);
    EXPECT_EQ(Vic.lightpen_x, 48);
    EXPECT_EQ(Vic.lightpen_y, 37);

    e.type = MotionNotify;  // other events are ignored
    e.xbutton.x = 0;
    MouseCB(nullptr, nullptr, &e, nullptr);
    KeyboardCB(nullptr, nullptr, &e, nullptr);
    EXPECT_EQ(Vic.lightpen_x, 48);
    EXPECT_EQ(joystick2, 0x00FF);
}

// ---- frame doubling and geometry --------------------------------------------------------------

TEST(Frame, DoublingTurnsEachByteIntoATwoByTwoBlockInPlace) {
    for (unsigned lines_last : {311u, 260u}) {
        std::vector<uint8_t> image(624 * 1040);
        for (size_t i = 0; i < image.size(); i++) image[i] = uint8_t(i * 7 + i / 997);
        std::vector<uint8_t> original = image;
        expand_frame(image.data(), lines_last);
        for (unsigned line = 1; line <= lines_last; line++)
            for (unsigned col = 1; col < 520; col++) {
                uint8_t b = original[line * 520 + col];
                for (unsigned dy : {0u, 1u})
                    for (unsigned dx : {0u, 1u})
                        ASSERT_EQ(image[(2 * line - dy) * 1040 + 2 * col - dx], b) << line << "," << col;
            }
        // Image line 0 and column 0 are never written.
        for (unsigned col = 0; col < 1040; col++) EXPECT_EQ(image[col], original[col]);
        for (unsigned line = 0; line < 624; line++) EXPECT_EQ(image[line * 1040], original[line * 1040]);
        // Nothing below the doubled picture is touched.
        for (size_t i = size_t(2 * lines_last + 1) * 1040; i < image.size(); i++) ASSERT_EQ(image[i], original[i]);
    }
}

TEST(Frame, DrawingAreaSizeOfEachModeAndScale) {
    // PAL, NTSC, PAL doubled.
    for (auto [columns, last, top, scale, w, h] : {std::array<unsigned, 6>{229, 311, 28, 0, 458, 283},
                                                   {201, 260, 9, 0, 402, 251}, {229, 311, 28, 1, 916, 566}}) {
        AreaSize a = drawing_area_size(columns, last, top, scale);
        EXPECT_EQ(std::pair(a.width, a.height), std::pair(w, h)) << columns << " " << scale;
    }
}

TEST(Frame, InterlacedFieldsGoToAlternateDoubledLines) {
    std::vector<uint8_t> image(FRAME_ALLOC_BYTES);
    auto source = [](unsigned field, unsigned line, unsigned col) { return uint8_t(field * 97 + line * 7 + col); };
    for (unsigned f = 0; f < 2; f++)
        for (unsigned line = 0; line < FRAME_LINES; line++)
            for (unsigned col = 0; col < 520; col++) image[(f * FRAME_LINES + line) * 520 + col] = source(f, line, col);
    interleave_frame(image.data(), 311);
    for (unsigned line = 1; line <= 311; line++)
        for (unsigned f = 0; f < 2; f++)
            for (unsigned col = 1; col < 520; col++)
                for (unsigned dx : {0u, 1u})  // both bytes of the doubled pixel
                    ASSERT_EQ(image[(2 * line + f) * 1040 + 2 * col - dx], source(f, line, col))
                        << line << " " << f << " " << col;
}

TEST(Frame, PictureFitsAtTheLargestWholeZoomCentred) {
    // Window width and height, then the zoom and the picture's place.
    for (auto [w, h, zoom, x, y] : {std::array<int, 5>{458, 283, 1, 0, 0}, {1000, 700, 2, 42, 67},
                                    {1920, 1049, 3, 273, 100}, {400, 200, 1, -29, -41}, {9000, 9000, 8, 2668, 3368}}) {
        PictureFit f = fit_picture(unsigned(w), unsigned(h), 229, 283);
        EXPECT_EQ(std::tuple(int(f.zoom), f.x, f.y), std::tuple(zoom, x, y)) << w << "x" << h;
    }
    // Under half the screen's height; NTSC's shorter picture fits more often.
    for (auto [screen, picture, zoom] : {std::array<unsigned, 3>{768, 283, 0}, {1080, 283, 0}, {1200, 232, 1},
                                         {2160, 283, 2}, {100000, 283, 7}})
        EXPECT_EQ(unsigned(default_scale(screen, picture)), zoom) << screen << " " << picture;
}

TEST(Frame, ZoomStepSamplesTheReplicatedPixelEverywhere) {
    // Nearest sampling as the server does it: at the pixel's centre, less one
    // unit, in 16.16 fixed point.
    for (unsigned zoom = 1; zoom <= MAX_ZOOM; zoom++)
        for (int64_t target = 0; target < 640 * int64_t(zoom); target++) {
            int64_t sampled = ((2 * target + 1) * 32768 * zoom_step(zoom) / 65536 - 1) >> 16;
            ASSERT_EQ(sampled, target / zoom) << "zoom " << zoom << " at " << target;
        }
}

TEST(Names, ExpansionNamesAndAnIndexBeyondThem) {
    for (auto [index, name] : {std::pair{0u, "unexpanded"}, {2u, "8 KB expansion"}, {4u, "24 KB expansion"},
                               {5u, "all expansions"}, {6u, ""}, {0xFFFFFFFFu, ""}})
        EXPECT_STREQ(expansion_name(index), name) << index;
}

}  // namespace
