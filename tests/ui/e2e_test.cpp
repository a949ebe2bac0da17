// End-to-end tests of the program: started as a user starts it, with the real
// ROMs in a temporary working directory, on a private 8-bit Xvfb display;
// driven with xdotool and read back with xwd, the picture decoded into VIC 20
// characters with the character generator's glyphs.
#include "support.h"  // before the X headers, whose None would hide gtest's

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <zip.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <thread>
#include <tuple>

#include <png.h>

#include "basic_program.h"
#include "devices/d64.h"
#include "xdriver.h"

namespace fs = std::filesystem;

namespace {

const std::string BINARY = std::string(TARVIKON_BINARY_DIR) + "/tarvikon";
constexpr double START_TIMEOUT = 20;
const std::string BANNER_LINE = "\nTarvikon for Linux V0.8, Build date 21.04.98\n";
enum Menu { FILE_MENU, EDIT_MENU, OPTIONS_MENU, HELP_MENU };

std::string missing_tools() {
    for (const char* tool : {"Xvfb", "xdotool", "xwd", "xwininfo", "xprop"})
        if (!have_program(tool)) return tool;
    if (access(BINARY.c_str(), X_OK) != 0) return BINARY;
    return "";
}

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Whether the condition came true within the time, tried every `ms` milliseconds.
bool within(double seconds, const std::function<bool()>& done, int ms) {
    auto begin = std::chrono::steady_clock::now();
    while (std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count() < seconds) {
        if (done()) return true;
        pause_ms(ms);
    }
    return false;
}

// Waits while the condition is false, at most `times` pauses of `ms` milliseconds.
void poll(const std::function<bool()>& done, int times = 100, int ms = 20) {
    for (int i = 0; i < times && !done(); i++) pause_ms(ms);
}

// The configuration file: frame rate, expansion, video timing, delay, overscan.
std::string config_bytes(uint32_t rate, uint32_t expansion, uint32_t timing, uint16_t delay, uint8_t top) {
    std::string b;
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; i++) b += char((v >> (8 * i)) & 0xFF);
    };
    put(rate, 4);
    put(expansion, 4);
    put(timing, 4);
    put(delay, 2);
    put(top, 1);
    return b;
}

std::vector<uint8_t> chargen() {
    std::string s = read_file(shared_path("roms/chargen.rom"));
    return std::vector<uint8_t>(s.begin(), s.end());
}

using Pair = std::pair<int, int>;
Pair size_of(const XWin& w) { return {w.width, w.height}; }
Pair place_of(const XWin& w) { return {w.abs_x, w.abs_y}; }

std::vector<int> numbers_in(const std::string& text) {
    std::vector<int> out;
    for (size_t i = 0; i < text.size();) {
        bool negative = text[i] == '-' && i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]));
        if (!negative && !std::isdigit(static_cast<unsigned char>(text[i]))) {
            i++;
            continue;
        }
        if (negative) i++;
        int value = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) value = value * 10 + (text[i++] - '0');
        out.push_back(negative ? -value : value);
    }
    return out;
}

// The PNG named by the last "Screenshot saved to" line of the output.
std::optional<Picture> saved_screenshot(const std::string& output, size_t lines) {
    const std::string said = "Screenshot saved to ";
    size_t at = std::string::npos;
    for (size_t n = 0, from = 0; n < lines; n++, from = at + 1)
        if ((at = output.find(said, from)) == std::string::npos) return std::nullopt;
    const std::string path = output.substr(at + said.size(), output.find('\n', at) - at - said.size());
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return std::nullopt;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return std::nullopt;
    Picture p{int(image.width), int(image.height), {}};
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) p.pixels.push_back({rgb[i], rgb[i + 1], rgb[i + 2]});
    return p;
}

class E2E : public ::testing::Test {
protected:
    static inline Xvfb* server = nullptr;
    static inline std::string skip_reason;

