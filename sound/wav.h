// WAV files of what the sound process plays: unsigned 8-bit mono samples at
// SAMPLE_RATE after a 44-byte RIFF header.
//
// The header's two sizes follow the file: wav_append rewrites them after
// every block, and wav_fix_sizes sets them from the file's length, so that a
// recording whose process died between the two is still a whole WAV file.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr unsigned WAV_HEADER_BYTES = 44;

// A new file with a header of no samples: its descriptor, or -1 (errno set).
int wav_create(const char* path);
// Adds samples and updates the sizes; false when the file refused them.
bool wav_append(int fd, const uint8_t* samples, size_t count);
// The sizes from the file's length; false for a file without a whole header.
bool wav_fix_sizes(const char* path);
