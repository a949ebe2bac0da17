// Placeholder until the VIAs land.
#include "via.h"
#include "memory.h"
Via Via1, Via2;
uint8_t nmi_low, nmi_alt, irq_low;
uint8_t keyrow[8], keycol[8];
int32_t keycount;
uint16_t joystick = 0xFF, joystick2 = 0xFF;
int js_center_x, js_center_y;
void wire_vias() {}
void init_via_timers() {}
void reset_vias() {}
void update_interrupt_lines() {}
void count_via_timers(int32_t) {}
void poll_joystick_device() {}
void install_via_handlers() {}
