// Speed benchmarks: emulated cycles per host second, compared as ratios.
//   tarvikon-bench cpu <6502_functional_test.bin>
//   tarvikon-bench machine <roms dir> <frames>
//   tarvikon-bench realtime <roms dir> <seconds>
//   tarvikon-bench rewind <roms dir>
#include <cstdio>
#include <cstring>

#include "bench.h"

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "cpu") == 0) return bench_cpu(argv[2]);
    if (argc >= 4 && std::strcmp(argv[1], "machine") == 0) return bench_machine(argv[2], argv[3]);
    if (argc >= 4 && std::strcmp(argv[1], "realtime") == 0) return bench_realtime(argv[2], argv[3]);
    if (argc >= 3 && std::strcmp(argv[1], "rewind") == 0) return bench_rewind(argv[2]);
    std::fprintf(stderr,
                 "usage: %s cpu <6502_functional_test.bin>\n       %s machine <roms dir> <frames>\n"
                 "       %s realtime <roms dir> <seconds>\n       %s rewind <roms dir>\n",
                 argv[0], argv[0], argv[0], argv[0]);
    return 2;
}
