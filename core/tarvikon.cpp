// Machine state, machine start, the main loop, reset and shut-down.
#include "tarvikon.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "cpu.h"
#include "hooks.h"
#include "host.h"
#include "memory.h"
#include "pacing.h"
#include "rewind.h"
#include "via.h"
#include "vic.h"

CpuRegisters Register;
StepCatchUp step_catch_up;
uint8_t Flags[8];

int32_t cycles = 0;
uint16_t line_cycles = 0;
uint8_t frame_ready = 1;
uint32_t frame_count = 0;

uint32_t scanline = 0;
uint32_t last_line = 0;
uint32_t screen_width = PAL_SCREEN_WIDTH;

uint16_t raster = 0;
uint16_t x = 0, y = 0;
uint8_t intdef = 0;
uint32_t interrupt = 2;
uint16_t delay_loop = 0;
volatile uint16_t delay_counter = 0;

uint8_t vid_time = 0;
uint8_t vid_new = 0;
uint8_t overscan = 28;
uint8_t overscan_set = 28;
uint8_t config = 0;
uint8_t scale = 0;
uint8_t scale_set = 0;
uint8_t soundon = 1;
uint8_t tvsound = 0;
uint8_t verbose = 0;
int joystick_fd = -1;
uint8_t DUMP = 0;
uint8_t no_display = 0;

namespace {

struct VideoStandard {
    uint32_t scanline, last_line, screen_width, view_left;
};
constexpr VideoStandard STANDARDS[2] = {
    {NTSC_SCANLINE, NTSC_LAST_LINE, NTSC_SCREEN_WIDTH, NTSC_VIEW_LEFT},
    {PAL_SCANLINE, PAL_LAST_LINE, PAL_SCREEN_WIDTH, PAL_VIEW_LEFT},
};

void set_timing(const VideoStandard& s) {
    scanline = s.scanline;
    last_line = s.last_line;
    screen_width = s.screen_width;
    Frame.view_left = s.view_left;
    step_limit = scanline;  // the next line end sets it again for a cycle call
}

void say(const char* text) {
    if (verbose) fputs(text, stdout);
}

uint16_t reset_vector() { return uint16_t(memory[RESET_VECTOR] | memory[RESET_VECTOR + 1] << 8); }

void init_registers() {
    Register = CpuRegisters{reset_vector(), 0, 0, 0, 0};
    std::memset(Flags, 0, sizeof Flags);
    Flags[FLAG_5] = 1;
    Flags[FLAG_B] = 1;
}

// Every VIC register written once through WRITMEM so that its decoding (and
// the sound forwarding of the voice registers) runs.
void clear_vic_registers() {
    for (uint16_t addr = VIC_BASE; addr <= VIC_BASE + 0xF; addr++) WRITMEM(addr, 0);
}

void push_interrupt(uint16_t entry) {
    push_byte(uint8_t(Register.PC >> 8));
    push_byte(uint8_t(Register.PC));
    push_byte(compose_p());
    Register.PC = entry;
}

// The lines as the instruction's interrupt poll found them (see
// poll_lines); `i_set`: the I flag it polled with.
bool deliver_interrupts(bool i_set) {
    if (nmi_low && !nmi_alt) {
        push_interrupt(NMI_ENTRY);  // B as it stands; I unchanged
        return true;
    }
    if (irq_low && !i_set) {
        Flags[FLAG_B] = 0;
        push_interrupt(IRQ_ENTRY);
        Flags[FLAG_I] = 1;
        return true;
    }
    return false;
}

void switch_video_standard() {
    say("Loading new kernel...");
    const VideoStandard& s = STANDARDS[vid_new ? 1 : 0];
    set_timing(s);
    forward_sound(SND_STANDARD, uint8_t(s.scanline));
    say(vid_new ? "PAL timing...kernel.pal..." : "NTSC timing...kernel.ntsc...");
    if (readrom(vid_new ? "roms/kernel.pal" : "roms/kernel.ntsc", 0xE000, 8192) == -1)
        fputs("Using the old kernel, please get both kernel images for proper emulation...", stdout);
    say("OK\n");
    patch_rom_version();
    vid_time = vid_new;
}

}  // namespace

void set_video_constants(uint8_t timing) {
    if (timing <= 1) set_timing(STANDARDS[timing]);
}