    static void SetUpTestSuite() { start_server(8); }
    static void start_server(int depth, const std::string& size = "1024x768") {
        if (!check_tools()) return;
        server = new Xvfb;
        if (!server->start(depth, {}, size)) {
            skip_reason = "Xvfb did not start";
            delete server;
            server = nullptr;
            return;
        }
    }
    static bool check_tools() {
        skip_reason = missing_tools();
        if (!skip_reason.empty()) skip_reason = "needs " + skip_reason;
        else if (!roms_available()) skip_reason = "VIC 20 ROM images not found in " + shared_path("roms");
        return skip_reason.empty();
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    void SetUp() override {
        if (!skip_reason.empty()) SKIP_OR_FAIL(skip_reason);
        fs::create_directories(dir.file("roms"));
        for (const char* rom : {"kernel.ntsc", "kernel.pal", "basic.rom", "chargen.rom"})
            fs::copy_file(shared_path(std::string("roms/") + rom), dir.file(std::string("roms/") + rom));
        // The recent files go to a configuration folder of the test's own.
        setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
        // and the files taken out of archives to a temporary folder of its own.
        fs::create_directories(dir.file("tmp"));
        setenv("TMPDIR", dir.file("tmp").c_str(), 1);
        // PAL, 28 lines of overscan, every second frame drawn.
        write_file(dir.file("tarvikon.rc"), config_bytes(2, 0, 1, 0, 28));
        glyphs = chargen();
    }

    void TearDown() override {
        if (program.running()) {
            program.kill_now();
            ADD_FAILURE() << "the program was still running; output:\n" << program.output();
        }
    }

    std::string other_display;  // another server, when a test runs the program there
    std::string display() const { return other_display.empty() ? server->display() : other_display; }

    // Starts the program and waits for its main window and drawing area.
    bool launch(const std::vector<std::string>& args = {"-nosound"}) {
        if (!program.start(BINARY, dir.path, display(), args)) return false;
        bool ended = false;
        if (within(START_TIMEOUT, [&] { return (ended = !program.running()) || find_main_window(); }, 50) && !ended) {
            point_at_area();
            return true;
        }
        ADD_FAILURE() << "no main window; output:\n" << program.output();
        return false;
    }

    // Started, with BASIC's READY on the screen.
    bool launch_ready(const std::vector<std::string>& args = {"-nosound"}) {
        return launch(args) && wait_text("READY.");
    }

    // Main window, menu bar and drawing area from the window tree.
    bool find_main_window() {
        auto tree = window_tree(display());
        if (!tree) return false;
        const XWin* top = find_window(*tree, [](const XWin& w) { return w.name == "Tarvikon for Linux V0.8"; });
        if (!top || top->children.empty() || top->children[0].children.size() < 2) return false;
        main_window = *top;
        // The drawing area is the taller part (the menu bar may be hidden at the same place).
        const auto& parts = top->children[0].children;
        const bool first_is_bar = parts[0].height < parts[1].height;
        menu_bar = first_is_bar ? parts[0] : parts[1];
        area = first_is_bar ? parts[1] : parts[0];
        return area.width > 0;
    }

    std::optional<TextScreen> screen(int zoom = 1) {
        auto picture = grab_window(display(), area.id);
        if (!picture) return std::nullopt;
        return decode_screen(*picture, glyphs, zoom);
    }

    // Polls the screen until it shows the text.
    bool wait_text(const std::string& needle, double timeout = START_TIMEOUT, int zoom = 1) {
        std::string last;
        auto shown = [&] {
            auto s = screen(zoom);
            if (s) last = s->joined();
            return s && last.find(needle) != std::string::npos;
        };
        if (within(timeout, shown, 40)) return true;
        ADD_FAILURE() << "screen never showed \"" << needle << "\"; last screen:\n" << last;
        return false;
    }

    bool wait_gone(const std::string& needle, double timeout = START_TIMEOUT) {
        auto gone = [&] {
            auto s = screen();
            return s && s->joined().find(needle) == std::string::npos;
        };
        if (within(timeout, gone, 40)) return true;
        ADD_FAILURE() << "screen kept showing \"" << needle << "\"";
        return false;
    }

    void xdo(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        run_tool(argv, display(), nullptr, 60);
    }

    void point_at_area(int px = 20, int py = 20) {
        xdo({"mousemove", std::to_string(area.abs_x + px), std::to_string(area.abs_y + py)});
    }

    // Presses the keys of VIC 20 text as a person does. The pointer must be
    // over the drawing area (the focus follows it).
    void press_keys(const std::string& text) {
        std::string missing;
        std::vector<std::string> chain = typing_chain(text, &missing);
        if (!missing.empty()) ADD_FAILURE() << "no key for \"" << missing << "\"";
        xdo(chain);
    }

    // The screen as one string of its rows, without the blanks at the end.
    std::string screen_tail() {
        auto s = screen();
        if (!s) return "";
        std::string all;
        for (const std::string& r : s->rows) all += r;
        while (!all.empty() && all.back() == ' ') all.pop_back();
        return all;
    }

    // Types a line, waits for its echo at the cursor, then presses Return.
    bool type_line(const std::string& text, bool press_return = true) {
        std::string echo;
        for (char c : text) echo += char(std::toupper(static_cast<unsigned char>(c)));
        press_keys(text);
        if (!wait_tail(echo)) {
            ADD_FAILURE() << "typed \"" << text << "\" but the screen shows:\n" << screen()->joined();
            return false;
        }
        if (press_return) tap("Return");
        return true;
    }

    // Waits until the screen's text ends with the given text.
    bool wait_tail(const std::string& end, double timeout = 5) {
        return within(timeout, [&] {
            std::string tail = screen_tail();
            return tail.size() >= end.size() && tail.compare(tail.size() - end.size(), end.size(), end) == 0;
        }, 20);
    }

    void tap(const std::string& key) { xdo(tap_chain(key)); }

    // CLR (shift and HOME), then the empty screen.
    void clear_screen() {
        xdo({"keydown", "Shift_L", "sleep", "0.03", "keydown", "Home", "sleep", "0.05", "keyup", "Home", "sleep", "0.03",
             "keyup", "Shift_L", "sleep", "0.03"});
        poll([&] { return screen_tail().empty(); }, 50);
    }

    // A pulldown of the menu bar: 0 File, 1 Edit, 2 Options, 3 Help; item counts
    // from the first push button down (tear-off and separators excluded).
    bool choose_menu(int menu, int item) {
        std::vector<XWin> cascades = menu_bar.children;
        std::sort(cascades.begin(), cascades.end(), [](const XWin& a, const XWin& b) { return a.x < b.x; });
        if (cascades.size() != 4) {
            ADD_FAILURE() << "menu bar has " << cascades.size() << " entries";
            return false;
        }
        const XWin& c = cascades[size_t(menu)];
        xdo({"mousemove", std::to_string(c.abs_x + c.width / 2), std::to_string(c.abs_y + c.height / 2), "click",
             "1"});
        const size_t wanted_children[4] = {30, 3, 12, 1};  // tear-off + items + separators
        for (int attempt = 0; attempt < 100; attempt++) {
            pause_ms(50);
            auto tree = window_tree(display());
            if (!tree) continue;
            std::vector<const XWin*> candidates;
            find_window(*tree, [&](const XWin& w) {
                // A pulldown is a row column directly below the cascade button.
                if (w.children.size() == wanted_children[menu] && w.abs_x >= c.abs_x - 5 &&
                    w.abs_x <= c.abs_x + 5 && w.abs_y >= c.abs_y + c.height && w.abs_y <= c.abs_y + c.height + 20)
                    candidates.push_back(&w);
                return false;
            });
            for (const XWin* rc : candidates) {
                if (!viewable(display(), rc->id)) continue;
                std::vector<XWin> items;
                for (const XWin& w : rc->children)
                    if (w.height >= 15) items.push_back(w);
                std::sort(items.begin(), items.end(), [](const XWin& a, const XWin& b) { return a.y < b.y; });
                if (size_t(item) >= items.size()) return false;
                const XWin& it = items[size_t(item)];
                xdo({"mousemove", std::to_string(it.abs_x + it.width / 2), std::to_string(it.abs_y + it.height / 2),
                     "click", "1"});
                return true;
            }
        }
        ADD_FAILURE() << "pulldown " << menu << " never appeared";
        return false;
    }

    // A dialog shell by its title, once it is on the screen.
    std::optional<XWin> wait_dialog(const std::string& title_regex, double timeout = 10) {
        std::optional<XWin> found;
        within(timeout, [&] {
            for (unsigned long id : windows_named(display(), title_regex)) {
                if (!viewable(display(), id)) continue;
                auto tree = window_tree(display());
                if (!tree) continue;
                if (const XWin* w = find_window(*tree, [id](const XWin& x) { return x.id == id; })) {
                    found = *w;
                    return true;
                }
            }
            return false;
        }, 50);
        return found;
    }

    bool dialog_visible(const std::string& title_regex) {
        for (unsigned long id : windows_named(display(), title_regex))
            if (viewable(display(), id)) return true;
        return false;
    }

    void click(int abs_x, int abs_y) { xdo({"mousemove", std::to_string(abs_x), std::to_string(abs_y), "click", "1"}); }
    void click_centre(const XWin& w) { click(w.abs_x + w.width / 2, w.abs_y + w.height / 2); }

    // Types a file name into a file-selection dialog and confirms it.
    void choose_file(const XWin& dialog, const std::string& name) {
        xdo({"mousemove", std::to_string(dialog.abs_x + dialog.width / 2), std::to_string(dialog.abs_y + 20)});
        pause_ms(100);
        std::vector<std::string> chain = {"type", "--delay", "20", name};
        xdo(chain);
        xdo({"key", "Return"});
    }

    // A File menu item's file-selection dialog, with a name typed into it.
    std::optional<XWin> file_dialog(int item, const std::string& title_regex, const std::string& name) {
        std::optional<XWin> dialog = choose_menu(0, item) ? wait_dialog(title_regex) : std::nullopt;
        if (dialog) choose_file(*dialog, name);
        return dialog;
    }

    // Children of a form dialog (the shell's only child is the form).
    static std::vector<XWin> form_children(const XWin& dialog) {
        return dialog.children.empty() ? std::vector<XWin>{} : dialog.children[0].children;
    }

    // Push button of a settings dialog: Apply/OK on the left, Cancel on the right.
    static std::optional<XWin> dialog_button(const XWin& dialog, bool left) {
        for (const XWin& w : form_children(dialog))
            if (w.y >= dialog.height * 8 / 10 - 1 && w.height < 40 && (left ? w.x < dialog.width / 2 : w.x > dialog.width / 2))
                return w;
        return std::nullopt;
    }

    // File > Save config, then what it wrote.
    void save_config_writes(const std::string& expected) {
        ASSERT_TRUE(choose_menu(0, 18));  // File > Save config
        ASSERT_TRUE(wait_dialog("^Message$"));
        poll([&] { return read_file(dir.file("tarvikon.rc")) == expected; });
        EXPECT_EQ(read_file(dir.file("tarvikon.rc")), expected);
    }

    // Ends the program with the quit key and returns its output.
    std::string quit() {
        point_at_area();
        tap("Escape");
        if (!program.wait(20)) {
            ADD_FAILURE() << "the program did not end on Escape";
            program.kill_now();
        }
        return program.output();
    }
    // The same, for a program that must end with status 0.
    std::string quit_ok() {
        std::string out = quit();
        EXPECT_EQ(program.exit_code(), 0);
        return out;
    }

    // The numbers that a BASIC program prints after a clear screen.
    std::vector<int> run_program() {
        type_line("run");
        // The program clears the screen first.
        wait_gone("RUN");
        wait_text("READY.");
        auto s = screen();
        if (!s) return {};
        std::string text;
        for (const std::string& row : s->rows) {
            if (row.find("READY.") != std::string::npos) break;
            text += row;
        }
        return numbers_in(text);
    }

    // BASIC's jiffy clock counted over a wall-clock interval: "t=ti" and, after
    // about wait_s, the difference printed on a cleared screen. Returns jiffies
    // per wall second between the two Returns.
    double jiffies_per_second(double wait_s) {
        using Clock = std::chrono::steady_clock;
        if (!type_line("t=ti", false)) return 0;
        Clock::time_point first = Clock::now();
        tap("Return");
        std::this_thread::sleep_for(std::chrono::duration<double>(wait_s));
        if (!type_line("?chr$(147)ti-t", false)) return 0;
        Clock::time_point second = Clock::now();
        tap("Return");
        std::vector<int> printed;
        for (int i = 0; i < 250 && printed.size() != 1; i++) {
            // The number, then READY., and nothing else on the cleared screen.
            if (auto s = screen()) {
                std::string text = s->joined();
                size_t ready = text.find("READY.");
                if (ready != std::string::npos && text.find("TI-T") == std::string::npos)
                    printed = numbers_in(text.substr(0, ready));
            }
            if (printed.size() != 1) pause_ms(20);
        }
        if (printed.size() != 1) {
            ADD_FAILURE() << "no jiffy count on the screen:\n" << screen()->joined();
            return 0;
        }
        return printed[0] / std::chrono::duration<double>(second - first).count();
    }

    // Print and Shift+Print on a coloured screen: the first PNG has a pixel
    // for each VIC pixel, the second is the window's picture, both equal to the
    // xwd of the window (each VIC pixel 2 * zoom by zoom screen pixels there).
    // The 8-bit doubled window shows its picture one pixel up and left.
    void check_screenshots(int zoom, int shift = 0) {
        ASSERT_TRUE(wait_text("READY.", START_TIMEOUT, zoom));
        press_keys("fori=0to15:poke7680+i,160:poke38400+i,i:next:poke36879,170:forj=0to1:j=0:next");
        tap("Return");
        pause_ms(1500);
        auto window = grab_window(display(), area.id);
        ASSERT_TRUE(window);
        tap("Print");
        xdo({"keydown", "Shift_L", "sleep", "0.05"});
        tap("Print");
        xdo({"keyup", "Shift_L"});
        std::optional<Picture> plain, scaled;
        poll([&] {
            return (plain = saved_screenshot(program.output(), 1)) && (scaled = saved_screenshot(program.output(), 2));
        }, 100, 50);
        ASSERT_TRUE(plain && scaled) << program.output();
        EXPECT_EQ(plain->width, 229);
        EXPECT_EQ(plain->height, 283);
        EXPECT_EQ(scaled->width, window->width);
        EXPECT_EQ(scaled->height, 283 * zoom);
        int differ = 0;
        for (int y = 0; y < window->height - zoom; y++)  // the 8-bit window leaves its last line undrawn
            for (int x = 0; x < window->width - shift; x++)
                if ((!(scaled->at(x + shift, y + shift) == window->at(x, y)) ||
                     !(plain->at((x + shift) / (2 * zoom), (y + shift) / zoom) == window->at(x, y))) &&
                    differ++ == 0)
                    ADD_FAILURE() << "first difference at " << x << "," << y;
        EXPECT_EQ(differ, 0);
    }
    TempDir dir;
    Program program;
    std::vector<uint8_t> glyphs;
    XWin main_window, menu_bar, area;
};

// ---- window and start screen ---------------------------------------------------------

TEST_F(E2E, MainWindowHasTitleFixedPalGeometryAndStartScreen) {
    ASSERT_TRUE(launch());
    EXPECT_EQ(size_of(area), Pair(458, 283));
    EXPECT_EQ(size_of(main_window), Pair(458, 283 + menu_bar.height));
    EXPECT_EQ(place_of(main_window), Pair(150, 150));

    // Minimum and maximum size equal: nothing can resize the shell.
    std::string hints;
    run_tool({"xprop", "-id", std::to_string(main_window.id), "WM_NORMAL_HINTS"}, display(), &hints);
    std::string size = "458 by " + std::to_string(283 + menu_bar.height);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "program specified minimum size: " + size, hints);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "program specified maximum size: " + size, hints);

    // Help sits at the right end of the menu bar, File, Edit and Options at the left.
    std::vector<XWin> cascades = menu_bar.children;
    ASSERT_EQ(cascades.size(), 4u);
    std::sort(cascades.begin(), cascades.end(), [](const XWin& a, const XWin& b) { return a.x < b.x; });
    EXPECT_LT(cascades[2].x + cascades[2].width, menu_bar.width / 2);
    EXPECT_GT(cascades[3].x + cascades[3].width, menu_bar.width - 20);

    ASSERT_TRUE(wait_text("**** TARVIKON 0.8 ****"));
    auto s = screen();
    ASSERT_TRUE(s);
    ASSERT_GE(s->rows.size(), 5u);
    EXPECT_EQ(s->rows.size(), 23u);
    EXPECT_EQ(s->rows[0], "**** TARVIKON 0.8 ****");
    EXPECT_EQ(s->rows[2].substr(0, 15), "3583 BYTES FREE");
    EXPECT_EQ(s->rows[4].substr(0, 6), "READY.");
    EXPECT_EQ(quit_ok(), BANNER_LINE + "Starting Tarvikon...\nExiting...\n");
}

