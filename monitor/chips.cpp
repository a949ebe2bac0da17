// The VIA and VIC registers as a programmer reads them: what each bit
// field means, and the timers as 16-bit counts. Read from the image, so
// that showing them has no side effect on the chips.
#include <cstdio>
#include <string>

#include "../core/memory.h"
#include "../core/via.h"
#include "../core/vic.h"
#include "commands.h"

namespace {

std::string format(const char* fmt, auto... args) {
    char text[200];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

std::string interrupt_bits(uint8_t v) {
    static constexpr const char* NAMES[7] = {"CA2", "CA1", "SR", "CB2", "CB1", "T2", "T1"};
    std::string s;
    for (int bit = 6; bit >= 0; bit--)
        if (v >> bit & 1) s += std::string(" ") + NAMES[bit];
    return s.empty() ? " none" : s;
}

std::string describe_via(const char* name, uint16_t base) {
    const uint8_t* r = memory + base;
    const uint8_t acr = r[VIA_ACR], pcr = r[VIA_PCR];
    static constexpr const char* SHIFT[8] = {"off", "in by T2", "in by clock", "in by CB1",
                                             "out free-running by T2", "out by T2", "out by clock", "out by CB1"};
    static constexpr const char* C2[8] = {"input neg", "independent input neg", "input pos", "independent input pos",
                                          "handshake", "pulse", "low", "high"};
    std::string s = format("%s $%04X: port B $%02X (DDR $%02X), port A $%02X (DDR $%02X)\n", name, base, r[VIA_ORB],
                           r[VIA_DDRB], r[VIA_ORA], r[VIA_DDRA]);
    s += format("  T1 $%04X latch $%04X, %s%s; T2 $%04X, %s; SR $%02X, shift %s\n",
                r[VIA_T1CL] | r[VIA_T1CH] << 8, r[VIA_T1LL] | r[VIA_T1LH] << 8,
                acr & 0x40 ? "free-running" : "one-shot", acr & 0x80 ? ", PB7 out" : "",
                r[VIA_T2CL] | r[VIA_T2CH] << 8, acr & 0x20 ? "counts PB6 pulses" : "timed", r[VIA_SR],
                SHIFT[acr >> 2 & 7]);
    s += format("  ACR $%02X (latch A %s, B %s), PCR $%02X: CA1 %s, CA2 %s, CB1 %s, CB2 %s\n", acr,
                acr & 1 ? "on" : "off", acr & 2 ? "on" : "off", pcr, pcr & 1 ? "pos" : "neg", C2[pcr >> 1 & 7],
                pcr & 0x10 ? "pos" : "neg", C2[pcr >> 5 & 7]);
    s += "  IFR $" + format("%02X:", r[VIA_IFR]) + interrupt_bits(r[VIA_IFR]) + "; IER $" +
         format("%02X:", r[VIA_IER] | 0x80) + interrupt_bits(r[VIA_IER]) + "\n";
    return s;
}

constexpr const char* COLOR_NAMES[16] = {"black",  "white",       "red",        "cyan",       "purple",   "green",
                                         "blue",   "yellow",      "orange",     "light orange", "pink",   "light cyan",
                                         "light purple", "light green", "light blue", "light yellow"};

std::string describe_vic() {
    const uint8_t* r = memory + VIC_BASE;
    const uint8_t colors = r[VIC_COLORS];
    std::string s = format("VIC $9000: origin %u,%u, %u columns, %u rows of 8x%u, raster line %u\n",
                           r[VIC_HORIGIN] & 0x7F, r[VIC_VORIGIN], r[VIC_COLUMNS] & 0x7F, r[VIC_ROWS] >> 1 & 0x3F,
                           r[VIC_ROWS] & 1 ? 16 : 8, unsigned(raster));
    s += format("  screen $%04X, colour $%04X, characters $%04X (register $9005 $%02X)\n", vidpoint, colpoint,
                charaddr, r[VIC_ADDRESSES]);
    s += format("  border %u %s, background %u %s, auxiliary %u %s%s\n", colors & 7, COLOR_NAMES[colors & 7],
                colors >> 4, COLOR_NAMES[colors >> 4], r[VIC_VOLUME] >> 4, COLOR_NAMES[r[VIC_VOLUME] >> 4],
                colors & 8 ? "" : ", reversed");
    s += format("  bass $%02X, alto $%02X, soprano $%02X, noise $%02X (bit 7 on), volume %u\n", r[VIC_BASS],
                r[VIC_ALTO], r[VIC_SOPRANO], r[VIC_NOISE], r[VIC_VOLUME] & 0xF);
    return s;
}

}  // namespace

std::string describe_chips(const std::string& which) {
    std::string s;
    if (which.empty() || which == "via1") s += describe_via("VIA1", VIA1_BASE);
    if (which.empty() || which == "via2") s += describe_via("VIA2", VIA2_BASE);
    if (which.empty() || which == "vic") s += describe_vic();
    if (s.empty()) s = "Bad chip: " + which + " (via1, via2 or vic)\n";
    return s;
}
