// The VIC: register decoding, raster and light-pen reads, sound forwarding
// and the line renderer with its colour modes, double height, address wrap
// and clipping.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "core/host.h"
#include "core/memory.h"
#include "core/tarvikon.h"
#include "core/vic.h"
#include "sound/sound.h"
#include "support.h"

constexpr uint8_t STA_ABS = 0x8D, LDA_ABS = 0xAD;  // four cycles, bus access in the last

namespace {

class VicTest : public testing::Test {
protected:
    void SetUp() override {
        new_machine(1);
        for (uint16_t r = 0; r < 16; r++) WRITMEM(uint16_t(VIC_BASE + r), 0);
    }
    static uint16_t cell(unsigned line, unsigned k) {
        uint16_t value;
        std::memcpy(&value, frame_image + line * FRAME_LINE_BYTES + 2 * k, 2);
        return value;
    }
    // Colour code of a cell: the headless pixel is the code in both bytes.
    static int code_at(unsigned line, unsigned k) {
        uint16_t value = cell(line, k);
        return (value >> 8) == (value & 0xFF) ? value & 0xFF : -1;
    }
    static std::string codes(unsigned line, unsigned from, unsigned count) {
        std::string s;
        for (unsigned k = from; k < from + count; k++) s += "0123456789ABCDEF?"[code_at(line, k) < 0 ? 16 : code_at(line, k)];
        return s;
    }
    static size_t count_bytes(const uint8_t* from, const uint8_t* to, uint8_t value) {
        return size_t(std::count(from, to, value));
    }
    static void render(unsigned line) {
        raster = uint16_t(line);
        render_line();
    }
};

// ---- register decoding -----------------------------------------------------------

TEST_F(VicTest, KernalLayoutDecodes) {
    WRITMEM(0x9000, 12);
    WRITMEM(0x9001, 38);
    WRITMEM(0x9002, 0x96);
    WRITMEM(0x9003, 0x2E);
    WRITMEM(0x9005, 0xF0);
    EXPECT_EQ(Frame.left_border, 48);
    EXPECT_EQ(Frame.text_top, 76);
    EXPECT_EQ(Frame.columns, 22);
    EXPECT_EQ(Frame.text_width, 176);
    EXPECT_EQ(Frame.text_height, 184);
    EXPECT_EQ(doublesize, 8);
    EXPECT_EQ(vidpoint, 0x1E00);
    EXPECT_EQ(colpoint, 0x9600);
    EXPECT_EQ(charaddr, 0x8000);
    EXPECT_EQ(memory[0x9002], 0x96);  // every one stored as written
    EXPECT_EQ(memory[0x9005], 0xF0);

    WRITMEM(0x9002, 0x16);  // bit 7 off: screen at $1C00, colour at $9400
    EXPECT_EQ(vidpoint, 0x1C00);
    EXPECT_EQ(colpoint, 0x9400);
    WRITMEM(0x9005, 0xCD);  // bit 7 ignored, characters from RAM at $1400
    EXPECT_EQ(vidpoint, 0x1000);
    EXPECT_EQ(charaddr, 0x1400);
    WRITMEM(0x9005, 0x02);
    EXPECT_EQ(charaddr, 0x8800);
}

TEST_F(VicTest, OriginsAndSizesAreClamped) {
    WRITMEM(0x9000, 0x7F);
    EXPECT_EQ(Frame.left_border, 240);
    EXPECT_EQ(memory[0x9000], 0x7F);
    WRITMEM(0x9000, 0x8C);  // bit 7 plays no part
    EXPECT_EQ(Frame.left_border, 48);
    EXPECT_EQ(memory[0x9000], 0x8C);

    WRITMEM(0x9002, 0x7F);
    EXPECT_EQ(Frame.columns, 32);
    EXPECT_EQ(Frame.text_width, 256);
    WRITMEM(0x9003, 0x7E);
    EXPECT_EQ(Frame.text_height, 4 * 71);

    set_video_constants(0);  // NTSC limits
    WRITMEM(0x9002, 0x7F);
    EXPECT_EQ(Frame.columns, 31);
    WRITMEM(0x9003, 0x7E);
    EXPECT_EQ(Frame.text_height, 4 * 59);
}

TEST_F(VicTest, DoubleHeightIsCutToTheLastLine) {
    WRITMEM(0x9003, 40 | 1);
    EXPECT_EQ(doublesize, 16);
    EXPECT_EQ(Frame.text_height, 311);  // 320 lines cut
    WRITMEM(0x9003, 20 | 1);
    EXPECT_EQ(Frame.text_height, 160);
    set_video_constants(0);
    WRITMEM(0x9003, 40 | 1);
    EXPECT_EQ(Frame.text_height, 260);
    WRITMEM(0x9003, 40);
    EXPECT_EQ(doublesize, 8);
    EXPECT_EQ(Frame.text_height, 160);
}

TEST_F(VicTest, ColourRegistersPickDoublePixels) {
    WRITMEM(0x900F, 0x1B);  // white background, cyan border
    EXPECT_EQ(bordpixel, vic_colors[COLOR_CYAN].double_pixel);
    EXPECT_EQ(backpix, vic_colors[COLOR_WHITE].double_pixel);
    WRITMEM(0x900F, 0xEF);  // border uses three bits only
    EXPECT_EQ(bordpixel, vic_colors[COLOR_YELLOW].double_pixel);
    EXPECT_EQ(backpix, vic_colors[COLOR_LTBLUE].double_pixel);
    WRITMEM(0x900E, 0xA5);
    EXPECT_EQ(auxpix, vic_colors[COLOR_PINK].double_pixel);
    EXPECT_EQ(memory[0x900E], 0xA5);
}

TEST_F(VicTest, SoundRegistersAreForwardedBeforeTheyAreStored) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int saved = pipefd[1];
    pipefd[1] = fds[1];
    soundon = 1;
    WRITMEM(0x900B, 0x87);
    WRITMEM(0x900A, 0x01);
    WRITMEM(0x900C, 0x02);
    WRITMEM(0x900D, 0x03);
    WRITMEM(0x900E, 0x4F);
    WRITMEM(0x9008, 0x55);  // paddles: stored only
    soundon = 0;
    WRITMEM(0x900B, 0x11);  // sound off: nothing sent
    pipefd[1] = saved;
    close(fds[1]);
    std::vector<uint8_t> sent(32);
    ssize_t n = read(fds[0], sent.data(), sent.size());
    close(fds[0]);
    sent.resize(n > 0 ? size_t(n) : 0);
    EXPECT_EQ(sent, (std::vector<uint8_t>{2, 0x87, 1, 0x01, 3, 0x02, 4, 0x03, 0, 0x4F}));
    EXPECT_EQ(memory[0x900B], 0x11);
    EXPECT_EQ(memory[0x900E], 0x4F);
    EXPECT_EQ(auxpix, vic_colors[COLOR_PURPLE].double_pixel);
    EXPECT_EQ(memory[0x9008], 0x55);
}

