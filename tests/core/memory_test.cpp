// The address map: open bus, write protection, colour RAM, expansion layouts.
#include "core/memory.h"
#include "support.h"

namespace {

class MemoryMap : public testing::Test {
protected:
    void SetUp() override {
        new_machine();
        apply_expansion_layout(EXP_NONE);
    }
};

TEST_F(MemoryMap, UnexpandedBlocksReadOpenBusAndDropWrites) {
    EXPECT_EQ(READMEM(0x2000), 0x20);
    EXPECT_EQ(READMEM(0x7FFF), 0x7F);
    EXPECT_EQ(READMEM(0x4123), 0x41);
    memory[0x3000] = 0x55;
    WRITMEM(0x3000, 0x12);
    EXPECT_EQ(memory[0x3000], 0x55);
}

TEST_F(MemoryMap, ThreeKilobyteAreaNeedsItsExpansion) {
    WRITMEM(0x0400, 0x12);
    EXPECT_EQ(memory[0x0400], 0xFF);
    EXPECT_EQ(READMEM(0x0400), 0xFF);  // the fill, not open bus
    WRITMEM(0x03FF, 0x34);
    EXPECT_EQ(memory[0x03FF], 0x34);
    apply_expansion_layout(EXP_3K);
    WRITMEM(0x0400, 0x12);
    EXPECT_EQ(READMEM(0x0400), 0x12);
}

TEST_F(MemoryMap, SixteenKilobytesThenBackToEight) {
    apply_expansion_layout(EXP_16K);
    WRITMEM(0x4000, 0x99);
    EXPECT_EQ(READMEM(0x4000), 0x99);
    WRITMEM(0x5FFF, 0x98);
    EXPECT_EQ(READMEM(0x5FFF), 0x98);
    EXPECT_EQ(READMEM(0x6000), 0x60);
    apply_expansion_layout(EXP_8K);
    EXPECT_EQ(READMEM(0x4000), 0x40);
    EXPECT_EQ(rombank[2], BLOCK_RAM);
}

TEST_F(MemoryMap, CartridgeRomReadsProtectsAndIsRemoved) {
    rombank[10] = rombank[11] = BLOCK_ROM;
    memory[0xA000] = 0x42;
    EXPECT_EQ(READMEM(0xA000), 0x42);
    WRITMEM(0xA000, 0x00);
    EXPECT_EQ(memory[0xA000], 0x42);
    remove_rom_memory();
    EXPECT_EQ(rombank[10], BLOCK_NONE);
    EXPECT_EQ(memory[0xA000], 0xFF);
    EXPECT_EQ(READMEM(0xA000), 0xA0);
    EXPECT_EQ(READMEM(0xBFFF), 0xBF);
}

TEST_F(MemoryMap, RomInBlocksFourAndFiveReadsAsMissing) {
    rombank[4] = BLOCK_ROM;
    rombank[6] = BLOCK_ROM;
    memory[0x4000] = 0x11;
    memory[0x6000] = 0x22;
    EXPECT_EQ(READMEM(0x4000), 0x40);
    EXPECT_EQ(READMEM(0x6000), 0x22);
}

TEST_F(MemoryMap, LayoutKeepsCartridgesExceptInBlocksFourAndFive) {
    rombank[2] = rombank[4] = rombank[6] = BLOCK_ROM;
    apply_expansion_layout(EXP_24K);
    EXPECT_EQ(rombank[2], BLOCK_ROM);
    EXPECT_EQ(rombank[3], BLOCK_RAM);
    EXPECT_EQ(rombank[4], BLOCK_RAM);
    EXPECT_EQ(rombank[6], BLOCK_ROM);
    EXPECT_EQ(rombank[7], BLOCK_RAM);
    EXPECT_EQ(rombank[0], BLOCK_NONE);
    apply_expansion_layout(EXP_NONE);
    EXPECT_EQ(rombank[2], BLOCK_ROM);
    EXPECT_EQ(rombank[3], BLOCK_NONE);
    EXPECT_EQ(rombank[5], BLOCK_NONE);
    apply_expansion_layout(7);  // no such expansion: nothing changes
    EXPECT_EQ(rombank[3], BLOCK_NONE);
}

TEST_F(MemoryMap, ColourRamKeepsFourBits) {
    WRITMEM(0x9400, 0x05);
    EXPECT_EQ(READMEM(0x9400), 0xF5);
    EXPECT_EQ(memory[0x9400], 0x05);
}

TEST_F(MemoryMap, SystemRomsRefuseWrites) {
    memory[0xC000] = 0xAB;
    memory[0xE000] = 0xCD;
    memory[0x8000] = 0xEF;
    WRITMEM(0xC000, 0);
    WRITMEM(0xE000, 0);
    WRITMEM(0x8000, 0);
    EXPECT_EQ(memory[0xC000], 0xAB);
    EXPECT_EQ(memory[0xE000], 0xCD);
    EXPECT_EQ(memory[0x8000], 0xEF);
}

}  // namespace
