// The files named on the command line: memory, loads and the one that starts.
#include "launch.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "../core/memory.h"
#include "../core/tarvikon.h"
#include "../devices/autostart.h"
#include "../devices/datasette.h"
#include "../devices/drive8.h"
#include "../devices/drive_media.h"
#include "../devices/tap.h"
#include "config.h"
#include "../files/fileio.h"
#include "../files/program_file.h"

namespace {

constexpr const char* EXPANSION_NAMES[] = {"no expansion",        "the 3 KB expansion",  "the 8 KB expansion",
                                           "the 16 KB expansion", "the 24 KB expansion", "all expansions"};
constexpr uint16_t CARTRIDGE_AREA = 0xA000;
constexpr uint32_t ROM_PARTS_START = 0x2000, ROM_PARTS_END = 0x8000;

struct Plan {
    int expansion = -1;               // the expansion to start with; -1: as configured
    std::vector<std::string> taken;   // arguments the file walk passes by
    std::vector<ProgramFile> loads;   // host files loaded at READY, in order
    std::vector<ProgramFile> rom_parts;  // the parts of a cartridge named with it, at $2000-$7FFF
    bool last_runs = false;           // the last of them gets RUN
    // A disk or tape image named alone: its first program, loaded by typing LOAD.
    enum class Medium { NONE, DISK, TAPE } medium = Medium::NONE;
    ProgramFile first_program;
    bool play_tape = false;  // a .tap named alone: PLAY with LOAD, then RUN
};
Plan plan;

const char* expansion_name(uint32_t e) { return e <= EXP_ALL ? EXPANSION_NAMES[e] : "the configured expansion"; }

// Why the programs need the memory picked for them.
std::string reason_for(const MemoryNeeds& needs) {
    char text[64];
    if (needs.run_start) {
        snprintf(text, sizeof text, "BASIC for $%04x", unsigned(needs.run_start));
        return text;
    }
    std::string areas;
    if (needs.low_3k) areas = "$0400-$0fff";
    if (needs.high_8k) areas += std::string(areas.empty() ? "" : " and ") + "$2000-$7fff";
    return areas.empty() ? "the configured memory" : "memory at " + areas;
}

// The user's choice when everything fits it; otherwise picked, and said
// whenever that differs from the configured memory.
void choose_memory(const MemoryNeeds& needs, const std::string& name) {
    uint32_t e = memexp;
    if (!expansion_chosen || !fits(needs, e)) {
        e = expansion_for(needs);
        if (expansion_chosen)
            printf("%s does not run with %s, starting with %s...\n", name.c_str(), expansion_name(memexp),
                   expansion_name(e));
        else if (e != memexp || verbose)
            printf("Starting with %s for %s (%s)...\n", expansion_name(e), name.c_str(), reason_for(needs).c_str());
    }
    if (e != memexp) {
        memexp = e;
        config = 1;
    }
    plan.expansion = int(e);
}

void needs_to_run(MemoryNeeds& needs, const ProgramFile& file) {
    needs.run_start = run_start_of(file);
    needs.run_bytes = program_kind(file) == ProgramKind::BASIC ? uint32_t(file.data.size()) : 0;
}

// The first program of a disk or tape image, planned as a program file;
// the memory is picked for every program file on the disk, since the first
// loads the others.
void plan_first_program(const char* path, Plan::Medium medium, const std::vector<uint8_t>& bytes) {
    const ProgramFile& file = plan.first_program = program_from_bytes(path, bytes);
    plan.medium = medium;
    MemoryNeeds needs;
    add_needs(needs, file);
    if (medium == Plan::Medium::DISK) {
        DiskListing listing;
        if (drive_listing(8, listing) == DiskStatus::OK)
            for (const DiskFile& f : listing.files) {
                std::vector<uint8_t> part;
                if (f.type == 0x82 && drive_read(8, f, part) == DiskStatus::OK && part.size() > 2)
                    add_needs(needs, program_from_bytes(f.name, part));
            }
    }
    needs_to_run(needs, file);
    choose_memory(needs, path);
}

void plan_disk(const char* path) {
    plan.taken.push_back(path);
    if (!drive8_attach_image(path)) return;
    std::vector<uint8_t> bytes;
    DiskStatus status = drive8_load("*", bytes);
    const char* why = status == DiskStatus::NOT_FOUND ? "it holds no program"
                      : status != DiskStatus::OK      ? "its first program cannot be read"
                      : bytes.size() == 2             ? "its first program is empty"
                                                      : nullptr;
    if (why) {
        printf("Nothing to start on %s: %s\n", path, why);
        return;
    }
    plan_first_program(path, Plan::Medium::DISK, bytes);
}

// A .t64 alone starts its first file as a program file would; a .tap alone
// gets PLAY, LOAD and RUN, since only playing it tells what it holds.
void plan_tape(const char* path) {
    plan.taken.push_back(path);
    if (!tape_attach(path)) return;
    if (!is_t64_name(path)) {
        plan.play_tape = true;
        return;
    }
    std::vector<uint8_t> bytes;
    if (!tape_first_program(bytes) || bytes.size() <= 2) {
        printf("Nothing to start on %s: it holds no program\n", path);
        return;
    }
    plan_first_program(path, Plan::Medium::TAPE, bytes);
}

// A cartridge image from a disk or tape goes where the cartridge loader puts one.
void load_disk_cartridge(const ProgramFile& file) {
    printf("Loading program %s...to $a000...", file.name.c_str());
    size_t n = std::min<size_t>(file.data.size(), 0x2000);
    std::memcpy(memory + CARTRIDGE_AREA, file.data.data(), n);
    rombank[10] = BLOCK_ROM;
    if (n > 0x1000) rombank[11] = BLOCK_ROM;
    printf("got %d ", int(n));
    fputs("bytes \n", stdout);
}

// LOAD as typed for the first program of the image named: from drive 8, or
// from the tape with PLAY pressed just before.
void queue_load(const char* disk_line, const char* tape_line) {
    if (plan.medium == Plan::Medium::DISK)
        autostart_queue_line(disk_line);
    else
        autostart_queue_line(tape_line, [] {
            tape_play();
            return true;
        });
}

void queue_first_program() {
    const ProgramFile& file = plan.first_program;
    switch (program_kind(file)) {
    case ProgramKind::CARTRIDGE: load_disk_cartridge(file); return;
    case ProgramKind::BASIC:
        queue_load("LOAD\"*\",8", "LOAD");
        autostart_queue_line("RUN");
        return;
    case ProgramKind::IMAGE:
        queue_load("LOAD\"*\",8,1", "LOAD\"\",1,1");
        if (run_start_of(file))
            autostart_queue_line("RUN");
        else
            autostart_queue_line("", [file] { return fputs(start_it_with_sys(file).c_str(), stdout) >= 0; });
        return;
    }
}

bool is_rom_part(const ProgramFile& f) {
    return program_kind(f) == ProgramKind::IMAGE && f.address >= ROM_PARTS_START &&
           f.address + f.data.size() <= ROM_PARTS_END;
}

// A part of a cartridge in several files: ROM where it loads, which the
// kernal's memory test at reset leaves alone.
void load_rom_part(const ProgramFile& part) {
    printf("Loading game cartridge %s...at $%x...got %d bytes\n", part.name.c_str(), unsigned(part.address),
           int(part.data.size()));
    std::memcpy(memory + part.address, part.data.data(), part.data.size());
    for (uint32_t block = part.address >> 12; block <= (part.address + part.data.size() - 1) >> 12; block++)
        rombank[block] = BLOCK_ROM;
}

// The folder a program came from becomes drive 8, so that it finds its
// next parts there as it would on its own disk.
void follow_to_folder(const std::string& name) {
    size_t slash = name.rfind('/');
    if (slash != std::string::npos) drive8_use_folder(slash == 0 ? "/" : name.substr(0, slash));
}

}  // namespace