// ---- reads ----------------------------------------------------------------------

TEST_F(VicTest, RasterReadsGiveTheLineInNineBits) {
    WRITMEM(0x9003, 0x2E);
    raster = 150;
    EXPECT_EQ(READMEM(0x9004), 75);
    EXPECT_EQ(READMEM(0x9003), 0x2E);
    raster = 151;
    EXPECT_EQ(READMEM(0x9004), 75);
    EXPECT_EQ(READMEM(0x9003), 0xAE);
    EXPECT_EQ(memory[0x9003], 0xAE);  // the stored byte changes
    raster = 311;
    EXPECT_EQ(READMEM(0x9004), 155);
    EXPECT_EQ(READMEM(0x9003), 0xAE);
    raster = 0;
    EXPECT_EQ(READMEM(0x9004), 0);
    EXPECT_EQ(READMEM(0x9003), 0x2E);
}

TEST_F(VicTest, RasterReadsTakeTheLineAtTheReadCycle) {
    // {NTSC?, interlace extra lines, raster, line cycle, line read}: LDA abs reads in cycle + 3.
    const uint16_t cases[][5] = {{0, 0, 150, 67, 150}, {0, 0, 150, 68, 151}, {0, 0, 311, 68, 0},  {1, 0, 151, 61, 151},
                                 {1, 0, 151, 62, 152}, {1, 0, 260, 62, 0},   {1, 2, 261, 62, 262}, {1, 2, 262, 62, 0}};
    memory[0x1000] = LDA_ABS;
    Register.PC = 0x1000;
    for (const auto& c : cases) {
        set_video_constants(uint8_t(!c[0]));
        field_extra = uint8_t(c[1]);
        raster = c[2];
        line_cycles = c[3];
        EXPECT_EQ(READMEM(0x9004) << 1 | READMEM(0x9003) >> 7, c[4]) << "line " << c[2] << " cycle " << c[3];
    }
    field_extra = 0;
}