TEST_F(E2E, DoubledWindowShowsTheStartScreenAtTwiceTheSize) {
    ASSERT_TRUE(launch({"-nosound", "-highres"}));
    EXPECT_EQ(size_of(area), Pair(916, 566));
    EXPECT_EQ(place_of(main_window), Pair(0, 0));
    ASSERT_TRUE(wait_text("**** TARVIKON 0.8 ****", START_TIMEOUT, 2));
    auto s = screen(2);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->rows.size(), 23u);
    EXPECT_EQ(s->rows[2].substr(0, 15), "3583 BYTES FREE");
    quit_ok();
}

// ---- programs named on the command line -------------------------------------------------

TEST_F(E2E, ProgramNamedOnTheCommandLineRunsWithoutAKeyOnNtscAndPal) {
    const std::string file = marker_program(0x1001);
    write_file(dir.file("p.prg"), file);
    // Booting at real speed and unpaced: READY is found from the machine's state either way.
    for (auto [timing, speed] : {std::pair{0u, "-nosound"}, {1u, "-nosound"}, {0u, "-warp"}, {1u, "-warp"}}) {
        SCOPED_TRACE(std::string(timing ? "PAL " : "NTSC ") + speed);
        write_file(dir.file("tarvikon.rc"), config_bytes(2, 0, timing, 0, 28));
        ASSERT_TRUE(launch({"-nosound", speed, "p.prg"}));
        ASSERT_TRUE(wait_text("READY.\nRUN\nAUTOSTART 16\n"));
        EXPECT_EQ(quit(), BANNER_LINE + "Starting Tarvikon...\nLoading program p.prg...got " +
                              std::to_string(file.size() - 2) + " bytes \nExiting...\n");
        EXPECT_EQ(program.exit_code(), 0);
    }
}

TEST_F(E2E, ProgramStartsWithTheExpansionItNeeds) {
    // 9000 bytes saved with 8 KB, on an unexpanded configuration.
    write_file(dir.file("big.prg"), marker_program(0x1201, 9000));
    const std::string rc = config_bytes(2, 0, 1, 0, 28);
    ASSERT_TRUE(launch({"-nosound", "big.prg"}));
    ASSERT_TRUE(wait_text("AUTOSTART 18"));
    EXPECT_EQ(read_file(dir.file("tarvikon.rc")), rc);
    // Save config is offered: the expansion differs from the file.
    ASSERT_NO_FATAL_FAILURE(save_config_writes(config_bytes(2, 4, 1, 0, 28)));
    EXPECT_EQ(quit(), BANNER_LINE + "Starting Tarvikon...\n"
                                    "big.prg does not run with no expansion, starting with the 24 KB expansion...\n"
                                    "Loading program big.prg...got 8998 bytes \nExiting...\n");

    // Saved with 3 KB.
    write_file(dir.file("tarvikon.rc"), rc);
    write_file(dir.file("small.prg"), marker_program(0x0401));
    ASSERT_TRUE(launch({"-nosound", "-warp", "small.prg"}));
    ASSERT_TRUE(wait_text("AUTOSTART 4\n"));
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "small.prg does not run with no expansion, starting with the 3 KB expansion...\n", quit_ok());

    // A cartridge on a configured 16 KB expansion runs unexpanded, and Save config is offered.
    write_file(dir.file("tarvikon.rc"), config_bytes(2, 3, 1, 0, 28));
    write_file(dir.file("x.a0"), std::string(8192, '\xAA'));
    ASSERT_TRUE(launch({"-nosound", "-warp", "x.a0"}));
    ASSERT_TRUE(wait_text("3583 BYTES FREE"));
    ASSERT_NO_FATAL_FAILURE(save_config_writes(config_bytes(2, 0, 1, 0, 28)));
    quit();
}

TEST(Help, PrintsTheUsageTextWithoutADisplay) {
    if (access(BINARY.c_str(), X_OK) != 0 || !have_program("Xvfb")) SKIP_OR_FAIL("needs the program and Xvfb");
    std::string without, with;
    EXPECT_EQ(run_tool({"env", "-u", "DISPLAY", BINARY, "-h"}, "", &without), 0);
    Xvfb server;
    ASSERT_TRUE(server.start(8));
    EXPECT_EQ(run_tool({BINARY, "-h"}, server.display(), &with), 0);
    // The same text with and without one: the banner and the usage text.
    EXPECT_EQ(without, with);
    EXPECT_EQ(without.substr(0, BANNER_LINE.size() + 9), BANNER_LINE + "\nUSAGE :\n");
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "F11        : Reset the VIC 20\n\n", without);
}

// ---- keyboard ------------------------------------------------------------------------------

