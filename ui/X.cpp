// The X display: toolkit start, main window, colours, the shared-memory frame
// image of an 8-bit display, frame output, window resizing, event polling and
// tear-down. Displays of 15 to 32 bits show the picture through Xview.cpp.
#include "X.h"

#include <Xm/DrawingA.h>
#include <Xm/MainW.h>
#include <Xm/RowColumn.h>
#include <X11/cursorfont.h>
#include <X11/Shell.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../core/host.h"
#include "../core/pacing.h"
#include "../core/tarvikon.h"
#include "../core/vic.h"
#include "../devices/gamepad.h"
#include "../files/snapshot_file.h"

XtAppContext context;
Widget toplevel;
Widget MainWindow, gmenu_bar, drawing_area;
Dimension menu_height;

Display* TKDisplay;
Window TKWindow;
int TKScreen;
Colormap TKCmap;
Visual* TKVisual;
int TKDepth;
Cursor TKCursor;
GC TKGC;
XImage* TKImage;
XShmSegmentInfo TKShm = {0, -1, nullptr, False};
XEvent TKEvent;

uint8_t* frame_image;

namespace {

// What close_X_client may release: a failed start can stop at any step.
bool display_open = false;
bool server_attached = false;

// Image line lengths of the two window sizes; the renderer always writes
// FRAME_LINE_BYTES per raster line from the start of the segment.
constexpr unsigned DOUBLED_LINE_BYTES = 2 * FRAME_LINE_BYTES;

void say(const char* text) {
    if (verbose) fputs(text, stdout);
}

// Failures of start_X_client: the message, then the whole shut-down.
[[noreturn]] void give_up(const char* text) {
    fputs(text, stdout);
    shut_down_tarvikon();
    exit(-1);
}

// The toolkit cannot go on after its own errors (a display that does not
// open, in the first place): say so plainly and leave. The GNU spelling,
// because Xt's handler type carries the attribute and clang counts it in the type.
[[gnu::noreturn]] void toolkit_error(String name, String type, String klass, String defaultp, String* params,
                                Cardinal* num_params) {
    (void)name, (void)type, (void)klass;
    char text[1024];
    String p[10] = {};
    Cardinal n = num_params ? *num_params : 0;
    for (Cardinal i = 0; i < n && i < 10; i++) p[i] = params[i];
    std::snprintf(text, sizeof text, defaultp ? defaultp : "unknown error", p[0], p[1], p[2], p[3], p[4], p[5],
                  p[6], p[7], p[8], p[9]);
    fprintf(stdout, "X Toolkit error: %s\n", text);
    fflush(stdout);
    exit(-1);
}


struct ColorRecord {
    VicColorCode code;
    const char* name;
};

// Allocation order: three groups (the light of each colour is the VIC's, vic_colors).
constexpr ColorRecord COLOR_GROUPS[3][8] = {
    {{COLOR_BLUE, "blue"},
     {COLOR_RED, "red"},
     {COLOR_GREEN, "green"},
     {COLOR_CYAN, "cyan"},
     {COLOR_PURPLE, "purple"},
     {COLOR_BLACK, "black"},
     {COLOR_WHITE, "white"},
     {COLOR_YELLOW, "yellow"}},
    {{COLOR_ORANGE, "orange"},
     {COLOR_LTORANGE, "ltorange"},
     {COLOR_PINK, "pink"},
     {COLOR_LTCYAN, "ltcyan"},
     {COLOR_LTPURPLE, "ltpurple"},
     {COLOR_LTGREEN, "ltgreen"},
     {COLOR_LTBLUE, "ltblue"},
     {COLOR_LTYELLOW, "ltyellow"}},
    {{COLOR_GREY, "grey"},
     {COLOR_WHITE2, "white2"}},
};
constexpr unsigned COLOR_GROUP_SIZES[3] = {8, 8, 2};

void allocate_colors() {
    for (unsigned g = 0; g < 3; g++) {
        for (unsigned i = 0; i < COLOR_GROUP_SIZES[g]; i++) {
            const ColorRecord& c = COLOR_GROUPS[g][i];
            VicColor& v = vic_colors[c.code];
            if (verbose) printf("%s..", c.name);
            XColor cell{};
            cell.red = v.red;
            cell.green = v.green;
            cell.blue = v.blue;
            cell.flags = DoRed | DoGreen | DoBlue;
            if (!XAllocColor(TKDisplay, TKCmap, &cell)) give_up("failed\n");
            v.pixel = uint32_t(cell.pixel);
            v.double_pixel = uint32_t(cell.pixel << 8 | cell.pixel);
        }
    }
}

void create_frame_image(unsigned s) {
    say("Checking for MIT-Shared memory extension support...");
    if (!XShmQueryExtension(TKDisplay))
        give_up("failed\nTarvikon needs MIT-Shared memory. Please check your system installation !\n");
    say("OK\n");

    say("Allocating image...");
    TKImage = XShmCreateImage(TKDisplay, TKVisual, unsigned(TKDepth), ZPixmap, nullptr, &TKShm,
                              FRAME_LINE_BYTES * s, FRAME_LINES * s);
    if (!TKImage || unsigned(TKImage->bytes_per_line) != FRAME_LINE_BYTES * s) give_up("failed\n");
    say("OK\n");

    say("Allocating shared memory...");
    // Also room for the odd field of an interlaced picture below the even one.
    size_t bytes = size_t(FRAME_LINES * s) * size_t(TKImage->bytes_per_line);
    TKShm.shmid = shmget(IPC_PRIVATE, bytes < FRAME_ALLOC_BYTES ? FRAME_ALLOC_BYTES : bytes, IPC_CREAT | 0777);
    if (TKShm.shmid == -1) give_up("failed\n");
    say("OK\n");

    say("Attaching shared memory...");
    void* address = shmat(TKShm.shmid, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) give_up("failed\n");
    TKShm.shmaddr = static_cast<char*>(address);
    TKImage->data = TKShm.shmaddr;
    TKShm.readOnly = False;
    frame_image = reinterpret_cast<uint8_t*>(address);
    say("OK\n");

    say("Attaching shared memory to X server...");
    if (!attach_to_server(TKShm)) give_up("failed\n");
    server_attached = true;
    // Both sides hold the segment now; marking it for removal lets the system
    // reclaim it even if the process dies without shutting down.
    shmctl(TKShm.shmid, IPC_RMID, nullptr);
    say("OK\n");
}

}  // namespace