TEST_F(VicTest, LightPenReadsLatchThePointerPosition) {
    Vic.lightpen_x = 48;
    Vic.lightpen_y = 37;
    EXPECT_EQ(READMEM(0x9006), 48);
    EXPECT_EQ(READMEM(0x9007), 37);
    EXPECT_EQ(memory[0x9006], 48);
    memory[0x9009] = 0x80;  // paddles are plain bytes
    EXPECT_EQ(READMEM(0x9009), 0x80);
}

// ---- the renderer -------------------------------------------------------------------

// A small screen: 2 columns at left border 8, text from line 10, screen
// matrix at $1E00, colour RAM at $9600, characters at $8000.
class Renderer : public VicTest {
protected:
    void SetUp() override {
        VicTest::SetUp();
        WRITMEM(0x9000, 2);     // left border 8
        WRITMEM(0x9001, 5);     // text_top 10
        WRITMEM(0x9005, 0xF0);
        WRITMEM(0x9002, 0x82);  // 2 columns
        WRITMEM(0x9003, 0x04);  // 2 rows of 8 lines
        WRITMEM(0x900F, 0x1B);  // white background, cyan border, normal
        WRITMEM(0x900E, 0x20);  // auxiliary red
        std::memset(memory + 0x1E00, 0, 0x200);
        x = y = 0;
    }
    static void glyph(uint16_t base, uint8_t code, std::initializer_list<uint8_t> rows, uint8_t height = 8) {
        unsigned i = 0;
        for (uint8_t row : rows) memory[base + code * height + i++] = row;
    }
};

TEST_F(Renderer, LinesOutsideTheTextAreaAreAllBorder) {
    render(9);
    EXPECT_EQ(codes(9, 0, 260), std::string(260, '3'));
    render(26);  // text_top + text_height
    EXPECT_EQ(codes(26, 0, 260), std::string(260, '3'));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
}

TEST_F(Renderer, NormalCharactersUseColourRamAndBackground) {
    memory[0x1E00] = 1;
    memory[0x1E01] = 2;
    glyph(0x8000, 1, {0x81});
    glyph(0x8000, 2, {0xF0});
    memory[0x9600] = 0xF2;  // upper bits ignored: red
    memory[0x9601] = 0x06;  // blue
    render(10);
    EXPECT_EQ(codes(10, 0, 8), "33333333");
    EXPECT_EQ(codes(10, 8, 8), "21111112");
    EXPECT_EQ(codes(10, 16, 8), "66661111");
    EXPECT_EQ(codes(10, 24, 236), std::string(236, '3'));
    EXPECT_EQ(y, 1);
}