TEST_F(E2E, TypingPrintShowsTheSumAndShiftTwoTypesAQuote) {
    ASSERT_TRUE(launch_ready());
    type_line("print 2+3");
    ASSERT_TRUE(wait_text("PRINT 2+3\n 5\n"));
    // Host Shift+2 is '@' on a US keyboard; the VIC 20 makes it a quote.
    type_line("print \"hi\"");
    ASSERT_TRUE(wait_text("PRINT \"HI\"\nHI"));
    // xdotool's key sends press and release back to back: each still types once.
    xdo({"key", "--delay", "60", "question", "7", "space", "space", "4", "BackSpace", "2"});
    EXPECT_TRUE(wait_tail("?7  2"));
    tap("Return");
    ASSERT_TRUE(wait_text("?7  2\n 72\n"));
    quit_ok();
}

// ---- real time and warp speed ---------------------------------------------------------------


TEST_F(E2E, JiffyClockKeepsRealTimeAndPauseAndTheMenuToggleWarp) {
    ASSERT_TRUE(launch_ready());
    double real = jiffies_per_second(6);
    EXPECT_NEAR(real, 60.0, 60.0 * 0.03);

    point_at_area();
    tap("Pause");
    double warp = jiffies_per_second(2);
    EXPECT_GE(warp, 600.0);

    ASSERT_TRUE(choose_menu(OPTIONS_MENU, 4));  // Options > Warp speed, on: turns it off
    point_at_area();
    double again = jiffies_per_second(6);
    EXPECT_NEAR(again, 60.0, 60.0 * 0.03);
    printf("jiffies per second: %.2f real time, %.1f warp, %.2f after the menu toggle\n", real, warp, again);
    quit_ok();
}

TEST_F(E2E, WarpOptionStartsUnpaced) {
    ASSERT_TRUE(launch_ready({"-nosound", "-warp"}));
    double warp = jiffies_per_second(2);
    EXPECT_GE(warp, 600.0);
    printf("jiffies per second with -warp: %.1f\n", warp);
    EXPECT_EQ(quit(), "\nTarvikon for Linux V0.8, Build date 21.04.98\nStarting Tarvikon...\nExiting...\n");
}

TEST_F(E2E, ResetKeyRestartsAndVerboseRunPrintsTheWholeSequence) {
    ASSERT_TRUE(launch_ready({"-verbose", "-nosound"}));
    type_line("print 6");
    ASSERT_TRUE(wait_text("PRINT 6\n 6\n"));
    point_at_area();
    tap("F11");
    ASSERT_TRUE(wait_gone("PRINT 6"));
    ASSERT_TRUE(wait_text("READY."));
    std::string out = quit_ok();
    EXPECT_EQ(out,
              "\nTarvikon for Linux V0.8, Build date 21.04.98\n"
              "Message mode : Verbose\n"
              "Reading configuration from tarvikon.rc...OK\n"
              "Allocating VIC 20 RAM...OK\n"
              "Reading the ROMS...PAL timing...kernel.pal...basic.rom...chargen.rom...OK\n"
              "Checking color depth of display...8 Bit...OK\n"
              "Allocating colors..blue..red..green..cyan..purple..black..white..yellow..orange..ltorange..pink.."
              "ltcyan..ltpurple..ltgreen..ltblue..ltyellow..grey..white2..OK\n"
              "Checking for MIT-Shared memory extension support...OK\n"
              "Allocating image...OK\n"
              "Allocating shared memory...OK\n"
              "Attaching shared memory...OK\n"
              "Attaching shared memory to X server...OK\n"
              "Patching ROM with Tarvikon Version...OK\n"
              "Inserting memory expansion cartridge...OK\n"
              "Initialising registers...OK\n"
              "Reseting VIC 20..\n"
              "Initializing Registers...\n"
              "Detaching shared memory...OK\n"
              "Deallocating image...OK\n"
              "Deallocating VIC 20 RAM...OK\n"
              "Exiting...\n");
}

TEST_F(E2E, JoystickKeysPaddleKeysAndLightPenReachTheRegisters) {
    ASSERT_TRUE(launch_ready());
    // Port A of the first VIA (up, down, left, fire), bit 7 of the second
    // VIA's port B (right) read as an input, the paddles and the light pen.
    type_line("1?chr$(147);:poke37154,127:j=peek(37152)and128:poke37154,255");
    type_line("2?peek(37137)and60;j;peek(36872);peek(36873);peek(36870);peek(36871)");

    // The six numbers printed, -1 for any missing.
    auto numbers = [&] {
        std::vector<int> v = run_program();
        EXPECT_EQ(v.size(), 6u) << screen()->joined();
        v.resize(6, -1);
        return v;
    };
    auto paddles_are = [&](int x, int y) {
        std::vector<int> v = numbers();
        EXPECT_EQ(Pair(v[2], v[3]), Pair(x, y));
    };
    EXPECT_EQ(numbers(), (std::vector<int>{60, 128, 0, 0, 0, 0}));

    // The server's own keymap: the keypad gives its arrows with NumLock off
    // (which is how Xvfb starts) and its digits with NumLock on.
    struct Line {
        const char* key;
        int port_a, right;
    };
    // By its name xdotool presses Control_L (the VIC 20's CTRL) along with
    // Control_R, and a CTRL still down as "run" is typed turns it into
    // control codes: press Control_R alone by its key code, as a person does.
    std::string control_r;
    if (std::unique_ptr<Display, int (*)(Display*)> d(XOpenDisplay(display().c_str()), XCloseDisplay); d)
        control_r = std::to_string(XKeysymToKeycode(d.get(), XK_Control_R));
    ASSERT_NE(control_r, "0");
    ASSERT_FALSE(control_r.empty());
    auto hold = [&](Line l) {
        std::string key = std::string(l.key) == "Control_R" ? control_r : l.key;
        xdo({"keydown", key});
        std::vector<int> v = numbers();
        xdo({"keyup", key});
        EXPECT_EQ(Pair(v[0], v[1]), Pair(l.port_a, l.right)) << l.key;
    };
    for (Line l : {Line{"Up", 56, 128}, Line{"KP_Up", 56, 128}, Line{"Down", 52, 128}, Line{"Left", 44, 128},
                   Line{"Control_R", 28, 128}, Line{"Right", 60, 0}, Line{"KP_Right", 60, 0}})
        hold(l);
    std::vector<int> released = numbers();
    EXPECT_EQ(Pair(released[0], released[1]), Pair(60, 128));

    // The keypad's 1 and 3 keys without NumLock: End and Next, no paddle.
    xdo({"key", "--delay", "5", "KP_End", "KP_Next", "KP_Home", "KP_Prior"});
    paddles_are(0, 0);

    // With NumLock they are KP_1 and KP_3: paddle keys move by 4 per press and
    // stop at 255 and 0; the 8 key is KP_8, the joystick's up line again.
    tap("Num_Lock");
    std::vector<std::string> presses = {"key", "--delay", "5", "KP_End", "KP_End", "KP_End", "KP_Next"};
    presses.insert(presses.end(), 70, "KP_Home");
    presses.push_back("KP_Prior");
    xdo(presses);
    paddles_are(8, 251);
    xdo({"key", "--delay", "5", "KP_Next", "KP_Next", "KP_Next"});
    paddles_are(0, 251);
    hold(Line{"KP_Up", 56, 128});
    tap("Num_Lock");

    // A held button is the fire line; its release latches the pen position.
    point_at_area(100, 50);
    xdo({"mousedown", "1"});
    std::vector<int> held = numbers();
    xdo({"mouseup", "1"});
    EXPECT_EQ(held[0], 28);
    std::vector<int> pen = numbers();
    EXPECT_EQ(pen[0], 60);
    EXPECT_EQ(Pair(pen[4], pen[5]), Pair(100 / 4 + 23, 50 / 2 + 12));
    quit();
}

TEST_F(E2E, MenuBarAndTraversalKeysLeaveTheKeyboardToTheMachine) {
    ASSERT_TRUE(launch_ready());
    // Motif's keys for the menu bar, popup menus and focus traversal; on the
    // VIC 20 they type nothing (Tab is RUN/STOP, which also ends the tape
    // load that SHIFT and RUN/STOP start).
    for (std::vector<std::string> keys : std::vector<std::vector<std::string>>{
             {"F10"}, {"shift+F10"}, {"Menu"}, {"ctrl+Tab"}, {"shift+Tab", "Tab"}, {"F10"}}) {
        SCOPED_TRACE(keys[0]);
        for (const std::string& key : keys) {
            xdo({"key", key});
            pause_ms(100);
        }
        type_line("a", false);
        EXPECT_TRUE(wait_text("READY.\nA"));
        tap("Return");
    }
    // The menus still open with the pointer, and Escape still ends the program.
    ASSERT_TRUE(choose_menu(HELP_MENU, 0));  // Help > About...
    EXPECT_TRUE(wait_dialog("^About Tarvikon for Linux$"));
    quit_ok();
}

