// Guarded file access for the loaders and savers.
#include "fileutil.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "../core/memory.h"
#include "../core/tarvikon.h"

void say_verbose(const char* text) {
    if (verbose) fputs(text, stdout);
}

int open_regular(const char* path) {
    // Non-blocking, so that opening a FIFO without a writer returns at once;
    // the flag makes no difference to reads of a regular file.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

int open_for_writing(const char* path) {
    // Non-blocking, so that a FIFO without a reader fails at once.
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd == -1) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

int fail_and_close(int fd) {
    fputs("failed\n", stdout);
    close(fd);
    return -1;
}

off_t file_length(int fd) {
    off_t length = lseek(fd, 0, SEEK_END);
    if (length == -1 || lseek(fd, 0, SEEK_SET) == -1) return -1;
    return length;
}

off_t read_file_start(const char* path, size_t limit, std::vector<uint8_t>& bytes) {
    int fd = open_regular(path);
    if (fd == -1) return -1;
    off_t length = file_length(fd);
    ssize_t got = -1;
    if (length != -1) {
        bytes.resize(std::min(size_t(length), limit));
        got = read_up_to(fd, bytes.data(), bytes.size());
    }
    close(fd);
    if (got == -1) return -1;
    bytes.resize(size_t(got));
    return length;
}

ssize_t read_up_to(int fd, uint8_t* dest, size_t count) {
    size_t got = 0;
    while (got < count) {
        ssize_t n = read(fd, dest + got, count - got);
        if (n == -1 && errno == EINTR) continue;
        if (n == -1) return got ? ssize_t(got) : -1;
        if (n == 0) break;
        got += size_t(n);
    }
    return ssize_t(got);
}

ssize_t read_into_memory(int fd, uint16_t address, size_t count) {
    size_t room = MEMORY_SIZE - address;
    return read_up_to(fd, memory + address, std::min(count, room));
}

void say_left_out(off_t data_bytes, ssize_t got, uint32_t address) {
    if (got < 0 || data_bytes <= got) return;
    long left = long(data_bytes - got);
    printf("%ld byte%s past $%x left out\n", left, left == 1 ? "" : "s", unsigned(address + uint32_t(got) - 1));
}

bool write_all(int fd, const uint8_t* src, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = write(fd, src + done, count - done);
        if (n == -1 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

namespace {

bool write_at_start(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, off_t(done));
        if (n == -1 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// A new file: written whole, or removed again.
int create_file(const char* path, const std::vector<uint8_t>& bytes) {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd == -1) return -1;
    bool written = write_all(fd, bytes.data(), bytes.size()) && fsync(fd) == 0;
    if (close(fd) != 0 || !written) {
        unlink(path);
        return -1;
    }
    return 0;
}

}  // namespace

namespace {
// Device and inode of every file kept read-only.
std::vector<std::pair<dev_t, ino_t>> read_only_files;
}  // namespace

void keep_read_only(const char* path) {
    struct stat st;
    if (stat(path, &st) == 0) read_only_files.push_back({st.st_dev, st.st_ino});
}

int replace_file(const char* path, std::initializer_list<FilePiece> pieces) {
    struct stat target;
    if (!read_only_files.empty() && stat(path, &target) == 0)
        for (const auto& [dev, ino] : read_only_files)
            if (target.st_dev == dev && target.st_ino == ino) return -1;
    std::vector<uint8_t> bytes;
    for (const FilePiece& piece : pieces) bytes.insert(bytes.end(), piece.data, piece.data + piece.size);
    // Rewritten where it is, so that it keeps its inode (mode, owner, hard
    // links) and needs no right to its folder; a file the user may not
    // write is refused before anything changes.
    int fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1) return errno == ENOENT ? create_file(path, bytes) : -1;
    struct stat st;
    std::vector<uint8_t> old;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        old.resize(size_t(st.st_size));
        ok = read_up_to(fd, old.data(), old.size()) == ssize_t(old.size());
    }
    // The room is taken before the first byte is written: a full disk or a
    // size limit then stops the save with the old file untouched.
    if (ok && bytes.size() > old.size()) {
        int e = posix_fallocate(fd, 0, off_t(bytes.size()));
        ok = e == 0 || e == EOPNOTSUPP || e == EINVAL;
    }
    if (!ok) {
        close(fd);
        return -1;
    }
    bool written = write_at_start(fd, bytes) && ftruncate(fd, off_t(bytes.size())) == 0 && fsync(fd) == 0;
    if (!written && write_at_start(fd, old)) {
        if (ftruncate(fd, off_t(old.size())) == 0) fsync(fd);
    }
    return close(fd) == 0 && written ? 0 : -1;
}
