// Small helpers shared by the loaders and savers of files/: guarded file
// access and the verbose progress pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <sys/types.h>
#include <vector>

// Prints a progress piece only in verbose mode.
void say_verbose(const char* text);

// Opens a file for reading only if it is a regular file: a directory would
// open and then fail every read, a FIFO or device could block for ever.
// Returns the descriptor or -1.
int open_regular(const char* path);

// Creates or truncates a file for writing. A FIFO or socket in its place
// is refused: without a reader it would keep the program waiting, and it
// never holds the data afterwards. Returns the descriptor or -1.
int open_for_writing(const char* path);

// Prints "failed\n", closes the file and returns -1: how a loader gives up
// on a file it has opened.
int fail_and_close(int fd);

// Length of an open file, the read position left at its start; -1 when it
// cannot be found.
off_t file_length(int fd);

// Reads until `count` bytes are in or the file ends; retries interrupted
// calls. Returns the bytes read, or -1 when a read failed before any arrived.
ssize_t read_up_to(int fd, uint8_t* dest, size_t count);

// Reads the start of a regular file, up to `limit` bytes, into `bytes`.
// Returns the whole file's length (more than bytes.size() when the limit cut
// it), or -1 when it cannot be opened or read.
off_t read_file_start(const char* path, size_t limit, std::vector<uint8_t>& bytes);

// Reads up to `count` bytes into `memory` at `address`, never past the end of
// the 64 KB image.
ssize_t read_into_memory(int fd, uint16_t address, size_t count);

// After a load that took `got` of the file's `data_bytes` bytes to
// `address`: says how many were left out (nothing when none was), naming
// the last address loaded.
void say_left_out(off_t data_bytes, ssize_t got, uint32_t address);

// Writes all `count` bytes; false on any failure or short write.
bool write_all(int fd, const uint8_t* src, size_t count);

// Replaces the contents of the file at `path` with the given pieces, in
// place: the file keeps its mode, owner and hard links, and its folder need
// not be writable. Room for the new contents is taken first and the old
// contents are written back when a write fails, so a failed save leaves the
// old file as it was. A file that does not exist is created (and removed
// again on failure); a file the user may not write, or a path that is not a
// regular file (a directory, FIFO or device), is refused. A symbolic link is
// followed. Returns 0, or -1 with nothing changed.
struct FilePiece {
    const uint8_t* data;
    size_t size;
};
int replace_file(const char* path, std::initializer_list<FilePiece> pieces);

// Marks a file that replace_file must refuse whoever runs the program (root
// too): the copies taken out of an archive, which are read-only.
void keep_read_only(const char* path);
