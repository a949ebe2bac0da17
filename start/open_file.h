// A file opened while the machine runs (dropped on the window, File > Open,
// File > Recent) does what naming it on the command line does: a program or
// cartridge starts on a machine reset for it, a disk or tape image starts
// its first program. While a program runs (BASIC is not waiting at READY)
// a disk or tape image is only attached, as a disk swapped in the drive.
// An archive stands for the first VIC 20 file inside it.
#pragma once

#include <string>

// What happened, for the window's title: "Attached game.d64" when an image
// was attached to the running program; "" otherwise (started, or failed
// after saying why on one line, as "Cannot open NAME" for a file that
// cannot be read, which leaves the machine as it was).
std::string open_file(const std::string& path);
