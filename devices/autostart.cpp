// The autostart queue and the choice of the BASIC program named on the
// command line.
#include "autostart.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <deque>
#include <utility>
#include <filesystem>
#include <unistd.h>
#include <vector>

#include "../core/memory.h"
#include "../core/tarvikon.h"
#include "datasette.h"
#include "drive8.h"
#include "tap.h"
#include "../files/fileio.h"
#include "../files/fileutil.h"

bool autostart_pending = false;

namespace {

constexpr uint8_t RETURN_KEY = 0x0D;

struct QueuedLine {
    std::string text;     // the keys still to type, Return included
    std::string program;  // loaded before the first key; empty for none
    void (*before)();     // run before the first key; null for nothing
};
std::deque<QueuedLine> queue;

bool editor_waits_in_direct_mode() {
    return Register.PC >= EDITOR_WAIT_LOOP && Register.PC < EDITOR_WAIT_LOOP_END && memory[KEYS_WAITING] == 0 &&
           (memory[MESSAGE_MODE] & DIRECT_MODE);
}

// ---- the command-line program ------------------------------------------------------

constexpr const char* EXPANSION_NAMES[] = {"", "3 KB", "8 KB", "16 KB", "24 KB"};

int planned_expansion = -1;  // the expansion the program runs with; -1 for none planned
std::vector<std::string> taken;  // the BASIC programs named, the one that runs included

// A program file's page and length, or false for a file that cannot be read
// or lacks the two header bytes.
bool program_header(const char* name, uint8_t& page, off_t& length) {
    int fd = open_regular(name);
    if (fd == -1) return false;
    uint8_t header[2];
    length = file_length(fd);
    bool ok = length >= 2 && read_up_to(fd, header, 2) == 2;
    close(fd);
    if (ok) page = header[1];
    return ok;
}

// The expansion a BASIC program runs with: the configured one when it is
// larger than a $1201 program needs (it takes that start too), else the least.
int expansion_for(uint8_t page, off_t length, uint32_t configured) {
    int least = basic_program_expansion(page, length);
    if (page == 0x12 && configured >= uint32_t(least) && configured <= EXP_24K) return int(configured);
    return least;
}

}  // namespace

void autostart_queue_line(const std::string& text, const std::string& program, void (*before)()) {
    queue.push_back({text + char(RETURN_KEY), program, before});
    autostart_pending = true;
}

void autostart_clear() {
    queue.clear();
    autostart_pending = false;
}

void autostart_next_line() {
    if (queue.empty() || !editor_waits_in_direct_mode()) return;
    QueuedLine& line = queue.front();
    if (!line.program.empty()) {
        std::string program = std::move(line.program);
        line.program.clear();
        if (readbasic(program.c_str()) == -1) {
            queue.pop_front();
            autostart_pending = !queue.empty();
            return;
        }
    }
    if (line.before) std::exchange(line.before, nullptr)();
    size_t n = std::min<size_t>(line.text.size(), KEYBOARD_BUFFER_SIZE);
    std::memcpy(memory + KEYBOARD_BUFFER, line.text.data(), n);
    memory[KEYS_WAITING] = uint8_t(n);
    line.text.erase(0, n);
    if (line.text.empty()) queue.pop_front();
    autostart_pending = !queue.empty();
}

void plan_program_autostart(const std::vector<const char*>& files) {
    planned_expansion = -1;
    taken.clear();
    std::vector<std::string> programs;
    std::vector<int> needs;
    for (const char* file : files) {
        if (!is_program_name(file)) continue;
        uint8_t page;
        off_t length;
        if (!program_header(file, page, length)) continue;
        int needed = expansion_for(page, length, memexp);
        if (needed == -1) continue;
        taken.push_back(file);
        // Without a single program byte there is nothing to load or run.
        if (length == 2) {
            printf("Skipping program %s: it is empty\n", file);
            continue;
        }
        programs.push_back(file);
        needs.push_back(needed);
    }
    if (programs.empty()) return;
    for (size_t i = 0; i + 1 < programs.size(); i++)
        printf("Skipping program %s: only the last program named starts\n", programs[i].c_str());
    planned_expansion = needs.back();
    if (uint32_t(planned_expansion) != memexp) {
        if (planned_expansion == EXP_NONE)
            fputs("Program needs no expansion memory, starting without it...\n", stdout);
        else
            printf("Program needs %s expansion memory, starting with it...\n", EXPANSION_NAMES[planned_expansion]);
        memexp = uint32_t(planned_expansion);
        config = 1;
    }
    autostart_queue_line("RUN", programs.back());
}

void autostart_disk_image(const char* path) {
    if (!drive8_attach_image(path)) return;
    autostart_queue_line("LOAD\"*\",8");
    autostart_queue_line("RUN");
}

void autostart_tape_image(const char* path) {
    if (!tape_attach(path)) return;
    // PLAY only with LOAD: held at READY, it would start the motor and the tape would run on.
    autostart_queue_line("LOAD", "", tape_play);
    autostart_queue_line("RUN");
}

namespace {

std::string extracted_dir;
void remove_extracted() { std::filesystem::remove_all(extracted_dir); }

}  // namespace

std::string t64_program_file(const char* path) {
    std::vector<uint8_t> program;
    if (!tape_attach(path)) return "";
    if (!tape_first_program(program)) {
        printf("No program in tape image %s\n", path);
        return "";
    }
    // A folder without dots, so that the program's name alone gives its kind.
    char dir[] = "/tmp/tarvikonXXXXXX";
    if (!mkdtemp(dir)) return "";
    if (extracted_dir.empty()) std::atexit(remove_extracted);
    extracted_dir = dir;
    std::string stem = std::filesystem::path(path).stem().string();
    std::replace(stem.begin(), stem.end(), '.', '_');
    std::string file = extracted_dir + "/" + (stem.empty() ? "program" : stem) + ".prg";
    int out = open_for_writing(file.c_str());
    bool ok = out != -1 && write_all(out, program.data(), program.size());
    if (out != -1) close(out);
    return ok ? file : "";
}

bool taken_by_autostart(const char* arg) {
    for (const std::string& name : taken)
        if (name == arg) return true;
    return false;
}

void apply_program_expansion() {
    if (planned_expansion != -1) memdef = uint8_t(planned_expansion);
}
