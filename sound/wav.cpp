#include "wav.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "synth.h"

namespace {

constexpr unsigned RIFF_SIZE_AT = 4;  // the bytes after this field
constexpr unsigned DATA_SIZE_AT = 40;
constexpr uint32_t MAX_DATA = 0xFFFFFFFFu - (WAV_HEADER_BYTES - 8);

void put32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; i++) at[i] = uint8_t(value >> (8 * i));
}

bool write_sizes(int fd, uint64_t data_bytes) {
    const uint32_t data = data_bytes > MAX_DATA ? MAX_DATA : uint32_t(data_bytes);
    uint8_t riff[4], chunk[4];
    put32(riff, data + WAV_HEADER_BYTES - 8);
    put32(chunk, data);
    return pwrite(fd, riff, 4, RIFF_SIZE_AT) == 4 && pwrite(fd, chunk, 4, DATA_SIZE_AT) == 4;
}

}  // namespace

int wav_create(const char* path) {
    uint8_t header[WAV_HEADER_BYTES];
    std::memcpy(header, "RIFF\0\0\0\0WAVEfmt ", 16);
    put32(header + 16, 16);             // format chunk size
    put32(header + 20, 1 | 1u << 16);   // PCM, one channel
    put32(header + 24, SAMPLE_RATE);
    put32(header + 28, SAMPLE_RATE);    // bytes a second
    put32(header + 32, 1 | 8u << 16);   // one byte a frame, 8 bits a sample
    std::memcpy(header + 36, "data", 4);
    put32(header + 40, 0);
    put32(header + RIFF_SIZE_AT, WAV_HEADER_BYTES - 8);
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd == -1) return -1;
    if (write(fd, header, sizeof header) != ssize_t(sizeof header)) {
        close(fd);
        unlink(path);
        return -1;
    }
    return fd;
}

bool wav_append(int fd, const uint8_t* samples, size_t count) {
    if (write(fd, samples, count) != ssize_t(count)) return false;
    const off_t end = lseek(fd, 0, SEEK_END);
    return end >= off_t(WAV_HEADER_BYTES) && write_sizes(fd, uint64_t(end) - WAV_HEADER_BYTES);
}

bool wav_fix_sizes(const char* path) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd == -1) return false;
    struct stat st;
    const bool fixed = fstat(fd, &st) == 0 && st.st_size >= off_t(WAV_HEADER_BYTES) &&
                       write_sizes(fd, uint64_t(st.st_size) - WAV_HEADER_BYTES);
    return close(fd) == 0 && fixed;
}