namespace {

// An asynchronous X error during the shared-memory attach is recorded here
// instead of ending the program.
bool x_error_seen = false;
int note_x_error(Display*, XErrorEvent*) {
    x_error_seen = true;
    return 0;
}

}  // namespace

bool attach_to_server(XShmSegmentInfo& segment) {
    x_error_seen = false;
    XErrorHandler previous = XSetErrorHandler(note_x_error);
    Status attached = XShmAttach(TKDisplay, &segment);
    XSync(TKDisplay, False);
    XSetErrorHandler(previous);
    return attached && !x_error_seen;
}

// ---- pure helpers -------------------------------------------------------------------

// The odd field is copied out first, as the in-place expansion of the even one
// would overwrite it.
void interleave_frame(uint8_t* image, unsigned lines_last) {
    static std::vector<uint8_t> odd(FRAME_LINES * FRAME_LINE_BYTES);
    std::memcpy(odd.data(), image + FRAME_LINES * FRAME_LINE_BYTES, odd.size());
    for (unsigned line = lines_last; line >= 1; line--) {
        const uint8_t* fields[2] = {image + line * FRAME_LINE_BYTES, odd.data() + line * FRAME_LINE_BYTES};
        for (unsigned f = 0; f < 2; f++) {
            uint8_t* out = image + (2 * line + f) * DOUBLED_LINE_BYTES;
            for (unsigned col = FRAME_LINE_BYTES - 1; col >= 1; col--) out[2 * col] = out[2 * col - 1] = fields[f][col];
        }
    }
}

