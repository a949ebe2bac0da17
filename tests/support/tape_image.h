// Tape images built by the tests: pulses in the kernal's own format, as
// its SAVE writes them, and .t64 containers.
#pragma once

#include <cstdint>
#include <vector>

#include "devices/tap.h"

// Each file as a header and a data block, each block with its repeat, in a .tap.
std::vector<uint8_t> kernal_tap(const std::vector<TapeFile>& files);

// A .t64 holding the files in this order.
std::vector<uint8_t> t64_of(const std::vector<TapeFile>& files);
