// The whole machine, headless: the PAL kernal boots into BASIC and runs for
// the given number of frames with every frame drawn, the rewind buffer on
// as in the program. Then the same number of
// frames again with drawing skipped, and the renderer timed on its own, to
// show what the drawing costs.
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench.h"
#include "core/hooks.h"
#include "core/host.h"
#include "core/memory.h"
#include "core/tarvikon.h"
#include "core/pacing.h"
#include "core/rewind.h"
#include "core/vic.h"
#include "devices/devices.h"
#include "files/fileio.h"

namespace {

constexpr uint32_t SKIP_DIVISOR = 255;  // the longest frame-skip countdown

// Processor time of this thread: on a shared machine it counts only the
// time the emulator really ran.
double cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

bool load(const std::string& dir, const char* name, uint16_t address, int size) {
    std::string path = dir + "/" + name;
    if (readrom(path.c_str(), address, size) == 0) return true;
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
}

}  // namespace

// Start-up as the program does it, without a window or sound.
bool start_machine(const std::string& roms) {
    memory = static_cast<uint8_t*>(std::calloc(MEMORY_SIZE, 1));
    if (!memory) return false;
    std::memset(memory, 0xFF, 0x9000);
    std::memset(memory + 0xA000, 0xFF, 0x2000);
    soundon = 0;
    verbose = 0;
    vid_time = vid_new = 1;
    set_video_constants(1);
    if (!load(roms, "kernel.pal", 0xE000, 8192) || !load(roms, "basic.rom", 0xC000, 8192) ||
        !load(roms, "chargen.rom", 0x8000, 4096))
        return false;
    start_X_client();
    start_devices();
    patch_rom_version();
    insert_memory_expansion();
    machine_start();
    add_between_frames_call(rewind_between_frames);
    return true;
}

namespace {

// Runs whole frames as the program does and returns the emulated cycles.
uint64_t run_frames(long frames) {
    const uint64_t start = machine_cycle();
    for (long f = 0; f < frames; f++) {
        run_frame();
        run_between_frames_calls();
    }
    return machine_cycle() - start;
}

}  // namespace

int bench_machine(const char* roms_dir, const char* frames_text) {
    char* end = nullptr;
    long frames = std::strtol(frames_text, &end, 10);
    if (!end || *end || frames <= 0) {
        std::fprintf(stderr, "frames must be a positive number, not \"%s\"\n", frames_text);
        return 2;
    }
    if (!start_machine(roms_dir)) return 1;

    interrupt = 1;
    intdef = 1;
    double start = cpu_seconds();
    uint64_t cycles_drawn = run_frames(frames);
    double drawn = cpu_seconds() - start;

    interrupt = SKIP_DIVISOR;
    intdef = SKIP_DIVISOR;
    start = cpu_seconds();
    uint64_t cycles_skipped = run_frames(frames);
    double skipped = cpu_seconds() - start;

    // The renderer alone over the finished screen, as many lines as the drawn run had.
    uint16_t saved_raster = raster;
    start = cpu_seconds();
    for (long f = 0; f < frames; f++) {
        x = y = 0;
        for (uint32_t line = 0; line <= last_line; line++) {
            raster = uint16_t(line);
            render_line();
        }
    }
    double rendering = cpu_seconds() - start;
    raster = saved_raster;

    double speed_skipped = double(cycles_skipped) / double(PAL_CLOCK_HZ) / skipped;
    std::printf("without drawing: %.1f times real time (drawing takes %.1f%% of the time)\n", speed_skipped,
                100.0 * (1.0 - double(cycles_drawn) / drawn / (double(cycles_skipped) / skipped)));
    std::printf("rendering alone: %.3f s of %.3f s (%.1f%%), %.0f ns per line\n", rendering, drawn,
                100.0 * rendering / drawn, 1e9 * rendering / double(frames * (last_line + 1)));
    std::printf("machine: %ld frames, %llu cycles, %.1f times real time\n", frames,
                static_cast<unsigned long long>(cycles_drawn), double(cycles_drawn) / double(PAL_CLOCK_HZ) / drawn);
    std::free(memory);
    memory = nullptr;
    return 0;
}
