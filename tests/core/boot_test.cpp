// The real VIC 20 ROMs on the emulated machine, headless: the start-up
// screen in the screen matrix and in the frame image, typing through the
// keyboard matrix, RUN/STOP with RESTORE, and the memory each expansion
// gives BASIC.
#include <png.h>

#include <cstring>
#include <functional>
#include <map>
#include <utility>

#include "core/host.h"
#include "core/memory.h"
#include "core/screen_text.h"
#include "core/tarvikon.h"
#include "core/via.h"
#include "core/vic.h"
#include "files/fileio.h"
#include "files/png.h"
#include "screen.h"
#include "support.h"

namespace {

constexpr unsigned BOOT_FRAMES = 400;  // generous: the kernal is ready after about 100
constexpr uint8_t BLUE = 6, WHITE = 1, CYAN = 3;  // the kernal's text, background and border
constexpr int RUN_STOP = -1;

// Matrix position (port A row bit, port B column bit) of each VIC 20 key used here.
const std::map<int, std::pair<int, int>> KEYS = {
    {'1', {0, 0}}, {'3', {1, 0}}, {'5', {2, 0}}, {'7', {3, 0}}, {'9', {4, 0}}, {'+', {5, 0}},
    {'W', {1, 1}}, {'R', {2, 1}}, {'Y', {3, 1}}, {'I', {4, 1}}, {'P', {5, 1}}, {'\n', {7, 1}},
    {'A', {1, 2}}, {'D', {2, 2}}, {'G', {3, 2}}, {'J', {4, 2}}, {'L', {5, 2}}, {RUN_STOP, {0, 3}},
    {'X', {2, 3}}, {'V', {3, 3}}, {'N', {4, 3}}, {' ', {0, 4}}, {'Z', {1, 4}}, {'C', {2, 4}},
    {'B', {3, 4}}, {'M', {4, 4}}, {'.', {5, 4}}, {'S', {1, 5}}, {'F', {2, 5}}, {'H', {3, 5}},
    {'K', {4, 5}}, {'Q', {0, 6}}, {'E', {1, 6}}, {'T', {2, 6}}, {'U', {3, 6}}, {'O', {4, 6}},
    {'2', {0, 7}}, {'4', {1, 7}}, {'6', {2, 7}}, {'8', {3, 7}}, {'0', {4, 7}}, {'-', {5, 7}},
};

// What the key handler does for a matrix key.
void press(int key) {
    auto [r, c] = KEYS.at(key);
    keyrow[7 - c] &= uint8_t(~(1 << r));
    keycol[r] &= uint8_t(~(1 << c));
    keycount++;
}
void release(int key) {
    auto [r, c] = KEYS.at(key);
    keyrow[7 - c] |= uint8_t(1 << r);
    keycol[r] |= uint8_t(1 << c);
    if (--keycount < 0) keycount = 0;
}

void run_frames(unsigned n) {
    for (unsigned i = 0; i < n; i++) run_frame();
}

// Runs frames until the screen matrix satisfies `done`; false if it never does.
bool run_until(const std::function<bool(const ScreenText&)>& done, unsigned max_frames = BOOT_FRAMES) {
    for (unsigned i = 0; i < max_frames; i++) {
        run_frame();
        if (done(read_matrix(memory))) return true;
    }
    return false;
}

bool ready(const ScreenText& s) { return s.contains("READY."); }

std::string dump(const ScreenText& s) {
    std::string out;
    for (const std::string& row : s.rows()) out += "|" + row + "|\n";
    return out + s.error;
}

class Boot : public testing::Test {
protected:
    std::vector<uint8_t> chargen;

    void SetUp() override { REQUIRE_ROMS(); }

    // Start-up as the program does it, then every frame drawn.
    void boot(uint8_t timing) {
        new_machine(timing);
        ASSERT_EQ(readrom(shared_path(timing ? "roms/kernel.pal" : "roms/kernel.ntsc").c_str(), 0xE000, 8192), 0);
        ASSERT_EQ(readrom(shared_path("roms/basic.rom").c_str(), 0xC000, 8192), 0);
        ASSERT_EQ(readrom(shared_path("roms/chargen.rom").c_str(), 0x8000, 4096), 0);
        chargen.assign(memory + 0x8000, memory + 0x8800);
        patch_rom_version();
        insert_memory_expansion();
        machine_start();
        interrupt = 1;
        intdef = 1;
    }

