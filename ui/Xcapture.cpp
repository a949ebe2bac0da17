// Screenshots and sound recordings, named by the date and time and written
// into the working directory. A screenshot is taken when the next frame is
// shown, before the 8-bit doubled window spreads it over its image.
#include "X.h"

#include <Xm/ToggleB.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "../core/tarvikon.h"
#include "../files/png.h"
#include "../sound/sound.h"

Widget record_sound_item;

namespace {

enum Wanted { NONE, VIC_PIXELS, WINDOW_SCALE } wanted = NONE;
std::string recording;  // the WAV file being written

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The working directory's full name, so that the message says where.
std::string working_directory() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string(".");
}

// A name not yet taken in the working directory.
std::string new_file(const char* suffix) {
    const std::string folder = working_directory();
    const std::string name = dated_file_name(std::time(nullptr), suffix);
    std::string path = folder + "/" + name + "." + suffix;
    for (unsigned n = 2; exists(path) && n < 1000; n++) path = folder + "/" + name + "-" + std::to_string(n) + "." + suffix;
    return path;
}

}  // namespace

std::string dated_file_name(time_t when, const char* kind) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[64];
    std::strftime(text, sizeof text, "-%Y%m%d-%H%M%S", &local);
    return std::string("tarvikon-") + (std::string(kind) == "png" ? "screenshot" : "sound") + text;
}

void request_screenshot(bool window_scale) { wanted = window_scale ? WINDOW_SCALE : VIC_PIXELS; }

void take_requested_screenshot() {
    if (wanted == NONE) return;
    // The window shows a VIC pixel twice as wide as high, at its zoom: fixed
    // on an 8-bit display, as last fitted on a deeper one.
    const unsigned zoom = view_active ? view_fit().zoom : scale + 1u;
    const RgbImage image = wanted == WINDOW_SCALE ? capture_picture(zoom, 2) : capture_picture();
    wanted = NONE;
    const std::string path = new_file("png");
    std::string error;
    if (write_png(path, image, error))
        printf("Screenshot saved to %s\n", path.c_str());
    else
        printf("Screenshot not saved to %s: %s\n", path.c_str(), error.c_str());
    fflush(stdout);
}

void toggle_sound_recording() {
    if (sound_recording()) {
        stop_sound_recording();
        printf("Sound recorded to %s\n", recording.c_str());
    } else {
        const std::string path = new_file("wav");
        if (start_sound_recording(path.c_str())) {
            recording = path;
            printf("Recording sound to %s\n", path.c_str());
        } else if (!soundon)
            puts("Sound is off: nothing to record");
        else
            printf("Sound not recorded to %s\n", path.c_str());
    }
    fflush(stdout);
    if (record_sound_item) XmToggleButtonSetState(record_sound_item, sound_recording(), False);
}