TEST_F(Renderer, ReverseModeSwapsColoursSoABlankCellIsForeground) {
    memory[0x1E00] = 0;
    glyph(0x8000, 0, {0x00});
    glyph(0x8000, 1, {0x0F});
    memory[0x1E01] = 1;
    memory[0x9600] = 0x05;
    memory[0x9601] = 0x00;
    WRITMEM(0x900F, 0x13);  // bit 3 clear: reverse
    render(10);
    EXPECT_EQ(codes(10, 8, 8), "55555555");
    EXPECT_EQ(codes(10, 16, 8), "00001111");
}

TEST_F(Renderer, MulticolourCellsTakeTwoCellsPerBitPair) {
    memory[0x1E00] = 3;
    glyph(0x8000, 3, {0x1B});
    memory[0x9600] = 0x0D;  // multicolour, green (5)
    render(10);
    EXPECT_EQ(codes(10, 8, 8), "11335522");  // background, border, character, auxiliary
    WRITMEM(0x900F, 0x13);                  // reverse does not touch multicolour cells
    y = 0;
    render(10);
    EXPECT_EQ(codes(10, 8, 8), "11335522");
}

TEST_F(Renderer, RowsAdvanceAfterEachCharacterHeight) {
    memory[0x1E00] = 1;
    memory[0x1E02] = 2;  // second row, first column
    glyph(0x8000, 1, {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01});
    glyph(0x8000, 2, {0xFF, 0, 0, 0, 0, 0, 0, 0xFF});
    memory[0x9600] = memory[0x9602] = 0;
    for (unsigned line = 10; line < 26; line++) render(line);
    EXPECT_EQ(codes(10, 8, 8), "01111111");
    EXPECT_EQ(codes(17, 8, 8), "11111110");
    EXPECT_EQ(codes(18, 8, 8), "00000000");
    EXPECT_EQ(codes(19, 8, 8), "11111111");
    EXPECT_EQ(codes(25, 8, 8), "00000000");
    EXPECT_EQ(x, 4);
    EXPECT_EQ(y, 0);
}

TEST_F(Renderer, DoubleHeightCharactersUseSixteenLines) {
    WRITMEM(0x9003, 0x03);  // one row of 16 lines
    memory[0x1E00] = 1;
    memory[0x9600] = 0;
    for (unsigned i = 0; i < 16; i++) memory[0x8000 + 16 + i] = uint8_t(i < 8 ? 0x80 >> i : 0x01 << (i - 8));
    memory[0x8000 + 8] = 0xFF;  // code 1 of an 8-line set: must not be used
    for (unsigned line = 10; line < 26; line++) render(line);
    EXPECT_EQ(codes(10, 8, 8), "01111111");
    EXPECT_EQ(codes(17, 8, 8), "11111110");
    EXPECT_EQ(codes(18, 8, 8), "11111110");
    EXPECT_EQ(codes(25, 8, 8), "01111111");
    EXPECT_EQ(x, 2);
    EXPECT_EQ(y, 0);
    render(26);
    EXPECT_EQ(codes(26, 8, 8), "33333333");
}

TEST_F(Renderer, CharacterFetchesFollowTheVicAddressWrap) {
    WRITMEM(0x9005, 0xFF);  // characters from $1C00, screen at $1E00 still
    memory[0x1E00] = 255;
    memory[0x9600] = 0;
    memory[0x23F8] = 0x00;
    memory[0x83F8] = 0xAA;  // $1C00 + $7F8 = $23F8 is seen at $83F8
    render(10);
    EXPECT_EQ(codes(10, 8, 8), "01010101");

    WRITMEM(0x9005, 0xF8);  // characters from $0000: code 255 at $07F8
    memory[0x07F8] = 0x0F;
    y = 0;
    render(10);
    EXPECT_EQ(codes(10, 8, 8), "11110000");

    WRITMEM(0x9003, 0x03);  // 16-line characters at $8000: code 255 ends at $8FFF
    WRITMEM(0x9005, 0xF0);
    x = 0;
    y = 15;
    memory[0x8FFF] = 0xC0;
    render(10);
    EXPECT_EQ(codes(10, 8, 8), "00111111");
}

