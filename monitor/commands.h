// The monitor's commands: one line in, its answer out. The machine does not
// move while they run; the commands that leave the monitor say so.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Runs one command line and appends its answer to `out` (lines ending in
// '\n'). True when the command resumes the machine (g, x, step, next,
// finish, until).
bool run_command(const std::string& line, std::string& out);

// What the monitor shows when it opens: the reason, the cycles run since
// it was last left, and the instruction at PC.
std::string stop_header(const std::string& reason);

// An address or value: hexadecimal with or without $, +decimal, or a label
// (.name forces a label).
std::optional<uint16_t> parse_value(const std::string& text);

// The chips' registers decoded ("io"): "via1", "via2", "vic" or all.
std::string describe_chips(const std::string& which);
