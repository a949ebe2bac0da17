// The interface as start_X_client builds it, inspected inside the process on
// a private 8-bit Xvfb display: window geometry, colours, the frame image and
// its put, the menus, the dialogs with their names, texts and layout, and the
// callbacks' effects on the settings.
#include "support.h"  // before the X headers, whose None would hide gtest's

#include <Xm/CascadeB.h>
#include <Xm/FileSB.h>
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/MessageB.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/Scale.h>
#include <Xm/ScrollBar.h>
#include <Xm/Separator.h>
#include <Xm/ToggleB.h>
#include <Xm/ToggleBG.h>
#include <X11/IntrinsicP.h>
#include <X11/Shell.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/host.h"
#include "core/memory.h"
#include "core/pacing.h"
#include "core/tarvikon.h"
#include "core/via.h"
#include "core/vic.h"
#include "devices/d64.h"
#include "devices/datasette.h"
#include "devices/drive8.h"
#include "devices/gamepad.h"
#include "tape_image.h"
#include "ui/X.h"
#include "xdriver.h"

// Motif loses a few small blocks of its own while it builds dialogs (widget
// extension records, drag-and-drop target tables); a sanitizer build's leak
// check passes over leaks allocated inside it. (Motif has no frame pointers:
// only the slow unwinder sees its frames above Xt's allocator.)
extern "C" const char* __lsan_default_suppressions() { return "leak:libXm.so\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

namespace {

// The text of a compound string, its line separators as newlines.
std::string text_of(XmString s) {
    std::string out;
    XmStringContext components;
    if (!s || !XmStringInitContext(&components, s)) return out;
    for (;;) {
        unsigned int length = 0;
        XtPointer value = nullptr;
        XmStringComponentType type = XmStringGetNextTriple(components, &length, &value);
        if (type == XmSTRING_COMPONENT_END) break;
        if (type == XmSTRING_COMPONENT_TEXT || type == XmSTRING_COMPONENT_LOCALE_TEXT)
            out.append(static_cast<char*>(value), length);
        else if (type == XmSTRING_COMPONENT_SEPARATOR)
            out += '\n';
        XtFree(static_cast<char*>(value));
    }
    XmStringFreeContext(components);
    return out;
}

std::string string_resource(Widget w, const char* name) {
    XmString s = nullptr;
    XtVaGetValues(w, name, &s, nullptr);
    std::string out = text_of(s);
    if (s) XmStringFree(s);
    return out;
}

std::string label_of(Widget w) { return string_resource(w, XmNlabelString); }
std::string title_of(Widget dialog) { return string_resource(dialog, XmNdialogTitle); }

int int_resource(Widget w, const char* name) {
    int v = 0;
    XtVaGetValues(w, name, &v, nullptr);
    return v;
}
unsigned char byte_resource(Widget w, const char* name) {
    unsigned char v = 0;
    XtVaGetValues(w, name, &v, nullptr);
    return v;
}
Dimension dimension(Widget w, const char* name) {
    Dimension v = 0;
    XtVaGetValues(w, name, &v, nullptr);
    return v;
}

using Size = std::pair<int, int>;
Size area_size() { return {dimension(drawing_area, XmNwidth), dimension(drawing_area, XmNheight)}; }
std::string window_title() {
    char* t = nullptr;
    XtVaGetValues(toplevel, XmNtitle, &t, nullptr);
    return t ? t : "";
}

std::vector<Widget> children(Widget w) {
    WidgetList list = nullptr;
    Cardinal n = 0;
    XtVaGetValues(w, XmNchildren, &list, XmNnumChildren, &n, nullptr);
    return std::vector<Widget>(list, list + n);
}

// Lets the toolkit handle what the server sent back.
void settle() {
    XSync(TKDisplay, False);
    for (int i = 0; i < 2000 && XtAppPending(context); i++) poll_event();
}

class Widgets : public ::testing::Test {
protected:
    static inline Xvfb* server = nullptr;
    static inline std::string skip_reason;
    static inline std::string work_dir;
    static inline std::string start_output;

    static void SetUpTestSuite() { start_on(8, "1024x768"); }
    // start_scale as the -scale option sets it (0 for none).
    static void start_on(int depth, const std::string& size, uint8_t start_scale = 0) {
        if (!have_program("Xvfb")) {
            skip_reason = "needs Xvfb";
            return;
        }
        server = new Xvfb;
        if (!server->start(depth, {}, size)) {
            skip_reason = "Xvfb did not start";
            return;
        }
        // Start-up as the program does it, up to the user interface.
        memory = static_cast<uint8_t*>(std::malloc(MEMORY_SIZE));
        std::memset(memory, 0xFF, MEMORY_SIZE);
        std::memset(memory + 0x9000, 0, 0x1000);
        std::memset(rombank, 0, sizeof rombank);
        soundon = 0;
        verbose = 1;
        scale = start_scale;
        scale_set = start_scale != 0;
        config = 0;
        interrupt = 3;
        delay_loop = 120;
        memexp = memdef = 1;
        vid_time = vid_new = 1;
        overscan = overscan_set = 28;
        set_video_constants(1);
        wire_vias();
        wire_vic();
        install_io_handlers();

        static std::string display_arg = server->display();
        static char arg0[] = "ui_widget_test", arg1[] = "-display";
        static char* argv[] = {arg0, arg1, display_arg.data(), nullptr};
        int argc = 3;
        host_init(&argc, argv);
        start_output = capture_stdout([] { start_X_client(); });
        verbose = 0;
        settle();

        char templ[] = "/tmp/tarvikon-ui-XXXXXX";
        work_dir = mkdtemp(templ);
        if (chdir(work_dir.c_str()) != 0) skip_reason = "no working directory";
    }

    static void TearDownTestSuite() {
        if (server) {
            close_X_client();
            delete server;
            server = nullptr;
        }
        if (!work_dir.empty()) std::system(("rm -rf '" + work_dir + "'").c_str());
    }

    void SetUp() override {
        if (!skip_reason.empty()) SKIP_OR_FAIL(skip_reason);
    }
};

// ---- display, colours, frame image -----------------------------------------------------------

TEST_F(Widgets, StartReportsEveryStepAndBuildsAnEightBitSharedImage) {
    EXPECT_EQ(start_output,
              "Checking color depth of display...8 Bit...OK\n"
              "Allocating colors..blue..red..green..cyan..purple..black..white..yellow..orange..ltorange..pink.."
              "ltcyan..ltpurple..ltgreen..ltblue..ltyellow..grey..white2..OK\n"
              "Checking for MIT-Shared memory extension support...OK\n"
              "Allocating image...OK\n"
              "Allocating shared memory...OK\n"
              "Attaching shared memory...OK\n"
              "Attaching shared memory to X server...OK\n");
    EXPECT_EQ(TKDepth, 8);
    ASSERT_NE(TKImage, nullptr);
    EXPECT_EQ(TKImage->width, 520);
    EXPECT_EQ(TKImage->height, 312);
    EXPECT_EQ(TKImage->bytes_per_line, 520);
    EXPECT_EQ(TKImage->format, ZPixmap);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(TKImage->data), frame_image);
    EXPECT_EQ(TKShm.shmaddr, TKImage->data);
    EXPECT_FALSE(TKShm.readOnly);
    EXPECT_EQ(TKWindow, XtWindow(drawing_area));
}

TEST_F(Widgets, ColoursAreAllocatedWithTheirIntensities) {
    struct Expected {
        VicColorCode code;
        unsigned r, g, b;
    };
    const Expected table[] = {
        {COLOR_BLACK, 0, 0, 0},           {COLOR_WHITE, 59000, 59000, 59000}, {COLOR_RED, 65535, 12000, 12000},
        {COLOR_CYAN, 0, 56000, 56000},    {COLOR_PURPLE, 65535, 10000, 65535}, {COLOR_GREEN, 0, 57000, 0},
        {COLOR_BLUE, 10000, 20000, 60000}, {COLOR_YELLOW, 62000, 62000, 0},    {COLOR_ORANGE, 65535, 20000, 10000},
        {COLOR_LTORANGE, 65535, 35000, 25000}, {COLOR_PINK, 65535, 25000, 25000},
        {COLOR_LTCYAN, 15000, 65535, 65535}, {COLOR_LTPURPLE, 65535, 35000, 55000},
        {COLOR_LTGREEN, 0, 65535, 25000},  {COLOR_LTBLUE, 45000, 50000, 65535}, {COLOR_LTYELLOW, 65535, 65535, 0},
        {COLOR_GREY, 53000, 53000, 53000}, {COLOR_WHITE2, 65535, 65535, 65535},
    };
    for (const Expected& e : table) {
        const VicColor& c = vic_colors[e.code];
        EXPECT_EQ(c.double_pixel, c.pixel << 8 | c.pixel) << int(e.code);
        EXPECT_LT(c.pixel, 256u);
        XColor cell{};
        cell.pixel = c.pixel;
        XQueryColor(TKDisplay, TKCmap, &cell);
        // The server keeps 8 significant bits per channel.
        EXPECT_NEAR(cell.red >> 8, e.r >> 8, 1) << int(e.code);
        EXPECT_NEAR(cell.green >> 8, e.g >> 8, 1) << int(e.code);
        EXPECT_NEAR(cell.blue >> 8, e.b >> 8, 1) << int(e.code);
    }
    EXPECT_NE(vic_colors[COLOR_WHITE].pixel, vic_colors[COLOR_WHITE2].pixel);
    EXPECT_EQ(bordpixel, vic_colors[COLOR_BLACK].double_pixel);
}

TEST_F(Widgets, PutFrameShowsTheVisibleRectangleOfTheImage) {
    // Every byte of the image different from its neighbours, in 16 colours.
    for (unsigned line = 0; line < FRAME_LINES; line++)
        for (unsigned col = 0; col < FRAME_LINE_BYTES; col++)
            frame_image[line * FRAME_LINE_BYTES + col] = uint8_t(vic_colors[(line * 3 + col) % 16].pixel);
    put_frame();
    XSync(TKDisplay, False);
    unsigned width = 2 * PAL_SCREEN_WIDTH, height = PAL_LAST_LINE - 28 - 1;
    XImage* shown = XGetImage(TKDisplay, TKWindow, 0, 0, width, height, AllPlanes, ZPixmap);
    ASSERT_NE(shown, nullptr);
    unsigned wrong = 0;
    for (unsigned py = 0; py < height; py++)
        for (unsigned px = 0; px < width; px++) {
            uint8_t expected = frame_image[(28 + py) * FRAME_LINE_BYTES + 2 * PAL_VIEW_LEFT + px];
            if (XGetPixel(shown, int(px), int(py)) != expected) wrong++;
        }
    EXPECT_EQ(wrong, 0u);
    XDestroyImage(shown);
}

TEST_F(Widgets, ShellHasTitleFixedSizeAndFollowsTheVideoMode) {
    EXPECT_EQ(window_title(), "Tarvikon for Linux V0.8");
    EXPECT_EQ(area_size(), Size(458, 283));
    EXPECT_GT(menu_height, 10);
    EXPECT_EQ(menu_height, dimension(gmenu_bar, XmNheight));
    auto fixed = [](unsigned w, unsigned h) {
        for (auto [r, v] : {std::pair<const char*, unsigned>{XmNminWidth, w}, {XmNmaxWidth, w}, {XmNminHeight, h},
                            {XmNmaxHeight, h}})
            EXPECT_EQ(int_resource(toplevel, r), int(v)) << r;
        EXPECT_EQ(Size(dimension(toplevel, XmNwidth), dimension(toplevel, XmNheight)), Size(w, h));
    };
    fixed(458, 283 + menu_height);
    Position px = 0, py = 0;
    XtVaGetValues(toplevel, XmNx, &px, XmNy, &py, nullptr);
    EXPECT_EQ(px, 150);
    EXPECT_EQ(py, 150);

    resize_main_window(65, 9);
    settle();
    fixed(402, 251 + menu_height);
    EXPECT_EQ(area_size(), Size(402, 251));
    resize_main_window(71, 9);
    settle();
    fixed(458, 302 + menu_height);
    resize_main_window(71, 28);
    settle();
    fixed(458, 283 + menu_height);
}

TEST_F(Widgets, KeyEventsFromTheServerReachTheMatrix) {
    std::memset(keyrow, 0xFF, sizeof keyrow);
    std::memset(keycol, 0xFF, sizeof keycol);
    keycount = 0;
    XEvent e{};
    e.xkey.type = KeyPress;
    e.xkey.display = TKDisplay;
    e.xkey.window = TKWindow;
    e.xkey.keycode = XKeysymToKeycode(TKDisplay, XK_a);
    e.xkey.state = ShiftMask;  // the unshifted symbol is what counts
    XSendEvent(TKDisplay, TKWindow, True, KeyPressMask, &e);
    settle();
    EXPECT_EQ(keyrow[7 - 2], 0xFD);
    EXPECT_EQ(keycol[1], 0xFB);
    EXPECT_EQ(keycount, 1);
    e.xkey.type = KeyRelease;
    XSendEvent(TKDisplay, TKWindow, True, KeyReleaseMask, &e);
    settle();
    // Released within the frame of its press: down until a whole frame has passed.
    EXPECT_EQ(keycount, 1);
    frame_count += 2;
    release_held_keys();
    EXPECT_EQ(keyrow[5], 0xFF);
    EXPECT_EQ(keycount, 0);
}

// Events as the server sends them, with the server's own keymap: the keypad's
// 1 key is KP_End at index 0 and KP_1 on the level NumLock selects.
TEST_F(Widgets, KeypadFollowsNumLockAndLostFocusLetsGoOfTheKeys) {
    std::memset(keyrow, 0xFF, sizeof keyrow);
    std::memset(keycol, 0xFF, sizeof keycol);
    keycount = 0;
    joystick = joystick2 = 0xFF;
    uint8_t& paddle_x = memory[VIC_BASE + VIC_PADDLE_X];
    paddle_x = 100;
    auto send = [](int type, KeySym sym, unsigned state) {
        XEvent e{};
        e.xkey.type = type;
        e.xkey.display = TKDisplay;
        e.xkey.window = TKWindow;
        e.xkey.keycode = XKeysymToKeycode(TKDisplay, sym);
        e.xkey.state = state;
        XSendEvent(TKDisplay, TKWindow, True, type == KeyPress ? KeyPressMask : KeyReleaseMask, &e);
        settle();
    };
    ASSERT_NE(XKeysymToKeycode(TKDisplay, XK_KP_End), XKeysymToKeycode(TKDisplay, XK_KP_Up));
    const unsigned num_lock = Mod2Mask;  // where Xvfb's keymap puts Num_Lock
    send(KeyPress, XK_KP_End, 0);
    EXPECT_EQ(paddle_x, 100);
    send(KeyPress, XK_KP_End, num_lock);
    EXPECT_EQ(paddle_x, 104);
    send(KeyPress, XK_KP_End, num_lock | ShiftMask);  // the host's Shift does not undo NumLock
    EXPECT_EQ(paddle_x, 108);
    for (unsigned state : {0u, num_lock}) {
        send(KeyPress, XK_KP_Up, state);
        EXPECT_EQ(joystick2, 0xFB) << state;
        send(KeyRelease, XK_KP_Up, state);
        frame_count += 2;  // a release right after its press waits for a whole frame
        release_held_keys();
        EXPECT_EQ(joystick2, 0xFF) << state;
    }
    send(KeyPress, XK_a, num_lock | ShiftMask);  // elsewhere the unshifted symbol still counts
    EXPECT_EQ(keycount, 1);
    EXPECT_EQ(keycol[1], 0xFB);

    // Focus that moves inside the window keeps the keys; focus or pointer gone
    // (the keyboard follows the pointer here) releases them.
    send(KeyPress, XK_Up, 0);
    auto lose = [](int type, int detail) {
        XEvent e{};
        e.type = type;
        e.xany.display = TKDisplay;
        e.xany.window = TKWindow;
        if (type == FocusOut) e.xfocus.detail = detail;
        else e.xcrossing.detail = detail, e.xcrossing.root = DefaultRootWindow(TKDisplay);
        XSendEvent(TKDisplay, TKWindow, True, type == FocusOut ? FocusChangeMask : LeaveWindowMask, &e);
        settle();
    };
    for (int type : {FocusOut, LeaveNotify}) {
        lose(type, NotifyInferior);
        EXPECT_EQ(keycount, 1) << type;
        EXPECT_EQ(joystick2, 0xFB) << type;
        lose(type, NotifyNonlinear);
        EXPECT_EQ(keycount, 0) << type;
        EXPECT_EQ(keycol[1], 0xFF) << type;
        EXPECT_EQ(joystick2, 0xFF) << type;
        send(KeyPress, XK_a, 0);
        send(KeyPress, XK_Up, 0);
    }
    send(KeyRelease, XK_a, 0);
    send(KeyRelease, XK_Up, 0);
    frame_count += 2;
    release_held_keys();
    EXPECT_EQ(keycount, 0);
}

// ---- menus ---------------------------------------------------------------------------------------

TEST_F(Widgets, MenusHaveTheirItemsInOrderWithTearOffsAndHelpAtTheRight) {
    struct Menu {
        Widget menu;
        const char* name;
        std::vector<std::string> items;
        bool tear_off;
    };
    const Menu menus[] = {
        {file_menu, "File",
         {"Open...", "sep", "Load basic...  F2", "Save basic...  F4", "sep", "Load cart...", "Remove cart", "Attach disk image...",
          "Attach disk image to drive 9...", "Attach disk image to drive 10...", "Attach disk image to drive 11...", "sep",
          "Save snapshot...  F6 quick", "Load snapshot...  F8 quick", "sep",
          "Attach tape image...", "Play", "Stop", "Rewind", "Record", "Eject", "sep", "Save config",
          "Save screenshot       Print", "Screenshot as shown   Shift+Print", "Record sound", "sep",
          "Exit           ESC"},
         true},
        {edit_menu, "Edit", {"Paste", "Copy screen"}, true},
        {options_menu, "Options",
         {"Memory...", "Speed...", "Video...", "sep", "Reset VIC 20      F11", "Warp speed", "Warp while the tape runs",
          "Full screen", "Monitor   Menu key", "Rewind buffer"},
         true},
        {about_menu, "Help", {"About..."}, false},
    };
    std::vector<Widget> bar = children(gmenu_bar);
    ASSERT_EQ(bar.size(), 4u);
    for (size_t m = 0; m < 4; m++) {
        const Menu& menu = menus[m];
        SCOPED_TRACE(menu.name);
        EXPECT_STREQ(XtName(menu.menu), menu.name);
        EXPECT_STREQ(XtName(bar[m]), menu.name);
        EXPECT_EQ(label_of(bar[m]), menu.name);
        Widget sub = nullptr;
        XtVaGetValues(bar[m], XmNsubMenuId, &sub, nullptr);
        EXPECT_EQ(sub, menu.menu);
        EXPECT_EQ(byte_resource(menu.menu, XmNtearOffModel), menu.tear_off ? XmTEAR_OFF_ENABLED : XmTEAR_OFF_DISABLED);
        if (menu.tear_off) {
            EXPECT_EQ(string_resource(menu.menu, XmNtearOffTitle), menu.name);
        }
        std::vector<std::string> items;
        for (Widget w : children(menu.menu)) {
            if (XtIsSubclass(w, xmPushButtonWidgetClass) || XtIsSubclass(w, xmToggleButtonWidgetClass)) {
                items.push_back(XtName(w));
                EXPECT_EQ(label_of(w), XtName(w));
                EXPECT_TRUE(XtIsManaged(w));
            } else if (XtIsSubclass(w, xmSeparatorWidgetClass)) {
                items.push_back(XtName(w));
            }
        }
        EXPECT_EQ(items, menu.items);
    }
    Widget help = nullptr;
    XtVaGetValues(gmenu_bar, XmNmenuHelpWidget, &help, nullptr);
    EXPECT_EQ(help, bar[3]);
    // The warp toggle shows the state in effect and sets it; the Pause key's
    // change shows on it.
    EXPECT_FALSE(XmToggleButtonGetState(warp_item));
    XmToggleButtonSetState(warp_item, True, True);
    EXPECT_EQ(warp_speed, 1);
    handle_key(XK_Pause, true);
    EXPECT_EQ(warp_speed, 0);
    EXPECT_FALSE(XmToggleButtonGetState(warp_item));
    // Options > Joystick: pads and keys, or keys only; the pads' lines move
    // the joystick's.
    Widget joystick_menu = XtParent(joystick_pad_item);
    std::vector<Widget> choices = children(joystick_menu);
    ASSERT_EQ(choices.size(), 2u);
    EXPECT_TRUE(XmToggleButtonGetState(joystick_pad_item) && gamepads_enabled());
    XmToggleButtonSetState(choices[1], True, True);
    EXPECT_FALSE(XmToggleButtonGetState(joystick_pad_item) || gamepads_enabled());
    XmToggleButtonSetState(joystick_pad_item, True, True);
    EXPECT_TRUE(!XmToggleButtonGetState(choices[1]) && gamepads_enabled());
    ASSERT_EQ(gamepad_output, move_pad_lines);
    gamepad_output(PAD_UP | PAD_FIRE, 0);
    EXPECT_EQ(joystick2 & 0x3C, 0x18);
    gamepad_output(PAD_RIGHT, PAD_UP | PAD_FIRE);
    EXPECT_EQ(joystick2 & 0x3C, 0x3C);
    EXPECT_EQ(joystick & 0x80, 0);
    // A line held by a key and a pad goes up when both have let go.
    handle_key(XK_Right, true);
    gamepad_output(0, PAD_RIGHT);
    EXPECT_EQ(joystick & 0x80, 0);
    handle_key(XK_Right, false);
    EXPECT_EQ(joystick & 0x80, 0x80);
    // Started with the settings of the configuration file: nothing to save.
    EXPECT_FALSE(XtIsSensitive(save_config_item));
    for (Widget item : {load_basic_item, save_basic_item, load_cart_item, clear_item, attach_disk_item, quit_item, memory_item,
                        speed_item, video_item, reset_item, about_item})
        EXPECT_TRUE(XtIsSensitive(item)) << XtName(item);
}

TEST_F(Widgets, RecordSoundWithoutASoundProcessSaysSoAndStaysOff) {
    ASSERT_EQ(soundon, 0);
    testing::internal::CaptureStdout();
    XmToggleButtonSetState(record_sound_item, True, True);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Sound is off: nothing to record\n");
    EXPECT_FALSE(XmToggleButtonGetState(record_sound_item));
}

TEST_F(Widgets, TapeItemsWorkTheDeckAndTheTitleShowsIt) {
    auto item = [](const std::string& name) {
        for (Widget w : children(file_menu))
            if (name == XtName(w)) return w;
        return Widget(nullptr);
    };
    XtCallCallbacks(item("Attach tape image..."), XmNactivateCallback, nullptr);
    EXPECT_TRUE(XtIsManaged(attach_tape_dialog));
    XtUnmanageChild(attach_tape_dialog);
    TempDir dir;
    const std::vector<uint8_t> t64 = t64_of({{1, 0x1001, 0x1003, "A", {1, 2}}});
    write_file(dir.file("a.t64"), std::string(t64.begin(), t64.end()));
    capture_stdout([&] { EXPECT_TRUE(tape_attach(dir.file("a.t64"))); });
    for (auto [name, shown] : {std::pair{"Play", "  Tape 000 PLAY"}, {"Stop", "  Tape 000 STOP"}, {"Eject", ""}}) {
        XtCallCallbacks(item(name), XmNactivateCallback, nullptr);
        show_tape_status();
        EXPECT_EQ(window_title(), std::string(WINDOW_TITLE) + shown) << name;
    }
}

TEST_F(Widgets, MenuItemsOpenTheirDialogs) {
    // An empty program: end pointer two above the start.
    memory[0x2B] = 0x01, memory[0x2C] = 0x10, memory[0x2D] = 0x03, memory[0x2E] = 0x10;
    for (auto [item, dialog] : {std::pair{load_basic_item, load_basic_dialog}, {save_basic_item, save_error_dialog},
                                {load_cart_item, load_cart_dialog}, {attach_disk_item, attach_disk_dialog},
                                {memory_item, memory_dialog}, {speed_item, speed_dialog}, {video_item, video_dialog},
                                {about_item, about_window}}) {
        EXPECT_FALSE(XtIsManaged(dialog)) << XtName(item);
        XtCallCallbacks(item, XmNactivateCallback, nullptr);
        EXPECT_TRUE(XtIsManaged(dialog)) << XtName(item);
        XtUnmanageChild(dialog);
    }
    // With a program in memory the save dialog itself.
    memory[0x2D] = 0x20;
    XtCallCallbacks(save_basic_item, XmNactivateCallback, nullptr);
    EXPECT_TRUE(XtIsManaged(save_basic_dialog));
    EXPECT_FALSE(XtIsManaged(save_error_dialog));
    XtUnmanageChild(save_basic_dialog);
    // F2 and F4 do the same.
    handle_key(XK_F2, true);
    EXPECT_TRUE(XtIsManaged(load_basic_dialog));
    XtUnmanageChild(load_basic_dialog);
    memory[0x2D] = 0x03;
    handle_key(XK_F4, true);
    EXPECT_TRUE(XtIsManaged(save_error_dialog));
    XtUnmanageChild(save_error_dialog);

    // Speed... remembers the settings as they were.
    interrupt = 4;
    delay_loop = 33;
    XtCallCallbacks(speed_item, XmNactivateCallback, nullptr);
    EXPECT_EQ(interrupt_old, 4);
    EXPECT_EQ(delay_old, 33);
    XtUnmanageChild(speed_dialog);
    // Any other client data does nothing: no dialog, no reset, no save.
    const std::vector<Widget> dialogs = {load_basic_dialog, save_basic_dialog, load_cart_dialog, attach_disk_dialog, memory_dialog,
                                         speed_dialog,      video_dialog,      about_window,     save_config_dialog,
                                         clear_rom_dialog,  save_error_dialog, save_config_failed_dialog};
    unlink("tarvikon.rc");
    std::vector<uint8_t> before(memory, memory + MEMORY_SIZE);
    for (intptr_t other : {10, 11, 20, 21, 29, 31, 100, -1})
        menuCB(nullptr, reinterpret_cast<XtPointer>(other), nullptr);
    for (Widget d : dialogs) EXPECT_FALSE(XtIsManaged(d)) << XtName(XtParent(d));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), memory));
    EXPECT_NE(access("tarvikon.rc", F_OK), 0);
}