void machine_start() {
    wire_vias();
    wire_vic();
    install_io_handlers();
    say("Initialising registers...");
    init_registers();
    clear_vic_registers();
    init_via_timers();
    memory[VIA1_BASE + VIA_ORA] = uint8_t(joystick2);
    memory[VIA1_BASE + VIA_ORA_NH] = uint8_t(joystick2);
    memory[VIA2_BASE + VIA_ORB] = uint8_t(joystick);
    say("OK\n");
}

namespace {

// In a frame that is not drawn, with no cycle call waiting, the end of a
// line does nothing but count on to the next, unless it ends the frame.
bool lines_only_count() { return intdef != 1 && !frame_ready && !cycle_call_armed; }

// Such line ends that the beam has passed in a turn (see turn_budget).
void count_passed_lines() {
    while (line_cycles >= scanline && raster < last_line + field_extra && lines_only_count()) {
        raster++;
        line_start_cycle += scanline;
        line_cycles = uint16_t(line_cycles - scanline);
    }
}

// The beam is brought to the start of the instruction that reached a
// chip, the timers to that access's cycle.
int32_t& step_caught_up = step_catch_up.beam;
int32_t& timers_caught_up = step_catch_up.timers;
bool& lines_polled = step_catch_up.polled;

void count_timers_to(int32_t cycles_run) {
    if (cycles_run <= timers_caught_up) return;
    catch_up_via_timers(cycles_run - timers_caught_up);
    timers_caught_up = cycles_run;
}

// The processor's interrupt poll: the lines as they stand in the poll's
// cycle, and the timers counted on to `cycles_run` (the end of the step,
// or a part of it). NMI is taken on a rising request of the first VIA
// since the last poll, IRQ while the second VIA's request stands and I was
// clear.
void poll_lines(int32_t poll_cycle, int32_t cycles_run, bool whole_step) {
    poll_cycle = std::max(poll_cycle, timers_caught_up);
    cycles_run = std::max(cycles_run, poll_cycle);
    count_via_timers_with_poll(poll_cycle - timers_caught_up, cycles_run - poll_cycle, whole_step);
    timers_caught_up = cycles_run;
    lines_polled = true;
}

// What the loop does after the instructions of a turn: the timers up to the
// last instruction's interrupt poll, the poll, the rest of the timers, the
// interrupt entry, the raster.
void finish_turn() {
    if (delay_loop) {  // a volatile counter, so the compiler keeps the busy-wait
        delay_counter = 0;
        while (delay_counter < delay_loop) delay_counter = uint16_t(delay_counter + 1);
    }

    const InterruptPoll poll = last_interrupt_poll;
    if (!lines_polled) poll_lines(cycles - poll.lead, cycles, true);
    else count_via_timers(cycles - timers_caught_up);
    int32_t elapsed = cycles - step_caught_up;
    start_catch_up();
    if (deliver_interrupts(poll.i_set)) {
        catch_up_via_timers(INTERRUPT_CYCLES);
        elapsed += INTERRUPT_CYCLES;
        last_step_cycles += INTERRUPT_CYCLES;
    }
    // What a loop of single steps leaves, so that a halt opcode, which
    // counts `cycles` again, counts the step before it and not the turn.
    cycles = last_step_cycles;

    line_cycles = uint16_t(line_cycles + elapsed);
    count_passed_lines();
    if (line_cycles < step_limit) return;
    if (cycle_call_armed) run_due_cycle_call();
    if (line_cycles < scanline) return;

    if (intdef == 1) render_line();
    raster++;
    if (raster > last_line + field_extra) {
        raster = 0;
        next_field();
        frame_count++;
        if (intdef == 1) frame_ready = 1;
        intdef--;
        poll_event();
        run_frame_calls();
    }
    // A reset in the poll above may have lengthened the line (NTSC to PAL):
    // the carry then stops at 0 instead of wrapping to a huge count.
    const uint16_t carry = line_cycles >= scanline ? uint16_t(line_cycles - scanline) : 0;
    line_start_cycle += uint16_t(line_cycles - carry);
    line_cycles = carry;
    if (cycle_call_armed) run_due_cycle_call();
    else step_limit = scanline;
    if (frame_ready) {
        put_frame();
        poll_event();
        if (joystick_fd != -1) poll_joystick_device();
        frame_ready = 0;
        y = 0;
        x = 0;
        // Interlaced fields are drawn in pairs, the lower one right after the
        // upper one, one pair in `interrupt`, so that both halves of the
        // picture stay current.
        intdef = uint8_t(!frame_interlaced ? interrupt : field_odd ? 1 : 2 * interrupt - 1);
    }
    if (raster == 0 && input_reached_call) input_reached_call();
}

// The cycles a turn may take: up to the end of the line or a device's
// cycle call, and up to the instruction whose interrupt poll can see a
// timer's flag rise. While line ends only count, the turn may run on to the
// end of the frame's last line. One instruction while an interrupt is due
// (it is taken after the next instruction) and while the delay after every
// instruction is set; a request that waits for I to clear ends the turn at
// CLI, PLP or RTI.
int32_t turn_budget() {
    run_ends_when_i_clears = Flags[FLAG_I] && requests_interrupt(Via2);
    if (delay_loop || interrupt_due(Flags[FLAG_I])) return 1;
    uint32_t to_limit = step_limit > line_cycles ? step_limit - line_cycles : 1;
    const uint32_t frame_lines = last_line + field_extra;
    if (lines_only_count() && raster < frame_lines) to_limit += (frame_lines - raster) * scanline;
    return int32_t(std::min(to_limit, cycles_before_timer_event()));
}

}  // namespace

