// What showing the picture costs on the X display named by DISPLAY (a 24-bit
// Xvfb of 1920 x 1080, say): the program starts as a user starts it, boots
// to READY and runs at real speed; put_frame is timed on its own through the
// linker's --wrap, first at READY, then with a border colour that changes
// every frame, so that every line must be drawn again. Then warp speed.
//   tarvikon-display-bench <roms dir> <seconds> [-scale N] [-fullscreen]
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "core/host.h"
#include "core/pacing.h"
#include "core/tarvikon.h"
#include "core/vic.h"
#include "start/startup.h"
#include "ui/X.h"

extern "C" void __real__Z9put_framev();  // put_frame itself, under --wrap

namespace {

int64_t thread_cpu_ns() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int64_t process_cpu_ns() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return (int64_t(u.ru_utime.tv_sec) + u.ru_stime.tv_sec) * 1000000000 +
           (int64_t(u.ru_utime.tv_usec) + u.ru_stime.tv_usec) * 1000;
}

int64_t put_ns = 0;
unsigned puts_done = 0;

struct Run {
    double wall_s, frames, put_share, process_share, put_us;
};

// Real speed for a wall time; `flicker` changes the border colour every frame.
Run run_real_time(double seconds, bool flicker) {
    warp_speed = 0;
    put_ns = 0;
    puts_done = 0;
    const int64_t start = monotonic_ns(), cpu = process_cpu_ns();
    unsigned frames = 0;
    while (monotonic_ns() - start < int64_t(seconds * 1e9)) {
        if (flicker) bordpixel = vic_colors[puts_done % 2 ? COLOR_RED : COLOR_CYAN].double_pixel;
        run_frame();
        pace_frame();
        frames++;
    }
    const double wall = double(monotonic_ns() - start);
    return {wall / 1e9, double(frames), 100.0 * double(put_ns) / wall, 100.0 * double(process_cpu_ns() - cpu) / wall,
            puts_done ? double(put_ns) / puts_done / 1e3 : 0};
}

void report(const char* what, const Run& r) {
    std::printf("%s: %.0f frames, put_frame %.2f %% of a core (%.1f us a put), process %.2f %% of a core\n", what,
                r.frames, r.put_share, r.put_us, r.process_share);
}

}  // namespace

// Every put the machine makes, timed.
extern "C" void __wrap__Z9put_framev() {
    const int64_t t = thread_cpu_ns();
    __real__Z9put_framev();
    put_ns += thread_cpu_ns() - t;
    puts_done++;
}

int main(int argc, char** argv) {
    if (argc < 3 || !std::getenv("DISPLAY")) {
        std::fprintf(stderr, "usage: DISPLAY=:N %s <roms dir> <seconds> [-scale N] [-fullscreen]\n", argv[0]);
        return 2;
    }
    const double seconds = std::atof(argv[2]);
    const std::string roms = std::filesystem::absolute(argv[1]);
    bool full = false;
    std::vector<char*> args = {argv[0], const_cast<char*>("-nosound")};
    for (int i = 3; i < argc; i++) {
        if (std::strcmp(argv[i], "-fullscreen") == 0)
            full = true;
        else
            args.push_back(argv[i]);
    }
    // The program finds its ROMs in roms/ of the working directory.
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("display-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::create_directory_symlink(roms, dir / "roms");
    std::filesystem::current_path(dir);
    int count = int(args.size());
    args.push_back(nullptr);
    start_tarvikon(count, args.data());
    machine_start();

    warp_speed = 1;
    for (int f = 0; f < 300; f++) run_frame();  // to READY
    if (full) set_full_screen(true);
    warp_speed = 0;
    for (int f = 0; f < 50; f++) {  // the window settles at its size
        run_frame();
        pace_frame();
    }
    PictureFit fit = view_active ? view_fit() : PictureFit{scale + 1u, 0, 0};
    std::printf("zoom %u, picture at %d,%d\n", fit.zoom, fit.x, fit.y);
    report("at READY", run_real_time(seconds, false));
    report("every line changing", run_real_time(seconds, true));

    // On a shared machine the processor time is the steadier measure.
    warp_speed = 1;
    const int64_t start = monotonic_ns(), cpu = process_cpu_ns();
    const uint32_t first = frame_count;
    while (monotonic_ns() - start < int64_t(seconds * 1e9)) run_frame();
    const double emulated = double(frames_ns(frame_count - first, frame_rate(scanline, last_line)));
    std::printf("warp: %.0f times real time, %.0f times per second of processor time\n",
                emulated / double(monotonic_ns() - start), emulated / double(process_cpu_ns() - cpu));

    std::filesystem::remove_all(dir);
    shut_down_tarvikon();
    return 0;
}