TEST_F(Widgets, SaveConfigWritesTheFileAndTurnsItselfOff) {
    XtSetSensitive(save_config_item, True);
    unlink("tarvikon.rc");
    interrupt = 3;
    memdef = 2;
    delay_loop = 300;
    overscan = 9;
    scanline = PAL_SCANLINE;
    XtCallCallbacks(save_config_item, XmNactivateCallback, nullptr);
    EXPECT_EQ(read_file("tarvikon.rc"), std::string("\x03\0\0\0\x02\0\0\0\x01\0\0\0\x2c\x01\x09", 15));
    EXPECT_TRUE(XtIsManaged(save_config_dialog));
    EXPECT_FALSE(XtIsSensitive(save_config_item));
    XtUnmanageChild(save_config_dialog);
    overscan = 28;
    memdef = 1;
}

TEST_F(Widgets, ResetAndRemoveCartItemsResetTheMachine) {
    rombank[10] = rombank[11] = BLOCK_ROM;
    memory[0xA000] = 0x41;
    memory[0x1000] = 0x12;
    raster = 100;
    XtCallCallbacks(clear_item, XmNactivateCallback, nullptr);
    EXPECT_EQ(rombank[10], BLOCK_NONE);
    EXPECT_EQ(memory[0xA000], 0xFF);
    EXPECT_EQ(memory[0x1000], 0xFF);
    EXPECT_EQ(raster, 0);
    EXPECT_TRUE(XtIsManaged(clear_rom_dialog));
    XtUnmanageChild(clear_rom_dialog);

    memory[0x1000] = 0x12;
    raster = 100;
    XtCallCallbacks(reset_item, XmNactivateCallback, nullptr);
    EXPECT_EQ(memory[0x1000], 0xFF);
    EXPECT_EQ(raster, 0);
    // The reset key does the same.
    memory[0x1000] = 0x12;
    handle_key(XK_F11, true);
    EXPECT_EQ(memory[0x1000], 0xFF);
}

