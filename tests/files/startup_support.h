// Start-up as the tests run it: the globals of a freshly started program,
// an argument vector, and start-up in this process with its output.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/tarvikon.h"
#include "files/fileio.h"
#include "start/startup.h"
#include "support.h"

inline const std::string BANNER = "\nTarvikon for Linux V0.8, Build date 21.04.98\n";

// The globals as a freshly started program has them.
inline void program_defaults() {
    ram = 0;
    scale = 0;
    scale_set = 0;
    verbose = 0;
    joystick_fd = -1;
    tvsound = 0;
    soundon = 1;
    config = 0;
    DUMP = 0;
    memexp = 0;
    memdef = 0;
    vid_time = vid_new = 0;
    std::free(memory);
    memory = nullptr;
    starting_up = false;
    // Without a configuration folder the files named are kept in no recent list.
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("HOME");
}

struct Args {
    std::vector<std::string> words;
    std::vector<char*> argv;
    explicit Args(std::initializer_list<std::string> list) : Args(std::vector<std::string>(list)) {}
    explicit Args(const std::vector<std::string>& list) : words{"tarvikon"} {
        words.insert(words.end(), list.begin(), list.end());
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
    }
    int argc() const { return int(words.size()); }
};

// Start-up in this process (it must return), with its output.
inline std::string start_here(const std::vector<std::string>& list) {
    program_defaults();
    Args args(list);
    std::string out = capture_stdout([&] { start_tarvikon(args.argc(), args.argv.data()); });
    EXPECT_FALSE(starting_up);
    return out;
}

