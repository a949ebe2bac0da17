#include "xdriver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::vector<char*> c_args(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    for (const std::string& a : argv) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

// Waits for a child with a deadline; kills it when the time is up.
bool wait_child(pid_t pid, double timeout_s, int* status) {
    auto start = Clock::now();
    for (;;) {
        pid_t r = waitpid(pid, status, WNOHANG);
        if (r == pid) return true;
        if (r == -1) return false;
        if (seconds_since(start) > timeout_s) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

int run_tool(const std::vector<std::string>& argv, const std::string& display, std::string* out, double timeout_s) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        int null_fd = open("/dev/null", O_WRONLY);
        if (null_fd >= 0) dup2(null_fd, 2);
        close(fds[0]);
        close(fds[1]);
        if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
        std::vector<char*> args = c_args(argv);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return -1;
    }
    std::string text;
    auto start = Clock::now();
    bool open_pipe = true;
    while (open_pipe && seconds_since(start) < timeout_s) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 50) > 0) {
            char buffer[65536];
            ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0)
                open_pipe = false;
            else
                text.append(buffer, size_t(n));
        }
    }
    close(fds[0]);
    int status = 0;
    double left = timeout_s - seconds_since(start);
    if (!wait_child(pid, left > 0.1 ? left : 0.1, &status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool have_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    return false;
}

// ---- Xvfb --------------------------------------------------------------------------------

bool Xvfb::start(int depth, const std::vector<std::string>& extra, const std::string& size) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::string screen = size + "x" + std::to_string(depth);
    pid = fork();
    if (pid == 0) {
        // -displayfd makes the server take a free display number and say which.
        int write_end = fcntl(fds[1], F_DUPFD, 10);
        close(fds[0]);
        close(fds[1]);
        dup2(write_end, 3);
        close(write_end);
        int null_fd = open("/dev/null", O_WRONLY);
        if (null_fd >= 0) {
            dup2(null_fd, 1);
            dup2(null_fd, 2);
        }
        // -noreset: the keymap given by a test stays when the last client goes.
        std::vector<std::string> argv = {"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp",
                                         "-noreset"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        std::vector<char*> args = c_args(argv);
        execvp("Xvfb", args.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return false;
    }
    std::string text;
    auto begin = Clock::now();
    while (text.find('\n') == std::string::npos && seconds_since(begin) < 15) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buffer[32];
            ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, size_t(n));
        }
    }
    close(fds[0]);
    if (text.find('\n') == std::string::npos) {
        stop();
        return false;
    }
    number = std::atoi(text.c_str());
    return true;
}

void Xvfb::stop() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        int status;
        if (!wait_child(pid, 5, &status)) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
    }
    pid = -1;
}

// ---- the program ----------------------------------------------------------------------------

bool Program::start(const std::string& binary, const std::string& working_dir, const std::string& display,
                    const std::vector<std::string>& args) {
    dir = working_dir;
    pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(127);
        int out_fd = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err_fd = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out_fd < 0 || err_fd < 0) _exit(127);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        int null_fd = open("/dev/null", O_RDONLY);
        if (null_fd >= 0) dup2(null_fd, 0);
        setenv("DISPLAY", display.c_str(), 1);
        // Motif loses a few small blocks of its own while it builds dialogs,
        // and Xt keeps a selection request's record until XtCloseDisplay;
        // a sanitizer build's leak check is told to pass over those.
        {
            std::ofstream supp("lsan.supp");
            supp << "leak:libXm.so\nleak:XtGetSelectionValue\n";
        }
        setenv("LSAN_OPTIONS", "suppressions=lsan.supp:print_suppressions=0", 1);
        setenv("ASAN_OPTIONS", "fast_unwind_on_malloc=0", 1);  // Motif's frames seen
        std::vector<std::string> argv = {binary};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> c = c_args(argv);
        execv(binary.c_str(), c.data());
        _exit(127);
    }
    return pid > 0;
}

bool Program::wait(double timeout_s) {
    if (pid <= 0) return true;
    if (!wait_child(pid, timeout_s, &status)) return false;
    pid = -1;
    return true;
}

