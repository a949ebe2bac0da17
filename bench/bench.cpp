// Speed benchmarks: emulated cycles per host second.
//   tarvikon-bench cpu <6502_functional_test.bin>
//   tarvikon-bench machine <roms dir> <frames>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s cpu <functional test image> | machine <roms dir> <frames>\n", argv[0]);
        return 2;
    }
    std::fprintf(stderr, "%s: not built yet\n", argv[1]);
    return 2;
}
