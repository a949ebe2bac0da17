#include "fuzz_support.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/host.h"
#include "core/memory.h"
#include "core/tarvikon.h"
#include "core/via.h"
#include "core/vic.h"
#include "tests/support/machine.h"

const char* fuzz_current_input = nullptr;

void fuzz_fail(const char* file, int line, const char* what) {
    std::fprintf(stderr, "\nFUZZ INVARIANT BROKEN at %s:%d: %s\n", file, line, what);
    if (fuzz_current_input) std::fprintf(stderr, "input: %s\n", fuzz_current_input);
    std::abort();
}

void fuzz_failf(const char* file, int line, const char* format, ...) {
    char what[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(what, sizeof what, format, args);
    va_end(args);
    fuzz_fail(file, line, what);
}

namespace {
std::string work_dir;

// The private directory goes with the process (crash inputs are written
// elsewhere, by -artifact_prefix).
void remove_work_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(work_dir, ignored);
}
}

const std::string& fuzz_dir() { return work_dir; }

void fuzz_setup_once() {
    if (!work_dir.empty()) return;
    // The emulator reports on stdout; at millions of runs that is only noise.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();

    memory = static_cast<uint8_t*>(std::malloc(MEMORY_SIZE));
    // The renderer may write raster lines 0..311 of 520 bytes for each of two
    // interlaced fields; the headless host's buffer is larger (room for the
    // doubled window), so give the renderer a block of exactly its share.
    frame_image = static_cast<uint8_t*>(std::malloc(2 * FRAME_LINES * FRAME_LINE_BYTES));
    if (!memory || !frame_image) std::abort();

    // Loaders and the configuration work relative to the working directory;
    // keep them away from the real one (and from any roms/ there), and keep
    // the files that the targets write on a memory file system when there is one.
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string templ = std::string(base) + "/tarvikon-fuzz-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) std::abort();
    work_dir = buf.data();
    std::atexit(remove_work_dir);
}

InFuzzDir::InFuzzDir() : previous(open(".", O_RDONLY | O_DIRECTORY)) {
    if (previous < 0 || chdir(fuzz_dir().c_str()) != 0) std::abort();
}

InFuzzDir::~InFuzzDir() {
    if (fchdir(previous) != 0) std::abort();
    close(previous);
}

void fuzz_new_machine(uint8_t timing) {
    fuzz_setup_once();  // allocates the exact 64 KB block first
    reset_test_machine(timing);
}

void fuzz_fill_memory(uint32_t seed) {
    uint32_t s = seed * 2654435761u + 0x9E3779B9u;
    for (uint32_t i = 0; i < MEMORY_SIZE; i++) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        memory[i] = uint8_t(s >> 11);
    }
}

void fuzz_block_states(FuzzInput& in, uint8_t states[16]) {
    uint32_t bits = in.dword();
    for (unsigned block = 0; block < 16; block++) states[block] = uint8_t(((bits >> (2 * block)) & 3) % 3);
}

std::vector<uint8_t> fuzz_file_contents(FuzzInput& in, const std::vector<size_t>& lengths) {
    uint8_t selector = in.byte();
    size_t length;
    if (selector < lengths.size())
        length = lengths[selector];
    else if (selector < 2 * lengths.size())  // a neighbour of a special length
        length = lengths[selector - lengths.size()] + (in.byte() & 3);
    else
        length = in.left();
    std::vector<uint8_t> bytes(length);
    size_t have = in.left();
    for (size_t i = 0; i < length; i++) bytes[i] = have ? in.rest()[i % have] : uint8_t(i * 7);
    return bytes;
}

void fuzz_remove(const std::string& path) {
    if (unlink(path.c_str()) != 0) rmdir(path.c_str());
}

void fuzz_write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    fuzz_remove(path);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) std::abort();
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) std::abort();
        done += size_t(n);
    }
    close(fd);
}

bool fuzz_only_file_here(const std::string& name) {
    DIR* d = opendir(".");
    if (!d) return false;
    bool alone = true;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != ".." && n != name) alone = false;
    }
    closedir(d);
    return alone;
}

long fuzz_first_difference(const uint8_t* a, const uint8_t* b, size_t begin, size_t end) {
    if (begin >= end || std::memcmp(a + begin, b + begin, end - begin) == 0) return -1;
    for (size_t i = begin; i < end; i++)
        if (a[i] != b[i]) return long(i);
    return -1;
}
