// The X user interface: display and frame image (X.cpp), callbacks for keys,
// pointer, menus and dialogs (XCB.cpp) and the widget builders (XCW.cpp).
//
// Everything is global; widgets are held in globals named like their widget
// names. The pure helpers at the end (key table, light pen, frame doubling,
// window geometry) need no display, so tests can call them directly.
#pragma once

#include <X11/Intrinsic.h>
#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <Xm/Xm.h>

#include <cstdint>
#include <ctime>
#include <string>

// ---- toolkit and display ------------------------------------------------------

extern XtAppContext context;
extern Widget toplevel;
extern Widget MainWindow, gmenu_bar, drawing_area;
extern Dimension menu_height;

extern Display* TKDisplay;
extern Window TKWindow;
extern int TKScreen;
extern Colormap TKCmap;
extern Visual* TKVisual;
extern int TKDepth;
extern Cursor TKCursor;
extern GC TKGC;
extern XImage* TKImage;
extern XShmSegmentInfo TKShm;
// Attaches a shared-memory segment to the server; false (no error ends the
// program) when the server cannot reach it, as on a remote display.
bool attach_to_server(XShmSegmentInfo& segment);
extern XEvent TKEvent;

constexpr const char* WINDOW_TITLE = "Tarvikon for Linux V0.8";

// Tag of every compound string the interface makes (Motif's default tag).
extern XmStringCharSet char_set;

// ---- menus and dialogs ----------------------------------------------------------

extern Widget file_menu, options_menu, about_menu;
extern Widget load_basic_item, save_basic_item, load_cart_item, clear_item, attach_disk_item, save_config_item,
    quit_item;
extern Widget memory_item, speed_item, video_item, reset_item, about_item;
extern Widget warp_item;  // toggle: shows and sets warp speed
extern Widget tape_warp_item, attach_tape_dialog;
extern Widget fullscreen_item;  // toggle: shows and sets full screen
extern Widget edit_menu, recent_menu, open_dialog;
extern Widget rewind_item;      // toggle: the rewind buffer on or off
extern Widget save_snapshot_dialog, load_snapshot_dialog;
// Asks whether to load a snapshot made with other ROMs or for the other standard.
extern Widget snapshot_question_dialog;
extern Widget joystick_pad_item;  // radio toggle of Options > Joystick: gamepads drive it too

extern Widget load_basic_dialog, save_basic_dialog, load_cart_dialog, attach_disk_dialog;
extern Widget about_window;
extern Widget cart_start_dialog, save_config_dialog, clear_rom_dialog;
extern Widget halt_dialog, unexp_dialog, k3_dialog, k8_dialog, k16_dialog, k24_dialog, save_error_dialog;
extern Widget save_config_failed_dialog;  // shown instead of save_config_dialog when the save failed

// Settings dialogs and their children.
extern Widget memory_dialog, memory_label, memory_scale, memory_value_label, sep1, ram_label, ram_toggle, sep2,
    button, button2;
extern Widget speed_dialog, speed_label, speed_scale, frame_value_label, sep3, speed_label2, delay_scale,
    delay_value_label, sep4, button3, button4;
extern Widget video_dialog, video_label, video_radio_box, ntsc_toggle, pal_toggle, sep5, overscan_label,
    overscan_radio_box, small_toggle, large_toggle, sep6, button5, button6;

// Speed settings as they were when the speed dialog was opened.
extern uint8_t interrupt_old;
extern uint16_t delay_old;

