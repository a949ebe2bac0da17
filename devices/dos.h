// The disk operating system of drives 8 to 11, as a 1541 answers on the
// serial bus: sixteen channels per drive (0 loads, 1 saves, 2-14 are data
// channels, 15 is the command channel), files opened with the 1541's name
// syntax, the status line, the DOS commands and block access. The bus side
// (devices/serial_bus.cpp) calls these as the kernal's bus routines run.
//
// Files are whole in memory while open: a file written goes to the medium
// (drive_media.h) when it is closed, or by dos_flush_all() at exit; nothing
// is half-written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "disk.h"
#include "../core/snapshot.h"

// A drive at power-on: every channel closed (unwritten files are written
// first), status 73,CBM DOS V2.6 1541,00,00.
void dos_reset(unsigned unit);

// The bus's OPEN with a name, CLOSE, a byte to a channel (PRINT#, CMD) and
// the listener letting go (the end of one PRINT#): the command channel then
// runs what it received, a REL record is complete.
void dos_open(unsigned unit, unsigned channel, const std::string& name);
void dos_close(unsigned unit, unsigned channel);
void dos_write(unsigned unit, unsigned channel, uint8_t byte);
void dos_end_of_write(unsigned unit, unsigned channel);

// The next byte a channel sends; `last` is set with the final byte (EOI).
// False when it has none: nothing open there, or the file is read.
bool dos_read(unsigned unit, unsigned channel, uint8_t& byte, bool& last);

// The drive's status line as reading channel 15 gives it, without the CR.
std::string dos_status_line(unsigned unit);

// The status a LOAD or SAVE done on the host leaves, as the drive's own
// would (00, OK; 62,FILE NOT FOUND; 63,FILE EXISTS...).
void dos_transfer_done(unsigned unit, DiskStatus status);

// Runs a DOS command as the command channel receives it.
void dos_command(unsigned unit, const std::string& command);

// Writes every file still open for writing on every drive and closes it.
void dos_flush_all();

// True while some drive has a file open that is not written yet.
bool dos_writing();

// A drive's DOS in its snapshot section: the status and the command
// channel's bytes, and every open channel with its bytes and position (a
// file read keeps its content, a file written the bytes written so far).
// Loading with `apply` replaces the channels without writing the files
// they had open: that run is left, and its files were never closed.
// False when a field is of the wrong size or value.
void dos_save_state(unsigned unit, std::vector<uint8_t>& body);
bool dos_load_state(unsigned unit, const std::vector<FieldView>& found, bool apply);