void plan_launch(const std::vector<const char*>& files, int memory_option, bool drive_chosen) {
    plan = Plan{};
    if (files.size() == 1 && is_disk_image_name(files[0])) {
        plan_disk(files[0]);
        return;
    }
    if (files.size() == 1 && (is_tap_name(files[0]) || is_t64_name(files[0]))) {
        plan_tape(files[0]);
        return;
    }
    bool cartridge = false, starting_cartridge = false;
    for (const char* name : files) {
        ProgramFile file;
        if (!is_program_name(name) || is_chip_cartridge(name)) {
            cartridge = cartridge || !is_disk_image_name(name);
            continue;
        }
        if (!read_program_file(name, file)) continue;  // the file walk reports it
        if (program_kind(file) == ProgramKind::CARTRIDGE) {
            cartridge = starting_cartridge = true;
            continue;
        }
        plan.taken.push_back(name);
        // Without a single program byte there is nothing to load or run.
        if (file.data.empty()) {
            printf("Skipping program %s: it is empty\n", name);
            continue;
        }
        plan.loads.push_back(std::move(file));
    }
    // Beside a cartridge that starts at reset, images for $2000-$7FFF are
    // its other parts: ROM, as one cartridge.
    if (starting_cartridge)
        std::erase_if(plan.loads, [](const ProgramFile& f) {
            if (is_rom_part(f)) plan.rom_parts.push_back(f);
            return is_rom_part(f);
        });
    // The last one that can start loads last, so that the BASIC pointers
    // are its own.
    for (size_t i = plan.loads.size(); i-- > 0;) {
        if (!run_start_of(plan.loads[i])) continue;
        std::rotate(plan.loads.begin() + long(i), plan.loads.begin() + long(i) + 1, plan.loads.end());
        plan.last_runs = true;
        break;
    }
    if (!plan.loads.empty()) {
        MemoryNeeds needs;
        for (const ProgramFile& file : plan.loads) add_needs(needs, file);
        if (plan.last_runs) needs_to_run(needs, plan.loads.back());
        // Every BASIC program for that start loads there in turn.
        for (const ProgramFile& file : plan.loads)
            if (program_kind(file) == ProgramKind::BASIC && file.address == needs.run_start)
                needs.run_bytes = std::max(needs.run_bytes, uint32_t(file.data.size()));
        choose_memory(needs, plan.loads.back().name);
        if (!drive_chosen) follow_to_folder(plan.loads.back().name);
    } else if (cartridge) {
        // Cartridges run unexpanded unless the option says otherwise.
        plan.expansion = memory_option >= 0 ? memory_option : EXP_NONE;
        if (uint32_t(plan.expansion) != memexp) config = 1;
    }
}