// Client data of the menu items, dialog buttons, scales and input handlers.
enum ClientData : intptr_t {
    MENU_LOAD_BASIC = 0, MENU_SAVE_BASIC = 1, MENU_LOAD_CART = 2, MENU_EXIT = 3, MENU_MEMORY = 4,
    MENU_SPEED = 5, MENU_VIDEO = 6, MENU_RESET = 7, MENU_SAVE_CONFIG = 8, MENU_REMOVE_CART = 9,
    MENU_WARP = 10, MENU_ATTACH_DISK = 12, MENU_ABOUT = 30,
    MENU_ATTACH_DISK_9 = 48, MENU_ATTACH_DISK_10 = 49, MENU_ATTACH_DISK_11 = 50,
    MENU_ATTACH_TAPE = 40, MENU_TAPE_PLAY = 41, MENU_TAPE_STOP = 42, MENU_TAPE_REWIND = 43, MENU_TAPE_RECORD = 44,
    MENU_TAPE_EJECT = 45, MENU_TAPE_WARP = 46, MENU_FULLSCREEN = 47, MENU_MONITOR = 51,
    MENU_SAVE_SNAPSHOT = 52, MENU_LOAD_SNAPSHOT = 53, MENU_REWIND_BUFFER = 54,
    MENU_SCREENSHOT = 60, MENU_SCREENSHOT_SCALED = 61, MENU_RECORD_SOUND = 62,
    MENU_JOYSTICK_PAD = 63, MENU_JOYSTICK_KEYS = 64,
    MENU_OPEN = 70, MENU_PASTE = 71, MENU_COPY_SCREEN = 72, MENU_RECENT_FIRST = 80,  // to 89
    DIALOG_OK = 20, DIALOG_CANCEL = 21,
    INPUT_PRESS = 100, INPUT_RELEASE = 101,
    SCALE_MEMORY = 102, SCALE_FRAME_RATE = 103, SCALE_DELAY = 104,
};

// The name of an expansion index as the memory dialog shows it; an index
// beyond 4 (possible from a hand-made configuration file) has none.
const char* expansion_name(uint32_t index);

// ---- callbacks (XCB.cpp) ------------------------------------------------------------

void KeyboardCB(Widget w, XtPointer client_data, XEvent* event, Boolean* continue_dispatch);
void MouseCB(Widget w, XtPointer client_data, XEvent* event, Boolean* continue_dispatch);
// Focus lost, or the pointer gone while the keyboard follows it: releases what the host holds.
void FocusCB(Widget w, XtPointer client_data, XEvent* event, Boolean* continue_dispatch);
// Pointer motion over the picture: the menu bar in full screen.
void PointerCB(Widget w, XtPointer client_data, XEvent* event, Boolean* continue_dispatch);

// The symbol that decides what a key event does: the unshifted one (index 0),
// except on the keypad, where NumLock selects the digit level.
KeySym key_symbol(XKeyEvent* key);

void menuCB(Widget w, XtPointer client_data, XtPointer call_data);
void dialogCB(Widget w, XtPointer client_data, XtPointer call_data);
void dialog1CB(Widget w, XtPointer client_data, XtPointer call_data);
void dialog2CB(Widget w, XtPointer client_data, XtPointer call_data);
void dialog3CB(Widget w, XtPointer client_data, XtPointer call_data);
void attach_disk_CB(Widget w, XtPointer client_data, XtPointer call_data);
void attach_tape_CB(Widget w, XtPointer client_data, XtPointer call_data);
void open_CB(Widget w, XtPointer client_data, XtPointer call_data);
// The tape's counter and key in the window's title, when they have changed.
void save_snapshot_CB(Widget w, XtPointer client_data, XtPointer call_data);
void load_snapshot_CB(Widget w, XtPointer client_data, XtPointer call_data);
void snapshot_question_CB(Widget w, XtPointer client_data, XtPointer call_data);
// Shows snapshot_question_dialog about the snapshot at `path`.
void ask_about_snapshot(const std::string& path);
// The tape's counter and key, and when a snapshot was saved, in the
// window's title, when they have changed.
void show_tape_status();
void memoryCB(Widget w, XtPointer client_data, XtPointer call_data);
void memvalCB(Widget w, XtPointer client_data, XtPointer call_data);
void speedCB(Widget w, XtPointer client_data, XtPointer call_data);
void speedvalCB(Widget w, XtPointer client_data, XtPointer call_data);
void videoCB(Widget w, XtPointer client_data, XtPointer call_data);
// Lists a file dialog's directory again as it is shown.
void fileListCB(Widget w, XtPointer client_data, XtPointer call_data);

// Shows save_error_dialog when the BASIC program is empty, else save_basic_dialog.
void check_basic_program();

// ---- the scaled picture on TrueColor and DirectColor displays (Xview.cpp) ------------

