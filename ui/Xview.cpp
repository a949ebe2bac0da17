// The picture on TrueColor and DirectColor displays. The renderer writes
// colour codes into plain memory; at each frame end the raster lines that
// changed since the last frame become the visual's pixels (two per VIC pixel,
// from a table built once) in an image that goes to a pixmap on the server,
// and the server's RENDER extension replicates the pixmap into the window at
// the largest whole zoom that fits, centred on black. The client's work per
// frame is thus the changed lines at their normal size, whatever the zoom.
#include "X.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrender.h>
#include <Xm/ToggleB.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../core/host.h"
#include "../core/tarvikon.h"
#include "../core/vic.h"

bool view_active = false;
bool full_screen = false;

namespace {

constexpr unsigned IMAGE_WIDTH = 2 * FRAME_CELLS;  // two pixels per VIC pixel
constexpr unsigned IMAGE_ROWS = 2 * FRAME_LINES;   // both interlaced fields, interleaved

// The renderer's frame image: a colour code in both bytes of every cell.
std::vector<uint8_t> codes(FRAME_ALLOC_BYTES);
// The codes each image row was last converted from; 0xFF matches no line.
std::vector<uint8_t> shown(IMAGE_ROWS * FRAME_LINE_BYTES, 0xFF);

// A colour code's pixel twice over, as two image pixels in memory order.
enum class Store { PAIR32, PAIR16, ANY } store;
uint64_t pair32[256];
uint32_t pair16[256];
unsigned long pixel_of[256];

XImage* image;
XShmSegmentInfo segment = {0, -1, nullptr, False};
bool segment_attached = false;
Pixmap pixmap;
Picture source, target;
bool render = false;

unsigned area_width, area_height;
PictureFit fit{1, 0, 0};
unsigned fitted_rows = 0, fitted_width = 0;
bool fitted_interlaced = false;
bool redraw = true;

// MIT-SHM where the server can reach the segment (not on a remote display).
bool create_shared_image() {
    if (!XShmQueryExtension(TKDisplay)) return false;
    image = XShmCreateImage(TKDisplay, TKVisual, unsigned(TKDepth), ZPixmap, nullptr, &segment, IMAGE_WIDTH,
                            IMAGE_ROWS);
    if (!image) return false;
    segment.shmid = shmget(IPC_PRIVATE, size_t(image->bytes_per_line) * IMAGE_ROWS, IPC_CREAT | 0600);
    void* address = segment.shmid == -1 ? reinterpret_cast<void*>(-1) : shmat(segment.shmid, nullptr, 0);
    if (address != reinterpret_cast<void*>(-1)) {
        segment.shmaddr = image->data = static_cast<char*>(address);
        segment.readOnly = False;
        segment_attached = attach_to_server(segment);
    }
    if (segment.shmid != -1) shmctl(segment.shmid, IPC_RMID, nullptr);
    if (segment_attached) return true;
    if (segment.shmaddr) shmdt(segment.shmaddr);
    segment.shmaddr = nullptr;
    image->data = nullptr;
    XDestroyImage(image);
    image = nullptr;
    return false;
}

void create_image() {
    if (create_shared_image()) return;
    fputs("No MIT-Shared memory on this display: frames go through XPutImage\n", stdout);
    image = XCreateImage(TKDisplay, TKVisual, unsigned(TKDepth), ZPixmap, 0, nullptr, IMAGE_WIDTH, IMAGE_ROWS, 32, 0);
    if (!image) {
        fputs("failed\n", stdout);
        shut_down_tarvikon();
        exit(-1);
    }
    image->data = static_cast<char*>(std::calloc(size_t(image->bytes_per_line) * IMAGE_ROWS, 1));
}

void build_pixel_tables() {
    const bool native = image->byte_order == (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? LSBFirst : MSBFirst);
    store = !native ? Store::ANY
            : image->bits_per_pixel == 32 ? Store::PAIR32
            : image->bits_per_pixel == 16 ? Store::PAIR16
                                          : Store::ANY;
    for (unsigned code = 0; code < 256; code++) {
        unsigned long p = vic_colors[code < 16 ? code : unsigned(COLOR_BLACK)].pixel;
        pixel_of[code] = p;
        pair32[code] = uint64_t(uint32_t(p)) * 0x100000001ull;
        pair16[code] = uint32_t(uint16_t(p)) * 0x10001u;
    }
}

void convert_row(const uint8_t* line, unsigned row) {
    uint8_t* out = reinterpret_cast<uint8_t*>(image->data) + size_t(row) * unsigned(image->bytes_per_line);
    switch (store) {
    case Store::PAIR32:
        for (unsigned c = 0; c < FRAME_CELLS; c++) std::memcpy(out + 8 * c, &pair32[line[2 * c]], 8);
        break;
    case Store::PAIR16:
        for (unsigned c = 0; c < FRAME_CELLS; c++) std::memcpy(out + 4 * c, &pair16[line[2 * c]], 4);
        break;
    case Store::ANY:
        for (unsigned c = 0; c < FRAME_CELLS; c++) {
            XPutPixel(image, int(2 * c), int(row), pixel_of[line[2 * c]]);
            XPutPixel(image, int(2 * c + 1), int(row), pixel_of[line[2 * c]]);
        }
        break;
    }
}

void set_zoom(unsigned zoom, bool interlaced) {
    if (!render) return;
    const int32_t across = zoom_step(zoom);
    const int32_t down = interlaced ? int32_t((2 * 65536 + zoom - 1) / zoom) : across;
    XTransform t = {{{across, 0, 0}, {0, down, 0}, {0, 0, 65536}}};
    XRenderSetPictureTransform(TKDisplay, source, &t);
}

// Fits the picture to the area again when the area, the video mode or the
// interlacing changed; everything is then drawn anew on black.
void refit(bool interlaced) {
    const unsigned rows = last_line - overscan;
    if (!redraw && rows == fitted_rows && screen_width == fitted_width && interlaced == fitted_interlaced) return;
    PictureFit f = fit_picture(area_width, area_height, screen_width, rows);
    if (!render) f = {1, int(area_width / 2) - int(screen_width), int(area_height / 2) - int(rows / 2)};
    if (f.zoom != fit.zoom || interlaced != fitted_interlaced || fitted_rows == 0) set_zoom(f.zoom, interlaced);
    fit = f;
    fitted_rows = rows;
    fitted_width = screen_width;
    fitted_interlaced = interlaced;
    XClearWindow(TKDisplay, TKWindow);
    redraw = true;
}

// Image rows [first, end) of the pixmap into the window, where they lie in the picture.
void show_rows(unsigned first, unsigned end, bool interlaced) {
    const unsigned zoom = fit.zoom, per_line = interlaced ? 2 : 1;
    const unsigned top = overscan * zoom, bottom = last_line * zoom;
    unsigned y0 = first * zoom / per_line, y1 = (end * zoom + per_line - 1) / per_line;
    if (y0 < top) y0 = top;
    if (y1 > bottom) y1 = bottom;
    if (y0 >= y1) return;
    const unsigned x0 = 2 * Frame.view_left * zoom, width = 2 * screen_width * zoom;
    const int to_y = fit.y + int(y0 - top);
    if (render)
        XRenderComposite(TKDisplay, PictOpSrc, source, None, target, int(x0), int(y0), 0, 0, fit.x, to_y, width,
                         y1 - y0);
    else
        XCopyArea(TKDisplay, pixmap, TKWindow, TKGC, int(x0), int(y0), width, y1 - y0, fit.x, to_y);
}

void put_rows(unsigned first, unsigned end) {
    if (segment_attached)
        XShmPutImage(TKDisplay, pixmap, TKGC, image, 0, int(first), 0, int(first), IMAGE_WIDTH, end - first, False);
    else
        XPutImage(TKDisplay, pixmap, TKGC, image, 0, int(first), 0, int(first), IMAGE_WIDTH, end - first);
}

void area_changed(Widget, XtPointer, XEvent* event, Boolean*) {
    if (event->type == ConfigureNotify) {
        area_width = unsigned(event->xconfigure.width);
        area_height = unsigned(event->xconfigure.height);
        redraw = true;
    } else if (event->type == Expose && event->xexpose.count == 0) {
        redraw = true;
    }
}

Atom atom(const char* name) { return XInternAtom(TKDisplay, name, False); }

bool window_manager_present() {
    Atom type;
    int format;
    unsigned long count = 0, after;
    unsigned char* data = nullptr;
    bool found = XGetWindowProperty(TKDisplay, RootWindow(TKDisplay, TKScreen), atom("_NET_SUPPORTING_WM_CHECK"), 0, 1,
                                    False, XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
                 count == 1;
    if (data) XFree(data);
    return found;
}

// Without a window manager the keyboard would follow the pointer: the window
// takes it once it is shown, as a window manager would give it.
void shell_mapped(Widget, XtPointer, XEvent* event, Boolean*) {
    if (event->type != MapNotify || window_manager_present()) return;
    XSetInputFocus(TKDisplay, XtWindow(toplevel), RevertToParent, CurrentTime);
}

}  // namespace

// ---- pure helpers -------------------------------------------------------------------

PictureFit fit_picture(unsigned area_width, unsigned area_height, unsigned visible_width, unsigned rows) {
    unsigned across = visible_width ? area_width / (2 * visible_width) : 1;
    unsigned down = rows ? area_height / rows : 1;
    unsigned zoom = across < down ? across : down;
    if (zoom < 1) zoom = 1;
    if (zoom > MAX_ZOOM) zoom = MAX_ZOOM;
    return {zoom, (int(area_width) - int(2 * zoom * visible_width)) / 2, (int(area_height) - int(zoom * rows)) / 2};
}

uint8_t default_scale(unsigned screen_height, unsigned rows) {
    unsigned zoom = 1;
    while (zoom < MAX_ZOOM && 2 * (zoom + 1) * rows < screen_height) zoom++;
    return uint8_t(zoom - 1);
}

int32_t zoom_step(unsigned zoom) { return int32_t((65536 + zoom - 1) / zoom); }

// ---- the view ------------------------------------------------------------------------

bool view_possible(Display* display, int screen) {
    Visual* visual = DefaultVisual(display, screen);
    int depth = DefaultDepth(display, screen);
    return (visual->c_class == TrueColor || visual->c_class == DirectColor) && depth >= 15 && depth <= 32;
}

void view_start() {
    create_image();
    build_pixel_tables();
    // The renderer draws colour codes, as on the headless host.
    for (unsigned code = 0; code < VIC_COLOR_COUNT; code++) {
        vic_colors[code].pixel = code;
        vic_colors[code].double_pixel = code << 8 | code;
    }
    bordpixel = vic_colors[COLOR_BLACK].double_pixel;
    frame_image = codes.data();

    pixmap = XCreatePixmap(TKDisplay, TKWindow, IMAGE_WIDTH, IMAGE_ROWS, unsigned(TKDepth));
    int event_base, error_base;
    render = XRenderQueryExtension(TKDisplay, &event_base, &error_base);
    if (XRenderPictFormat* format = render ? XRenderFindVisualFormat(TKDisplay, TKVisual) : nullptr) {
        source = XRenderCreatePicture(TKDisplay, pixmap, format, 0, nullptr);
        target = XRenderCreatePicture(TKDisplay, TKWindow, format, 0, nullptr);
        XRenderSetPictureFilter(TKDisplay, source, const_cast<char*>(FilterNearest), nullptr, 0);
    } else {
        render = false;
    }

    XtVaSetValues(drawing_area, XmNbackground, pixel_of[COLOR_BLACK], nullptr);
    Dimension w = 0, h = 0;
    XtVaGetValues(drawing_area, XmNwidth, &w, XmNheight, &h, nullptr);
    area_width = w;
    area_height = h;
    fit = {scale + 1u, 0, 0};  // as the window starts, until the first frame fits it
    XtAddEventHandler(drawing_area, StructureNotifyMask | ExposureMask, False, area_changed, nullptr);
    XtAddEventHandler(toplevel, StructureNotifyMask, False, shell_mapped, nullptr);
    if (XtIsRealized(toplevel) && window_manager_present() == false) {
        XWindowAttributes a;
        if (XGetWindowAttributes(TKDisplay, XtWindow(toplevel), &a) && a.map_state == IsViewable)
            XSetInputFocus(TKDisplay, XtWindow(toplevel), RevertToParent, CurrentTime);
    }
    view_active = true;
}

void view_put_frame() {
    const bool interlaced = frame_interlaced && render;
    refit(interlaced);
    unsigned first = IMAGE_ROWS, end = 0;
    for (unsigned field = 0; field < (interlaced ? 2u : 1u); field++) {
        for (unsigned r = overscan; r < last_line; r++) {
            const uint8_t* line = frame_image + (field * FRAME_LINES + r) * FRAME_LINE_BYTES;
            const unsigned row = interlaced ? 2 * r + field : r;
            uint8_t* seen = shown.data() + row * FRAME_LINE_BYTES;
            if (std::memcmp(line, seen, FRAME_LINE_BYTES) == 0) continue;
            std::memcpy(seen, line, FRAME_LINE_BYTES);
            convert_row(line, row);
            if (row < first) first = row;
            if (row + 1 > end) end = row + 1;
        }
    }
    if (first < end) put_rows(first, end);
    if (redraw) {
        show_rows(0, IMAGE_ROWS, interlaced);
        redraw = false;
    } else if (first < end) {
        show_rows(first, end, interlaced);
    } else {
        return;
    }
    XFlush(TKDisplay);
}

PictureFit view_fit() { return fit; }

void view_close() {
    if (segment_attached) {
        XShmDetach(TKDisplay, &segment);
        segment_attached = false;
    }
    if (image) {
        if (segment.shmaddr) {
            shmdt(segment.shmaddr);
            segment.shmaddr = nullptr;
            image->data = nullptr;
        }
        XDestroyImage(image);  // frees the data of a plain image
        image = nullptr;
    }
    view_active = false;
}

namespace {

// The menu bar in full screen: hidden, unless F10 pinned it or the pointer
// went to the top edge (until it comes back down into the picture).
constexpr int TOP_EDGE = 1, BELOW_BAR = 8;
bool bar_shown = true, bar_pinned = false;

void show_menu_bar(bool shown) {
    if (shown == bar_shown || !gmenu_bar) return;
    bar_shown = shown;
    if (shown)
        XtManageChild(gmenu_bar);
    else
        XtUnmanageChild(gmenu_bar);
}

}  // namespace

void toggle_menu_bar() {
    if (!full_screen) return;
    bar_pinned = !bar_pinned;
    show_menu_bar(bar_pinned);
}

void PointerCB(Widget, XtPointer, XEvent* event, Boolean*) {
    if (event->type != MotionNotify || !full_screen || bar_pinned) return;
    const int y = event->xmotion.y_root;
    if (!bar_shown && y <= TOP_EDGE)
        show_menu_bar(true);
    else if (bar_shown && y > int(menu_height) + BELOW_BAR)
        show_menu_bar(false);
}

void set_full_screen(bool on) {
    if (!view_active || on == full_screen) {
        if (fullscreen_item) XmToggleButtonSetState(fullscreen_item, full_screen, False);
        return;
    }
    full_screen = on;
    bar_pinned = false;
    show_menu_bar(!on);
    if (fullscreen_item) XmToggleButtonSetState(fullscreen_item, on, False);
    if (window_manager_present()) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = XtWindow(toplevel);
        e.xclient.message_type = atom("_NET_WM_STATE");
        e.xclient.format = 32;
        e.xclient.data.l[0] = on ? 1 : 0;  // add or remove
        e.xclient.data.l[1] = long(atom("_NET_WM_STATE_FULLSCREEN"));
        e.xclient.data.l[3] = 1;  // asked by an application
        XSendEvent(TKDisplay, RootWindow(TKDisplay, TKScreen), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &e);
        return;
    }
    // No window manager to ask: the shell covers the screen itself, and
    // goes back to where it was.
    static Position saved_x, saved_y;
    static Dimension saved_width, saved_height;
    if (on) {
        XtVaGetValues(toplevel, XmNx, &saved_x, XmNy, &saved_y, XmNwidth, &saved_width, XmNheight, &saved_height,
                      nullptr);
        XtVaSetValues(toplevel, XmNx, 0, XmNy, 0, XmNwidth, Dimension(DisplayWidth(TKDisplay, TKScreen)), XmNheight,
                      Dimension(DisplayHeight(TKDisplay, TKScreen)), nullptr);
    } else {
        XtVaSetValues(toplevel, XmNx, saved_x, XmNy, saved_y, XmNwidth, saved_width, XmNheight, saved_height, nullptr);
    }
}
