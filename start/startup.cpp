// The program's entry: banner, options, and the machine brought up in a
// fixed order before the machine start and the main loop take over.
#include "startup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <string>
#include <vector>

#include "../core/hooks.h"
#include "../core/host.h"
#include "../core/memory.h"
#include "../core/pacing.h"
#include "../core/replay.h"
#include "../core/rewind.h"
#include "../core/tarvikon.h"
#include "../core/via.h"
#include "../devices/devices.h"
#include "../devices/drive8.h"
#include "../devices/drive_media.h"
#include "../devices/gamepad.h"
#include "../files/fileio.h"
#include "../files/fileutil.h"
#include "../files/snapshot_file.h"
#include "../monitor/session.h"
#include "../monitor/test_runner.h"
#include "../sound/sound.h"
#include "archive.h"
#include "config.h"
#include "launch.h"
#include "recent.h"

bool positional_keys = false;

namespace {

constexpr const char* BANNER = "\nTarvikon for Linux V0.8, Build date 21.04.98\n";
// The old device name first; current systems have only the second.
constexpr const char* JOYSTICK_DEVICES[] = {"/dev/js0", "/dev/input/js0"};

void set_ram_flag() { ram |= RAM_AT_A000; }
void set_highres() {
    scale = 1;
    scale_set = 1;
}
void set_verbose() { verbose = 1; }
void set_joystick() { joystick_fd = 0; }
void set_tvsound() { tvsound = 1; }
void set_no_version() { ram |= NO_VERSION_PATCH; }
void set_nosound() { soundon = 0; }
void set_nocfg() { config = 1; }
void set_warp() { warp_speed = 1; }
[[noreturn]] void help_and_exit() {
    show_help();
    exit(0);
}

void set_keymap(const char* value) {
    if (std::strcmp(value, "positional") == 0 || std::strcmp(value, "symbolic") == 0)
        positional_keys = value[0] == 'p';
    else
        printf("-keymap takes symbolic or positional, not %s\n", value);
}

bool drive8_option = false;
void set_drive8_folder(const char* dir) {
    drive8_option = true;
    if (is_disk_image_name(dir)) drive8_attach_image(dir);
    else drive8_use_folder(dir);
}
// -drive9 to -drive11: a folder, or a .d64 image by its name.
template <unsigned UNIT>
void set_drive(const char* path) {
    if (is_disk_image_name(path)) drive_attach_image(UNIT, path);
    else drive_use_folder(UNIT, path);
}

// -memory: the expansion by its name; -1 while none was given.
constexpr const char* MEMORY_NAMES[] = {"none", "3k", "8k", "16k", "24k", "all"};
int memory_option = -1;
void set_memory_option(const char* value) {
    for (int i = 0; i <= EXP_ALL; i++)
        if (std::strcmp(value, MEMORY_NAMES[i]) == 0) {
            memory_option = i;
            return;
        }
    printf("-memory takes none, 3k, 8k, 16k, 24k or all, not %s\n", value);
}

// After the configuration: the option is the user's choice over the file's.
void apply_memory_option() {
    if (memory_option == -1) return;
    if (uint32_t(memory_option) != memexp) config = 1;
    memexp = uint32_t(memory_option);
    memdef = uint8_t(memory_option);
    expansion_chosen = true;
}

// -snapshot, -record and -playback: the file names, acted on once the
// machine stands.
std::string snapshot_option, record_option, playback_option;
void set_snapshot(const char* path) { snapshot_option = path; }
void set_record(const char* path) { record_option = path; }
void set_playback(const char* path) { playback_option = path; }

constexpr const char* SCALE_VALUE = "a number from 1 to 8";
void set_scale(const char* value) {
    char* end = nullptr;
    long n = std::strtol(value, &end, 10);
    if (end == value || *end || n < 1 || n > 8) {
        printf("-scale needs %s\n", SCALE_VALUE);
        return;
    }
    scale = uint8_t(n - 1);
    scale_set = 1;
}

// Matched as whole strings with exact case, in this order. "-h" ends the
// program, so it never reaches the walk that loads the file arguments.
// An option with `apply_value` takes the next argument as its value.
struct Option {
    const char* name;
    void (*apply)();
    const char* text;  // printed for every argument that matches, or null
    void (*apply_value)(const char*) = nullptr;
    const char* value_name = nullptr;  // for the text when the value is missing
};
constexpr Option OPTIONS[] = {
    {"-ram", set_ram_flag, nullptr},
    {"-RAM", set_ram_flag, nullptr},
    {"-highres", set_highres, "Screen resolution : High\n"},
    {"-HIGHRES", set_highres, "Screen resolution : High\n"},
    {"-verbose", set_verbose, "Message mode : Verbose\n"},
    {"-VERBOSE", set_verbose, "Message mode : Verbose\n"},
    {"-joy", set_joystick, nullptr},
    {"-JOY", set_joystick, nullptr},
    {"-tvsound", set_tvsound, "Sound quality : TV Sound\n"},
    {"-TVSOUND", set_tvsound, "Sound quality : TV Sound\n"},
    {"-ver", set_no_version, nullptr},
    {"-nosound", set_nosound, nullptr},
    {"-NOSOUND", set_nosound, nullptr},
    {"-nocfg", set_nocfg, nullptr},
    {"-NOCFG", set_nocfg, nullptr},
    {"-warp", set_warp, nullptr},
    {"-WARP", set_warp, nullptr},
    {"-drive8", nullptr, nullptr, set_drive8_folder, "a folder or disk image"},
    {"-DRIVE8", nullptr, nullptr, set_drive8_folder, "a folder or disk image"},
    {"-drive9", nullptr, nullptr, set_drive<9>, "a folder or disk image"},
    {"-drive10", nullptr, nullptr, set_drive<10>, "a folder or disk image"},
    {"-drive11", nullptr, nullptr, set_drive<11>, "a folder or disk image"},
    {"-memory", nullptr, nullptr, set_memory_option, "an expansion"},
    {"-scale", nullptr, nullptr, set_scale, SCALE_VALUE},
    {"-keymap", nullptr, nullptr, set_keymap, "symbolic or positional"},
    {"-SCALE", nullptr, nullptr, set_scale, SCALE_VALUE},
    {"-monitor", monitor_at_start, nullptr},
    {"-remotemonitor", nullptr, nullptr, set_remote_monitor_port, "a port number"},
    {"-headless", set_headless, nullptr},
    {"-limitcycles", nullptr, nullptr, set_limit_cycles, "a number of cycles"},
    {"-type", nullptr, nullptr, set_type_text, "the text to type"},
    {"-exitaddress", nullptr, nullptr, set_exit_address, "an address"},
    {"-screenshot", nullptr, nullptr, set_screenshot, "a PNG file name"},
    {"-screentext", set_screen_text, nullptr},
    {"-expect", nullptr, nullptr, set_expect, "the text to wait for"},
    {"-snapshot", nullptr, nullptr, set_snapshot, "a snapshot file"},
    {"-record", nullptr, nullptr, set_record, "a file to record the input in"},
    {"-playback", nullptr, nullptr, set_playback, "an input recording"},
    {"-h", help_and_exit, nullptr},
    {"-H", help_and_exit, nullptr},
};

const Option* find_option(const char* arg) {
    for (const Option& option : OPTIONS)
        if (std::strcmp(arg, option.name) == 0) return &option;
    return nullptr;
}

bool asks_for_help(int argc, char** argv) {
    for (int i = 1; i < argc; i++)
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "-H") == 0) return true;
    return false;
}

