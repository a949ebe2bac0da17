#include <cstdio>

#include "bench.h"

int bench_cpu(const char*) {
    std::fprintf(stderr, "cpu benchmark not built yet\n");
    return 2;
}
