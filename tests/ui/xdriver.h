// Drives the real program the way a user does: a private Xvfb display, the
// program started in a working directory, keys and clicks through xdotool, the
// window tree through xwininfo and the picture through xwd, decoded back into
// VIC 20 characters with the character generator's glyphs.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// ---- processes -------------------------------------------------------------------

// Runs a command to its end (killed after timeout_s); returns its exit status,
// or -1 when it could not run or was killed. Standard output goes to *out.
int run_tool(const std::vector<std::string>& argv, const std::string& display, std::string* out = nullptr,
             double timeout_s = 10);

// True when the program is on PATH.
bool have_program(const std::string& name);

// An X server of its own, on a display number it picks itself.
struct Xvfb {
    pid_t pid = -1;
    int number = -1;
    // depth 8 unless told; extra arguments such as "-extension" "MIT-SHM".
    bool start(int depth = 8, const std::vector<std::string>& extra = {}, const std::string& size = "1024x768");
    void stop();
    std::string display() const { return ":" + std::to_string(number); }
    ~Xvfb() { stop(); }
};

// The emulator process, its standard output in a file of its working directory.
struct Program {
    pid_t pid = -1;
    std::string dir;
    int status = -1;  // wait status once it ended

    bool start(const std::string& binary, const std::string& working_dir, const std::string& display,
               const std::vector<std::string>& args);
    // Waits for the end; true when it ended within the time.
    bool wait(double timeout_s);
    bool running();
    void kill_now();
    std::string output() const;
    int exit_code() const;  // exit status, or -1 when it did not exit normally
    ~Program() { kill_now(); }
};

// ---- windows -----------------------------------------------------------------------

struct XWin {
    unsigned long id = 0;
    std::string name;  // the quoted name, when the window has one
    int width = 0, height = 0, x = 0, y = 0, abs_x = 0, abs_y = 0;
    std::vector<XWin> children;
};

// The whole window tree below the root.
std::optional<XWin> window_tree(const std::string& display);
// The first window (depth first) matching pred.
const XWin* find_window(const XWin& root, const std::function<bool(const XWin&)>& pred);
// Whether a window is viewable (mapped with all its ancestors).
bool viewable(const std::string& display, unsigned long id);
// Windows whose title matches a regular expression (xdotool search --name).
std::vector<unsigned long> windows_named(const std::string& display, const std::string& regex);

// ---- the frame ---------------------------------------------------------------------

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

struct Picture {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int px, int py) const { return pixels[size_t(py) * size_t(width) + size_t(px)]; }
};

// Reads an xwd dump of one window (ZPixmap: 8 bits per pixel with a colour
// table, or 16 or 32 bits of TrueColor).
std::optional<Picture> parse_xwd(const std::string& bytes);
std::optional<Picture> grab_window(const std::string& display, unsigned long id);

// The character screen found in a picture: the text area is the box of the
// background colour (the commonest one besides the border colour at the
// top-left corner), cut into cells of 8 VIC pixels by 8 raster lines (each VIC pixel
// 2 * zoom screen pixels wide, each raster line zoom pixels high).
struct TextScreen {
    std::vector<std::string> rows;
    std::string joined() const;  // the rows without trailing blanks, each ending in '\n'
};
std::optional<TextScreen> decode_screen(const Picture& picture, const std::vector<uint8_t>& chargen, int zoom = 1);

// ---- input -----------------------------------------------------------------------------

// The host keys that type one VIC 20 character (US layout, VIC 20 shift
// rules); empty for a character that has no key.
std::vector<std::string> keys_for(char c);

// xdotool arguments that press keys as a person does: each key held about
// 100 ms, then about 70 ms until the next; a Shift goes down before its key
// and up after it. Characters without a key are added to *missing.
std::vector<std::string> tap_chain(const std::string& key);
std::vector<std::string> typing_chain(const std::string& text, std::string* missing);