// ---- file and message dialogs -----------------------------------------------------------------------

TEST_F(Widgets, FileDialogsAreFixedLoadsMustMatchAndNoneHasHelp) {
    struct Case {
        Widget dialog;
        const char* name;
        const char* title;
        bool must_match;  // a save may name a new file
    };
    for (Case c : {Case{load_basic_dialog, "load_basic_dialog", "Load BASIC program...", true},
                   Case{save_basic_dialog, "save basic dialog", "Save BASIC program...", false},
                   Case{load_cart_dialog, "load crt dialog", "Load Cart program...", true},
                   Case{attach_disk_dialog, "attach disk dialog", "Attach disk image...", true}}) {
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(XtName(c.dialog), c.name);
        EXPECT_TRUE(XtIsSubclass(c.dialog, xmFileSelectionBoxWidgetClass));
        EXPECT_EQ(XtParent(XtParent(c.dialog)), toplevel);
        EXPECT_EQ(title_of(c.dialog), c.title);
        EXPECT_EQ(string_resource(c.dialog, XmNselectionLabelString), "Please enter file name : ");
        EXPECT_EQ(dimension(c.dialog, XmNwidth), 400);
        EXPECT_EQ(dimension(c.dialog, XmNheight), 400);
        Widget shell = XtParent(c.dialog);
        for (const char* r : {XmNminWidth, XmNmaxWidth, XmNminHeight, XmNmaxHeight})
            EXPECT_EQ(int_resource(shell, r), 400) << r;
        Boolean must_match = False;
        XtVaGetValues(c.dialog, XmNmustMatch, &must_match, nullptr);
        EXPECT_EQ(bool(must_match), c.must_match);
        EXPECT_EQ(byte_resource(c.dialog, XmNresizePolicy), XmRESIZE_NONE);
        EXPECT_FALSE(XtIsManaged(XmFileSelectionBoxGetChild(c.dialog, XmDIALOG_HELP_BUTTON)));
        EXPECT_FALSE(XtIsManaged(c.dialog));
    }
}

