// A file opened at run time: started as from the command line, or attached.
#include "open_file.h"

#include <unistd.h>

#include <cstdio>

#include "../core/memory.h"
#include "../core/tarvikon.h"
#include "../devices/autostart.h"
#include "../devices/datasette.h"
#include "../devices/drive8.h"
#include "../devices/paste.h"
#include "../devices/tap.h"
#include "../files/fileio.h"
#include "../files/fileutil.h"
#include "archive.h"
#include "launch.h"
#include "recent.h"

namespace {

std::string own_name(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool is_medium(const char* name) { return is_disk_image_name(name) || is_tap_name(name) || is_t64_name(name); }

}  // namespace

std::string open_file(const std::string& path) {
    // A file that cannot be read costs the running machine nothing.
    const int fd = open_regular(path.c_str());
    if (fd == -1) {
        printf("Cannot open %s\n", path.c_str());
        return "";
    }
    close(fd);
    const std::string file = is_archive_name(path.c_str()) ? take_out_of_archive(path) : path;
    if (file.empty()) return "";
    add_recent_file(path);
    if (is_medium(file.c_str()) && !editor_waits_in_direct_mode()) {
        const bool attached = is_disk_image_name(file.c_str()) ? drive8_attach_image(file) : tape_attach(file);
        return attached ? "Attached " + own_name(path) : "";
    }
    // A fresh machine for it, as at start-up: what was typed or pasted and a
    // cartridge inserted before would get in its way.
    autostart_clear();
    paste_clear();
    remove_rom_memory();
    plan_launch({file.c_str()}, -1, false);
    if (!launch_takes(file.c_str())) load_game_cartridge(file.c_str());
    finish_launch();
    if (memdef != memexp) {
        memexp = memdef;
        config = 1;
    }
    reset_tarvikon();
    return "";
}
