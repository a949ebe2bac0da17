// The two 6522 VIAs: the first ($9110) drives NMI and reads the joystick,
// the second ($9120) drives IRQ and scans the keyboard matrix.
//
// The registers are bytes of `memory`; a Via record points at them (wired by
// wire_vias()) and keeps the few values that are not registers.
#pragma once

#include <cstdint>

// Register offsets from the chip's base address.
enum ViaRegister : uint8_t {
    VIA_ORB = 0x0, VIA_ORA = 0x1, VIA_DDRB = 0x2, VIA_DDRA = 0x3,
    VIA_T1CL = 0x4, VIA_T1CH = 0x5, VIA_T1LL = 0x6, VIA_T1LH = 0x7,
    VIA_T2CL = 0x8, VIA_T2CH = 0x9, VIA_SR = 0xA, VIA_ACR = 0xB,
    VIA_PCR = 0xC, VIA_IFR = 0xD, VIA_IER = 0xE, VIA_ORA_NH = 0xF,
};

constexpr uint16_t VIA1_BASE = 0x9110, VIA2_BASE = 0x9120;

// IFR / IER bits.
constexpr uint8_t IFR_CA2 = 0x01, IFR_CA1 = 0x02, IFR_CB2 = 0x08, IFR_CB1 = 0x10;
constexpr uint8_t IFR_T2 = 0x20, IFR_T1 = 0x40, IFR_ANY = 0x80;

struct Via {
    uint8_t* orb;
    uint8_t irb;
    uint8_t* ora;
    uint8_t ira;
    uint8_t* ddrb;
    uint8_t* ddra;
    uint8_t *t1cl, *t1ch;
    uint8_t *t1ll, *t1lh;
    uint8_t *t2cl, *t2ch;
    uint8_t* sr;
    uint8_t* acr;
    uint8_t* pcr;
    uint8_t* ifr;
    uint8_t* ier;
    uint8_t* ora_nh;
    uint8_t porta_in;
    uint8_t t2_latch_low;
    uint8_t t2_armed;
    uint8_t t1_armed;
    // Timer 1 shows $FFFF in this cycle and loads the latch in the next: the
    // cycle after it passed 0 (unless a one-shot flags there), or a start
    // with a latch of $FFFF.
    uint8_t t1_reload;
    // Timer 2 was started at $FFFF: it shows $FFFF in the next cycle too.
    uint8_t t2_hold;
};
extern Via Via1, Via2;

// Interrupt lines: the first VIA's (NMI), its value one step earlier, the second's (IRQ).
extern uint8_t nmi_low, nmi_alt, irq_low;

// Keyboard matrix, active low: the key in column c, row r is down when bit r
// of keyrow[7 - c] and bit c of keycol[r] are 0.
extern uint8_t keyrow[8];
extern uint8_t keycol[8];
extern int32_t keycount;

// Joystick lines, active low, low byte used: joystick2 is the first VIA's
// port A input (bit 2 up, 3 down, 4 left, 5 fire), joystick the second VIA's
// port B input (bit 7 right).
extern uint16_t joystick, joystick2;
extern int js_center_x, js_center_y;

// ---- the cassette port -----------------------------------------------------------

// The datasette (devices/) drives the inputs and watches the outputs.
constexpr uint8_t CASSETTE_SENSE = 0x40;  // first VIA's PA6: 0 while a key is held down
constexpr uint8_t CASSETTE_WRITE = 0x08;  // second VIA's PB3, shared with a keyboard column
constexpr uint8_t PCR_CA2_MASK = 0x0E, PCR_CA2_LOW = 0x0C;  // the first VIA's CA2 held low runs the motor

extern uint8_t cassette_keys;  // 1 while PLAY (alone or with RECORD) is held down

// The read line's edge at the end of each pulse: the second VIA's CA1.
inline void cassette_read_edge();

inline bool cassette_motor_on();

// Called with the new level when a write changes the second VIA's PB3.
extern void (*cassette_write_watch)(bool high);

// Points both records at their register bytes in `memory`.
void wire_vias();

// Timer, shift register and armed-flag start values (machine start and reset).
void init_via_timers();

// What a reset does beyond init_via_timers(): enables, flags, port copies,
// released keys and joystick, interrupt lines.
void reset_vias();

// The lines as the processor polls them: recomputes nmi_low and irq_low and
// IFR bit 7 of both.
void update_interrupt_lines();

// An enabled flag is set: the chip asks for an interrupt.
inline bool requests_interrupt(const Via& via) { return *via.ifr & *via.ier & 0x7F; }

// True when the processor's next interrupt poll takes an interrupt: the
// first chip's request has risen since the last poll, or the second chip's
// stands while I is clear (`i_set` false).
inline bool interrupt_due(bool i_set) {
    return (!nmi_low && requests_interrupt(Via1)) || (!i_set && requests_interrupt(Via2));
}

// The cycles from now to the end of the first instruction that can see a
// timer's flag rise in its interrupt poll: the cycle in which a timer shows
// $FFFF, plus the two cycles by which the poll precedes an instruction's
// end (an unarmed timer 2 only rolls over); 0 while a timer 2 counts pulses.
uint32_t cycles_before_timer_event();

// A step's count: the four timers down by `elapsed` cycles (and the texts
// of a timer 2 that counts pulses). Counting in parts gives what counting
// at once gives; catch_up_via_timers() counts a part of a step.
void count_via_timers(int32_t elapsed);
void catch_up_via_timers(int32_t elapsed);

// A count with the processor's interrupt poll in it, the rest of a step or
// a part: counts `to_poll` cycles (none or more), keeps nmi_low in nmi_alt
// and recomputes the lines, counts `after` more.
void count_via_timers_with_poll(int32_t to_poll, int32_t after, bool whole_step);

// Reads one record from the joystick device after a drawn frame.
void poll_joystick_device();

// Register side effects, for the dispatch table.
void install_via_handlers();

inline void cassette_read_edge() { *Via2.ifr |= IFR_CA1; }
inline bool cassette_motor_on() { return (*Via1.pcr & PCR_CA2_MASK) == PCR_CA2_LOW; }
