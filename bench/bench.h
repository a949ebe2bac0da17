// The benchmark modes; each prints its result as its last line of stdout.
#pragma once

#include <string>

int bench_cpu(const char* image_path);
int bench_machine(const char* roms_dir, const char* frames);
int bench_realtime(const char* roms_dir, const char* seconds);
int bench_rewind(const char* roms_dir);

// The PAL machine headless, as the program starts it (no window, no sound).
bool start_machine(const std::string& roms_dir);
