// Run control for the monitor: breakpoints, watchpoints, stepping and the
// profile of address ranges. None of it costs the machine anything while
// nothing is set: only then does the main loop run its frames through
// checked single steps (hooks.h: frame_runner).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A condition on the registers as an instruction starts: "A==$05", "X>=10".
struct Condition {
    bool active = false;
    char reg = 0;        // 'A', 'X', 'Y', 'S' (SP), 'P', 'C' (PC)
    char op[3] = {};     // ==, !=, <, >, <=, >=
    uint16_t value = 0;
};
// Parses "REG OP VALUE" (spaces allowed); false with `error` set.
bool parse_condition(const std::string& text, Condition& cond, std::string& error);
bool condition_holds(const Condition& cond);
std::string condition_text(const Condition& cond);

enum PointKind : uint8_t { POINT_EXEC = 1, POINT_READ = 2, POINT_WRITE = 4 };

struct Point {
    unsigned id;
    uint8_t kinds;
    uint16_t from, to;
    Condition cond;
    void (*on_write)(uint8_t value) = nullptr;  // instead of a stop (the test runner's exit address)
};
extern std::vector<Point> points;

unsigned add_point(uint8_t kinds, uint16_t from, uint16_t to, const Condition& cond,
                   void (*on_write)(uint8_t) = nullptr);
bool delete_point(unsigned id);  // false when there is none with that number

// What a resumed machine runs before it stops again.
enum class Plan { RUN, STEPS, OVER, OUT, UNTIL };
// Leaves the monitor: `plan` with its count or target address.
void resume(Plan plan, uint32_t count = 0, uint16_t target = 0);

// Calls `call` at the first instruction boundary at which the machine's
// clock has reached `cycle` (the test runner's cycle limit, armed for the
// last frames before it).
void call_at_cycle_limit(uint64_t cycle, void (*call)());

// Stops the machine at the next instruction boundary of the main loop and
// opens the monitor with `reason` (a key, the menu, a remote command).
void request_stop(const std::string& reason);

// Machine cycles between the last resume and the stop.
uint64_t cycles_since_resume();

// ---- profile -------------------------------------------------------------------------

// A range whose executions are timed: from entry to the return out of it,
// with the routines it calls and interrupts on the way (inclusive).
struct ProfileRange {
    uint16_t from, to;
    std::string name;
    bool inside = false;
    uint8_t entry_sp = 0;
    uint64_t current = 0;
    std::vector<uint64_t> runs;  // cycles of each execution since the last resume
};
extern std::vector<ProfileRange> profile_ranges;
// Every label as a routine up to the next label: cycles spent in each and
// how often it was entered, since the last resume.
extern bool profile_by_label;
struct RoutineCount {
    uint64_t cycles = 0, entries = 0;
};
std::vector<std::pair<std::string, RoutineCount>> routine_profile();
void clear_profile();

// Sets or clears the main loop's frame runner after any change above.
void update_frame_runner();

// The monitor itself (session.cpp): serves commands until one resumes.
void open_monitor(const std::string& reason);