TEST_F(Widgets, FileDialogCancelOnlyHides) {
    TempDir d;
    std::string name = d.file("nothing.prg");
    XmString chosen = XmStringCreateLtoR(name.data(), char_set);
    XmFileSelectionBoxCallbackStruct cbs{};
    cbs.value = chosen;
    std::vector<uint8_t> before(memory, memory + MEMORY_SIZE);

    // Each dialog with its callback; client data 21 is Cancel.
    const std::pair<Widget, XtCallbackProc> dialogs[] = {
        {load_basic_dialog, dialog1CB}, {save_basic_dialog, dialog2CB}, {load_cart_dialog, dialog3CB}};
    auto press = [&](const std::pair<Widget, XtCallbackProc>& d, long button) {
        return capture_stdout([&] { d.second(d.first, reinterpret_cast<XtPointer>(button), &cbs); });
    };
    for (const auto& d : dialogs) {
        XtManageChild(d.first);
        EXPECT_EQ(press(d, 21), "") << XtName(d.first);
        EXPECT_FALSE(XtIsManaged(d.first)) << XtName(d.first);
    }
    EXPECT_NE(access(name.c_str(), F_OK), 0);
    EXPECT_FALSE(XtIsManaged(cart_start_dialog));
    EXPECT_TRUE(std::equal(before.begin(), before.end(), memory));

    // Any other client data: the BASIC dialogs stay as they are, the cartridge
    // dialog is hidden all the same; nothing is loaded or saved.
    for (const auto& d : dialogs) XtManageChild(d.first);
    for (const auto& d : dialogs) EXPECT_EQ(press(d, 22), "") << XtName(d.first);
    EXPECT_TRUE(XtIsManaged(load_basic_dialog));
    EXPECT_TRUE(XtIsManaged(save_basic_dialog));
    EXPECT_FALSE(XtIsManaged(load_cart_dialog));
    EXPECT_FALSE(XtIsManaged(cart_start_dialog));
    EXPECT_NE(access(name.c_str(), F_OK), 0);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), memory));
    XtUnmanageChild(load_basic_dialog);
    XtUnmanageChild(save_basic_dialog);

    // OK on the load-cart dialog loads and asks for a reset, even for a failed load.
    std::string cart = d.file("nothing.a0");
    XmString cart_name = XmStringCreateLtoR(cart.data(), char_set);
    cbs.value = cart_name;
    XtManageChild(load_cart_dialog);
    uint8_t saved_memdef = memdef;
    EXPECT_EQ(press(dialogs[2], 20), "Loading game cartridge " + cart + " at $a000...failed\n");
    XmStringFree(cart_name);
    EXPECT_FALSE(XtIsManaged(load_cart_dialog));
    EXPECT_TRUE(XtIsManaged(cart_start_dialog));
    XtUnmanageChild(cart_start_dialog);
    rombank[10] = rombank[11] = BLOCK_RAM;
    memdef = saved_memdef;

    // The attach dialog: Cancel only hides it, OK attaches the image and hides
    // it; an image chosen with Load cart... is attached too, and needs no reset.
    std::string disk = d.file("work.d64");
    ASSERT_EQ(d64_write_image(disk.c_str(), d64_blank("WORK", "WK")), DiskStatus::OK);
    auto choose_disk = [&](Widget dialog, XtCallbackProc callback, long button) {
        XmString disk_name = XmStringCreateLtoR(disk.data(), char_set);
        cbs.value = disk_name;
        XtManageChild(dialog);
        std::string printed = capture_stdout([&] { callback(dialog, reinterpret_cast<XtPointer>(button), &cbs); });
        XmStringFree(disk_name);
        EXPECT_FALSE(XtIsManaged(dialog));
        return printed;
    };
    EXPECT_EQ(choose_disk(attach_disk_dialog, attach_disk_CB, 21), "");
    EXPECT_EQ(choose_disk(attach_disk_dialog, attach_disk_CB, 20), "Attaching disk image " + disk + "...OK\n");
    DiskListing listing;
    ASSERT_EQ(drive8_listing(listing), DiskStatus::OK);
    EXPECT_EQ(listing.disk_name, "WORK");
    EXPECT_EQ(choose_disk(load_cart_dialog, dialog3CB, 20), "Attaching disk image " + disk + "...OK\n");
    EXPECT_FALSE(XtIsManaged(cart_start_dialog));
    XmStringFree(chosen);
}