// True once view_start has taken over the picture (a display of 15 to 32 bits);
// false on an 8-bit display, which keeps its fixed window and 8-bit image.
extern bool view_active;

// Whether the screen's default visual is TrueColor or DirectColor of 15 to 32 bits.
bool view_possible(Display* display, int screen);
// Colour table, images, server pictures; the renderer then writes colour codes.
void view_start();
void view_put_frame();
void view_close();
// The picture's place in the drawing area as last drawn.
struct PictureFit {
    unsigned zoom;  // a VIC pixel is 2 * zoom wide, a raster line zoom high
    int x, y;       // top-left corner of the picture in the drawing area
};
PictureFit view_fit();
// Full screen on and off: the window manager's state, or without one the
// whole screen; shown on the menu's toggle.
void set_full_screen(bool on);
extern bool full_screen;

// Full screen shows the picture alone: the menu bar comes back while F10
// has called it (until F10 again) or while the pointer is at the top edge.
void toggle_menu_bar();

// ---- clipboard, drag and drop, opening files (Xclip.cpp, Xdnd.cpp, XCB.cpp) -----------

// Types the clipboard's text (the primary selection's for a middle click) into the machine.
void paste_selection(bool primary);
// Puts the screen's text on the clipboard.
void copy_screen();
// Makes the shell a drop target for files (XDND).
void start_drop_target();
// The first local file of a text/uri-list ("" when none), percent-decoded.
std::string first_local_file(const std::string& uri_list);
// Opens a file as the command line would, says in the title what was
// attached and updates File > Recent.
void show_opened(const std::string& path);
// After a dialog attached a file (or failed to): keeps it in File > Recent; 0, or -1 when not opened.
int keep_if_opened(const char* name, bool opened);
// What the title says besides the name: an image attached by a drop.
extern std::string window_note;
// ---- screenshots and sound recordings (Xcapture.cpp) ---------------------------------

extern Widget record_sound_item;  // toggle: shows and sets the recording
// A PNG of the next frame shown: each VIC pixel one pixel, or as the window
// shows it; put_frame takes it and says where it went.
void request_screenshot(bool window_scale);
void take_requested_screenshot();
// Starts a WAV recording of the sound process, or stops the one running.
void toggle_sound_recording();
// "tarvikon-screenshot-YYYYMMDD-HHMMSS" (or "-sound-" for a WAV), local time.
std::string dated_file_name(time_t when, const char* kind);

// ---- widget builders (XCW.cpp) -------------------------------------------------------

void create_menus(Widget menu_bar);
// File > Recent rebuilt from the list kept; the file of its item i, or "".
void rebuild_recent_menu();
std::string recent_menu_file(unsigned i);
void create_file_dialogs();
Widget create_about_dialog(Widget parent);
Widget create_information_dialog(Widget parent, const char* text);
Widget create_error_dialog(Widget parent, const char* text);
// OK and Cancel, both to `handler` with DIALOG_OK or DIALOG_CANCEL.
Widget create_question_dialog(Widget parent, const char* text, XtCallbackProc handler);
Widget create_memory_dialog(Widget parent);
Widget create_speed_dialog(Widget parent);
Widget create_video_dialog(Widget parent);
Widget create_drawingarea(Widget parent, const char* name);

// Sets a label's text as a compound string.
void set_label(Widget label, const char* text);

// ---- pure helpers, usable without a display -----------------------------------------

// What a host key does, found by its unshifted key symbol. KEY_PLAIN and
// KEY_SHIFTED are matrix keys typed with the VIC's SHIFT up or down whatever
// the host's Shift keys hold: the characters of a layout (Xkeymap.cpp).
enum KeyKind : uint8_t { KEY_MATRIX, KEY_JOYSTICK, KEY_PADDLE, KEY_COMMAND, KEY_PLAIN, KEY_SHIFTED };
enum JoystickLine : uint8_t { JOY_UP, JOY_DOWN, JOY_LEFT, JOY_RIGHT, JOY_FIRE };
enum PaddleMove : uint8_t { PADDLE_X_UP, PADDLE_X_DOWN, PADDLE_Y_UP, PADDLE_Y_DOWN };
enum KeyCommand : uint8_t {
    CMD_LOAD_BASIC, CMD_SAVE_BASIC, CMD_RESET, CMD_RESTORE, CMD_EXIT, CMD_WARP, CMD_FULLSCREEN, CMD_MONITOR, CMD_MENU_BAR,
    CMD_QUICK_SAVE, CMD_QUICK_LOAD, CMD_REWIND,  // the rewind runs while its key is held
    CMD_SCREENSHOT,  // with Shift at the window's scale
};

