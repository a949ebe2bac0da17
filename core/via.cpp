// The two 6522 VIAs: port reads and writes, the keyboard matrix and joystick
// lines, the timers, the interrupt lines and the joystick device.
#include "via.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <unistd.h>

#include "memory.h"
#include "tarvikon.h"

Via Via1, Via2;
uint8_t nmi_low = 0, nmi_alt = 0, irq_low = 0;
uint8_t keyrow[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
uint8_t keycol[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
int32_t keycount = 0;
uint16_t joystick = 0xFF, joystick2 = 0xFF;
int js_center_x = 0, js_center_y = 0;
uint8_t cassette_keys = 0;
void (*cassette_write_watch)(bool high) = nullptr;

namespace {

// The chips' only diagnostics: features that are not emulated.
constexpr const char* PB7_TEXT[2] = {"PB7 Output VIA 1\n", "PB7 Output VIA 2\n"};
constexpr const char* PULSE_COUNT_TEXT[2] = {"Timer12 PB6 timing \n", "Timer 22 PB6 Timing\n"};

constexpr uint8_t ACR_PB7_OUTPUT = 0x80, ACR_T1_FREE_RUN = 0x40, ACR_T2_PULSE_COUNT = 0x20;
constexpr uint8_t PCR_CB2_INDEPENDENT = 0x20, PCR_CA2_INDEPENDENT = 0x02;
constexpr uint8_t IER_SET = 0x80;
constexpr uint8_t PB7 = 0x80;

// The processor polls the interrupt lines two cycles before an
// instruction's end.
constexpr uint32_t POLL_LEAD = 2;

// Cycles the timers can count from now by plain subtraction, with no flag
// rising, as cycles_before_timer_event() found them; 0 once anything may
// have changed them (a count, a register write).
int32_t quiet_cycles = 0;
// Joystick device: half-width of the centred zone.
constexpr int JS_DEAD_ZONE = 20;

// Mirrors at $9190-$91AF: bit 5 of the address tells the chip apart, the low
// nibble is the register.
constexpr uint16_t VIA_MIRROR_OFFSET = 0x80;

// Which chip a record is: 0 for the first VIA, 1 for the second.
inline int chip_number(const Via& via) { return &via == &Via2; }
inline Via& via_at(uint16_t addr) { return (addr & 0x20) ? Via2 : Via1; }
inline uint16_t real_base(const Via& via) { return &via == &Via2 ? VIA2_BASE : VIA1_BASE; }

// A counter's or latch's two bytes are adjacent, low first, so the compiler
// can make one 16-bit access of them on the per-step path.
inline uint16_t pair(const uint8_t* low) { return uint16_t(low[0] | low[1] << 8); }
inline void set_pair(uint8_t* low, uint16_t value) {
    low[0] = uint8_t(value);
    low[1] = uint8_t(value >> 8);
}

// Handshake flags that a port access clears: in the independent-interrupt
// modes only the CB1/CA1 flag, otherwise CB2/CA2 as well.
inline void clear_port_b_flags(Via& via) {
    *via.ifr &= (*via.pcr & PCR_CB2_INDEPENDENT) ? uint8_t(~IFR_CB1) : uint8_t(~(IFR_CB1 | IFR_CB2));
}
inline void clear_port_a_flags(Via& via) {
    *via.ifr &= (*via.pcr & PCR_CA2_INDEPENDENT) ? uint8_t(~IFR_CA1) : uint8_t(~(IFR_CA1 | IFR_CA2));
}

// Keyboard columns seen on the second VIA's port B: every row selected by a
// 0 bit in its port A contributes the columns of the keys held in it.
uint8_t keyboard_columns() {
    uint8_t rows_selected = *Via2.ora;
    if (rows_selected == 0 && keycount == 0) return 0xFF;
    uint8_t columns = 0xFF;
    for (int bit = 0; bit < 8; bit++)
        if (!(rows_selected & (1 << bit))) columns &= keycol[bit];
    return columns;
}

// Keyboard rows seen on the second VIA's port A; port B bit i selects keyrow[7 - i].
uint8_t keyboard_rows() {
    uint8_t columns_selected = *Via2.orb;
    if (columns_selected == 0 && keycount == 0) return 0xFF;
    uint8_t rows = 0xFF;
    for (int bit = 0; bit < 8; bit++)
        if (!(columns_selected & (1 << bit))) rows &= keyrow[7 - bit];
    return rows;
}

uint8_t port_b_value(Via& via) {
    uint8_t ddr = *via.ddrb;
    uint8_t out = *via.orb & ddr;
    if (&via == &Via1) return uint8_t(out | ~ddr);  // nothing drives the first VIA's port B
    return uint8_t(out | (uint8_t(joystick) & keyboard_columns() & ~ddr));
}

// Port A of the first VIA reads 0 on its input bits 0 and 7.
uint8_t port_a_value(Via& via) {
    uint8_t ddr = *via.ddra;
    uint8_t out = *via.ora & ddr;
    uint8_t lines = &via == &Via1 ? uint8_t(joystick2 & 0x7E & (cassette_keys ? ~CASSETTE_SENSE : 0xFF))
                                  : keyboard_rows();
    uint8_t value = uint8_t(out | (lines & ~ddr));
    via.ira = value;
    via.porta_in = value;
    return value;
}

uint8_t via_read(uint16_t addr) {
    Via& via = via_at(addr);
    switch (addr & 0xF) {
    case VIA_ORB:
        clear_port_b_flags(via);
        via.irb = port_b_value(via);
        return via.irb;
    case VIA_ORA:
        clear_port_a_flags(via);
        return port_a_value(via);
    case VIA_ORA_NH:
        return port_a_value(via);
    case VIA_T1CL:
        *via.ifr &= uint8_t(~IFR_T1);
        return memory[addr];
    case VIA_T2CL:
        *via.ifr &= uint8_t(~IFR_T2);
        return memory[addr];
    case VIA_IFR:  // bit 7: an enabled flag is set, as the line is now
        return uint8_t((memory[addr] & 0x7F) | (*via.ifr & *via.ier & 0x7F ? IFR_ANY : 0));
    case VIA_IER:
        return memory[addr] | IER_SET;
    default:
        return memory[addr];
    }
}

// Acts on the real registers; the caller stores `value` at `addr`, which is
// the mirror's own byte for a mirror address (except the timer 1 latch).
bool via_write(uint16_t& addr, uint8_t& value) {
    Via& via = via_at(addr);
    quiet_cycles = 0;
    switch (addr & 0xF) {
    case VIA_ORB:
        clear_port_b_flags(via);
        // A pressed joystick right holds the second VIA's PB7 low.
        value &= &via == &Via1 ? *via.ddrb : uint8_t(joystick);
        if (&via == &Via2 && cassette_write_watch && ((value ^ *via.orb) & CASSETTE_WRITE))
            cassette_write_watch(value & CASSETTE_WRITE);
        return true;
    case VIA_ORA:
        clear_port_a_flags(via);
        if (&via == &Via1) value &= *via.ddra;
        *via.ora_nh = value;
        return true;
    case VIA_ORA_NH:
        if (&via == &Via1) value &= *via.ddra;
        *via.ora = value;
        return true;
    case VIA_T1CL:
        addr = uint16_t(real_base(via) + VIA_T1LL);  // the latch, even from a mirror
        return true;
    case VIA_T1CH: {
        // The counter takes the latch in the cycle after this write cycle:
        // stored one higher, so that the next cycle's count shows the latch.
        *via.t1lh = value;
        uint16_t latch = pair(via.t1ll);
        set_pair(via.t1cl, latch == 0xFFFF ? latch : uint16_t(latch + 1));
        via.t1_reload = latch == 0xFFFF;
        via.t1_armed = 1;
        *via.ifr &= uint8_t(~IFR_T1);
        if ((*via.acr & (ACR_PB7_OUTPUT | ACR_T1_FREE_RUN)) == ACR_PB7_OUTPUT) *via.orb &= uint8_t(~PB7);
        return false;
    }
    case VIA_T1LH:
        *via.ifr &= uint8_t(~IFR_T1);
        return true;
    case VIA_T2CL:
        via.t2_latch_low = value;
        return false;
    case VIA_T2CH: {
        uint16_t start = uint16_t(value << 8 | via.t2_latch_low);
        set_pair(via.t2cl, start == 0xFFFF ? start : uint16_t(start + 1));
        via.t2_hold = start == 0xFFFF;
        via.t2_armed = 1;
        *via.ifr &= uint8_t(~IFR_T2);
        return false;
    }
    case VIA_IFR:
        *via.ifr &= uint8_t(~(value & 0x7F));
        return false;
    case VIA_IER:
        if (!(value & IER_SET)) {
            *via.ier &= uint8_t(~value & 0x7F);
            return false;
        }
        value = uint8_t((value & 0x7F) | *via.ier);
        return true;
    default:
        return true;
    }
}

// Registers with side effects; the rest are plain storage.
constexpr uint8_t READ_HANDLED[] = {VIA_ORB, VIA_ORA, VIA_T1CL, VIA_T2CL, VIA_IFR, VIA_IER, VIA_ORA_NH};
// ACR is plain storage, handled so that a write ends the timers' quiet count.
constexpr uint8_t WRITE_HANDLED[] = {VIA_ORB,  VIA_ORA,  VIA_T1CL, VIA_T1CH, VIA_T1LH, VIA_T2CL,
                                     VIA_T2CH, VIA_ACR,  VIA_IFR,  VIA_IER,  VIA_ORA_NH};

void wire(Via& via, uint16_t base) {
    uint8_t* r = memory + base;
    via.orb = r + VIA_ORB;
    via.ora = r + VIA_ORA;
    via.ddrb = r + VIA_DDRB;
    via.ddra = r + VIA_DDRA;
    via.t1cl = r + VIA_T1CL;
    via.t1ch = r + VIA_T1CH;
    via.t1ll = r + VIA_T1LL;
    via.t1lh = r + VIA_T1LH;
    via.t2cl = r + VIA_T2CL;
    via.t2ch = r + VIA_T2CH;
    via.sr = r + VIA_SR;
    via.acr = r + VIA_ACR;
    via.pcr = r + VIA_PCR;
    via.ifr = r + VIA_IFR;
    via.ier = r + VIA_IER;
    via.ora_nh = r + VIA_ORA_NH;
}

void init_timers(Via& via) {
    *via.t1ll = *via.t1lh = *via.t1cl = *via.t1ch = 0xAA;
    via.t1_armed = 1;
    via.t1_reload = 0;
    *via.acr |= ACR_T1_FREE_RUN;
    via.t2_latch_low = 0xFF;
    *via.t2cl = *via.t2ch = 0xFF;
    via.t2_armed = 1;
    via.t2_hold = 0;
    *via.sr = 0xFF;
}

// The timers count once per cycle. After a write to T1C-H with latch N the
// counter shows N, N - 1, ... 1, 0 and then $FFFF: the flag (and the
// interrupt line) rise with the $FFFF cycle, N + 1.5 cycles after the write
// cycle. In free-run mode the next cycle shows N again, so a period is
// N + 2 cycles; a one-shot timer counts on from $FFFF, and once it has
// flagged, it reloads from the latch silently as in free-run. Timer 2
// counts the same way without reloading and flags once, at its first $FFFF.
//
// The counter bytes hold what the counter shows in the cycle the timers
// have been counted up to; the common case (no pass below 0) stays small
// and inline, the rest is out of line.
[[gnu::cold, gnu::noinline]] void timer1_passes(Via& via, uint32_t left) {
    uint16_t n = pair(via.t1cl);
    for (;;) {
        if (via.t1_reload) {
            if (left == 0) break;
            via.t1_reload = 0;
            n = pair(via.t1ll);
            left--;
        }
        if (left <= n) {
            n = uint16_t(n - left);
            break;
        }
        left -= n + 1u;  // to the cycle that shows $FFFF
        n = 0xFFFF;
        if (via.t1_armed) {
            if (*via.acr & *via.ddrb & PB7) {
                *via.orb ^= PB7;
                fputs(PB7_TEXT[chip_number(via)], stdout);
            }
            *via.ifr |= IFR_T1;
            if (!(*via.acr & ACR_T1_FREE_RUN)) {
                via.t1_armed = 0;
                continue;  // no reload: counts on from $FFFF
            }
        }
        via.t1_reload = 1;
    }
    set_pair(via.t1cl, n);
}

[[gnu::cold, gnu::noinline]] void timer2_pulse_counting(const Via& via) { fputs(PULSE_COUNT_TEXT[chip_number(via)], stdout); }

[[gnu::cold, gnu::noinline]] void timer2_underflow(Via& via) {
    *via.ifr |= IFR_T2;
    via.t2_armed = 0;
}

inline void count_timer1(Via& via, uint16_t c) {
    uint8_t* counter = via.t1cl;
    uint16_t n = pair(counter);
    if (c <= n && !via.t1_reload) set_pair(counter, uint16_t(n - c));
    else timer1_passes(via, c);
}

inline void count_timer2(Via& via, uint16_t c, bool announce) {
    if (*via.acr & ACR_T2_PULSE_COUNT) {
        if (announce) timer2_pulse_counting(via);
        return;
    }
    if (via.t2_hold && c) {
        via.t2_hold = 0;
        c--;
    }
    uint8_t* counter = via.t2cl;
    uint16_t n = pair(counter);
    if (c > n && via.t2_armed) timer2_underflow(via);
    set_pair(counter, uint16_t(n - c));  // no reload: rolls over
}

inline uint8_t interrupt_line(Via& via) {
    if (requests_interrupt(via)) {
        *via.ifr |= IFR_ANY;
        return 1;
    }
    *via.ifr &= uint8_t(~IFR_ANY);
    return 0;
}

// The Linux joystick driver's plain read record (JS_DATA_TYPE).
struct JoystickRecord {
    int32_t buttons;
    int32_t x;
    int32_t y;
};
static_assert(sizeof(JoystickRecord) == 12);
JoystickRecord last_js{0, 0, 0};
bool js_seen = false;  // no complete record read yet: nothing to apply

}  // namespace

void wire_vias() {
    wire(Via1, VIA1_BASE);
    wire(Via2, VIA2_BASE);
}

void init_via_timers() {
    init_timers(Via1);
    init_timers(Via2);
}

void reset_vias() {
    for (Via* via : {&Via1, &Via2}) {
        *via->ier = 0;
        *via->ifr = 0;
        via->irb = via->ira = via->porta_in = 0;
    }
    std::memset(keyrow, 0xFF, sizeof keyrow);
    std::memset(keycol, 0xFF, sizeof keycol);
    keycount = 0;
    joystick = joystick2 = 0xFF;
    *Via1.ora = *Via1.ora_nh = uint8_t(joystick2);
    *Via2.orb = uint8_t(joystick);
    nmi_low = irq_low = 0;
}

void update_interrupt_lines() {
    nmi_low = interrupt_line(Via1);
    irq_low = interrupt_line(Via2);
}


namespace {
// The cycle, counted from now, in which a timer can show $FFFF first: with
// a latch load or a hold pending, one cycle later than its count.
[[gnu::cold, gnu::noinline]] uint32_t first_flag_cycle_pending() {
    uint32_t cycles = UINT32_MAX;
    for (const Via* via : {&Via1, &Via2}) {
        cycles = std::min(cycles, via->t1_reload ? pair(via->t1ll) + 2u : pair(via->t1cl) + 1u);
        if (via->t2_armed) cycles = std::min(cycles, pair(via->t2cl) + 1u + via->t2_hold);
    }
    return cycles;
}
}  // namespace

uint32_t cycles_before_timer_event() {
    quiet_cycles = 0;
    if ((*Via1.acr | *Via2.acr) & ACR_T2_PULSE_COUNT) return 0;
    if (Via1.t1_reload | Via1.t2_hold | Via2.t1_reload | Via2.t2_hold) [[unlikely]]
        return first_flag_cycle_pending() + POLL_LEAD;
    uint32_t cycles = std::min(pair(Via1.t1cl), pair(Via2.t1cl));
    if (Via1.t2_armed) cycles = std::min<uint32_t>(cycles, pair(Via1.t2cl));
    if (Via2.t2_armed) cycles = std::min<uint32_t>(cycles, pair(Via2.t2cl));
    quiet_cycles = int32_t(cycles);
    return cycles + 1 + POLL_LEAD;
}

namespace {
// `announce`: a step's count, which says once that a timer 2 counts pulses.
inline void count_timers(int32_t elapsed, bool announce) {
    uint16_t c = uint16_t(elapsed);
    count_timer1(Via2, c);
    count_timer2(Via2, c, announce);
    count_timer1(Via1, c);
    count_timer2(Via1, c, announce);
}

// Counting c cycles takes no timer past 0 and ends no start or reload: no
// flag can rise, so the lines are the same at any point of the count.
inline bool counts_quietly(const Via& via, uint16_t c) {
    return !((c > pair(via.t1cl)) | via.t1_reload | via.t2_hold | ((c > pair(via.t2cl)) & via.t2_armed) |
             (*via.acr & ACR_T2_PULSE_COUNT));
}
inline void count_quietly(Via& via, uint16_t c) {
    set_pair(via.t1cl, uint16_t(pair(via.t1cl) - c));
    set_pair(via.t2cl, uint16_t(pair(via.t2cl) - c));
}
}  // namespace

void count_via_timers(int32_t elapsed) {
    quiet_cycles = 0;
    count_timers(elapsed, true);
}

void catch_up_via_timers(int32_t elapsed) {
    quiet_cycles = 0;
    count_timers(elapsed, false);
}

void count_via_timers_with_poll(int32_t to_poll, int32_t after, bool whole_step) {
    const uint16_t c = uint16_t(to_poll + after);
    const bool known_quiet = to_poll + after <= quiet_cycles && quiet_cycles > 0;
    quiet_cycles = 0;
    // Counted quietly, the lines are the same at any point of the count.
    const bool quiet = known_quiet || (counts_quietly(Via2, c) && counts_quietly(Via1, c));
    if (quiet) [[likely]] {
        count_quietly(Via2, c);
        count_quietly(Via1, c);
    } else {
        count_timers(to_poll, false);
    }
    nmi_alt = nmi_low;
    nmi_low = interrupt_line(Via1);
    irq_low = interrupt_line(Via2);
    if (!quiet) count_timers(after, whole_step);
}

void poll_joystick_device() {
    // A short read keeps the previous record.
    JoystickRecord js;
    if (read(joystick_fd, &js, sizeof js) == ssize_t(sizeof js)) {
        last_js = js;
        js_seen = true;
    }
    if (!js_seen) return;

    if (last_js.buttons) joystick2 &= uint16_t(~0x20);
    else joystick2 |= 0x20;

    if (last_js.x > js_center_x + JS_DEAD_ZONE) {
        joystick2 |= 0x10;
        joystick &= uint16_t(~0x80);  // right
    } else if (last_js.x < js_center_x - JS_DEAD_ZONE) {
        joystick2 &= uint16_t(~0x10);  // left
        joystick |= 0x80;
    } else {
        joystick2 |= 0x10;
        joystick |= 0x80;
    }

    if (last_js.y > js_center_y + JS_DEAD_ZONE) {
        joystick2 = uint16_t((joystick2 & ~0x08) | 0x04);  // down
    } else if (last_js.y < js_center_y - JS_DEAD_ZONE) {
        joystick2 = uint16_t((joystick2 & ~0x04) | 0x08);  // up
    } else {
        joystick2 |= 0x0C;
    }
}

void install_via_handlers() {
    for (uint16_t base : {VIA1_BASE, VIA2_BASE}) {
        for (uint16_t mirror : {uint16_t(0), VIA_MIRROR_OFFSET}) {
            unsigned index = base + mirror - IO_BASE;
            for (uint8_t reg : READ_HANDLED) io_read[index + reg] = via_read;
            for (uint8_t reg : WRITE_HANDLED) io_write[index + reg] = via_write;
        }
    }
}