TEST_F(Renderer, WrapTableMatchesTheTwoStepRule) {
    // Fetches through the renderer from every 4 KB block: $2000-$7FFF gain
    // $6000, and whatever then lies above $9FFF gains $6000 more.
    WRITMEM(0x9003, 0x03);  // 16-line characters so that y reaches far
    memory[0x9600] = 0;
    for (uint32_t charbase : {0x0000u, 0x8000u}) {
        WRITMEM(0x9005, charbase ? 0xF0 : 0xF8);
        for (uint32_t target = 0; target < 0x10000; target += 0x1000) {
            // code * 16 + y reaches target - charbase with code <= 255 and any y
            uint32_t offset = (target - charbase) & 0xFFFF;
            uint16_t code = uint16_t(offset / 16 > 255 ? 255 : offset / 16);
            uint16_t yy = uint16_t(offset - code * 16u);
            uint32_t a = (charbase + yy + 16u * code) & 0xFFFF;
            uint32_t expect = a;
            if (expect >= 0x2000 && expect <= 0x7FFF) expect += 0x6000;
            if (expect > 0x9FFF) expect = (expect + 0x6000) & 0xFFFF;
            if (expect == 0x1E00 || (expect >= 0x9600 && expect < 0x9700)) continue;  // screen or colour
            memory[0x1E00] = uint8_t(code);
            uint8_t saved = memory[expect];
            memory[expect] = 0x3C;
            x = 0;
            y = yy;
            render(10);
            memory[expect] = saved;
            EXPECT_EQ(codes(10, 8, 8), "11000011") << std::hex << "fetch at $" << a << " via $" << expect;
        }
    }
}

// ---- clipping ----------------------------------------------------------------------

TEST_F(Renderer, RightBorderFillsUpToCellTwoHundredFiftyNine) {
    WRITMEM(0x9000, 1);     // left border 4
    WRITMEM(0x9002, 0xA0);  // 32 columns: text ends exactly at cell 259
    std::memset(memory + 0x1E00, 0, 32);
    std::memset(memory + 0x9600, 0, 32);
    glyph(0x8000, 0, {0x01});
    render(10);
    EXPECT_EQ(codes(10, 0, 4), "3333");
    EXPECT_EQ(code_at(10, 259), 0);
    EXPECT_EQ(code_at(10, 258), 1);
}

TEST_F(Renderer, WideLinesAreClippedAtTheLastCellOnEveryLine) {
    for (uint8_t timing : {1, 0}) {
        set_video_constants(timing);
        WRITMEM(0x9000, 0x7F);  // left border 240
        WRITMEM(0x9001, 1);     // text from line 2...
        WRITMEM(0x9002, 0xFF);  // ...as many columns as allowed...
        WRITMEM(0x9003, 0x7F);  // ...and 16-line characters, cut to last_line: down to the last line
        ASSERT_GT(Frame.left_border + Frame.text_width, 260);
        ASSERT_EQ(Frame.text_height, last_line);
        std::memset(memory + 0x9600, 0x02, 0x600);  // red characters wherever the rows reach
        std::memset(memory + 0x8000, 0xFF, 0x1000);  // every glyph solid
        std::memset(memory + 0x1E00, 0, 0x200);

        const uint8_t SENTINEL = 0xEE;
        std::memset(frame_image, SENTINEL, FRAME_ALLOC_BYTES);
        x = y = 0;
        for (unsigned line = 0; line <= last_line; line++) {
            render(line);
            if (line < 2) {
                ASSERT_EQ(codes(line, 0, 260), std::string(260, '3')) << "line " << line;
            } else {
                ASSERT_EQ(codes(line, 0, 240), std::string(240, '3')) << "line " << line;
                ASSERT_EQ(codes(line, 240, 20), std::string(20, '2')) << "line " << line;
            }
            // nothing spilled into the next line, which is not drawn yet
            const uint8_t* next = frame_image + (line + 1) * FRAME_LINE_BYTES;
            ASSERT_EQ(count_bytes(next, next + FRAME_LINE_BYTES, SENTINEL), FRAME_LINE_BYTES) << "line " << line;
        }
        const uint8_t* past = frame_image + FRAME_LINES * FRAME_LINE_BYTES;
        EXPECT_EQ(count_bytes(past, frame_image + FRAME_ALLOC_BYTES, SENTINEL),
                  FRAME_ALLOC_BYTES - FRAME_LINES * FRAME_LINE_BYTES);
    }
}