bool Program::running() {
    if (pid <= 0) return false;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) {
        pid = -1;
        return false;
    }
    return true;
}

void Program::kill_now() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        pid = -1;
    }
}

std::string Program::output() const {
    std::ifstream in(dir + "/stdout.txt", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int Program::exit_code() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// ---- window tree ----------------------------------------------------------------------------

namespace {

// One line of "xwininfo -root -tree":
//   <indent>0x20005b "name": ("res" "class")  458x314+150+150  +150+150
bool parse_tree_line(const std::string& line, int* indent, XWin* w) {
    size_t start = line.find("0x");
    if (start == std::string::npos) return false;
    for (size_t i = 0; i < start; i++)
        if (line[i] != ' ') return false;
    *indent = int(start);
    w->id = std::strtoul(line.c_str() + start, nullptr, 16);
    size_t quote = line.find('"', start);
    size_t colon_paren = line.find(": (", start);
    if (quote != std::string::npos && quote < colon_paren) {
        size_t end = line.find("\": (", quote + 1);
        if (end != std::string::npos) w->name = line.substr(quote + 1, end - quote - 1);
    }
    // Geometry: the last two blank-separated fields.
    size_t last_space = line.find_last_of(' ');
    std::string absolute = line.substr(last_space + 1);
    std::string before = line.substr(0, last_space);
    while (!before.empty() && before.back() == ' ') before.pop_back();
    std::string geometry = before.substr(before.find_last_of(' ') + 1);
    if (std::sscanf(geometry.c_str(), "%dx%d%d%d", &w->width, &w->height, &w->x, &w->y) != 4) return false;
    if (std::sscanf(absolute.c_str(), "%d%d", &w->abs_x, &w->abs_y) != 2) return false;
    return true;
}

}  // namespace

std::optional<XWin> window_tree(const std::string& display) {
    std::string text;
    if (run_tool({"xwininfo", "-root", "-tree"}, display, &text) != 0) return std::nullopt;
    XWin root;
    root.name = "root";
    std::vector<std::pair<int, XWin*>> stack = {{-1, &root}};
    std::stringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        int indent;
        XWin w;
        if (line.find("Root window id") != std::string::npos || line.find("Parent window id") != std::string::npos ||
            line.find("xwininfo:") != std::string::npos)
            continue;
        if (!parse_tree_line(line, &indent, &w)) continue;
        while (stack.size() > 1 && stack.back().first >= indent) stack.pop_back();
        XWin* parent = stack.back().second;
        parent->children.push_back(w);
        stack.push_back({indent, &parent->children.back()});
        // The stack holds only the path to the newest window: a window's
        // ancestors sit in vectors that no longer grow, so the pointers hold.
    }
    return root;
}

const XWin* find_window(const XWin& root, const std::function<bool(const XWin&)>& pred) {
    if (pred(root)) return &root;
    for (const XWin& c : root.children)
        if (const XWin* w = find_window(c, pred)) return w;
    return nullptr;
}

bool viewable(const std::string& display, unsigned long id) {
    std::string text;
    if (run_tool({"xwininfo", "-id", std::to_string(id)}, display, &text) != 0) return false;
    return text.find("Map State: IsViewable") != std::string::npos;
}

std::vector<unsigned long> windows_named(const std::string& display, const std::string& regex) {
    std::string text;
    std::vector<unsigned long> ids;
    run_tool({"xdotool", "search", "--name", regex}, display, &text);
    std::stringstream s(text);
    unsigned long id;
    while (s >> id) ids.push_back(id);
    return ids;
}

// ---- xwd ---------------------------------------------------------------------------------------

namespace {
uint32_t be32(const std::string& b, size_t at) {
    return uint32_t(uint8_t(b[at])) << 24 | uint32_t(uint8_t(b[at + 1])) << 16 | uint32_t(uint8_t(b[at + 2])) << 8 |
           uint32_t(uint8_t(b[at + 3]));
}
uint16_t be16(const std::string& b, size_t at) { return uint16_t(uint8_t(b[at]) << 8 | uint8_t(b[at + 1])); }
}  // namespace

std::optional<Picture> parse_xwd(const std::string& bytes) {
    if (bytes.size() < 100) return std::nullopt;
    uint32_t header_size = be32(bytes, 0);
    uint32_t width = be32(bytes, 16), height = be32(bytes, 20);
    uint32_t bits_per_pixel = be32(bytes, 44), bytes_per_line = be32(bytes, 48);
    uint32_t colors = be32(bytes, 76);
    if ((bits_per_pixel != 8 && bits_per_pixel != 16 && bits_per_pixel != 32) || header_size < 100) return std::nullopt;
    size_t table = header_size;
    size_t data = table + size_t(colors) * 12;
    if (bytes.size() < data + size_t(bytes_per_line) * height) return std::nullopt;
    std::map<uint32_t, Rgb> cmap;
    for (uint32_t i = 0; i < colors; i++) {
        size_t e = table + size_t(i) * 12;
        cmap[be32(bytes, e)] = Rgb{uint8_t(be16(bytes, e + 4) >> 8), uint8_t(be16(bytes, e + 6) >> 8),
                                   uint8_t(be16(bytes, e + 8) >> 8)};
    }
    Picture p;
    p.width = int(width);
    p.height = int(height);
    p.pixels.resize(size_t(width) * height);
    // 8 bits: an index into the colour table. More: TrueColor, each channel
    // where its mask says, widened to 8 bits.
    const bool msb_first = be32(bytes, 28) != 0;
    const uint32_t masks[3] = {be32(bytes, 56), be32(bytes, 60), be32(bytes, 64)};
    auto channel = [](uint32_t v, uint32_t mask) {
        if (!mask) return uint8_t(0);
        while (!(mask & 1)) mask >>= 1, v >>= 1;
        return uint8_t((v & mask) * 255 / mask);
    };
    const unsigned n = bits_per_pixel / 8;
    for (uint32_t row = 0; row < height; row++)
        for (uint32_t col = 0; col < width; col++) {
            uint32_t v = 0;
            for (unsigned i = 0; i < n; i++)
                v |= uint32_t(uint8_t(bytes[data + size_t(row) * bytes_per_line + n * col + i]))
                     << (8 * (msb_first ? n - 1 - i : i));
            Rgb& out = p.pixels[size_t(row) * width + col];
            auto it = cmap.find(v);
            if (n > 1) out = {channel(v, masks[0]), channel(v, masks[1]), channel(v, masks[2])};
            else out = it == cmap.end() ? Rgb{255, 0, 255} : it->second;
        }
    return p;
}

std::optional<Picture> grab_window(const std::string& display, unsigned long id) {
    std::string bytes;
    if (run_tool({"xwd", "-silent", "-id", std::to_string(id)}, display, &bytes) != 0) return std::nullopt;
    return parse_xwd(bytes);
}

// ---- character decoding ---------------------------------------------------------------------------

std::string TextScreen::joined() const {
    std::string s;
    for (std::string r : rows) {
        while (!r.empty() && r.back() == ' ') r.pop_back();
        s += r + "\n";
    }
    return s;
}

namespace {

// Screen codes of the upper-case character set as text; graphics and the
// pound sign have no plain equivalent.
char screen_code_char(unsigned code) {
    code &= 0x7F;  // reversed characters (the cursor) read as their normal form
    if (code == 0) return '@';
    if (code <= 26) return char('A' + code - 1);
    if (code == 27) return '[';
    if (code == 29) return ']';
    if (code >= 32 && code < 64) return char(code);
    return '~';
}

}  // namespace

std::optional<TextScreen> decode_screen(const Picture& picture, const std::vector<uint8_t>& chargen, int zoom) {
    if (picture.width == 0 || chargen.size() < 2048) return std::nullopt;
    auto key_of = [](Rgb c) { return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b; };
    uint32_t border = key_of(picture.at(0, 0));

    // The background is the commonest colour other than the border's; the
    // text area is the box of its pixels (its edges always hold some gaps
    // between characters).
    std::map<uint32_t, unsigned> counts;
    for (const Rgb& p : picture.pixels) counts[key_of(p)]++;
    uint32_t background = 0;
    unsigned best = 0;
    for (auto [colour, n] : counts)
        if (colour != border && n > best) best = n, background = colour;
    if (best == 0) return std::nullopt;
    int left = picture.width, right = -1, top = picture.height, bottom = -1;
    for (int py = 0; py < picture.height; py++)
        for (int px = 0; px < picture.width; px++)
            if (key_of(picture.at(px, py)) == background) {
                left = std::min(left, px);
                right = std::max(right, px);
                top = std::min(top, py);
                bottom = std::max(bottom, py);
            }

    std::map<uint64_t, unsigned> glyphs;  // 8 pattern bytes -> screen code
    for (unsigned code = 0; code < 256; code++) {
        uint64_t key = 0;
        for (unsigned line = 0; line < 8; line++) key = key << 8 | chargen[code * 8 + line];
        glyphs.emplace(key, code);
    }

    int cell_w = 16 * zoom, cell_h = 8 * zoom;
    int columns = (right - left + 1) / cell_w, rows = (bottom - top + 1) / cell_h;
    TextScreen screen;
    for (int r = 0; r < rows; r++) {
        std::string text;
        for (int c = 0; c < columns; c++) {
            uint64_t key = 0;
            for (int line = 0; line < 8; line++) {
                uint8_t bits = 0;
                for (int bit = 0; bit < 8; bit++) {
                    Rgb p = picture.at(left + c * cell_w + bit * 2 * zoom, top + r * cell_h + line * zoom);
                    bool set = key_of(p) != background;
                    bits = uint8_t(bits << 1 | (set ? 1 : 0));
                }
                key = key << 8 | bits;
            }
            auto it = glyphs.find(key);
            text += it == glyphs.end() ? '?' : screen_code_char(it->second);
        }
        screen.rows.push_back(text);
    }
    return screen;
}

// ---- keys ----------------------------------------------------------------------------------------

std::vector<std::string> keys_for(char c) {
    if (c >= 'a' && c <= 'z') return {std::string(1, c)};
    if (c >= 'A' && c <= 'Z') return {std::string(1, char(c - 'A' + 'a'))};
    if (c >= '0' && c <= '9') return {std::string(1, c)};
    switch (c) {
    case ' ': return {"space"};
    case '\n': return {"Return"};
    case '+': return {"equal"};
    case '=': return {"backslash"};
    case ':': return {"apostrophe"};
    case ';': return {"semicolon"};
    case '*': return {"bracketright"};
    case '@': return {"bracketleft"};
    case ',': return {"comma"};
    case '.': return {"period"};
    case '/': return {"slash"};
    case '-': return {"minus"};
    case '"': return {"Shift_L", "2"};
    case '$': return {"Shift_L", "4"};
    case '(': return {"Shift_L", "8"};
    case ')': return {"Shift_L", "9"};
    case '?': return {"Shift_L", "slash"};
    default: return {};
    }
}

namespace {
constexpr const char* HOLD_S = "0.1";
constexpr const char* GAP_S = "0.07";
constexpr const char* SHIFT_S = "0.04";
}  // namespace

std::vector<std::string> tap_chain(const std::string& key) {
    return {"keydown", key, "sleep", HOLD_S, "keyup", key, "sleep", GAP_S};
}

std::vector<std::string> typing_chain(const std::string& text, std::string* missing) {
    std::vector<std::string> chain;
    for (char c : text) {
        std::vector<std::string> keys = keys_for(c);
        if (keys.empty()) {
            if (missing) *missing += c;
            continue;
        }
        for (size_t i = 0; i + 1 < keys.size(); i++) chain.insert(chain.end(), {"keydown", keys[i], "sleep", SHIFT_S});
        if (keys.size() == 1) {
            std::vector<std::string> tap = tap_chain(keys.back());
            chain.insert(chain.end(), tap.begin(), tap.end());
            continue;
        }
        chain.insert(chain.end(), {"keydown", keys.back(), "sleep", HOLD_S, "keyup", keys.back(), "sleep", SHIFT_S});
        for (size_t i = keys.size() - 1; i-- > 0;) chain.insert(chain.end(), {"keyup", keys[i], "sleep", GAP_S});
    }
    return chain;
}
