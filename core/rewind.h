// Rewind: the last minute of the machine as a ring of states, one every few
// frames, each older one kept only as its difference from the next, so that
// a minute costs little memory. Holding the rewind key walks back through
// them, each state shown for two frames (five times real speed backwards);
// letting go runs on from the state reached.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr unsigned REWIND_INTERVAL = 10;        // frames from one state to the next
constexpr unsigned REWIND_SECONDS = 60;
constexpr size_t REWIND_BYTE_LIMIT = 64u << 20;  // the oldest states go first beyond this

extern bool rewind_on;    // Options > Rewind buffer; off empties the ring
extern bool rewind_held;  // the rewind key is down

// The call between frames: a state every REWIND_INTERVAL frames, or, while
// the key is held, one step back every other frame and the state reached
// again in between.
void rewind_between_frames();

void rewind_capture();     // takes a state now
bool rewind_step_back();   // restores the newest state and drops it; false when there is none
void rewind_clear();
size_t rewind_states();    // states held
size_t rewind_bytes();     // memory they take

// The difference that turns `from` into `to`, and its use.
std::vector<uint8_t> state_difference(const std::vector<uint8_t>& from, const std::vector<uint8_t>& to);
std::vector<uint8_t> apply_difference(const std::vector<uint8_t>& from, const std::vector<uint8_t>& difference);