    void type(const std::string& text) {
        for (char ch : text) {
            press(ch);
            run_frames(2);
            release(ch);
            run_frames(2);
        }
    }

    // The frame image shows what the matrix holds, in the kernal's colours.
    void expect_frame_matches_matrix() {
        ScreenText matrix = read_matrix(memory);
        ScreenText frame = decode_frame(frame_image, last_line, chargen.data());
        ASSERT_EQ(frame.error, "");
        EXPECT_EQ(frame.border, CYAN);
        EXPECT_EQ(frame.background, WHITE);
        EXPECT_EQ(frame.left, Frame.left_border);
        EXPECT_EQ(frame.top, Frame.text_top);
        ASSERT_EQ(frame.cells.size(), matrix.cells.size()) << dump(frame);
        ASSERT_EQ(frame.cells[0].size(), matrix.cells[0].size()) << dump(frame);
        for (size_t r = 0; r < matrix.cells.size(); r++)
            for (size_t c = 0; c < matrix.cells[r].size(); c++) {
                const ScreenCell &m = matrix.cells[r][c], &f = frame.cells[r][c];
                // The cursor may blink between drawing its row and the end of the frame.
                EXPECT_EQ(screen_char(f.code), screen_char(m.code)) << "row " << r << " column " << c << "\n" << dump(frame);
                if (f.color != -1) {
                    EXPECT_EQ(f.color, m.color) << "row " << r << " column " << c;
                }
            }
        EXPECT_EQ(frame.rows(), matrix.rows());
    }

    // Colour of every non-blank character of a text on the decoded frame.
    void expect_text_color(const ScreenText& frame, const std::string& text, int color) {
        std::vector<std::string> rows = frame.rows();
        for (size_t r = 0; r < rows.size(); r++) {
            size_t at = rows[r].find(text);
            if (at == std::string::npos) continue;
            for (size_t i = 0; i < text.size(); i++)
                if (text[i] != ' ') {
                    EXPECT_EQ(frame.cells[r][at + i].color, color) << text << " at " << i;
                }
            return;
        }
        ADD_FAILURE() << "\"" << text << "\" not on the screen\n" << dump(frame);
    }
};

TEST_F(Boot, PalAndNtscKernalsShowTheStartScreen) {
    for (uint8_t timing : {1, 0}) {
        SCOPED_TRACE(timing ? "PAL" : "NTSC");
        boot(timing);
        ASSERT_TRUE(run_until(ready)) << dump(read_matrix(memory));
        run_frames(2);  // one whole frame drawn after the text is complete
        ScreenText matrix = read_matrix(memory);
        EXPECT_TRUE(matrix.contains("**** TARVIKON 0.8 ****")) << dump(matrix);
        EXPECT_TRUE(matrix.contains("3583 BYTES FREE")) << dump(matrix);
        EXPECT_EQ(matrix.cells.size(), 23u);
        EXPECT_EQ(matrix.cells[0].size(), 22u);
        expect_frame_matches_matrix();

        ScreenText frame = decode_frame(frame_image, last_line, chargen.data());
        EXPECT_TRUE(frame.contains("**** TARVIKON 0.8 ****")) << dump(frame);
        expect_text_color(frame, "**** TARVIKON 0.8 ****", BLUE);
        expect_text_color(frame, "3583 BYTES FREE", BLUE);
        expect_text_color(frame, "READY.", BLUE);

        // The screen as text, and the picture as a PNG read back by libpng itself.
        std::string text;
        for (std::string row : matrix.rows()) text += row.erase(row.find_last_not_of(' ') + 1) + "\n";
        EXPECT_EQ(screen_text(), text);
        const std::string path = testing::TempDir() + "boot.png";
        std::string error;
        ASSERT_TRUE(write_png(path, capture_picture(), error)) << error;
        png_image png{};
        png.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&png, path.c_str()));
        png.format = PNG_FORMAT_RGB;
        std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(png));
        ASSERT_TRUE(png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr));
        ASSERT_EQ(png.width, screen_width);
        ASSERT_EQ(png.height, last_line - overscan);
        auto light = [&](unsigned x, unsigned y) {
            const uint8_t* p = &rgb[3 * (y * png.width + x)];
            return std::vector<int>{p[0], p[1], p[2]};
        };
        auto expected = [](uint8_t code) {
            return std::vector<int>{vic_colors[code].red >> 8, vic_colors[code].green >> 8, vic_colors[code].blue >> 8};
        };
        EXPECT_EQ(light(0, 0), expected(CYAN));
        // The second text row's last cell holds no character: background.
        EXPECT_EQ(light(Frame.left_border - Frame.view_left + 21 * 8 + 4, Frame.text_top - overscan + 12), expected(WHITE));
    }
}

