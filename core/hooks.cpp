// The devices' hooks: the kernal trap table and the frame calls.
#include "hooks.h"

#include "cpu.h"
#include "memory.h"
#include "tarvikon.h"

namespace {

// A list of calls, each in it once, run in the order they were added.
struct CallList {
    static constexpr unsigned MAX_CALLS = 8;
    FrameCall calls[MAX_CALLS];
    unsigned count = 0;

    void add(FrameCall call) {
        for (unsigned i = 0; i < count; i++)
            if (calls[i] == call) return;
        if (count < MAX_CALLS) calls[count++] = call;
    }
    void run() const {
        for (unsigned i = 0; i < count; i++) calls[i]();
    }
};
CallList frame_calls, between_frames_calls, reset_calls;

constexpr unsigned MAX_KERNAL_TRAPS = 16;
constexpr unsigned MAX_TRAP_GROUPS = 4;
constexpr unsigned KERNAL_FIRST_BLOCK = 14;

struct TrapPoint {
    KernalTrap trap;
    unsigned group;
    uint8_t original;  // the kernal's byte under TRAP_OPCODE
    bool installed;
};
TrapPoint points[MAX_KERNAL_TRAPS];
unsigned point_count = 0;
bool (*group_fits[MAX_TRAP_GROUPS])();
unsigned group_count = 0;

}  // namespace

void add_kernal_traps(bool (*fits)(), const KernalTrap* traps, unsigned count) {
    unsigned group = 0;
    while (group < group_count && group_fits[group] != fits) group++;
    if (group == group_count) {
        if (group_count == MAX_TRAP_GROUPS) return;
        group_fits[group_count++] = fits;
    }
    for (unsigned i = 0; i < count; i++) {
        unsigned p = 0;
        while (p < point_count && points[p].trap.address != traps[i].address) p++;
        if (p == point_count) {
            if (point_count == MAX_KERNAL_TRAPS) return;
            points[point_count++] = TrapPoint{traps[i], group, 0, false};
        }
        points[p].trap.handler = traps[i].handler;
        points[p].group = group;
    }
}

void install_kernal_traps() {
    // A kernal loaded since has its own byte where a trap was.
    for (unsigned p = 0; p < point_count; p++) {
        TrapPoint& t = points[p];
        if (t.installed && memory[t.trap.address] == TRAP_OPCODE) memory[t.trap.address] = t.original;
        t.installed = false;
    }
    for (unsigned block = KERNAL_FIRST_BLOCK; block < 16; block++) rombank[block] &= uint8_t(~BLOCK_TRAPPED);
    for (unsigned g = 0; g < group_count; g++) {
        if (!group_fits[g]()) continue;
        for (unsigned p = 0; p < point_count; p++) {
            TrapPoint& t = points[p];
            if (t.group != g || t.trap.address >> 12 < KERNAL_FIRST_BLOCK) continue;
            t.original = memory[t.trap.address];
            memory[t.trap.address] = TRAP_OPCODE;
            t.installed = true;
            rombank[t.trap.address >> 12] |= BLOCK_TRAPPED;
        }
    }
}

bool run_kernal_trap() {
    const uint16_t pc = Register.PC;
    for (unsigned p = 0; p < point_count; p++) {
        const TrapPoint& t = points[p];
        if (!t.installed || t.trap.address != pc) continue;
        if (!t.trap.handler()) execute_opcode(t.original);
        return true;
    }
    return false;
}

uint8_t kernal_byte(uint16_t addr) {
    for (unsigned p = 0; p < point_count; p++)
        if (points[p].installed && points[p].trap.address == addr) return points[p].original;
    return memory[addr];
}

void add_frame_call(FrameCall call) { frame_calls.add(call); }
void run_frame_calls() { frame_calls.run(); }

FrameCall input_reached_call = nullptr;

void add_reset_call(FrameCall call) { reset_calls.add(call); }
void run_reset_calls() { reset_calls.run(); }

void add_between_frames_call(FrameCall call) { between_frames_calls.add(call); }
void run_between_frames_calls() { between_frames_calls.run(); }

// ---- the machine's clock ---------------------------------------------------------

uint64_t line_start_cycle = 0;
uint32_t step_limit = 0;
bool cycle_call_armed = false;

namespace {

void (*cycle_call)() = nullptr;
uint64_t cycle_due = 0;

void set_step_limit() {
    step_limit = scanline;
    if (!cycle_call_armed) return;
    uint64_t now = machine_cycle();
    if (cycle_due <= now) step_limit = 0;
    else if (cycle_due - line_start_cycle < scanline) step_limit = uint32_t(cycle_due - line_start_cycle);
}

}  // namespace

void call_at_cycle(uint64_t cycle, void (*call)()) {
    cycle_call = call;
    cycle_due = cycle;
    cycle_call_armed = true;
    set_step_limit();
}

void cancel_cycle_call() {
    cycle_call_armed = false;
    cycle_call = nullptr;
    set_step_limit();
}

void run_due_cycle_call() {
    while (cycle_call_armed && cycle_due <= machine_cycle()) {
        cycle_call_armed = false;
        cycle_call();
    }
    set_step_limit();
}

void (*frame_runner)() = nullptr;