// The line drawn step by step as the VIC does it (clipped at cell 259), for
// comparison with the renderer on random registers and memory.
struct ReferenceLine {
    std::vector<uint16_t> cells = std::vector<uint16_t>(FRAME_CELLS);
    uint16_t x, y;
    ReferenceLine(uint16_t rx, uint16_t ry) : x(rx), y(ry) {
        auto put = [&](unsigned k, uint32_t pixel) {
            if (k < FRAME_CELLS) cells[k] = uint16_t(pixel);
        };
        const unsigned r = raster;
        if (r < Frame.text_top || r >= unsigned(Frame.text_top) + Frame.text_height) {
            for (unsigned k = 0; k < FRAME_CELLS; k++) put(k, bordpixel);
            return;
        }
        for (unsigned k = 0; k < Frame.left_border; k++) put(k, bordpixel);
        for (unsigned c = 0; c < Frame.columns; c++) {
            uint8_t code = memory[uint16_t(vidpoint + x + c)];
            uint16_t a = uint16_t(charaddr + y + doublesize * code);
            if (a >= 0x2000 && a <= 0x7FFF) a = uint16_t(a + 0x6000);
            if (a > 0x9FFF) a = uint16_t(a + 0x6000);
            uint8_t pattern = memory[a];
            uint8_t colour = memory[uint16_t(colpoint + x + c)];
            uint32_t fg = vic_colors[colour & 7].double_pixel;
            unsigned k = Frame.left_border + 8 * c;
            if (colour & 0x08) {
                const uint32_t pair_pixel[4] = {backpix, bordpixel, fg, auxpix};
                for (unsigned i = 0; i < 8; i++) put(k + i, pair_pixel[(pattern >> (6 - (i & 6))) & 3]);
            } else {
                bool normal = memory[0x900F] & 0x08;
                for (unsigned i = 0; i < 8; i++) put(k + i, ((pattern >> (7 - i)) & 1) == normal ? fg : backpix);
            }
        }
        if (++y == doublesize) {
            x = uint16_t(x + Frame.columns);
            y = 0;
        }
        for (unsigned k = Frame.left_border + Frame.text_width; k <= 259; k++) put(k, bordpixel);
    }
};

TEST_F(Renderer, RandomRegistersAndMemoryDrawAsTheVicDoes) {
    std::mt19937 rng(20);
    auto byte = [&] { return uint8_t(rng()); };
    for (int round = 0; round < 3000; round++) {
        set_video_constants(uint8_t(round & 1));
        for (uint16_t r : {0, 1, 2, 3, 5, 14, 15}) WRITMEM(uint16_t(VIC_BASE + r), byte());
        if (round % 3 == 0) WRITMEM(0x9001, uint8_t(rng() % 8));  // most lines in the text area
        if (round % 4 == 0) memory[uint16_t(rng())] = byte();
        for (int i = 0; i < 64; i++) memory[uint16_t(vidpoint + rng() % 1024)] = byte();
        for (int i = 0; i < 64; i++) memory[uint16_t(colpoint + rng() % 1024)] = byte();
        for (int i = 0; i < 256; i++) memory[uint16_t(rng())] = byte();
        const uint16_t start_x = uint16_t(rng() % 700), start_y = uint16_t(rng() % 40);  // y may lie past doublesize
        raster = uint16_t(rng() % (last_line + 1));
        ReferenceLine want(start_x, start_y);
        x = start_x;
        y = start_y;
        render_line();
        std::vector<uint16_t> got(FRAME_CELLS);
        std::memcpy(got.data(), frame_image + raster * FRAME_LINE_BYTES, 2 * FRAME_CELLS);
        ASSERT_EQ(got, want.cells) << "round " << round;
        ASSERT_EQ(x, want.x) << "round " << round;
        ASSERT_EQ(y, want.y) << "round " << round;
    }
}