TEST_F(E2E, KeysHeldWhenTheKeyboardGoesElsewhereAreLetGo) {
    std::unique_ptr<Display, int (*)(Display*)> connection(XOpenDisplay(display().c_str()), XCloseDisplay);
    Display* d = connection.get();
    ASSERT_NE(d, nullptr);
    Window other = XCreateSimpleWindow(d, DefaultRootWindow(d), 900, 700, 50, 50, 0, 0, 0);
    XMapWindow(d, other);
    XSync(d, False);
    ASSERT_TRUE(launch_ready());
    type_line("poke650,128");  // every key repeats while held
    tap("Return");

    auto count = [&](char c) -> long {
        auto s = screen();
        if (!s) return -1;
        std::string all = s->joined();
        return std::count(all.begin(), all.end(), c);
    };
    // Held until it repeats; the keyboard goes away before the release.
    auto hold_then_lose = [&](const char* key, char shown, const std::function<void()>& lose, const char* how) {
        SCOPED_TRACE(how);
        xdo({"keydown", key});
        poll([&] { return count(shown) >= 3; }, 200, 10);
        lose();
        xdo({"keyup", key});
        pause_ms(300);
        auto before = count(shown);
        EXPECT_GE(before, 3);
        pause_ms(1000);
        EXPECT_EQ(count(shown), before) << "the key kept repeating";
        XSetInputFocus(d, PointerRoot, RevertToPointerRoot, CurrentTime);
        XSync(d, False);
        point_at_area();
    };
    hold_then_lose("s", 'S', [&] {
        XSetInputFocus(d, other, RevertToPointerRoot, CurrentTime);
        XSync(d, False);
    }, "focus to another window");
    hold_then_lose("d", 'D', [&] { xdo({"mousemove", "950", "20"}); }, "pointer out of the window");

    // After a reset only the usual keys repeat: the keyboard reaches the
    // machine as before.
    tap("F11");
    ASSERT_TRUE(wait_text("READY."));
    type_line("print 9");
    EXPECT_TRUE(wait_text("PRINT 9\n 9\n"));
    quit();
}

// ---- menus and dialogs ----------------------------------------------------------------------

TEST_F(E2E, MemoryDialogSetTo8KBResetsTheMachineAndSaveConfigWritesIt) {
    ASSERT_TRUE(launch());
    ASSERT_TRUE(wait_text("3583 BYTES FREE"));
    ASSERT_TRUE(choose_menu(OPTIONS_MENU, 0));  // Options > Memory...
    auto dialog = wait_dialog("^Memory Settings$");
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->width, 250);
    EXPECT_EQ(dialog->height, 200);
    // The scale: the form's child with the scroll bar inside, above the first separator.
    std::optional<XWin> scale;
    for (const XWin& w : form_children(*dialog))
        if (w.children.size() == 1 && w.y < dialog->height * 4 / 10) scale = w;
    ASSERT_TRUE(scale);
    // Drag the slider (at value 0, the left end) two steps of the six values.
    const XWin& bar = scale->children[0];
    int slider_length = 30, trough = bar.width - 4;
    int from_x = bar.abs_x + 2 + slider_length / 2, yy = bar.abs_y + bar.height / 2;
    int step = (trough - slider_length) / 5;
    xdo({"mousemove", std::to_string(from_x), std::to_string(yy), "mousedown", "1"});
    for (int dx = 4; dx <= 2 * step; dx += 4) xdo({"mousemove", std::to_string(from_x + dx), std::to_string(yy)});
    xdo({"mousemove", std::to_string(from_x + 2 * step), std::to_string(yy), "mouseup", "1"});
    auto apply = dialog_button(*dialog, true);
    ASSERT_TRUE(apply);
    click_centre(*apply);
    ASSERT_TRUE(wait_text("11775 BYTES FREE"));
    EXPECT_FALSE(dialog_visible("^Memory Settings$"));

    // The change made "Save config" available; saving writes the settings in effect.
    fs::remove(dir.file("tarvikon.rc"));
    ASSERT_NO_FATAL_FAILURE(save_config_writes(config_bytes(2, 2, 1, 0, 28)));

    // Now it is insensitive: choosing it again writes nothing.
    fs::remove(dir.file("tarvikon.rc"));
    ASSERT_TRUE(choose_menu(0, 18));
    pause_ms(500);
    EXPECT_FALSE(fs::exists(dir.file("tarvikon.rc")));
    quit_ok();
}

TEST_F(E2E, VideoDialogSwitchToNtscResizesTheWindow) {
    ASSERT_TRUE(launch_ready());
    ASSERT_TRUE(choose_menu(OPTIONS_MENU, 2));  // Options > Video...
    auto dialog = wait_dialog("^Video Settings$");
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->width, 250);
    EXPECT_EQ(dialog->height, 250);
    std::vector<XWin> boxes;
    for (const XWin& w : form_children(*dialog))
        if (w.x > 0 && w.width > dialog->width / 2 && w.height > 15 && w.y < dialog->height * 7 / 10)
            boxes.push_back(w);
    std::sort(boxes.begin(), boxes.end(), [](const XWin& a, const XWin& b) { return a.y < b.y; });
    ASSERT_EQ(boxes.size(), 2u);
    click(boxes[0].abs_x + 20, boxes[0].abs_y + boxes[0].height / 2);  // NTSC-M (6560)
    click(boxes[1].abs_x + 20, boxes[1].abs_y + boxes[1].height / 2);  // 9 lines
    auto apply = dialog_button(*dialog, true);
    ASSERT_TRUE(apply);
    click_centre(*apply);

    poll([&] { return find_main_window() && area.width == 402; }, 100, 50);
    EXPECT_EQ(size_of(area), Pair(402, 251));
    EXPECT_EQ(main_window.height, 251 + menu_bar.height);
    ASSERT_TRUE(wait_text("3583 BYTES FREE"));

    // File > Exit ends the program as the quit key does.
    ASSERT_TRUE(choose_menu(0, 22));
    ASSERT_TRUE(program.wait(20));
    EXPECT_EQ(program.exit_code(), 0);
    std::string out = program.output();
    EXPECT_GE(out.size(), 11u);
    EXPECT_EQ(out.substr(out.size() - 11), "Exiting...\n");
}

TEST_F(E2E, SaveAndLoadBasicRoundTripThroughAFile) {
    // The dialogs accept only names in their file list, made when they are built.
    write_file(dir.file("prog.prg"), "");
    ASSERT_TRUE(launch_ready());
    type_line("10 print \"saved\"");
    ASSERT_TRUE(wait_text("10 PRINT \"SAVED\""));

    auto save = file_dialog(3, "^Save BASIC program\\.\\.\\.$", "prog.prg");  // File > Save basic...
    ASSERT_TRUE(save);
    EXPECT_EQ(size_of(*save), Pair(400, 400));
    point_at_area();
    std::string saved;
    poll([&] { return !(saved = read_file(dir.file("prog.prg"))).empty(); });
    ASSERT_GT(saved.size(), 2u);
    EXPECT_EQ(saved.substr(0, 2), std::string("\x01\x10", 2));  // load address $1001
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "SAVED", saved);

    type_line("new");
    type_line("list");
    ASSERT_TRUE(wait_text("LIST\n\nREADY."));
    auto load = file_dialog(2, "^Load BASIC program\\.\\.\\.$", "prog.prg");  // File > Load basic...
    ASSERT_TRUE(load);
    point_at_area();
    type_line("run");
    ASSERT_TRUE(wait_text("RUN\nSAVED"));

    std::string out = quit();
    std::string path = dir.file("prog.prg");
    int bytes = int(saved.size()) - 2;
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "Saving program " + path + "...wrote  " + std::to_string(bytes) + " bytes \n", out);
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "Loading program " + path + "...got " + std::to_string(bytes) + " bytes \n", out);
}

TEST_F(E2E, Drive8SavesLoadsAndListsTheWorkingDirectory) {
    ASSERT_TRUE(launch_ready());
    type_line("10 print \"hello\"");
    type_line("save \"hello\",8");
    ASSERT_TRUE(wait_text("SAVING HELLO\nREADY."));
    std::string saved = read_file(dir.file("hello.prg"));
    EXPECT_EQ(saved.substr(0, 2), std::string("\x01\x10", 2));
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "HELLO", saved);

    clear_screen();
    type_line("new");
    type_line("load \"hello\",8");
    ASSERT_TRUE(wait_text("SEARCHING FOR HELLO\nLOADING\nREADY."));
    type_line("list");
    ASSERT_TRUE(wait_text("10 PRINT \"HELLO\"\nREADY."));

    clear_screen();
    type_line("load \"$\",8");
    ASSERT_TRUE(wait_text("LOADING\nREADY."));
    type_line("list");
    ASSERT_TRUE(wait_text("1    \"HELLO\""));
    ASSERT_TRUE(wait_text("BLOCKS FREE."));

    clear_screen();
    type_line("load \"nope\",8");
    ASSERT_TRUE(wait_text("SEARCHING FOR NOPE\n?FILE NOT FOUND\n ERROR\nREADY."));
    quit_ok();
}