bool launch_takes(const char* arg) {
    for (const std::string& name : plan.taken)
        if (name == arg) return true;
    return false;
}

void finish_launch() {
    if (plan.expansion != -1) memdef = uint8_t(plan.expansion);
    for (const ProgramFile& part : plan.rom_parts) load_rom_part(part);
    if (plan.medium != Plan::Medium::NONE) queue_first_program();
    if (plan.play_tape) {
        plan.medium = Plan::Medium::TAPE;
        queue_load("", "LOAD");
        autostart_queue_line("RUN");
    }
    const bool before_boot = cartridge_starts_at_reset();
    const uint16_t start = basic_start_of(memdef);
    for (size_t i = 0; i < plan.loads.size(); i++) {
        const ProgramFile& file = plan.loads[i];
        const bool runs = plan.last_runs && i + 1 == plan.loads.size();
        if (program_kind(file) == ProgramKind::BASIC) {
            // It loads at the BASIC start, which a cartridge never reaches
            // and which is no use to a program made for another.
            if (before_boot || file.address != start) {
                if (before_boot)
                    printf("Skipping program %s: the cartridge starts instead\n", file.name.c_str());
                else
                    printf("Skipping program %s: it is made for BASIC at $%04x\n", file.name.c_str(),
                           unsigned(file.address));
                continue;
            }
            std::string name = file.name;
            autostart_queue_line(runs ? "RUN" : "", [name] {
                if (readbasic(name.c_str()) == -1) return false;
                leave_as_drive_load(0);
                return true;
            });
            continue;
        }
        if (before_boot && is_rom_part(file)) {
            load_rom_part(file);
            continue;
        }
        const bool say_sys = !plan.last_runs;
        auto load = [file, say_sys] {
            load_memory_image(file);
            if (say_sys) fputs(start_it_with_sys(file).c_str(), stdout);
            return true;
        };
        if (before_boot)
            load();
        else
            autostart_queue_line(runs ? "RUN" : "", load);
    }
}

void load_game_cartridge(const char* name) {
    if (is_disk_image_name(name)) {
        drive8_attach_image(name);
    } else if (is_tap_name(name) || is_t64_name(name)) {
        tape_attach(name);
    } else {
        load_cartridge_file(name);
    }
}
