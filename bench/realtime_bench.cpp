// The booted machine headless through the program's own pacing for a given
// wall time: how closely it keeps real time, what processor share that
// costs, and how late the frames end (the 99th percentile).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "bench.h"
#include "core/memory.h"
#include "core/pacing.h"
#include "core/tarvikon.h"

namespace {

constexpr int BOOT_FRAMES = 300;  // six seconds of PAL: the kernal is at READY

int64_t process_cpu_ns() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

int bench_realtime(const char* roms_dir, const char* seconds_text) {
    char* end = nullptr;
    double seconds = std::strtod(seconds_text, &end);
    if (!end || *end || !(seconds > 0)) {
        std::fprintf(stderr, "seconds must be a positive number, not \"%s\"\n", seconds_text);
        return 2;
    }
    if (!start_machine(roms_dir)) return 1;
    for (int f = 0; f < BOOT_FRAMES; f++) run_frame();

    warp_speed = 0;
    const int64_t wall_ns = int64_t(seconds * 1e9);
    std::vector<int64_t> late;
    const int64_t cpu_start = process_cpu_ns(), start = monotonic_ns();
    int64_t emulated_ns = 0;
    while (monotonic_ns() - start < wall_ns) {
        run_frame();
        emulated_ns += frames_ns(1, frame_rate(scanline, last_line));
        late.push_back(pace_frame());
    }
    const double wall = double(monotonic_ns() - start), cpu = double(process_cpu_ns() - cpu_start);

    std::sort(late.begin(), late.end());
    const double p99 = late.empty() ? 0 : double(late[std::min(late.size() - 1, late.size() * 99 / 100)]);
    std::printf("realtime: %zu frames, %.3f of real time, %.2f %% of a core, late frames p99 %.2f ms\n", late.size(),
                double(emulated_ns) / wall, 100.0 * cpu / wall, p99 / 1e6);
    std::free(memory);
    memory = nullptr;
    return 0;
}