TEST_F(E2E, Drive8DiskImageOnTheCommandLineLoadsListsRunsAndSaves) {
    // 10 PRINT "DISK" at $1001.
    const std::string program_bytes("\x01\x10\x0e\x10\x0a\x00\x99\x20\x22" "DISK" "\x22\x00\x00\x00", 17);
    D64Image image = d64_blank("E2E DISK", "EE");
    ASSERT_EQ(d64_write_file(image, "SHOW", std::vector<uint8_t>(program_bytes.begin(), program_bytes.end()), false),
              DiskStatus::OK);
    ASSERT_EQ(d64_write_image(dir.file("work.D64").c_str(), image), DiskStatus::OK);

    // Named alone, the image's first program loads and runs by itself.
    ASSERT_TRUE(launch({"-nosound", "work.D64"}));
    ASSERT_TRUE(wait_text("LOAD\"*\",8\n"));
    ASSERT_TRUE(wait_text("SEARCHING FOR *\nLOADING\nREADY.\nRUN\nDISK\n"));
    clear_screen();
    type_line("list");
    ASSERT_TRUE(wait_text("10 PRINT \"DISK\"\nREADY."));
    type_line("save \"copy\",8");
    ASSERT_TRUE(wait_text("SAVING COPY\nREADY."));
    std::string out = quit();
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "Attaching disk image work.D64...OK\n", out);
    EXPECT_PRED_FORMAT2(testing::IsNotSubstring, "Loading game cartridge", out);

    D64Image saved;
    ASSERT_EQ(d64_read_image(dir.file("work.D64").c_str(), saved), DiskStatus::OK);
    DiskListing listing;
    ASSERT_EQ(d64_directory(saved, listing), DiskStatus::OK);
    ASSERT_EQ(listing.files.size(), 2u);
    EXPECT_EQ(listing.files[1].name, "COPY");
    std::vector<uint8_t> copy;
    ASSERT_EQ(d64_read_file(saved, listing.files[1], copy), DiskStatus::OK);
    EXPECT_EQ(std::string(copy.begin(), copy.end()), program_bytes);
}

TEST_F(E2E, LoadCartAsksForAResetAndTheKeysOpenTheirDialogs) {
    write_file(dir.file("game.a0"), std::string(4096, '\xEA'));
    ASSERT_TRUE(launch_ready());

    auto dialog = file_dialog(4, "^Load Cart program\\.\\.\\.$", "game.a0");  // File > Load cart...
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(wait_dialog("^Message$"));
    EXPECT_FALSE(dialog_visible("^Load Cart program\\.\\.\\.$"));

    // F4 right after the start: no program, so the error message.
    point_at_area();
    tap("F4");
    EXPECT_TRUE(wait_dialog("^Error Message$"));
    EXPECT_FALSE(dialog_visible("^Save BASIC program\\.\\.\\.$"));
    point_at_area();
    tap("F2");
    EXPECT_TRUE(wait_dialog("^Load BASIC program\\.\\.\\.$"));

    ASSERT_TRUE(choose_menu(HELP_MENU, 0));  // Help > About...
    EXPECT_TRUE(wait_dialog("^About Tarvikon for Linux$"));

    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "Loading game cartridge " + dir.file("game.a0") + " at $a000...got 4096 bytes \n", quit_ok());
}

TEST_F(E2E, SaveUnderNewNamesAndLoadThemBackFromFreshFileLists) {
    ASSERT_TRUE(launch_ready());
    type_line("10 print \"fresh\"");
    ASSERT_TRUE(wait_text("10 PRINT \"FRESH\""));

    // Each name is new, so only a list made as the load dialog opens has it.
    std::string first;
    for (const char* name : {"new.prg", "again.prg"}) {
        SCOPED_TRACE(name);
        auto save = file_dialog(3, "^Save BASIC program\\.\\.\\.$", name);  // File > Save basic...
        ASSERT_TRUE(save);
        std::string saved;
        poll([&] { return (saved = read_file(dir.file(name))).size() >= 3; });
        ASSERT_GT(saved.size(), 2u);
        if (first.empty()) first = saved;
        EXPECT_EQ(saved, first);
        poll([&] { return !dialog_visible("^Save BASIC program"); }, 50);
        EXPECT_FALSE(dialog_visible("^Save BASIC program"));

        point_at_area();
        type_line("new");
        auto load = file_dialog(2, "^Load BASIC program\\.\\.\\.$", name);  // File > Load basic...
        ASSERT_TRUE(load);
        poll([&] { return !dialog_visible("^Load BASIC program"); }, 50);
        EXPECT_FALSE(dialog_visible("^Load BASIC program")) << "the list did not have " << name;
        point_at_area();
        type_line("list");
        ASSERT_TRUE(wait_text("LIST\n\n10 PRINT \"FRESH\"\nREADY."));
    }
    quit();
}

TEST_F(E2E, TroughClickInTheDelayScaleSetsTheDelay) {
    ASSERT_TRUE(launch_ready({"-warp"}));
    double before = jiffies_per_second(2);
    ASSERT_TRUE(choose_menu(OPTIONS_MENU, 1));  // Options > Speed...
    auto dialog = wait_dialog("^Speed Settings$");
    ASSERT_TRUE(dialog);
    // The delay scale: the form's child with the scroll bar inside, below the first separator.
    std::optional<XWin> scale;
    for (const XWin& w : form_children(*dialog))
        if (w.children.size() == 1 && w.y > dialog->height * 4 / 10 && w.y < dialog->height * 7 / 10) scale = w;
    ASSERT_TRUE(scale);
    // The slider sits at the left end (delay 0); a click right of it pages up.
    const XWin& bar = scale->children[0];
    click(bar.abs_x + bar.width - 6, bar.abs_y + bar.height / 2);
    pause_ms(200);
    auto ok = dialog_button(*dialog, true);
    ASSERT_TRUE(ok);
    click_centre(*ok);

    // The delay is in effect: the busy-wait after every instruction slows the
    // unpaced machine down many times, and Save config, now available, writes it.
    point_at_area();
    double after = jiffies_per_second(2);
    printf("jiffies per second under warp: %.0f without the delay, %.0f with it\n", before, after);
    EXPECT_LT(after * 3, before) << before << " jiffies per second before, " << after << " after";
    fs::remove(dir.file("tarvikon.rc"));
    ASSERT_NO_FATAL_FAILURE(save_config_writes(config_bytes(2, 0, 1, 50, 28)));
    quit();
}

// ---- paste, copy, drop -------------------------------------------------------------------------

// Puts text into an X selection ("clipboard" or "primary"); xclip stays as its owner.
void set_selection(const std::string& display, const std::string& which, const std::string& file) {
    run_tool({"sh", "-c", "xclip -selection " + which + " -i '" + file + "' >/dev/null 2>&1"}, display);
}

// Drops a file on the window as a file manager does (XDND 5): Enter with the
// URI list type, Position until a Status comes, Drop; serves the
// XdndSelection request and waits for Finished. True when the drop was taken.
bool drop_file(const std::string& display, unsigned long target, const std::string& uri) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return false;
    auto atom = [d](const char* name) { return XInternAtom(d, name, False); };
    const Window source = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(d, atom("XdndSelection"), source, CurrentTime);
    auto send = [&](const char* type, long l1, long l2, long l3, long l4) {
        XEvent e{};
        e.xclient = {ClientMessage, 0, False, d, target, atom(type), 32, {.l = {long(source), l1, l2, l3, l4}}};
        XSendEvent(d, target, False, NoEventMask, &e);
        XFlush(d);
    };
    send("XdndEnter", 5L << 24, long(atom("text/uri-list")), 0, 0);
    send("XdndPosition", 0, 100L << 16 | 100, CurrentTime, long(atom("XdndActionCopy")));
    bool taken = false, finished = false, status = false;
    auto begin = std::chrono::steady_clock::now();
    while (!finished && std::chrono::steady_clock::now() - begin < std::chrono::seconds(10)) {
        if (!XPending(d)) {
            pause_ms(10);
            continue;
        }
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == ClientMessage && e.xclient.message_type == atom("XdndStatus") && !status) {
            status = true;
            if (!(e.xclient.data.l[1] & 1)) break;
            send("XdndDrop", 0, CurrentTime, 0, 0);
        } else if (e.type == ClientMessage && e.xclient.message_type == atom("XdndFinished")) {
            finished = true;
            taken = e.xclient.data.l[1] & 1;
        } else if (e.type == SelectionRequest) {
            XSelectionRequestEvent& r = e.xselectionrequest;
            XChangeProperty(d, r.requestor, r.property, r.target, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(uri.data()), int(uri.size()));
            XEvent n{};
            n.xselection = {SelectionNotify, 0, True, d, r.requestor, r.selection, r.target, r.property, r.time};
            XSendEvent(d, r.requestor, False, NoEventMask, &n);
            XFlush(d);
        }
    }
    XCloseDisplay(d);
    return taken;
}

