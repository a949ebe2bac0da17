// Whole-program conformance: Klaus Dormann's functional test and Bruce
// Clark's exhaustive decimal-mode test, run headless until their traps.
#include <string>

#include "cpu_test.h"

namespace {

bool load_file(const std::string& path, uint16_t at, size_t expected_min) {
    std::string bytes = read_file(path);
    if (bytes.size() < expected_min || at + bytes.size() > MEMORY_SIZE) return false;
    std::memcpy(memory + at, bytes.data(), bytes.size());
    return true;
}

TEST(CpuConformance, FunctionalTestReachesSuccessTrap) {
    std::string path = shared_path("testdata/cpu/6502_functional_test.bin");
    if (access(path.c_str(), R_OK) != 0) SKIP_OR_FAIL("functional test image not found at " + path);
    cpu_machine(0x0400);
    ASSERT_TRUE(load_file(path, 0, MEMORY_SIZE));
    TrapRun r = run_to_trap(100'000'000);
    // Any other trap is a failed check; 6502_functional_test.lst names it.
    ASSERT_EQ(r.trap, 0x3469) << std::hex << "trapped at $" << r.trap;
    EXPECT_EQ(r.instructions, 30646177u);
    // The branch rule judges the page from the offset byte: three taken
    // branches at $xxFE charge one cycle less than on the chip.
    EXPECT_EQ(r.cycles, 96241364u);
}

class DecimalTest : public testing::TestWithParam<const char*> {};

TEST_P(DecimalTest, EveryOperandPairAndCarry) {
    std::string path = std::string(TARVIKON_BINARY_DIR) + "/tests/asm/decimal_test_" + GetParam() + ".bin";
    if (access(path.c_str(), R_OK) != 0) SKIP_OR_FAIL(path + " not built (ca65/ld65 missing?)");
    cpu_machine(0x0200);
    ASSERT_TRUE(load_file(path, 0x0200, 16));
    TrapRun r = run_to_trap(200'000'000);
    ASSERT_NE(r.trap, -1) << "no end trap reached";
    EXPECT_EQ(memory[r.trap], 0x4C) << "stopped somewhere other than its jmp *";
    constexpr uint16_t ERROR = 0x0B, N1 = 0x00, N2 = 0x01;
    EXPECT_EQ(memory[ERROR], 0) << std::hex << "first mismatch: N1 = $" << int(memory[N1]) << ", N2 = $"
                                << int(memory[N2]) << ", carry in " << int(Register.Y);
}

// "ac" checks A and C, "all" adds N, V and Z of the NMOS chip.
INSTANTIATE_TEST_SUITE_P(Cpu, DecimalTest, testing::Values("ac", "all"));

}  // namespace
