// Machine state, the main loop and the whole-machine operations.
//
// Everything here is global: the processor registers, the step counters of
// the main loop, the raster position and the settings that the loop, the
// reset and the dialogs share. The program calls machine_start() and then
// main_loop(), which never returns; tests and benchmarks call run_step(),
// run_turn() and run_frame() instead.
#pragma once

#include <cstdint>

// ---- processor state -------------------------------------------------------

struct CpuRegisters {
    uint16_t PC;
    uint8_t A, X, Y, SP;
};
extern CpuRegisters Register;

// One byte per status bit, each 0 or 1, indexed by the bit's position in P.
enum FlagIndex { FLAG_C = 0, FLAG_Z = 1, FLAG_I = 2, FLAG_D = 3, FLAG_B = 4, FLAG_5 = 5, FLAG_V = 6, FLAG_N = 7 };
extern uint8_t Flags[8];

// Fixed interrupt entries inside the kernal image; the vectors are not read.
constexpr uint16_t NMI_ENTRY = 0xFEA9;
constexpr uint16_t IRQ_ENTRY = 0xFF72;
constexpr uint16_t RESET_VECTOR = 0xFFFC;
constexpr int INTERRUPT_CYCLES = 7;

// ---- step counters ---------------------------------------------------------

extern int32_t cycles;        // cycles of the current step or turn
extern uint16_t line_cycles;  // cycles accumulated towards the end of the raster line
extern uint8_t frame_ready;   // a drawn frame is complete and waits for put_frame
extern uint32_t frame_count;  // frames ended (raster wrapped to line 0), counting on

// ---- video timing ----------------------------------------------------------

extern uint32_t scanline;      // cycles per raster line: 65 NTSC, 71 PAL
extern uint32_t last_line;     // last raster line: 260 NTSC, 311 PAL
extern uint32_t screen_width;  // visible width in VIC pixels: 201 NTSC, 229 PAL

constexpr uint32_t NTSC_SCANLINE = 65, PAL_SCANLINE = 71;
constexpr uint32_t NTSC_LAST_LINE = 260, PAL_LAST_LINE = 311;
constexpr uint32_t NTSC_SCREEN_WIDTH = 201, PAL_SCREEN_WIDTH = 229;
constexpr uint32_t NTSC_VIEW_LEFT = 7, PAL_VIEW_LEFT = 20;

// ---- frame and raster state ------------------------------------------------

extern uint16_t raster;      // current raster line
extern uint16_t x, y;        // renderer position in the character matrix
extern uint8_t intdef;       // frame-skip countdown; lines are drawn while it is 1
extern uint32_t interrupt;   // one frame in `interrupt` (1..6) is drawn
extern uint16_t delay_loop;  // busy-wait count after every instruction (0..500)
extern volatile uint16_t delay_counter;  // the busy-wait's counter, volatile so it stays

// ---- settings ---------------------------------------------------------------

extern uint8_t vid_time;      // standard in effect: 0 NTSC, 1 PAL
extern uint8_t vid_new;       // standard chosen in the video dialog
extern uint8_t overscan;      // first raster line shown: 9 or 28
extern uint8_t overscan_set;  // overscan chosen in the video dialog
extern uint8_t config;        // settings differ from tarvikon.rc; next reset applies them
extern uint8_t scale;         // the window's size factor less one: 0 normal, 1 doubled, up to 7
extern uint8_t scale_set;     // 1: the command line chose the scale
extern uint8_t soundon;       // the sound process runs
extern uint8_t tvsound;       // the sound process uses its TV sound mode
extern uint8_t verbose;       // progress messages on
extern int joystick_fd;       // open joystick device, -1 when none
extern uint8_t DUMP;          // write dump.txt at shut-down

// Sets scanline, last_line, screen_width and Frame.view_left for a video
// timing; any value other than 0 and 1 sets nothing.
void set_video_constants(uint8_t timing);

// ---- whole-machine operations -----------------------------------------------

// Last phase of start-up: wires the chip views, puts the processor at the
// reset vector and initialises the chips. main_loop() follows.
void machine_start();

// One instruction and what the main loop does after it: delay, timers
// with the instruction's interrupt poll, interrupt entry, raster.
void run_step();

// One turn of the main loop: as many instructions as run before the loop
// could see anything change between two of them, then the same as a step.
// The program runs in turns; a turn of one instruction is a step. Returns
// true when the frame ended in the turn: the raster position fell back
// (normally from the last line to 0; a reset inside the frame also ends
// it), or a turn through a whole undrawn frame brought it round again.
bool run_turn();

// The processor's calls around a run. start_catch_up() begins a run;
// catch_up_step() comes before a chip register sees an access in the middle
// of it, with three points counted in cycles into the run: the start of the
// instruction, the cycle of its interrupt poll and the cycle of the access.
// The beam is brought to the start of the instruction, the timers to the
// access's cycle, and the interrupt lines are polled on the way when the
// poll comes first.
struct StepCatchUp {
    int32_t beam, timers;  // cycles into the run the beam and the timers have been brought
    bool polled;           // the run's last instruction has polled the interrupt lines
};
extern StepCatchUp step_catch_up;
inline void start_catch_up() { step_catch_up = {0, 0, false}; }
void catch_up_step(int32_t start, int32_t poll, int32_t access);
// The beam alone, for an access that reaches no VIA.
void catch_up_beam(int32_t start);

// Runs turns until the raster position wraps to line 0 (one emulated frame).
void run_frame();

// Frames one after another, each followed by pace_frame() (pacing.h).
[[noreturn]] void main_loop();

void reset_tarvikon();

// Switches to a video standard (0 NTSC, 1 PAL) at once, with its kernal,
// as a reset after the video dialog would, but without the reset.
void change_video_standard(uint8_t standard);
void shut_down_tarvikon();

// Status byte P as the interrupt entries push it: every entry as it stands.
inline uint8_t compose_p() {
    return uint8_t(Flags[0] | Flags[1] << 1 | Flags[2] << 2 | Flags[3] << 3 | Flags[4] << 4 | Flags[5] << 5 |
                   Flags[6] << 6 | Flags[7] << 7);
}