TEST_F(E2E, PastedListingIsInMemoryExactlyAndCopyScreenGivesTheScreenBack) {
    if (!have_program("xclip")) SKIP_OR_FAIL("needs xclip");
    ASSERT_TRUE(launch_ready({"-nosound", "-warp", "-memory", "24k"}));
    auto upper = [](std::string t) {
        for (char& c : t) c = char(std::toupper(static_cast<unsigned char>(c)));
        return t;
    };
    std::string listing;
    for (int n = 1; n <= 300; n++)
        listing += std::to_string(10 * n) + " print\"l\";" + std::to_string(n) + "*2" + (n % 2 ? "\n" : "\r\n");
    write_file(dir.file("listing.txt"), listing);
    set_selection(display(), "clipboard", dir.file("listing.txt"));
    ASSERT_TRUE(choose_menu(EDIT_MENU, 0));  // Edit > Paste
    ASSERT_TRUE(wait_tail("*2   3000 PRINT\"L\";300*2", 120)) << screen()->joined();

    // LIST it back a screenful at a time, each command pasted from the
    // primary selection with the middle button.
    for (int first = 1; first <= 300; first += 17) {
        const int last = std::min(first + 16, 300);
        const std::string command = "list" + std::to_string(10 * first) + "-" + std::to_string(10 * last);
        write_file(dir.file("command.txt"), command + "\n");
        set_selection(display(), "primary", dir.file("command.txt"));
        point_at_area(100, 100);
        xdo({"click", "2"});
        std::string expected = upper(command) + "\n\n";
        for (int n = first; n <= last; n++) expected += std::to_string(10 * n) + " PRINT\"L\";" + std::to_string(n) + "*2\n";
        // LIST ends the program's last line with READY at once, any other with an empty row.
        ASSERT_TRUE(wait_text(expected + (last < 300 ? "\n" : "") + "READY.\n")) << "lines " << first << " to " << last;
    }

    // Copy screen: what the clipboard then holds is the screen's text.
    ASSERT_TRUE(choose_menu(EDIT_MENU, 1));
    std::string copied;
    EXPECT_TRUE(within(5, [&] {
        run_tool({"xclip", "-o", "-selection", "clipboard"}, display(), &copied);
        return copied.find("LIST") != std::string::npos;
    }, 100));
    EXPECT_EQ(copied, screen()->joined());
    EXPECT_EQ(quit_ok(), BANNER_LINE + "Starting Tarvikon...\nExiting...\n");
}

TEST_F(E2E, DroppedFilesStartAsIfNamedAndADiskDroppedOnARunningProgramIsAttached) {
    write_file(dir.file("my game.prg"), marker_program(0x1001));
    ASSERT_TRUE(launch_ready());
    ASSERT_TRUE(drop_file(display(), main_window.id, "file://" + dir.file("my%20game.prg") + "\r\n"));
    ASSERT_TRUE(wait_text("RUN\nAUTOSTART 16\n"));

    // An archive: its first VIC 20 file, from a folder inside, with the memory it needs.
    const std::string program = marker_program(0x1201);
    {
        int error = 0;
        zip_t* z = zip_open(dir.file("release.zip").c_str(), ZIP_CREATE, &error);
        ASSERT_TRUE(z);
        zip_file_add(z, "readme.txt", zip_source_buffer(z, "hi", 2, 0), 0);
        zip_file_add(z, "release/big.prg", zip_source_buffer(z, program.data(), program.size(), 0), 0);
        ASSERT_EQ(zip_close(z), 0);
    }
    ASSERT_TRUE(drop_file(display(), main_window.id, "# a comment\r\nfile://" + dir.file("release.zip") + "\r\n"));
    ASSERT_TRUE(wait_text("RUN\nAUTOSTART 18\n"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("tmp")), fs::directory_iterator()), 1);

    // A program runs: the disk goes into the drive, and the title says so.
    ASSERT_EQ(d64_write_image(dir.file("side2.d64").c_str(), d64_blank("SIDE 2", "S2")), DiskStatus::OK);
    type_line("10 goto 10");
    type_line("run");
    pause_ms(300);
    ASSERT_TRUE(drop_file(display(), main_window.id, "file://localhost" + dir.file("side2.d64") + "\r\n"));
    EXPECT_TRUE(within(5, [&] { return !windows_named(display(), "^Tarvikon for Linux V0.8  Attached side2.d64$").empty(); }, 50));
    // Not a local file: refused; one that is not there: said, and the program keeps running.
    EXPECT_FALSE(drop_file(display(), main_window.id, "http://example.org/x.prg\r\n"));
    EXPECT_TRUE(drop_file(display(), main_window.id, "file:///nowhere/x.prg\r\n"));

    std::string out = quit_ok();
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "Loading program " + dir.file("my game.prg") + "...got", out);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "Attaching disk image " + dir.file("side2.d64") + "...OK\n", out);
    EXPECT_TRUE(out.ends_with("...OK\nCannot open /nowhere/x.prg\nExiting...\n")) << out;
    // File > Recent: the three, newest first, in the configuration folder.
    EXPECT_EQ(read_file(dir.file("config/tarvikon/recent")),
              dir.file("side2.d64") + "\n" + dir.file("release.zip") + "\n" + dir.file("my game.prg") + "\n");
    // The private folder of the archive's files is gone.
    EXPECT_TRUE(fs::is_empty(dir.file("tmp")));
}

// ---- displays the program cannot use -----------------------------------------------------------

class E2EDisplay : public E2E {
protected:
    static void SetUpTestSuite() { check_tools(); }
    static void TearDownTestSuite() {}

    // Runs the program to its end on a display and returns its output.
    std::string run_on(const std::string& display_name, const std::vector<std::string>& args) {
        EXPECT_TRUE(program.start(BINARY, dir.path, display_name, args));
        if (!program.wait(START_TIMEOUT)) {
            ADD_FAILURE() << "the program kept running";
            program.kill_now();
        }
        return program.output();
    }
};

TEST_F(E2EDisplay, TwentyFourBitDisplayWithoutSharedMemorySaysSoAndShowsThePicture) {
    Xvfb deep;
    ASSERT_TRUE(deep.start(24, {"-extension", "MIT-SHM"}));
    other_display = deep.display();
    ASSERT_TRUE(launch_ready());
    EXPECT_EQ(quit_ok(), BANNER_LINE +
                             "Starting Tarvikon...\nNo MIT-Shared memory on this display: frames go through XPutImage\n"
                             "Exiting...\n");
}

TEST_F(E2EDisplay, DisplayWithoutSharedMemoryIsRefused) {
    Xvfb plain;
    ASSERT_TRUE(plain.start(8, {"-extension", "MIT-SHM"}));
    std::string out = run_on(plain.display(), {"-nosound", "-verbose"});
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "white2..OK\nChecking for MIT-Shared memory extension support...failed\n"
                        "Tarvikon needs MIT-Shared memory. Please check your system installation !\n"
                        "Detaching shared memory...OK\n",
                        out);
    EXPECT_EQ(program.exit_code(), 255);
}

TEST_F(E2EDisplay, FullColormapStopsAtTheFirstColour) {
    Xvfb server8;
    ASSERT_TRUE(server8.start(8));
    // Take every free cell of the default colormap for ourselves.
    Display* d = XOpenDisplay(server8.display().c_str());
    ASSERT_NE(d, nullptr);
    Colormap cmap = DefaultColormap(d, DefaultScreen(d));
    unsigned long pixel;
    unsigned taken = 0;
    while (taken < 256 && XAllocColorCells(d, cmap, False, nullptr, 0, &pixel, 1)) taken++;
    XSync(d, False);
    EXPECT_GT(taken, 0u);
    std::string out = run_on(server8.display(), {"-nosound", "-verbose"});
    XCloseDisplay(d);
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "8 Bit...OK\nAllocating colors..blue..failed\nDetaching shared memory...OK\n", out);
    EXPECT_EQ(program.exit_code(), 255);
}

