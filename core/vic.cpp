// Placeholder until the VIC lands.
#include "vic.h"
VicChip Vic;
FrameGeometry Frame;
uint16_t vidpoint, colpoint, charaddr;
uint8_t doublesize = 8;
uint32_t bordpixel, backpix, auxpix;
VicColor vic_colors[VIC_COLOR_COUNT];
void wire_vic() {}
void render_line() {}
void install_vic_handlers() {}
