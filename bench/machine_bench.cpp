#include <cstdio>

#include "bench.h"

int bench_machine(const char*, const char*) {
    std::fprintf(stderr, "machine benchmark not built yet\n");
    return 2;
}