void expand_frame(uint8_t* image, unsigned lines_last) {
    for (unsigned line = lines_last; line >= 1; line--) {
        for (unsigned col = FRAME_LINE_BYTES - 1; col >= 1; col--) {
            uint8_t b = image[line * FRAME_LINE_BYTES + col];
            uint8_t* upper = image + (2 * line - 1) * DOUBLED_LINE_BYTES + 2 * col;
            uint8_t* lower = image + 2 * line * DOUBLED_LINE_BYTES + 2 * col;
            upper[-1] = b;
            upper[0] = b;
            lower[-1] = b;
            lower[0] = b;
        }
    }
}

AreaSize drawing_area_size(unsigned visible_width, unsigned lines_last, unsigned top_overscan, unsigned scale_factor) {
    unsigned s = scale_factor + 1;
    return {2 * s * visible_width, (lines_last - top_overscan) * s};
}

namespace {

// Without a display (-headless) the frame image is plain memory, and each
// colour's pixel value is its colour code, as a screenshot reads it.
void start_without_display() {
    static std::vector<uint8_t> image(FRAME_ALLOC_BYTES);
    frame_image = image.data();
    for (unsigned code = 0; code < VIC_COLOR_COUNT; code++) {
        vic_colors[code].pixel = code;
        vic_colors[code].double_pixel = code << 8 | code;
    }
    bordpixel = vic_colors[COLOR_BLACK].double_pixel;
}

}  // namespace

// ---- host interface -------------------------------------------------------------------

void host_init(int* argc, char** argv) {
    if (no_display) return;
    XtSetErrorMsgHandler(toolkit_error);
    toplevel = XtAppInitialize(&context, "", nullptr, 0, argc, argv, nullptr, nullptr, 0);
    XtAppSetErrorMsgHandler(context, toolkit_error);
}