// A write in the middle of a line: the cells before the beam come out as
// the whole line with the old value, the rest as the whole line with the new.
TEST_F(Renderer, AWriteMidLineSplitsTheLineAtTheBeam) {
    std::mt19937 rng(18);
    auto byte = [&] { return uint8_t(rng()); };
    // The line's cells and then x and y, drawn from the given row position.
    auto draw = [&](uint16_t line_x, uint16_t line_y, uint16_t addr, uint8_t value) {
        x = line_x;
        y = line_y;
        WRITMEM(addr, value);
        render_line();
        std::vector<uint16_t> cells(FRAME_CELLS + 2);
        std::memcpy(cells.data(), frame_image + raster * FRAME_LINE_BYTES, 2 * FRAME_CELLS);
        cells[FRAME_CELLS] = x, cells[FRAME_CELLS + 1] = y;
        return cells;
    };
    Register.PC = 0x1000;
    for (int round = 0; round < 3000; round++) {
        set_video_constants(uint8_t(round & 1));
        for (int i = 0; i < 512; i++) memory[uint16_t(rng())] = byte();
        memory[0x1000] = STA_ABS;  // writes in its cycle 3
        const uint8_t regs[] = {0, 1, 2, 3, 5, 14, 15};
        for (uint8_t r : regs) WRITMEM(uint16_t(VIC_BASE + r), byte());
        WRITMEM(0x9001, uint8_t(rng() % 8));
        const uint16_t start_x = uint16_t(Frame.columns * (rng() % (Frame.text_height / doublesize + 1u)));
        const uint16_t start_y = uint16_t(rng() % doublesize), cycle = uint16_t(rng() % (scanline + 2));
        raster = uint16_t(10 + rng() % 100);
        // A register, a screen or colour cell of the row being drawn, or a pattern.
        uint16_t addr = uint16_t(VIC_BASE + regs[rng() % 7]);
        if (round % 4 == 1 && vidpoint + start_x + 32 < 0x2000) addr = uint16_t(vidpoint + start_x + rng() % 32);
        if (round % 4 == 2) addr = uint16_t(colpoint + start_x + rng() % 32);
        if (round % 4 == 3 && charaddr < 0x2000) addr = uint16_t(0x1000 + rng() % 0x1000);
        const uint8_t old_value = memory[addr], value = byte();
        std::vector<uint16_t> want = draw(start_x, start_y, addr, old_value);
        std::vector<uint16_t> after = draw(start_x, start_y, addr, value);
        WRITMEM(addr, old_value);
        // Cell 0 goes out in cycle 7; the cycle after the write shows the new value.
        const int split = std::clamp(4 * (cycle + 3 + 1 - 7), 0, int(FRAME_CELLS));
        std::copy(after.begin() + split, after.end(), want.begin() + split);
        if (addr == VIC_BASE + VIC_COLUMNS && start_y + 1 == doublesize && want[FRAME_CELLS + 1] == 0) {
            // The next row starts by the columns fetched: the old count's up
            // to the beam, the new count's unless the beam has passed them.
            const int cap = scanline == NTSC_SCANLINE ? 31 : 32, left = Frame.left_border;
            const int old_count = std::min(old_value & 0x7F, cap), new_count = std::min(value & 0x7F, cap);
            const int reached = split <= left ? 0 : std::min(old_count, (split - left + 7) / 8);
            want[FRAME_CELLS] = uint16_t(start_x + std::max(reached, split < left + 8 * new_count ? new_count : 0));
        }
        intdef = 1;
        line_cycles = cycle;
        std::vector<uint16_t> got = draw(start_x, start_y, addr, value);
        intdef = 2;
        ASSERT_EQ(got, want) << "round " << round << std::hex << ": $" << addr << " at cycle " << std::dec << cycle;
    }
}

