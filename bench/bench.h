// The benchmark modes; each prints its result as its last line of stdout.
#pragma once

int bench_cpu(const char* image_path);
int bench_machine(const char* roms_dir, const char* frames);
