// tarvikon-headless-bench <tarvikon program> <roms dir> <seconds>
//
// The program itself run headless, as a test script runs it, for a number
// of emulated seconds (NTSC, the default standard): at READY with the
// cursor blinking, with a BASIC loop that changes the screen's colours all
// the time, that loop with one watchpoint set (an -exitaddress nothing
// writes), and a machine-code program that redraws the whole screen in
// every frame. Reports the speeds from the child's processor time.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../core/pacing.h"

namespace {

// Processor seconds of one run of the program, or a negative number.
double run_program(const std::string& program, const std::string& dir, const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0 || !freopen("/dev/null", "w", stdout)) _exit(127);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 1)
        return -1;  // a run that ends at its cycle limit exits with 1
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// 10 SYS4109, then: wait until the raster reads line 0, put a counter in
// the border and background, write counter + i into the 256 cells from
// $1E00, $1F00, $9600 and $9700, and wait again. As a game does, it spends
// the rest of each frame reading the raster.
constexpr unsigned char REDRAW_PRG[] = {
    0x01, 0x10, 0x0B, 0x10, 0x0A, 0x00, 0x9E, '4', '1', '0', '9', 0x00, 0x00, 0x00,
    0xAD, 0x04, 0x90,  // frame: LDA $9004
    0xD0, 0xFB,        //        BNE frame
    0xE6, 0xFB,        //        INC $FB
    0xA5, 0xFB,        //        LDA $FB
    0x8D, 0x0F, 0x90,  //        STA $900F
    0xA2, 0x00,        //        LDX #0
    0x8A,              // cell:  TXA
    0x18,              //        CLC
    0x65, 0xFB,        //        ADC $FB
    0x9D, 0x00, 0x1E,  //        STA $1E00,X
    0x9D, 0x00, 0x1F,  //        STA $1F00,X
    0x9D, 0x00, 0x96,  //        STA $9600,X
    0x9D, 0x00, 0x97,  //        STA $9700,X
    0xE8,              //        INX
    0xD0, 0xED,        //        BNE cell
    0x4C, 0x0D, 0x10,  //        JMP frame
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <tarvikon program> <roms dir> <seconds>\n", argv[0]);
        return 2;
    }
    const char *program = argv[1], *roms_dir = argv[2], *seconds_text = argv[3];
    const double seconds = std::atof(seconds_text);
    if (seconds <= 0) {
        std::fprintf(stderr, "seconds must be a positive number, not \"%s\"\n", seconds_text);
        return 2;
    }
    char dir_template[] = "/tmp/tarvikon-bench-XXXXXX";
    if (!mkdtemp(dir_template)) return 1;
    const std::string dir = dir_template;
    // The program runs in the folder that holds the roms/ link.
    const auto absolute = [](std::string path) {
        if (path[0] == '/') return path;
        char* here = getcwd(nullptr, 0);
        path = std::string(here) + "/" + path;
        std::free(here);
        return path;
    };
    const std::string roms = absolute(roms_dir), program_path = absolute(program);
    if (symlink(roms.c_str(), (dir + "/roms").c_str()) != 0) return 1;

    const uint64_t cycles = uint64_t(seconds * NTSC_CLOCK_HZ);
    const std::vector<std::string> ready = {"-headless", "-limitcycles", std::to_string(cycles)};
    std::vector<std::string> basic = ready, watched = ready;
    basic.insert(basic.end(), {"-type", "10 POKE36879,PEEK(162)AND255:GOTO10\\nRUN\\n"});
    watched = basic;
    watched.insert(watched.end(), {"-exitaddress", "$0400"});
    const std::string redraw_path = dir + "/redraw.prg";
    FILE* redraw_file = std::fopen(redraw_path.c_str(), "wb");
    if (!redraw_file || std::fwrite(REDRAW_PRG, sizeof REDRAW_PRG, 1, redraw_file) != 1 || std::fclose(redraw_file) != 0)
        return 1;
    std::vector<std::string> redraw = ready;
    redraw.push_back(redraw_path);

    const double at_ready = run_program(program_path, dir, ready);
    const double plain = run_program(program_path, dir, basic);
    const double watch = run_program(program_path, dir, watched);
    const double redrawn = run_program(program_path, dir, redraw);
    unlink(redraw_path.c_str());
    unlink((dir + "/roms").c_str());
    rmdir(dir.c_str());
    if (at_ready <= 0 || plain <= 0 || watch <= 0 || redrawn <= 0) {
        std::fprintf(stderr, "the program did not run to its cycle limit\n");
        return 1;
    }
    std::printf("at READY: %.1f times real time\n", seconds / at_ready);
    std::printf("with one watchpoint: %.1f times real time (%.2f times the time)\n", seconds / watch, watch / plain);
    std::printf("headless, BASIC colour loop: %.0f emulated seconds in %.2f s, %.1f times real time\n", seconds, plain,
                seconds / plain);
    std::printf("headless, screen redrawn every frame: %.1f times real time\n", seconds / redrawn);
    return 0;
}