void catch_up_beam(int32_t start) {
    if (start <= step_caught_up) return;
    line_cycles = uint16_t(line_cycles + (start - step_caught_up));
    step_caught_up = start;
    count_passed_lines();
}

void catch_up_step(int32_t start, int32_t poll, int32_t access) {
    catch_up_beam(start);
    // The poll comes before an access in the same or a later cycle: an
    // access changes the lines from the cycle after its own.
    if (access >= poll && !lines_polled) poll_lines(poll, access, false);
    else count_timers_to(access);
}

void run_step() {
    execute_instruction();
    finish_turn();
}

// Nothing the loop sees between two instructions changes within a turn's
// budget, except through a VIA, and the processor ends its run after an
// instruction that reaches one; until then catch_up_step() and
// catch_up_beam() keep the timers and the beam where each instruction
// expects them.
bool run_turn() {
    const uint16_t raster_before = raster;
    const uint32_t frames_before = frame_count;
    run_instructions(turn_budget());
    finish_turn();
    return raster < raster_before || frame_count != frames_before;
}

void run_frame() {
    while (!run_turn()) {
    }
}

void change_video_standard(uint8_t standard) {
    vid_new = standard;
    if (vid_new != vid_time) switch_video_standard();
    resize_main_window(scanline, overscan);
}

void main_loop() {
    for (;;) {
        if (frame_runner) frame_runner();
        else run_frame();
        run_between_frames_calls();
        pace_frame();
    }
}

void reset_tarvikon() {
    say("Reseting VIC 20..\n");
    say("Initializing Registers...\n");
    init_registers();
    std::memset(memory + 0x9000, 0, 0x1000);
    init_via_timers();
    raster = 0;
    y = 0;
    x = 0;
    clear_vic_registers();
    next_field();
    reset_vias();
    for (unsigned block = 0; block < 8; block++)
        if (rombank[block] != BLOCK_ROM) std::memset(memory + block * 0x1000, 0xFF, 0x1000);
    memdef = uint8_t(memexp);
    if (config) {
        say("Inserting memory expansion cartridge...\n");
        apply_expansion_layout(memexp);
        rewind_clear();  // its states leave out blocks with nothing fitted
        if (vid_new != vid_time) switch_video_standard();
    }
    resize_main_window(scanline, overscan_set);
    overscan = overscan_set;
    config = 0;
    run_reset_calls();
}

void shut_down_tarvikon() {
    if (DUMP == 1) dump();
    close_X_client();
    if (joystick_fd != -1) {
        say("Closing joystick device...");
        close(joystick_fd);
        joystick_fd = -1;
        say("OK\n");
    }
    if (soundon) stop_sound_process();
    say("Deallocating VIC 20 RAM...");
    free(memory);
    memory = nullptr;
    say("OK\n");
    fputs("Exiting...\n", stdout);
    fflush(stdout);
}