void start_X_client() {
    if (no_display) return start_without_display();
    // An 8-bit display keeps the fixed normal or doubled window; a deeper one
    // takes any scale and by default the largest under half its height.
    Display* display = XtDisplay(toplevel);
    const int screen = DefaultScreen(display);
    const bool deep = DefaultDepth(display, screen) != 8 && view_possible(display, screen);
    if (!deep && scale > 1) scale = 1;
    if (deep && !scale_set) scale = default_scale(unsigned(DisplayHeight(display, screen)), last_line - overscan);
    unsigned s = scale + 1u;

    MainWindow = XtCreateManagedWidget("MainWindow", xmMainWindowWidgetClass, toplevel, nullptr, 0);

    // No key posts the menus (Motif's F10): the keyboard belongs to the VIC 20.
    // Only a change after creation removes it; an empty one at creation means F10.
    gmenu_bar = XmCreateMenuBar(MainWindow, const_cast<char*>("gmenu_bar"), nullptr, 0);
    XtVaSetValues(gmenu_bar, XmNmenuAccelerator, "", nullptr);
    XtManageChild(gmenu_bar);
    create_menus(gmenu_bar);
    XtVaGetValues(gmenu_bar, XmNheight, &menu_height, nullptr);

    AreaSize area = drawing_area_size(screen_width, last_line, overscan, scale);
    Dimension shell_w = Dimension(area.width), shell_h = Dimension(area.height + menu_height);
    Position at = Position(scale == 0 ? 150 : 0);
    XtVaSetValues(toplevel, XmNtitle, WINDOW_TITLE, XmNminHeight, shell_h, XmNmaxHeight, shell_h, XmNminWidth,
                  shell_w, XmNmaxWidth, shell_w, XmNx, at, XmNy, at, nullptr);
    if (deep) {
        // Resizable down to the normal size.
        AreaSize normal = drawing_area_size(screen_width, last_line, overscan, 0);
        XtVaSetValues(toplevel, XmNminWidth, Dimension(normal.width), XmNminHeight,
                      Dimension(normal.height + menu_height), XmNmaxWidth, Dimension(32767), XmNmaxHeight,
                      Dimension(32767), nullptr);
    }

    drawing_area = create_drawingarea(MainWindow, "drawing_area");
    XtAddEventHandler(toplevel, FocusChangeMask, False, FocusCB, nullptr);
    XmMainWindowSetAreas(MainWindow, gmenu_bar, nullptr, nullptr, nullptr, drawing_area);

    create_file_dialogs();
    memory_dialog = create_memory_dialog(toplevel);
    speed_dialog = create_speed_dialog(toplevel);
    about_window = create_about_dialog(toplevel);
    video_dialog = create_video_dialog(toplevel);
    cart_start_dialog = create_information_dialog(toplevel, "You must reset the VIC 20 to start cartridge !");
    save_config_dialog = create_information_dialog(toplevel, "Configuration saved !");
    clear_rom_dialog = create_information_dialog(toplevel, "Cartridge ROM has been removed");
    halt_dialog = create_error_dialog(toplevel,
                                      "HLT instruction executed ! VIC 20 has crashed,\n"
                                      "this might be a bug in Tarvikon,\n"
                                      "please report it to : \n"
                                      "the Tarvikon maintainers (see the project's issue tracker)");
    unexp_dialog = create_error_dialog(
        toplevel, "Program needs no expansion memory !\n\nPlease reset the VIC 20 to apply changes.");
    k3_dialog = create_error_dialog(
        toplevel, "Program needs 3 KB expansion memory !\n\nPlease reset the VIC 20 to apply changes.");
    k8_dialog = create_error_dialog(
        toplevel, "Program needs 8 KB expansion memory !\n\nPlease reset the VIC 20 to apply changes.");
    k16_dialog = create_error_dialog(
        toplevel, "Program needs 16 KB expansion memory !\n\nPlease reset the VIC 20 to apply changes.");
    k24_dialog = create_error_dialog(
        toplevel, "Program needs 24 KB expansion memory !\n\nPlease reset the VIC 20 to apply changes.");
    save_error_dialog = create_error_dialog(toplevel, "No BASIC program in memory !");
    save_config_failed_dialog = create_error_dialog(toplevel, "Configuration could not be saved !");
    snapshot_question_dialog = create_question_dialog(
        toplevel, "This snapshot was made with other ROMs or for the other video standard.\nLoad it anyway?",
        snapshot_question_CB);
    ask_snapshot_load = ask_about_snapshot;

    XtRealizeWidget(toplevel);
    XtVaSetValues(toplevel, XmNheight, shell_h, XmNwidth, shell_w, nullptr);

    TKDisplay = XtDisplay(drawing_area);
    display_open = true;
    TKWindow = XtWindow(drawing_area);
    TKScreen = DefaultScreen(TKDisplay);
    TKCmap = DefaultColormap(TKDisplay, TKScreen);
    TKVisual = DefaultVisual(TKDisplay, TKScreen);

    TKCursor = XCreateFontCursor(TKDisplay, XC_tcross);
    XDefineCursor(TKDisplay, TKWindow, TKCursor);

    say("Checking color depth of display...");
    TKDepth = DefaultDepth(TKDisplay, TKScreen);
    if (TKDepth != 8 && !deep) {
        printf("%d Bit...must be 8 bit (256 colors) !\n", TKDepth);
        give_up("");
    }
    if (verbose) printf("%d Bit...", TKDepth);
    say("OK\n");
    say("Allocating colors..");
    allocate_colors();
    say("OK\n");
    bordpixel = vic_colors[COLOR_BLACK].double_pixel;

    if (!deep) create_frame_image(s);
    TKGC = XCreateGC(TKDisplay, TKWindow, 0, nullptr);
    gamepad_output = move_pad_lines;
    if (deep) view_start();
    start_drop_target();
}

void put_frame() {
    if (no_display) return;
    take_requested_screenshot();
    if (view_active) {
        view_put_frame();
        show_tape_status();
        return;
    }
    unsigned s = scale + 1u;
    if (scale == 1 && frame_interlaced)
        interleave_frame(frame_image, last_line);
    else if (scale == 1)
        expand_frame(frame_image, last_line);
    XShmPutImage(TKDisplay, TKWindow, TKGC, TKImage, int(2 * s * Frame.view_left), int(s * overscan), 0, 0,
                 2 * s * screen_width, (last_line - overscan - 1) * s, False);
    if (scale == 1) {
        // The next frame's raster lines go to the start of the segment, over
        // the doubled picture: the server must have copied it before that.
        XSync(TKDisplay, False);
    } else {
        XFlush(TKDisplay);
    }
    show_tape_status();
}