TEST_F(Boot, TypedPrintRunsAndRunStopWithRestoreReturnsToReady) {
    boot(1);
    ASSERT_TRUE(run_until(ready));
    type("PRINT 2+3\n");
    run_frames(5);
    ScreenText screen = read_matrix(memory);
    std::vector<std::string> rows = screen.rows();
    size_t line = 0;
    while (line < rows.size() && rows[line].rfind("PRINT 2+3", 0) != 0) line++;
    ASSERT_LT(line + 6, rows.size()) << dump(screen);
    EXPECT_EQ(rows[line + 1].substr(0, 3), " 5 ") << dump(screen);
    EXPECT_EQ(rows[line + 2].find_first_not_of(' '), std::string::npos) << dump(screen);
    EXPECT_EQ(rows[line + 3].substr(0, 6), "READY.") << dump(screen);
    expect_frame_matches_matrix();

    // A program that never ends, then RUN/STOP held while RESTORE is hit.
    type("10 GOTO 10\nRUN\n");
    run_frames(10);
    rows = read_matrix(memory).rows();
    ASSERT_EQ(rows[line + 5].substr(0, 3), "RUN");
    ASSERT_EQ(rows[line + 6].find_first_not_of(' '), std::string::npos) << dump(read_matrix(memory));

    press(RUN_STOP);
    memory[VIA1_BASE + VIA_IFR] |= IFR_CA1;  // RESTORE
    run_frames(3);
    release(RUN_STOP);
    ASSERT_TRUE(run_until(ready, 50)) << dump(read_matrix(memory));
    screen = read_matrix(memory);
    EXPECT_FALSE(screen.contains("GOTO")) << "the screen is cleared\n" << dump(screen);
    EXPECT_FALSE(screen.contains("BREAK")) << dump(screen);
    EXPECT_EQ(memory[VIA1_BASE + VIA_IFR] & IFR_CA1, 0);  // acknowledged by the kernal

    type("PRINT 7\n");  // the machine still listens
    run_frames(5);
    EXPECT_TRUE(read_matrix(memory).contains(" 7 ")) << dump(read_matrix(memory));
}

TEST_F(Boot, EachExpansionGivesBasicItsMemoryAfterAReset) {
    boot(1);
    ASSERT_TRUE(run_until(ready));
    const std::pair<uint32_t, const char*> layouts[] = {
        {EXP_NONE, "3583 BYTES FREE"}, {EXP_3K, "6655 BYTES FREE"},   {EXP_8K, "11775 BYTES FREE"},
        {EXP_16K, "19967 BYTES FREE"}, {EXP_24K, "28159 BYTES FREE"},
    };
    for (auto [expansion, text] : layouts) {
        SCOPED_TRACE(text);
        memexp = expansion;
        config = 1;
        reset_tarvikon();
        EXPECT_EQ(memdef, expansion);
        ASSERT_TRUE(run_until(ready)) << dump(read_matrix(memory));
        run_frames(2);
        ScreenText matrix = read_matrix(memory);
        EXPECT_TRUE(matrix.contains(text)) << dump(matrix);
        expect_frame_matches_matrix();
    }
}

}  // namespace
