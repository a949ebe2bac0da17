// Runs a fuzz target over files, without libFuzzer: every file named on the
// command line, and every file in every directory named there (in name
// order, README files skipped). Fails when no input was found, so that a
// wrong path cannot pass as an empty, green run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

bool replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string name = file.string();
    fuzz_current_input = name.c_str();
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    fuzz_current_input = nullptr;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned count = 0;
    for (int i = 1; i < argc; i++) {
        fs::path arg(argv[i]);
        std::vector<fs::path> files;
        if (fs::is_directory(arg)) {
            for (const auto& entry : fs::directory_iterator(arg))
                if (entry.is_regular_file() && entry.path().filename().string().rfind("README", 0) != 0)
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
        } else if (fs::exists(arg)) {
            files.push_back(arg);
        }
        for (const auto& file : files) {
            if (!replay(file)) return 1;
            count++;
        }
    }
    std::fprintf(stderr, "replayed %u inputs\n", count);
    return count ? 0 : 1;
}