void resize_main_window(unsigned cycles_per_line, unsigned new_overscan) {
    if (no_display) return;
    bool ntsc = cycles_per_line == NTSC_SCANLINE;
    unsigned width = ntsc ? NTSC_SCREEN_WIDTH : PAL_SCREEN_WIDTH, lines = ntsc ? NTSC_LAST_LINE : PAL_LAST_LINE;
    AreaSize area = drawing_area_size(width, lines, new_overscan, scale);
    Dimension w = Dimension(area.width), h = Dimension(area.height + menu_height);
    if (!view_active) {
        XtVaSetValues(toplevel, XmNmaxHeight, h, XmNminHeight, h, XmNminWidth, w, XmNmaxWidth, w, XmNheight, h,
                      XmNwidth, w, nullptr);
        return;
    }
    // A resizable window keeps the zoom it shows; full screen stays as it is.
    AreaSize normal = drawing_area_size(width, lines, new_overscan, 0);
    XtVaSetValues(toplevel, XmNminWidth, Dimension(normal.width), XmNminHeight, Dimension(normal.height + menu_height),
                  nullptr);
    if (full_screen) return;
    AreaSize zoomed = drawing_area_size(width, lines, new_overscan, view_fit().zoom - 1);
    XtVaSetValues(toplevel, XmNwidth, Dimension(zoomed.width), XmNheight, Dimension(zoomed.height + menu_height),
                  nullptr);
}

void close_X_client() {
    if (no_display) return;
    say("Detaching shared memory...");
    if (view_active) view_close();
    if (server_attached) {
        XShmDetach(TKDisplay, &TKShm);
        server_attached = false;
    }
    if (display_open) {
        XCloseDisplay(TKDisplay);
        display_open = false;
    }
    say("OK\n");
    say("Deallocating image...");
    say("OK\n");
    if (TKImage) {
        TKImage->data = nullptr;  // the segment is not the image's to free
        XDestroyImage(TKImage);
        TKImage = nullptr;
    }
    if (TKShm.shmaddr) {
        shmdt(TKShm.shmaddr);
        TKShm.shmaddr = nullptr;
        frame_image = nullptr;
    }
    if (TKShm.shmid != -1) {
        shmctl(TKShm.shmid, IPC_RMID, nullptr);
        TKShm.shmid = -1;
    }
}

void poll_event() {
    if (no_display) return;
    XtInputMask pending = XtAppPending(context);
    if (!pending) return;
    if (pending & XtIMXEvent) {
        XtAppNextEvent(context, &TKEvent);
        XtDispatchEvent(&TKEvent);
    } else {
        // Only a timer or other input is due: handle it without waiting, so
        // that a blinking text cursor in an open dialog never stalls the machine.
        XtAppProcessEvent(context, pending);
    }
}

void wait_until(int64_t deadline_ns) {
    if (no_display) {
        // A sleep until a time just past still costs a timer's slack.
        if (deadline_ns > monotonic_ns()) sleep_until_ns(deadline_ns);
        return;
    }
    release_held_keys();
    const int connection = ConnectionNumber(TKDisplay);
    for (;;) {
        for (int n = 0; n < 256 && XtAppPending(context); n++) poll_event();
        int64_t left = deadline_ns - monotonic_ns();
        if (left <= 0) return;
        // Sleeps until the deadline or the next event; the toolkit's timers
        // (a blinking text cursor) wait at most one frame.
        XFlush(TKDisplay);
        pollfd input{connection, POLLIN, 0};
        timespec timeout{time_t(left / 1000000000), long(left % 1000000000)};
        ppoll(&input, 1, &timeout, nullptr);
    }
}