// The arguments that are neither options nor an option's value.
std::vector<const char*> file_arguments(int argc, char** argv) {
    std::vector<const char*> files;
    for (int i = 1; i < argc; i++) {
        const Option* option = find_option(argv[i]);
        if (!option) files.push_back(argv[i]);
        else if (option->apply_value) i++;
    }
    return files;
}

void run_options(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        const Option* option = find_option(argv[i]);
        if (!option) continue;
        if (option->text) fputs(option->text, stdout);
        if (!option->apply_value) {
            option->apply();
        } else if (i + 1 < argc) {
            option->apply_value(argv[++i]);
        } else {
            printf("%s needs %s\n", argv[i], option->value_name);
        }
    }
}

void allocate_memory() {
    say_verbose("Allocating VIC 20 RAM...");
    memory = static_cast<uint8_t*>(malloc(MEMORY_SIZE));
    if (!memory) {
        fputs("failed !\n", stdout);
        exit(-1);
    }
    say_verbose("OK\n");
    // RAM and the cartridge area start as $FF; the ROM images write
    // $8000-$8FFF and $C000-$FFFF. The I/O page starts at 0, as after a
    // reset, so that no chip register begins with whatever malloc left.
    std::memset(memory, 0xFF, 0x9000);
    std::memset(memory + 0x9000, 0, 0x1000);
    std::memset(memory + 0xA000, 0xFF, 0x2000);
}