TEST_F(E2EDisplay, DisplayThatCannotBeOpenedEndsWithAMessage) {
    // A display number that no server has: a socket path that does not exist.
    int number = 900;
    while (fs::exists("/tmp/.X11-unix/X" + std::to_string(number))) number++;
    std::string out = run_on(":" + std::to_string(number), {"-nosound"});
    EXPECT_TRUE(WIFEXITED(program.status)) << "ended by a signal";
    EXPECT_EQ(program.exit_code(), 255);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "Can't open display", out);
}

// ---- a window of its own on a 24-bit display -----------------------------------------------------

class DeepE2E : public E2E {
protected:
    static void SetUpTestSuite() { start_server(24, "1920x1080"); }

    // Reverse spaces in the eight character colours and as multicolour cells
    // in the auxiliary colour, on a pink background in a red border; then a
    // loop, so that no cursor blinks.
    std::optional<Picture> colour_picture() {
        EXPECT_TRUE(wait_text("READY."));
        type_line("fori=0to15:poke7680+i,160:poke38400+i,i:next:poke36879,170:poke36878,208");
        type_line("forj=0to1:j=0:next");
        pause_ms(1000);
        return grab_window(display(), area.id);
    }
};

TEST_F(DeepE2E, PictureEqualsThe8BitWindowsInColour) {
    ASSERT_TRUE(launch({"-nosound"}));  // the largest zoom under half of 1080 lines: 1
    EXPECT_EQ(size_of(area), Pair(458, 283));
    auto deep = colour_picture();
    EXPECT_EQ(quit(), BANNER_LINE + "Starting Tarvikon...\nExiting...\n");

    Xvfb flat;
    ASSERT_TRUE(flat.start(8));
    other_display = flat.display();
    ASSERT_TRUE(launch({"-nosound"}));
    auto eight = colour_picture();
    quit();
    ASSERT_TRUE(deep && eight);
    ASSERT_EQ(deep->width, eight->width);
    std::set<std::tuple<int, int, int>> colours;
    int differ = 0;
    for (int y = 0; y < 282; y++)  // the 8-bit window leaves its last line undrawn
        for (int x = 0; x < deep->width; x++) {
            Rgb a = deep->at(x, y), b = eight->at(x, y);
            colours.insert({a.r, a.g, a.b});
            if (!(a == b) && differ++ == 0)
                ADD_FAILURE() << "first difference at " << x << "," << y << ": " << int(a.r) << " " << int(a.g) << " "
                              << int(a.b) << " against " << int(b.r) << " " << int(b.g) << " " << int(b.b);
        }
    EXPECT_EQ(differ, 0);
    EXPECT_EQ(colours.size(), 10u);  // colours 0 to 7, pink and light green (the border is red)
}

TEST_F(DeepE2E, ScaleThreeReplicatesEveryPixelExactly) {
    ASSERT_TRUE(launch({"-nosound", "-scale", "3"}));
    EXPECT_EQ(size_of(area), Pair(3 * 458, 3 * 283));
    EXPECT_EQ(main_window.height, 3 * 283 + menu_bar.height);
    ASSERT_TRUE(wait_text("3583 BYTES FREE", START_TIMEOUT, 3));
    auto p = grab_window(display(), area.id);
    ASSERT_TRUE(p);
    // Each VIC pixel a block of 6 x 3 screen pixels of one colour.
    int broken = 0;
    for (int y = 0; y < p->height; y++)
        for (int x = 0; x < p->width; x++)
            if (!(p->at(x, y) == p->at(x - x % 6, y - y % 3)) && broken++ == 0)
                ADD_FAILURE() << "block broken at " << x << "," << y;
    EXPECT_EQ(broken, 0);
    quit();
}

TEST_F(DeepE2E, F9TakesTheWholeScreenForThePictureAloneAndF10OrTheTopEdgeBringTheMenuBar) {
    ASSERT_TRUE(launch_ready({"-nosound"}));
    tap("F9");
    poll([&] { return find_main_window() && area.height == 1080; }, 100, 50);
    EXPECT_EQ(size_of(main_window), Pair(1920, 1080));
    EXPECT_EQ(size_of(area), Pair(1920, 1080));
    EXPECT_FALSE(viewable(display(), menu_bar.id));
    // Zoom 3 fits 1920 x 1080, centred on black.
    const int zoom = 3, left = (1920 - zoom * 458) / 2, top = (1080 - zoom * 283) / 2;
    pause_ms(500);
    auto p = grab_window(display(), area.id);
    ASSERT_TRUE(p);
    Picture inside{zoom * 458, zoom * 283, {}};
    for (int y = 0; y < inside.height; y++)
        for (int x = 0; x < inside.width; x++) inside.pixels.push_back(p->at(left + x, top + y));
    auto s = decode_screen(inside, glyphs, zoom);
    ASSERT_TRUE(s);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "3583 BYTES FREE", s->joined());
    EXPECT_EQ(p->at(left - 1, top + 5), (Rgb{0, 0, 0}));
    EXPECT_EQ(p->at(left + 5, top - 1), (Rgb{0, 0, 0}));
    EXPECT_FALSE(p->at(left, top) == (Rgb{0, 0, 0}));  // the cyan border
    EXPECT_EQ(p->at(left, top), p->at(left + zoom * 458 - 1, top + zoom * 283 - 1));

    // F10 brings the bar until F10 again; the pointer at the top edge until it is back in the picture.
    auto bar_shown = [&](bool shown) {
        poll([&] { return viewable(display(), menu_bar.id) == shown; }, 100, 30);
        return viewable(display(), menu_bar.id) == shown;
    };
    tap("F10");
    EXPECT_TRUE(bar_shown(true));
    point_at_area(960, 600);
    EXPECT_TRUE(bar_shown(true));
    tap("F10");
    EXPECT_TRUE(bar_shown(false));
    xdo({"mousemove", "960", "0"});
    EXPECT_TRUE(bar_shown(true));
    xdo({"mousemove", "960", "600"});
    EXPECT_TRUE(bar_shown(false));

    xdo({"mousemove", "960", "0"});
    ASSERT_TRUE(bar_shown(true) && find_main_window());
    ASSERT_TRUE(choose_menu(OPTIONS_MENU, 6));  // Options > Full screen
    poll([&] { return find_main_window() && main_window.width == 458; }, 100, 50);
    EXPECT_EQ(size_of(area), Pair(458, 283));
    EXPECT_EQ(main_window.abs_x, 150);
    EXPECT_TRUE(viewable(display(), menu_bar.id));
    quit();
}

// ---- screenshots -----------------------------------------------------------------------------

// Reverse spaces in the sixteen colours on a pink background, then a loop.
TEST_F(E2E, PrintSavesTheDoubledWindowsPictureAsPng) {
    ASSERT_TRUE(launch({"-nosound", "-highres"}));
    check_screenshots(2, 1);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "Screenshot saved to " + dir.path + "/tarvikon-screenshot-", quit());
}

TEST_F(DeepE2E, PrintSavesTheScaledPictureAsPng) {
    ASSERT_TRUE(launch({"-nosound", "-scale", "3"}));
    check_screenshots(3);
    quit();
}

// ---- keyboard layouts -------------------------------------------------------------------------

// Each layout types the characters printed on its keys (with Shift and
// AltGr as that layout has them); positional keys follow the US places.
TEST_F(E2E, GermanFrenchAndBritishLayoutsTypeWhatTheirKeysShow) {
    if (!have_program("setxkbmap")) SKIP_OR_FAIL("needs setxkbmap");
    Xvfb own;  // the layouts stay on this server
    ASSERT_TRUE(own.start(8));
    other_display = own.display();
    const std::string line = "print abc xyz 0123456789 +-*/=:;,.?\"$%&()<>@";
    std::string shown;
    for (char c : line) shown += char(std::toupper(static_cast<unsigned char>(c)));
    struct Run {
        std::string layout;
        std::vector<std::string> args;
        std::string typed, shown;
    };
    for (const Run& run : {Run{"de", {}, line, shown}, Run{"fr", {}, line, shown}, Run{"gb", {}, line, shown},
                           Run{"de", {"-keymap", "positional"}, "zy\u00f6\u00e4-", "YZ;:/"}}) {
        SCOPED_TRACE(run.layout + (run.args.empty() ? "" : " positional"));
        ASSERT_EQ(run_tool({"setxkbmap", "-display", display(), run.layout}, display()), 0);
        std::vector<std::string> args{"-nosound"};
        args.insert(args.end(), run.args.begin(), run.args.end());
        ASSERT_TRUE(launch_ready(args));
        xdo({"type", "--delay", "120", run.typed});
        EXPECT_TRUE(wait_tail(run.shown, 10)) << screen_tail();
        quit_ok();
    }
}

}  // namespace
