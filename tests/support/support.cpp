#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "core/host.h"
#include "core/memory.h"
#include "core/tarvikon.h"
#include "core/via.h"
#include "core/vic.h"

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

void new_machine(uint8_t timing) {
    if (!memory) memory = static_cast<uint8_t*>(std::malloc(MEMORY_SIZE));
    std::memset(memory, 0, MEMORY_SIZE);
    std::memset(memory, 0xFF, 0x9000);
    std::memset(memory + 0xA000, 0xFF, 0x2000);
    std::memset(rombank, 0, sizeof rombank);
    std::memset(keyrow, 0xFF, sizeof keyrow);
    std::memset(keycol, 0xFF, sizeof keycol);
    keycount = 0;
    joystick = joystick2 = 0xFF;
    soundon = 0;
    verbose = 0;
    config = 0;
    ram = 0;
    memexp = memdef = 0;
    interrupt = 2;
    intdef = 2;
    delay_loop = 0;
    vid_time = vid_new = timing;
    overscan = overscan_set = 28;
    joystick_fd = -1;
    raster = 0;
    line_cycles = 0;
    frame_ready = 1;
    x = y = 0;
    cycles = 0;
    set_video_constants(timing);
    start_X_client();
    wire_vias();
    wire_vic();
    install_io_handlers();
}

std::string capture_stdout(const std::function<void()>& fn) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    fn();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
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
