// The usage text of "-h".
#include <cstdio>

#include "startup.h"

namespace {

constexpr const char* USAGE[] = {
    "\nUSAGE :\nTarvikon [-h][-verbose][-ram][-nocfg][-nosound][-tvsound][-joy][-highres][ROM.crt][ROM.x0  ...][ROM.prg...]\n",
    "-h       : Show this help text\n",
    "-verbose : Show all messages (use this if you got problems with Tarvikon)\n",
    "-ram     : $a000-$bfff will be RAM instead of ROM\n",
    "-nocfg   : Using defaults instead of settings in config file\n",
    "-nosound : Disable sound emulation\n",
    "-tvsound : Enable televsion sound emulation\n",
    "-joy     : Enable joystick emulation with /dev/js0\n",
    "-highres : Enable doubled window size\n",
    "-scale N : Window N times the normal size (1 to 8)\n",
    "-memory  : Memory expansion none, 3k, 8k, 16k, 24k or all (3 KB, 24 KB and $a000)\n",
    "-driveN D: Drive N (8 to 11) is folder D or disk image D.d64\n",
    "-monitor : Open the monitor in this terminal at start (later: the Menu key)\n",
    "-remotemonitor PORT : The monitor's commands on 127.0.0.1:PORT\n",
    "-headless : No window and no sound, as fast as the host allows, with:\n",
    "  -limitcycles N -type TEXT -exitaddress ADDR -screenshot FILE.png -screentext -expect TEXT\n",
    "-snapshot FILE : Start from a snapshot\n",
    "-record FILE   : Record the keys, joystick and paddles in FILE\n",
    "-playback FILE : Play back a recording (from the same start)\n",
    "-keymap positional : Keys by their place on a US keyboard, not by their symbols\n",
    "ROM.crt: VIC 20 cart file 4, 8 or 16kib\n",
    "ROM.prg: VIC 20 cart file(s) 4, 8 or 16kb\n",
    "ROM.x0 : VIC 20 ROM filei(s) which should be loaded to address $x000\n",
    "The normal size for x0 images is 8192 bytes.\n",
    "If no ROM parameter is given, the VIC 20 BASIC will start.\n",
    "The VIC 20 ROM files (kernel.pal, kernel.ntsc, basic.rom, chargen.rom)\n",
    "must be in a subdirectory called roms/.\n",
    "\nLoading Basic programs :\n",
    "         F9         : Enter name of programs then\n",
    "\nSaving Basic programs :\n",
    "         F10        : Enter name of programs then\n",
    "\nJoystick emulation  :\n",
    "         Directions : Dark cursor keys or Numblock cursor keys\n",
    "         Fire       : Right control key\n",
    "\nPaddles emulation   :\n",
    "         Paddle 1   : Numblock keys 7 and 9\n",
    "         Paddle 2   : Numblock keys 1 and 3\n",
    "         Fire       : Cursor keys left and right\n",
    "Important : You need to NUM-LOCK the numblock to use the paddles !\n",
    "\nLeaving Tarvikon    : ESC key\n\n",
    "Tarvikon is developed for a keyboard with US layout.\n",
    "Special keys : \n",
    "         RUN-STOP    : TAB key\n",
    "         Control     : Left Control key\n",
    "         CBM         : Left ALT key\n",
    "         Home        : Home (pos 1) key\n",
    "         GBP         : Insert key\n",
    "         Down        : Page Down key\n",
    "         Right       : Page Up key\n",
    "         Arrow Up    : End key\n",
    "         Restore     : F12\n",
    "         F1,F3,F5,F7 : F1,F3,F5,F7\n",
    "\nConfiguration keys : \n",
    "         F2         : Increasing frame rate(slower)\n",
    "         F4         : Decreasing frame rate(faster)\n",
    "         F6         : Quick save snapshot (quick.snap)\n",
    "         F8         : Quick load snapshot (quick.snap)\n",
    "         Scroll Lock: Held, runs time backwards (rewind)\n",
    "         F11        : Reset the VIC 20\n\n",
};

}  // namespace

void show_help() {
    for (const char* line : USAGE) fputs(line, stdout);
}
