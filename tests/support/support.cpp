#include "support.h"

#include "machine.h"

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "core/hooks.h"
#include "core/memory.h"
#include "core/tarvikon.h"

std::string shared_path(const std::string& relative) {
    const char* env = std::getenv("TARVIKON_SHARED");
    std::string base = env && *env ? env : TARVIKON_SHARED_DIR;
    return base + "/" + relative;
}

bool roms_available() {
    for (const char* name : {"roms/kernel.ntsc", "roms/kernel.pal", "roms/basic.rom", "roms/chargen.rom"})
        if (access(shared_path(name).c_str(), R_OK) != 0) return false;
    return true;
}

bool require_all() {
    const char* env = std::getenv("TARVIKON_REQUIRE_ALL");
    return env && std::strcmp(env, "1") == 0;
}

void skip_or_fail(const std::string& reason) {
    if (require_all())
        FAIL() << reason << " (TARVIKON_REQUIRE_ALL=1: missing is a failure)";
    else
        GTEST_SKIP() << reason;
}

void new_machine(uint8_t timing) { reset_test_machine(timing); }

std::string capture_stdout(const std::function<void()>& fn) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    fn();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

bool sigterm_ends_the_frame(const std::function<void()>& before) {
    const pid_t child = fork();
    if (child == 0) {
        before();
        raise(SIGTERM);
        run_frame_calls();
        _exit(3);
    }
    int status = -1;
    return waitpid(child, &status, 0) == child && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
}

TempDir::TempDir() {
    char templ[] = "/tmp/tarvikon-test-XXXXXX";
    path = mkdtemp(templ);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool load_test_program(const std::string& name) {
    std::string bytes = read_file(std::string(TARVIKON_BINARY_DIR) + "/tests/asm/" + name + ".bin");
    std::memcpy(memory + 0x0200, bytes.data(), std::min<size_t>(bytes.size(), 0x0E00));
    Register.PC = 0x0200;
    return !bytes.empty();
}

bool load_test_program_with_handler(const std::string& name) {
    if (!load_test_program(name)) return false;
    const uint8_t jump[3] = {0x4C, memory[0x0203], memory[0x0204]};
    std::memcpy(memory + IRQ_ENTRY, jump, 3);
    return true;
}

bool start_line_timed_program(const std::string& name, uint8_t timing) {
    new_machine(timing);
    if (!load_test_program(name + (timing ? "_71" : "_65"))) return false;
    run_test_program_set_up();
    return true;
}

void run_test_program_set_up() {
    interrupt = intdef = 1;
    while (memory[Register.PC]) run_step();
    Register.PC = 0x0203;
}
