// The recent-files list in the XDG configuration folder.
#include "recent.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

std::string recent_list_path() {
    // A relative XDG_CONFIG_HOME is to be ignored, as the base directory rules say.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return std::string(config) + "/tarvikon/recent";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.config/tarvikon/recent";
    return "";
}

std::vector<std::string> recent_files() {
    std::vector<std::string> files;
    const std::string path = recent_list_path();
    if (path.empty()) return files;
    std::ifstream in(path);
    std::string line;
    while (files.size() < RECENT_MAX && std::getline(in, line))
        if (!line.empty() && line[0] == '/') files.push_back(line);
    return files;
}

bool add_recent_file(const std::string& file) {
    const std::string path = recent_list_path();
    std::error_code error;
    const fs::path absolute = fs::absolute(file, error).lexically_normal();
    if (path.empty() || error || file.find('\n') != std::string::npos) return false;
    std::vector<std::string> files = {absolute.string()};
    for (const std::string& f : recent_files())
        if (f != files[0] && files.size() < RECENT_MAX) files.push_back(f);
    fs::create_directories(fs::path(path).parent_path(), error);
    // Written beside it and renamed over it, so a reader never sees half a list.
    const std::string temporary = path + "." + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const std::string& f : files) out << f << '\n';
        if (!out.flush()) return false;
    }
    fs::rename(temporary, path, error);
    if (!error) return true;
    fs::remove(temporary, error);
    return false;
}