TEST_F(Renderer, LinesBeyondTheImageAreNotDrawn) {
    std::memset(frame_image, 0xEE, FRAME_ALLOC_BYTES);
    render(FRAME_LINES);  // no such line in the image
    EXPECT_EQ(count_bytes(frame_image, frame_image + FRAME_ALLOC_BYTES, 0xEE), FRAME_ALLOC_BYTES);
}

}  // namespace

// ---- the test programs --------------------------------------------------------------

namespace {

// Runs to the end of the frame (or field) and returns its raster lines.
long frame_lines() {
    long total = 0;
    for (uint16_t before = 0; raster >= before;) before = raster, run_step(), total += cycles;
    return (total + 32) / long(scanline);  // the last step crosses into the next frame
}

// Writes in cycles 19 and 43 of every line switch at cells 4 x (19 + 1 - 7)
// and 4 x (43 + 1 - 7) of every line of every frame.
TEST_F(VicTest, BandsAtFixedCyclesStandStillAtTheirCells) {
    for (uint8_t timing : {0, 1}) {
        if (!start_line_timed_program("raster_bands", timing)) SKIP_OR_FAIL("raster_bands not built");
        line_cycles = 0;
        const std::string text =
            std::string(48, '5') + "6666" + std::string(96, '3') + std::string(76, '6') + std::string(36, '5');
        const std::string border = std::string(52, '5') + std::string(96, '2') + std::string(112, '5');
        for (int frame = 0; frame < 3; frame++) {
            frame_lines();
            for (unsigned r = 0; frame && r <= last_line; r++)
                ASSERT_EQ(codes(r, 0, FRAME_CELLS), r >= 20 && r < 204 ? text : border) << "frame " << frame << " line " << r;
        }
    }
}

// 6560 fields of 263 and 262 lines in turn, the one after the long field in
// the lower half of the image, drawn in pairs when frames are skipped; the
// 6561 ignores the bit.
TEST_F(VicTest, InterlaceFieldsAlternateIntoTheirHalves) {
    for (uint8_t timing : {0, 1}) {
        new_machine(timing);  // the registers as SetUp cleared them
        if (!load_test_program("interlace")) SKIP_OR_FAIL("interlace not built");
        interrupt = intdef = 2;
        frame_lines();
        std::memset(frame_image, 0, FRAME_ALLOC_BYTES);  // black: neither field's colour
        std::vector<long> lines;
        for (int field = 0; field < 6; field++) lines.push_back(frame_lines());
        const std::vector<long> want =
            timing ? std::vector<long>(6, 312) : std::vector<long>{263, 262, 263, 262, 263, 262};
        EXPECT_EQ(lines, want);
        EXPECT_EQ(frame_interlaced, !timing);
        for (unsigned r = 1; !timing && r <= 261; r++) {
            ASSERT_EQ(codes(r, 0, FRAME_CELLS), std::string(FRAME_CELLS, '7')) << "upper line " << r;
            ASSERT_EQ(codes(FRAME_LINES + r, 0, FRAME_CELLS), std::string(FRAME_CELLS, '6')) << "lower line " << r;
        }
        WRITMEM(0x9000, 5);
        frame_lines();
        EXPECT_EQ(frame_lines(), timing ? 312 : 261);
        EXPECT_EQ(frame_interlaced, 0);
    }
}

}  // namespace