struct KeyBinding {
    KeySym sym;
    KeyKind kind;
    uint8_t a;  // matrix: port A bit (row); otherwise the line, move or command
    uint8_t b;  // matrix: port B bit (column)
};
extern const KeyBinding KEY_TABLE[];
extern const unsigned KEY_TABLE_SIZE;

// The binding of a key symbol, or nullptr for a key without an action.
const KeyBinding* find_key(KeySym sym);

// ---- host keyboard layouts (Xkeymap.cpp) ----

// What key_event gets for a key: its table symbol (US layout, keypad and
// other keys without a character), the US symbol at its place (-keymap
// positional), or SYMBOL_KEY with the keycode for a key typing a character on
// another layout, whose binding (symbol_binding) was fixed when it went down.
constexpr KeySym SYMBOL_KEY = 0x20000000;  // above every key symbol
KeySym event_key(XKeyEvent* key);
const KeyBinding* symbol_binding(KeySym sym);
// The VIC key and SHIFT that type a character's key symbol; sym is NoSymbol
// for a character the VIC 20 has no key for.
KeyBinding character_binding(KeySym typed);
// The symbol a US keyboard has on the key with this X keycode, or NoSymbol.
KeySym position_symbol(unsigned keycode);

// Applies a key press or release to the matrix, joystick lines and paddles and
// runs the command keys. Returns false for a key without an action.
bool handle_key(KeySym sym, bool press);

// Keys as the window delivers them. A key released before a whole frame has
// passed since its press stays down until then (release_held_keys, at every
// frame end), so that a quick tap still meets a keyboard scan; the key events
// behind such a release wait with it and keep their order.
void key_event(KeySym sym, bool press);
void release_held_keys();

// Turns warp speed on or off and shows it on the menu's toggle.
void set_warp(bool on);

// The gamepads' lines (devices/gamepad.h) onto the joystick lines: the
// changed ones pressed or released.
void move_pad_lines(uint8_t lines, uint8_t before);

// Lets go of every matrix key and joystick line held from the host, for when
// their releases can no longer be seen.
void release_host_input();

// The light-pen latch for a pointer position in the drawing area.
struct PenPosition {
    uint8_t x, y;
};
PenPosition lightpen_position(int px, int py, unsigned scale_factor, unsigned top_overscan);

// Doubles the 520-byte raster lines 1..lines_last at the start of image into
// 1040-byte lines in place (each byte becomes a 2 x 2 block).
void expand_frame(uint8_t* image, unsigned lines_last);
// The same for an interlaced picture: raster line L of the even field becomes
// doubled line 2L, line L of the odd field (at FRAME_LINES + L) line 2L + 1,
// each byte twice across.
void interleave_frame(uint8_t* image, unsigned lines_last);

// Window geometry: drawing area width and height for a video mode.
struct AreaSize {
    unsigned width, height;
};
AreaSize drawing_area_size(unsigned visible_width, unsigned lines_last, unsigned top_overscan, unsigned scale_factor);

// The largest whole zoom (at least 1, at most MAX_ZOOM) at which a picture of
// visible_width VIC pixels and `rows` raster lines fits the area, centred.
constexpr unsigned MAX_ZOOM = 8;
PictureFit fit_picture(unsigned area_width, unsigned area_height, unsigned visible_width, unsigned rows);
// The scale factor (less one, as `scale`) to start with when none was chosen:
// the largest zoom whose picture stays under half the screen's height.
uint8_t default_scale(unsigned screen_height, unsigned rows);

// The 16.16 fixed-point step of a nearest-neighbour zoom by 1/zoom, rounded up:
// with a whole zoom of at most MAX_ZOOM and sources of up to 640 pixels every
// target pixel then samples the source pixel it replicates, never its neighbour.
int32_t zoom_step(unsigned zoom);