TEST_F(Widgets, MessageDialogsShowTheirTextsWithOnlyAnOkButton) {
    struct Case {
        Widget dialog;
        unsigned char type;
        const char* title;
        std::string text;
    };
    const std::string reset = "\n\nPlease reset the VIC 20 to apply changes.";
    const Case cases[] = {
        {cart_start_dialog, XmDIALOG_INFORMATION, "Message", "You must reset the VIC 20 to start cartridge !"},
        {save_config_dialog, XmDIALOG_INFORMATION, "Message", "Configuration saved !"},
        {clear_rom_dialog, XmDIALOG_INFORMATION, "Message", "Cartridge ROM has been removed"},
        {unexp_dialog, XmDIALOG_ERROR, "Error Message", "Program needs no expansion memory !" + reset},
        {k3_dialog, XmDIALOG_ERROR, "Error Message", "Program needs 3 KB expansion memory !" + reset},
        {k8_dialog, XmDIALOG_ERROR, "Error Message", "Program needs 8 KB expansion memory !" + reset},
        {k16_dialog, XmDIALOG_ERROR, "Error Message", "Program needs 16 KB expansion memory !" + reset},
        {k24_dialog, XmDIALOG_ERROR, "Error Message", "Program needs 24 KB expansion memory !" + reset},
        {save_error_dialog, XmDIALOG_ERROR, "Error Message", "No BASIC program in memory !"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_STREQ(XtName(c.dialog), "dialog");
        EXPECT_EQ(byte_resource(c.dialog, XmNdialogType), c.type);
        EXPECT_EQ(title_of(c.dialog), c.title);
        EXPECT_EQ(string_resource(c.dialog, XmNmessageString), c.text);
        EXPECT_FALSE(XtIsManaged(XmMessageBoxGetChild(c.dialog, XmDIALOG_CANCEL_BUTTON)));
        EXPECT_FALSE(XtIsManaged(XmMessageBoxGetChild(c.dialog, XmDIALOG_HELP_BUTTON)));
        EXPECT_TRUE(XtIsManaged(XmMessageBoxGetChild(c.dialog, XmDIALOG_OK_BUTTON)));
        // OK hides it.
        XtManageChild(c.dialog);
        XtCallCallbacks(c.dialog, XmNokCallback, nullptr);
        EXPECT_FALSE(XtIsManaged(c.dialog));
    }
    std::string halt = string_resource(halt_dialog, XmNmessageString);
    const char* halt_start =
        "HLT instruction executed ! VIC 20 has crashed,\nthis might be a bug in Tarvikon,\nplease report it to : \n";
    EXPECT_EQ(halt.rfind(halt_start, 0), 0u) << halt;
    EXPECT_EQ(title_of(halt_dialog), "Error Message");
    EXPECT_EQ(byte_resource(about_window, XmNdialogType), XmDIALOG_MESSAGE);
    EXPECT_EQ(title_of(about_window), "About Tarvikon for Linux");
    EXPECT_EQ(string_resource(about_window, XmNmessageString).rfind("Tarvikon for Linux V0.8\n\n", 0), 0u);
    EXPECT_EQ(byte_resource(about_window, XmNresizePolicy), XmRESIZE_NONE);
    EXPECT_FALSE(XtIsManaged(XmMessageBoxGetChild(about_window, XmDIALOG_CANCEL_BUTTON)));
}

TEST_F(Widgets, DialogsAreCreatedFileSettingsInformationThenError) {
    // Each dialog sits in its own shell, a pop-up of the application shell,
    // in the order of creation.
    std::vector<Widget> created;
    for (Cardinal i = 0; i < toplevel->core.num_popups; i++) {
        std::vector<Widget> inside = children(toplevel->core.popup_list[i]);
        ASSERT_EQ(inside.size(), 1u);
        created.push_back(inside[0]);
    }
    const std::vector<Widget> expected = {
        load_basic_dialog, save_basic_dialog, load_cart_dialog, attach_disk_dialog, attach_tape_dialog, open_dialog,
        save_snapshot_dialog, load_snapshot_dialog, memory_dialog, speed_dialog, about_window,
        video_dialog,      cart_start_dialog, save_config_dialog, clear_rom_dialog, halt_dialog, unexp_dialog,
        k3_dialog,         k8_dialog,         k16_dialog,        k24_dialog,     save_error_dialog,
        save_config_failed_dialog, snapshot_question_dialog};
    EXPECT_EQ(created, expected);
}

TEST_F(Widgets, HaltAndWrongMemoryShowTheirDialogs) {
    show_halt_dialog();
    EXPECT_TRUE(XtIsManaged(halt_dialog));
    XtUnmanageChild(halt_dialog);
    Widget expected[5] = {unexp_dialog, k3_dialog, k8_dialog, k16_dialog, k24_dialog};
    for (int i = 0; i < 5; i++) {
        show_wrongmemory_dialog(i);
        for (int j = 0; j < 5; j++) EXPECT_EQ(XtIsManaged(expected[j]), i == j) << i << " " << j;
        XtUnmanageChild(expected[i]);
    }
    for (int bad : {5, -1, 100}) {
        show_wrongmemory_dialog(bad);
        for (Widget w : expected) EXPECT_FALSE(XtIsManaged(w)) << bad;
    }
}

// ---- settings dialogs -------------------------------------------------------------------------------

// One edge: 'n' none, 'f' form, 'p' position, 'w' below a widget.
struct Edge {
    char kind;
    int position;
    Widget* below;
};
constexpr Edge N{'n', 0, nullptr}, F{'f', 0, nullptr};
constexpr Edge P(int p) { return {'p', p, nullptr}; }
constexpr Edge W(Widget& w) { return {'w', 0, &w}; }

struct Child {
    Widget* widget;
    const char* name;
    WidgetClass* cls;
    const char* text;  // label text, or nullptr
    Edge top, left, right, bottom;
};

void check_edge(Widget w, const Edge& e, const char* attachment, const char* position, const char* widget) {
    unsigned char kind = byte_resource(w, attachment);
    switch (e.kind) {
    case 'n':
        EXPECT_EQ(kind, XmATTACH_NONE) << attachment;
        break;
    case 'f':
        EXPECT_EQ(kind, XmATTACH_FORM) << attachment;
        break;
    case 'p':
        EXPECT_EQ(kind, XmATTACH_POSITION) << attachment;
        EXPECT_EQ(int_resource(w, position), e.position) << position;
        break;
    case 'w': {
        EXPECT_EQ(kind, XmATTACH_WIDGET) << attachment;
        Widget other = nullptr;
        XtVaGetValues(w, widget, &other, nullptr);
        EXPECT_EQ(other, *e.below) << widget;
        break;
    }
    }
}

void check_form(Widget dialog, const char* title, Dimension width, Dimension height, const std::vector<Child>& rows) {
    EXPECT_STREQ(XtName(dialog), "form");
    EXPECT_TRUE(XtIsSubclass(dialog, xmFormWidgetClass));
    EXPECT_EQ(title_of(dialog), title);
    EXPECT_EQ(dimension(dialog, XmNwidth), width);
    EXPECT_EQ(dimension(dialog, XmNheight), height);
    for (auto [r, v] : {std::pair<const char*, int>{XmNminWidth, width}, {XmNmaxWidth, width}, {XmNminHeight, height},
                        {XmNmaxHeight, height}})
        EXPECT_EQ(int_resource(XtParent(dialog), r), v) << r;
    EXPECT_EQ(byte_resource(dialog, XmNresizePolicy), XmRESIZE_NONE);
    Boolean auto_unmanage = False;
    XtVaGetValues(dialog, XmNautoUnmanage, &auto_unmanage, nullptr);
    EXPECT_TRUE(auto_unmanage);
    for (const Child& c : rows) {
        SCOPED_TRACE(c.name);
        Widget w = *c.widget;
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(XtParent(w), dialog);
        EXPECT_STREQ(XtName(w), c.name);
        EXPECT_TRUE(XtIsSubclass(w, *c.cls));
        if (c.text) {
            EXPECT_EQ(label_of(w), c.text);
        }
        if (*c.cls == xmScaleWidgetClass || *c.cls == xmSeparatorWidgetClass || *c.cls == xmRowColumnWidgetClass) {
            EXPECT_EQ(byte_resource(w, XmNorientation), XmHORIZONTAL);
        }
        check_edge(w, c.top, XmNtopAttachment, XmNtopPosition, XmNtopWidget);
        check_edge(w, c.left, XmNleftAttachment, XmNleftPosition, XmNleftWidget);
        check_edge(w, c.right, XmNrightAttachment, XmNrightPosition, XmNrightWidget);
        check_edge(w, c.bottom, XmNbottomAttachment, XmNbottomPosition, XmNbottomWidget);
    }
}

TEST_F(Widgets, SettingsDialogsAreLaidOutAsDesigned) {
    WidgetClass label = xmLabelWidgetClass, scale_class = xmScaleWidgetClass, sep = xmSeparatorWidgetClass,
                toggle = xmToggleButtonWidgetClass, push = xmPushButtonWidgetClass, radio = xmRowColumnWidgetClass;
    {
        SCOPED_TRACE("memory");
        check_form(memory_dialog, "Memory Settings", 250, 200,
                   {{&memory_label, "memory_label", &label, "Memory expansion :", F, F, F, P(20)},
                    {&memory_scale, "memory_scale", &scale_class, nullptr, W(memory_label), P(10), N, N},
                    {&memory_value_label, "memory_value_label", &label, "3 KB expansion", W(memory_label), P(50), F,
                     N},
                    {&sep1, "sep1", &sep, nullptr, P(40), F, F, N},
                    {&ram_label, "ram_label", &label, "RAM at $a000 :", P(55), P(10), N, N},
                    {&ram_toggle, "ram_toggle", &toggle, "enable", P(53), P(60), N, N},
                    {&sep2, "sep2", &sep, nullptr, P(70), F, F, N},
                    {&button, "button", &push, "Apply", P(80), P(10), N, N},
                    {&button2, "button2", &push, "Cancel", P(80), P(70), N, N}});
        EXPECT_EQ(int_resource(memory_scale, XmNminimum), 0);
        EXPECT_EQ(int_resource(memory_scale, XmNmaximum), 5);
        EXPECT_EQ(int_resource(memory_scale, XmNvalue), 1);
        EXPECT_FALSE(XmToggleButtonGetState(ram_toggle));
    }
    {
        SCOPED_TRACE("speed");
        check_form(speed_dialog, "Speed Settings", 250, 200,
                   {{&speed_label, "speed_label", &label, "Frame rate :", F, F, F, P(20)},
                    {&speed_scale, "speed_scale", &scale_class, nullptr, W(speed_label), P(10), N, N},
                    {&frame_value_label, "frame_value_label", &label, "1/3", W(speed_label), P(50), F, N},
                    {&sep3, "sep3", &sep, nullptr, P(35), F, F, N},
                    {&speed_label2, "speed_label2", &label, "Delay :", P(40), F, F, N},
                    {&delay_scale, "delay_scale", &scale_class, nullptr, P(55), P(10), N, N},
                    {&delay_value_label, "delay_value_label", &label, "120 cycles", P(55), P(50), F, N},
                    {&sep4, "sep4", &sep, nullptr, P(70), F, F, N},
                    {&button3, "button3", &push, "  OK  ", P(80), P(10), N, N},
                    {&button4, "button4", &push, "Cancel", P(80), P(70), N, N}});
        EXPECT_EQ(int_resource(speed_scale, XmNminimum), 1);
        EXPECT_EQ(int_resource(speed_scale, XmNmaximum), 6);
        EXPECT_EQ(int_resource(delay_scale, XmNminimum), 0);
        EXPECT_EQ(int_resource(delay_scale, XmNmaximum), 500);
    }
    {
        SCOPED_TRACE("video");
        check_form(video_dialog, "Video Settings", 250, 250,
                   {{&video_label, "video_label", &label, "Video Mode :", F, F, F, P(20)},
                    {&video_radio_box, "video_radio_box", &radio, nullptr, P(20), P(5), F, N},
                    {&sep5, "sep5", &sep, nullptr, P(35), F, F, N},
                    {&overscan_label, "overscan_label", &label, "Overscan (top) :", P(40), F, F, N},
                    {&overscan_radio_box, "overscan_radio_box", &radio, nullptr, P(55), P(5), F, N},
                    {&sep6, "sep6", &sep, nullptr, P(70), F, F, N},
                    {&button5, "button5", &push, "Apply", P(80), P(10), N, N},
                    {&button6, "button6", &push, "Cancel", P(80), P(70), N, N}});
        EXPECT_EQ(byte_resource(video_radio_box, XmNradioBehavior), True);
        struct Toggle {
            Widget w, box;
            const char* text;
            bool set;
        };
        for (Toggle t : {Toggle{ntsc_toggle, video_radio_box, "NTSC-M (6560)", false},
                         Toggle{pal_toggle, video_radio_box, "PAL-G (6561) ", true},
                         Toggle{small_toggle, overscan_radio_box, " 9 lines      ", false},
                         Toggle{large_toggle, overscan_radio_box, " 28 lines     ", true}}) {
            EXPECT_EQ(XtParent(t.w), t.box) << t.text;
            EXPECT_TRUE(XtIsSubclass(t.w, xmToggleButtonGadgetClass)) << t.text;
            EXPECT_STREQ(XtName(t.w), t.text);
            EXPECT_EQ(label_of(t.w), t.text);
            EXPECT_EQ(bool(XmToggleButtonGadgetGetState(t.w)), t.set) << t.text;
        }
    }
}

void drag(Widget scale_widget, int value) {
    XmScaleCallbackStruct cbs{};
    cbs.reason = XmCR_DRAG;
    cbs.value = value;
    XtCallCallbacks(scale_widget, XmNdragCallback, &cbs);
}

TEST_F(Widgets, MemoryDialogChoosesOnDragAndAppliesWithAReset) {
    memexp = memdef = 1;
    config = 0;
    XtSetSensitive(save_config_item, False);
    memory[0x1000] = 0x12;

    // A drag changes the choice and its name; Cancel takes it back.
    drag(memory_scale, 3);
    EXPECT_EQ(memexp, 3u);
    EXPECT_EQ(label_of(memory_value_label), "16 KB expansion");
    XtCallCallbacks(button2, XmNactivateCallback, nullptr);
    EXPECT_EQ(memexp, 1u);
    EXPECT_EQ(label_of(memory_value_label), "3 KB expansion");
    EXPECT_EQ(int_resource(memory_scale, XmNvalue), 1);
    EXPECT_EQ(memory[0x1000], 0x12);

    // Apply without a change: no reset, but the RAM toggle takes effect.
    XmToggleButtonSetState(ram_toggle, True, False);
    XtCallCallbacks(button, XmNactivateCallback, nullptr);
    EXPECT_EQ(memory[0x1000], 0x12);
    EXPECT_EQ(ram & RAM_AT_A000, RAM_AT_A000);
    EXPECT_EQ(Size(rombank[10], rombank[11]), Size(BLOCK_RAM, BLOCK_RAM));
    XmToggleButtonSetState(ram_toggle, False, False);
    XtCallCallbacks(button, XmNactivateCallback, nullptr);
    EXPECT_EQ(ram & RAM_AT_A000, 0);
    EXPECT_EQ(Size(rombank[10], rombank[11]), Size(BLOCK_ROM, BLOCK_ROM));
    EXPECT_FALSE(XtIsSensitive(save_config_item));

    // Apply with a new expansion: reset with it in effect, Save config offered.
    drag(memory_scale, 2);
    XtCallCallbacks(button, XmNactivateCallback, nullptr);
    EXPECT_EQ(memdef, 2);
    EXPECT_EQ(memory[0x1000], 0xFF);  // the reset filled RAM
    EXPECT_EQ(config, 0);             // and cleared the flag again
    EXPECT_TRUE(XtIsSensitive(save_config_item));
    EXPECT_EQ(rombank[0], BLOCK_NONE);  // no 3 KB block in the 8 KB layout
    rombank[10] = rombank[11] = BLOCK_RAM;
}

TEST_F(Widgets, SpeedDialogActsAtOnceAndCancelRestores) {
    interrupt = 2;
    delay_loop = 300;
    XtSetSensitive(save_config_item, False);
    XtCallCallbacks(speed_item, XmNactivateCallback, nullptr);

    // OK without a change leaves Save config alone.
    XtCallCallbacks(button3, XmNactivateCallback, nullptr);
    EXPECT_FALSE(XtIsSensitive(save_config_item));

    XtCallCallbacks(speed_item, XmNactivateCallback, nullptr);
    drag(speed_scale, 4);
    EXPECT_EQ(interrupt, 4u);  // before OK
    EXPECT_EQ(label_of(frame_value_label), "1/4");
    drag(delay_scale, 20);
    EXPECT_EQ(delay_loop, 20);
    EXPECT_EQ(label_of(delay_value_label), "20 cycles");
    XtCallCallbacks(button4, XmNactivateCallback, nullptr);  // Cancel
    EXPECT_EQ(interrupt, 2u);
    EXPECT_EQ(delay_loop, 300);
    EXPECT_EQ(label_of(frame_value_label), "1/2");
    EXPECT_EQ(label_of(delay_value_label), "300 cycles");
    EXPECT_EQ(int_resource(speed_scale, XmNvalue), 2);
    EXPECT_EQ(int_resource(delay_scale, XmNvalue), 300);
    EXPECT_FALSE(XtIsSensitive(save_config_item));

    XtCallCallbacks(speed_item, XmNactivateCallback, nullptr);
    drag(delay_scale, 0);
    XtCallCallbacks(button3, XmNactivateCallback, nullptr);  // OK
    EXPECT_EQ(delay_loop, 0);
    EXPECT_TRUE(XtIsSensitive(save_config_item));
}

TEST_F(Widgets, TroughClickInTheDelayScaleActsLikeADrag) {
    delay_loop = 0;
    XtVaSetValues(delay_scale, XmNvalue, 0, nullptr);
    XtCallCallbacks(speed_item, XmNactivateCallback, nullptr);
    settle();
    Widget bar = nullptr;
    for (Widget w : children(delay_scale))
        if (XtIsSubclass(w, xmScrollBarWidgetClass)) bar = w;
    ASSERT_NE(bar, nullptr);
    Position x = 0, y = 0;
    XtTranslateCoords(bar, Position(dimension(bar, XmNwidth) - 6), Position(dimension(bar, XmNheight) / 2), &x, &y);
    ASSERT_EQ(run_tool({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1"}, server->display()),
              0);
    for (int i = 0; i < 50 && delay_loop == 0; i++) {
        usleep(10000);
        settle();
    }
    EXPECT_EQ(delay_loop, 50);  // one page of the scale
    EXPECT_EQ(label_of(delay_value_label), "50 cycles");
    XtCallCallbacks(button4, XmNactivateCallback, nullptr);  // Cancel
    EXPECT_EQ(delay_loop, 0);
    EXPECT_EQ(label_of(delay_value_label), "0 cycles");
    settle();
}

TEST_F(Widgets, VideoDialogResetsOnlyForAChange) {
    vid_time = vid_new = 1;
    overscan = overscan_set = 28;
    set_video_constants(1);
    resize_main_window(71, 28);
    XtSetSensitive(save_config_item, False);
    memory[0x1000] = 0x12;

    // The same settings: nothing happens.
    XtCallCallbacks(button5, XmNactivateCallback, nullptr);
    EXPECT_EQ(memory[0x1000], 0x12);
    EXPECT_FALSE(XtIsSensitive(save_config_item));

    // Cancel keeps what was clicked but changes nothing.
    XmToggleButtonGadgetSetState(ntsc_toggle, True, True);
    XmToggleButtonGadgetSetState(small_toggle, True, True);
    EXPECT_FALSE(XmToggleButtonGadgetGetState(pal_toggle));
    XtCallCallbacks(button6, XmNactivateCallback, nullptr);
    EXPECT_EQ(vid_new, 1);
    EXPECT_EQ(memory[0x1000], 0x12);

    // Apply: NTSC with 9 lines, through a reset that resizes the window.
    std::string out = capture_stdout([] { XtCallCallbacks(button5, XmNactivateCallback, nullptr); });
    EXPECT_EQ(vid_new, 0);
    EXPECT_EQ(vid_time, 0);
    EXPECT_EQ(overscan, 9);
    EXPECT_EQ(scanline, NTSC_SCANLINE);
    EXPECT_EQ(memory[0x1000], 0xFF);
    EXPECT_TRUE(XtIsSensitive(save_config_item));
    settle();
    EXPECT_EQ(area_size(), Size(402, 251));

    // And back.
    XmToggleButtonGadgetSetState(pal_toggle, True, True);
    XmToggleButtonGadgetSetState(large_toggle, True, True);
    capture_stdout([] { XtCallCallbacks(button5, XmNactivateCallback, nullptr); });
    EXPECT_EQ(scanline, PAL_SCANLINE);
    EXPECT_EQ(overscan, 28);
    settle();
    EXPECT_EQ(area_size(), Size(458, 283));
}

// ---- the scaled picture of a 24-bit display ---------------------------------------------------

class DeepWidgets : public Widgets {
protected:
    // At zoom 2 an interlaced field's line is one pixel high.
    static void SetUpTestSuite() { start_on(24, "1280x1024", 1); }
};

TEST_F(DeepWidgets, InterlacedFieldsShowOnAlternateLinesAndTheLightPenMeetsThePicture) {
    ASSERT_TRUE(view_active);
    // The even field white, the odd one red, each line a different colour at its left end.
    for (unsigned f = 0; f < 2; f++)
        for (unsigned line = 0; line < FRAME_LINES; line++) {
            uint8_t* row = frame_image + (f * FRAME_LINES + line) * FRAME_LINE_BYTES;
            std::memset(row, f ? COLOR_RED : COLOR_WHITE, FRAME_LINE_BYTES);
            std::memset(row + 2 * PAL_VIEW_LEFT, line % 16, 2);
        }
    auto shown_rows = [](unsigned rows) {
        put_frame();
        settle();
        PictureFit fit = view_fit();
        EXPECT_EQ(fit.zoom, 2u);
        XImage* shown = XGetImage(TKDisplay, TKWindow, fit.x, fit.y, 2 * 2 * PAL_SCREEN_WIDTH, rows, AllPlanes, ZPixmap);
        std::vector<std::pair<unsigned long, unsigned long>> out;  // left end, then the rest
        for (unsigned y = 0; shown && y < rows; y++) out.push_back({XGetPixel(shown, 0, int(y)), XGetPixel(shown, 9, int(y))});
        if (shown) XDestroyImage(shown);
        return out;
    };
    frame_interlaced = 1;
    auto both = shown_rows(2 * 283);
    frame_interlaced = 0;
    auto even = shown_rows(2 * 283);
    ASSERT_EQ(Size(both.size(), even.size()), Size(566, 566));
    for (unsigned r = 0; r < 283; r++) {
        // Interlaced: row 2r from the even field's line, 2r + 1 from the odd one's.
        EXPECT_EQ(both[2 * r].first, even[2 * r].first) << r;
        EXPECT_EQ(both[2 * r + 1].first, even[2 * r].first) << r;
        EXPECT_EQ(both[2 * r].second, even[0].second) << r;
        EXPECT_NE(both[2 * r + 1].second, even[0].second) << r;
        // Not interlaced: each raster line two rows high, from the even field.
        EXPECT_EQ(even[2 * r + 1], even[2 * r]) << r;
        if (r > 0) {
            EXPECT_NE(even[2 * r].first, even[2 * r - 1].first) << r;
        }
    }

    // A click in the picture, wherever it sits, reads as at the normal size.
    XtVaSetValues(toplevel, XmNwidth, 1200, XmNheight, 800, nullptr);
    settle();
    put_frame();
    PictureFit fit = view_fit();
    EXPECT_GT(fit.x, 0);
    XEvent click{};
    click.type = ButtonRelease;
    click.xbutton.x = fit.x + int(fit.zoom) * 40;
    click.xbutton.y = fit.y + int(fit.zoom) * 20;
    MouseCB(drawing_area, nullptr, &click, nullptr);
    PenPosition normal = lightpen_position(40, 20, 0, overscan);
    EXPECT_EQ(Size(Vic.lightpen_x, Vic.lightpen_y), Size(normal.x, normal.y));
}

TEST_F(DeepWidgets, StandardSwitchKeepsTheZoomAndTheWindowStaysResizable) {
    resize_main_window(NTSC_SCANLINE, 9);
    settle();
    EXPECT_EQ(area_size(), Size(2 * 402, 2 * 251));
    EXPECT_EQ(int_resource(toplevel, XmNminWidth), 402);  // a shell's size hints are ints
    EXPECT_EQ(int_resource(toplevel, XmNminHeight), 251 + menu_height);
    EXPECT_GT(int_resource(toplevel, XmNmaxWidth), 4000);
}

}  // namespace
