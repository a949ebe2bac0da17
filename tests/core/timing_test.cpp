// Timers, interrupts and the VIC's row step to the cycle, measured by
// assembled programs as a program on the machine measures them, against
// values worked out from the hardware rules (in the programs' comments).
#include <cstring>
#include <string>
#include <vector>

#include "core/host.h"
#include "core/memory.h"
#include "core/tarvikon.h"
#include "core/vic.h"
#include "support.h"

namespace {

// The programs' header after their first JMP: handler, expected table, cases.
constexpr uint16_t EXPECTED = 0x0205, CASES = 0x0207;
constexpr uint16_t RESULTS = 0x20;

bool load_with_handler(const std::string& name) {
    if (!load_test_program_with_handler(name)) return false;
    std::memset(memory + RESULTS, 0x55, memory[CASES]);
    return true;
}

// Runs the program up to its BRK and compares its results with its table.
void expect_table(const std::string& name) {
    for (int i = 0; i < 100000 && memory[Register.PC]; i++) run_step();
    EXPECT_EQ(memory[Register.PC], 0) << name << " did not end";
    const uint16_t expected = memory_word(EXPECTED);
    for (unsigned k = 0; k < memory[CASES]; k++)
        EXPECT_EQ(memory[RESULTS + k], memory[expected + k]) << name << " case " << k;
}

int code_at(unsigned line, unsigned cell) {
    uint16_t value;
    std::memcpy(&value, frame_image + line * FRAME_LINE_BYTES + 2 * cell, 2);
    return value & 0xFF;
}

TEST(Timing, InterruptsComeAfterTheInstructionThatPollsTheTimersFlag) {
    new_machine(1);
    if (!load_with_handler("irq_latency")) SKIP_OR_FAIL("irq_latency not built");
    expect_table("irq_latency");
}

TEST(Timing, CounterReadsShowTheCountOfTheReadCycle) {
    new_machine(1);
    if (!load_with_handler("timer_reads")) SKIP_OR_FAIL("timer_reads not built");
    expect_table("timer_reads");
}

// Row r starts r x N1 cells into the matrix, whose cell i has colour i AND 7:
// its first and last columns show (r x N1) AND 7 and (r x N1 + N1 - 1) AND 7.
TEST(Timing, TheNextRowStartsByTheColumnsFetchedNotByTheCountAtTheLineEnd) {
    for (uint8_t timing : {0, 1}) {
        if (!start_line_timed_program("row_step", timing)) SKIP_OR_FAIL("row_step not built");
        line_cycles = 0;
        for (const auto& [n1, n2] : {std::pair{13, 16}, {16, 13}, {11, 5}}) {
            memory[0x10] = uint8_t(n1);
            memory[0x11] = uint8_t(n2);
            run_frame();
            run_frame();
            for (unsigned r = 0; r < 4; r++) {
                const unsigned line = 20 + 8 * r;
                EXPECT_EQ(code_at(line, 48), int(r * n1) & 7) << n1 << "/" << n2 << " row " << r;
                EXPECT_EQ(code_at(line + 7, 48 + 8 * (n1 - 1) + 7), int(r * n1 + n1 - 1) & 7) << n1 << "/" << n2 << " row " << r;
            }
        }
    }
}

TEST(Timing, ARasterEngineFindsItsInterruptOnTimeInEveryFrame) {
    for (uint8_t timing : {0, 1}) {
        SCOPED_TRACE(timing ? "PAL" : "NTSC");
        new_machine(timing);
        if (!load_with_handler(timing ? "raster_engine_71" : "raster_engine_65")) SKIP_OR_FAIL("raster_engine not built");
        interrupt = intdef = 1;
        for (int f = 0; f < 3; f++) run_frame();  // the sync and the first interrupt
        const std::vector<uint8_t> first(frame_image, frame_image + FRAME_ALLOC_BYTES);
        unsigned band_lines = 0;
        for (unsigned line = 0; line <= last_line; line++) band_lines += code_at(line, 100) == 2;
        EXPECT_EQ(band_lines, 2u) << "the bands' first colour on two lines (the 1st and 7th)";
        const uint16_t drawn = memory_word(0x10);
        for (int f = 0; f < 300; f++) {
            run_frame();
            ASSERT_TRUE(std::memcmp(frame_image, first.data(), first.size()) == 0) << "the bands moved in frame " << f;
        }
        EXPECT_EQ(memory_word(0x10), drawn + 300);
        EXPECT_EQ(memory_word(0x12), 0) << "frames rejected";
    }
}

}  // namespace