void open_joystick() {
    say_verbose("Opening joystick device...");
    joystick_fd = open(JOYSTICK_DEVICES[0], O_RDONLY | O_CLOEXEC);
    if (joystick_fd == -1 && errno == ENOENT) joystick_fd = open(JOYSTICK_DEVICES[1], O_RDONLY | O_CLOEXEC);
    if (joystick_fd == -1) {
        fputs("failed, no joystick...use keys\n", stdout);
        return;
    }
    say_verbose("OK\n");
    // Buttons, x and y; the position at start-up is the centre.
    int32_t record[3];
    if (read(joystick_fd, record, sizeof record) == ssize_t(sizeof record)) {
        js_center_x = record[1];
        js_center_y = record[2];
    }
}

}  // namespace

void start_tarvikon(int argc, char** argv) {
    std::memset(keyrow, 0xFF, sizeof keyrow);
    std::memset(keycol, 0xFF, sizeof keycol);
    std::memset(rombank, BLOCK_RAM, sizeof rombank);
    memory_option = -1;
    drive8_option = false;
    snapshot_option = record_option = playback_option = "";
    positional_keys = false;
    // A debugging aid: dump the address space to dump.txt at shut-down.
    const char* dump_switch = getenv("TARVIKON_DUMP");
    if (dump_switch && std::strcmp(dump_switch, "1") == 0) DUMP = 1;

    fputs(BANNER, stdout);
    // The usage text needs no display: "-h" ends the option loop before the
    // toolkit could fail for want of one.
    if (asks_for_help(argc, argv)) run_options(argc, argv);
    // Without a display the toolkit must not even start.
    for (int i = 1; i < argc; i++)
        if (std::strcmp(argv[i], "-headless") == 0) no_display = 1;
    host_init(&argc, argv);
    run_options(argc, argv);
    if (!verbose) fputs("Starting Tarvikon...\n", stdout);

    read_config();
    apply_memory_option();
    set_video_constants(vid_time);
    allocate_memory();
    load_system_roms();

    // An archive stands for the file taken out of it; each file named is a recent one.
    const std::vector<const char*> named = file_arguments(argc, argv);
    for (const char* file : named)
        if (access(file, R_OK) == 0) add_recent_file(file);
    const std::vector<std::string> taken_out = take_out_of_archives(named);
    std::vector<const char*> files;
    for (const std::string& file : taken_out) files.push_back(file.c_str());
    plan_launch(files, memory_option, drive8_option);

    if (soundon == 1) {
        setvbuf(stdout, nullptr, _IONBF, 0);
        start_sound_process();
    }
    if (joystick_fd == 0) open_joystick();
    start_X_client();
    start_devices();
    start_gamepads();
    patch_rom_version();

    starting_up = true;
    for (const char* file : files)
        if (!launch_takes(file)) load_game_cartridge(file);
    finish_launch();
    insert_memory_expansion();
    apply_ram_override();
    starting_up = false;
    start_monitor();
    start_test_runner();
    add_between_frames_call(snapshot_between_frames);
    add_between_frames_call(rewind_between_frames);
}

void start_from_snapshot() {
    if (!snapshot_option.empty()) load_snapshot_file(snapshot_option.c_str(), false);
    if (!playback_option.empty()) start_playback(playback_option.c_str());
    else if (!record_option.empty()) start_recording(record_option.c_str());
}
