// The kernal's own tape format read from pulses, so that a standard tape
// file loads at once instead of in real time.
//
// A block is a leader of short pulses, then bytes: each a marker (long,
// medium), eight bits low first and an odd parity bit, a bit being short,
// medium for 0 and medium, short for 1. The first nine bytes count down
// from $89 ($09 in the block's repeat), the last is the XOR of the data, and
// a long, short pair ends the block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tap.h"

// The data of the next block from `pos` on and `pos` moved past it and its
// repeat; false (pos unchanged) when what follows is no kernal block that
// reads back whole with a good checksum.
bool kernal_tape_block(const TapImage& image, size_t& pos, std::vector<uint8_t>& data);
