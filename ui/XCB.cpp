// Callbacks: host keys and pointer onto the VIC 20's keyboard matrix, joystick,
// paddles and light pen; the menu items; the file, message and settings dialogs.
#include "X.h"

#include <Xm/FileSB.h>
#include <Xm/Scale.h>
#include <Xm/ToggleB.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "../core/host.h"
#include "../core/memory.h"
#include "../core/pacing.h"
#include "../core/rewind.h"
#include "../core/tarvikon.h"
#include "../core/via.h"
#include "../core/vic.h"
#include "../devices/datasette.h"
#include "../devices/drive8.h"
#include "../devices/drive_media.h"
#include "../devices/gamepad.h"
#include "../files/fileio.h"
#include "../files/snapshot_file.h"
#include "../monitor/session.h"
#include "../start/config.h"
#include "../start/launch.h"
#include "../start/open_file.h"
#include "../start/recent.h"

uint8_t interrupt_old;
uint16_t delay_old;

const char* expansion_name(uint32_t index) {
    static const char* const names[] = {"unexpanded",      "3 KB expansion",  "8 KB expansion",
                                        "16 KB expansion", "24 KB expansion", "all expansions"};
    return index <= EXP_ALL ? names[index] : "";
}

// ---- key table ------------------------------------------------------------------------

namespace {
constexpr KeyBinding matrix(KeySym sym, uint8_t row, uint8_t col) { return {sym, KEY_MATRIX, row, col}; }
constexpr KeyBinding joy(KeySym sym, JoystickLine line) { return {sym, KEY_JOYSTICK, line, 0}; }
constexpr KeyBinding paddle(KeySym sym, PaddleMove move) { return {sym, KEY_PADDLE, move, 0}; }
constexpr KeyBinding command(KeySym sym, KeyCommand cmd) { return {sym, KEY_COMMAND, cmd, 0}; }
}  // namespace

// Host keys by their unshifted symbol (US layout). Matrix entries give the
// VIC 20 key's port A bit (row) and port B bit (column) on the second VIA.
const KeyBinding KEY_TABLE[] = {
    // column 0
    matrix(XK_1, 0, 0), matrix(XK_3, 1, 0), matrix(XK_5, 2, 0), matrix(XK_7, 3, 0), matrix(XK_9, 4, 0),
    matrix(XK_equal, 5, 0) /* + */, matrix(XK_Insert, 6, 0) /* pound */, matrix(XK_BackSpace, 7, 0) /* DEL */,
    matrix(XK_Delete, 7, 0),
    // column 1
    matrix(XK_grave, 0, 1) /* left arrow */, matrix(XK_w, 1, 1), matrix(XK_r, 2, 1), matrix(XK_y, 3, 1),
    matrix(XK_i, 4, 1), matrix(XK_p, 5, 1), matrix(XK_bracketright, 6, 1) /* * */, matrix(XK_Return, 7, 1),
    // column 2
    matrix(XK_Control_L, 0, 2), matrix(XK_a, 1, 2), matrix(XK_d, 2, 2), matrix(XK_g, 3, 2), matrix(XK_j, 4, 2),
    matrix(XK_l, 5, 2), matrix(XK_semicolon, 6, 2), matrix(XK_Prior, 7, 2) /* CRSR RIGHT */,
    // column 3
    matrix(XK_Tab, 0, 3) /* RUN/STOP */, matrix(XK_Shift_L, 1, 3), matrix(XK_x, 2, 3), matrix(XK_v, 3, 3),
    matrix(XK_n, 4, 3), matrix(XK_comma, 5, 3), matrix(XK_slash, 6, 3), matrix(XK_Next, 7, 3) /* CRSR DOWN */,
    // column 4
    matrix(XK_space, 0, 4), matrix(XK_z, 1, 4), matrix(XK_c, 2, 4), matrix(XK_b, 3, 4), matrix(XK_m, 4, 4),
    matrix(XK_period, 5, 4), matrix(XK_Shift_R, 6, 4), matrix(XK_F1, 7, 4),
    // column 5
    matrix(XK_Alt_L, 0, 5) /* C= */, matrix(XK_s, 1, 5), matrix(XK_f, 2, 5), matrix(XK_h, 3, 5),
    matrix(XK_k, 4, 5), matrix(XK_apostrophe, 5, 5) /* : */, matrix(XK_backslash, 6, 5) /* = */,
    matrix(XK_F3, 7, 5),
    // column 6
    matrix(XK_q, 0, 6), matrix(XK_e, 1, 6), matrix(XK_t, 2, 6), matrix(XK_u, 3, 6), matrix(XK_o, 4, 6),
    matrix(XK_bracketleft, 5, 6) /* @ */, matrix(XK_End, 6, 6) /* up arrow */, matrix(XK_F5, 7, 6),
    // column 7
    matrix(XK_2, 0, 7), matrix(XK_4, 1, 7), matrix(XK_6, 2, 7), matrix(XK_8, 3, 7), matrix(XK_0, 4, 7),
    matrix(XK_minus, 5, 7), matrix(XK_Home, 6, 7), matrix(XK_F7, 7, 7),

    // joystick (the paddles' fire buttons are the left and right lines); the
    // keypad's arrows with NumLock off
    joy(XK_Up, JOY_UP), joy(XK_KP_8, JOY_UP), joy(XK_Down, JOY_DOWN), joy(XK_KP_2, JOY_DOWN),
    joy(XK_Left, JOY_LEFT), joy(XK_KP_4, JOY_LEFT), joy(XK_Right, JOY_RIGHT), joy(XK_KP_6, JOY_RIGHT),
    joy(XK_Control_R, JOY_FIRE), joy(XK_KP_Up, JOY_UP), joy(XK_KP_Down, JOY_DOWN), joy(XK_KP_Left, JOY_LEFT),
    joy(XK_KP_Right, JOY_RIGHT),

    // paddles
    paddle(XK_KP_1, PADDLE_X_UP), paddle(XK_KP_3, PADDLE_X_DOWN), paddle(XK_KP_7, PADDLE_Y_UP),
    paddle(XK_KP_9, PADDLE_Y_DOWN),

    // machine commands
    command(XK_F2, CMD_LOAD_BASIC), command(XK_F4, CMD_SAVE_BASIC), command(XK_F11, CMD_RESET),
    command(XK_F12, CMD_RESTORE), command(XK_Escape, CMD_EXIT), command(XK_Pause, CMD_WARP),
    command(XK_F9, CMD_FULLSCREEN), command(XK_F10, CMD_MENU_BAR), command(XK_Menu, CMD_MONITOR),
    command(XK_F6, CMD_QUICK_SAVE), command(XK_F8, CMD_QUICK_LOAD), command(XK_Scroll_Lock, CMD_REWIND),
    command(XK_Print, CMD_SCREENSHOT),
};
const unsigned KEY_TABLE_SIZE = sizeof KEY_TABLE / sizeof KEY_TABLE[0];

const KeyBinding* find_key(KeySym sym) {
    if (sym & SYMBOL_KEY) return symbol_binding(sym);
    for (const KeyBinding& k : KEY_TABLE)
        if (k.sym == sym) return &k;
    return nullptr;
}

namespace {

// The modifiers of the last key event, for the commands that take them.
unsigned key_modifiers = 0;

// The count follows the matrix: a press of a key already down (auto-repeat)
// or the release of a key already up (after release_host_input) leaves it alone.
void press_matrix(uint8_t row, uint8_t col, bool press) {
    bool down = !(keyrow[7 - col] & (1u << row));
    if (press) {
        keyrow[7 - col] &= uint8_t(~(1u << row));
        keycol[row] &= uint8_t(~(1u << col));
        if (!down) keycount++;
    } else {
        keyrow[7 - col] |= uint8_t(1u << row);
        keycol[row] |= uint8_t(1u << col);
        if (down && keycount > 0) keycount--;
    }
}

// The VIC's two SHIFT keys as the host holds them, and the state a character
// key of another layout forces on them while it is down (-1: none).
constexpr uint8_t LEFT_SHIFT_ROW = 1, LEFT_SHIFT_COL = 3, RIGHT_SHIFT_ROW = 6, RIGHT_SHIFT_COL = 4;
bool host_shift[2];
int forced_shift = -1;

void show_shift() {
    press_matrix(LEFT_SHIFT_ROW, LEFT_SHIFT_COL, forced_shift == -1 ? host_shift[0] : forced_shift == 1);
    press_matrix(RIGHT_SHIFT_ROW, RIGHT_SHIFT_COL, forced_shift == -1 && host_shift[1]);
}

// A matrix key from the host; the SHIFT keys go through show_shift.
void press_host_matrix(uint8_t row, uint8_t col, bool press) {
    if ((row == LEFT_SHIFT_ROW && col == LEFT_SHIFT_COL) || (row == RIGHT_SHIFT_ROW && col == RIGHT_SHIFT_COL)) {
        host_shift[row == RIGHT_SHIFT_ROW] = press;
        show_shift();
        return;
    }
    press_matrix(row, col, press);
}

// A character key: its SHIFT state goes down with it and back with its release.
void press_character(uint8_t row, uint8_t col, bool shifted, bool press) {
    if (press) {
        forced_shift = shifted;
        show_shift();
        press_matrix(row, col, true);
    } else {
        press_matrix(row, col, false);
        forced_shift = -1;
        show_shift();
    }
}

struct LineMask {
    uint16_t* lines;
    uint16_t press_and;
    uint16_t release_or;
};

void move_joystick(JoystickLine line, bool press) {
    static const LineMask LINES[] = {
        {&joystick2, 0x00FB, 0x04},  // up
        {&joystick2, 0x00F7, 0x08},  // down
        {&joystick2, 0x00EF, 0x10},  // left
        {&joystick, 0x007F, 0x00FF},  // right: the release sets the whole byte
        {&joystick2, 0x00DF, 0x20},  // fire
    };
    const LineMask& m = LINES[line];
    if (press)
        *m.lines &= m.press_and;
    else if (line == JOY_RIGHT)
        *m.lines = m.release_or;
    else
        *m.lines |= m.release_or;
}

// A paddle register moves by 4 per press and stops at 0 and 255.
void move_paddle(PaddleMove move) {
    uint8_t& reg = memory[VIC_BASE + (move == PADDLE_X_UP || move == PADDLE_X_DOWN ? VIC_PADDLE_X : VIC_PADDLE_Y)];
    if (move == PADDLE_X_UP || move == PADDLE_Y_UP) {
        if (reg > 251) reg = 251;
        reg = uint8_t(reg + 4);
    } else {
        if (reg < 4) reg = 4;
        reg = uint8_t(reg - 4);
    }
}

void show(Widget dialog) {
    if (dialog) XtManageChild(dialog);
}

void run_command(KeyCommand cmd) {
    switch (cmd) {
    case CMD_LOAD_BASIC:
        show(load_basic_dialog);
        break;
    case CMD_SAVE_BASIC:
        check_basic_program();
        break;
    case CMD_RESET:
        reset_tarvikon();
        break;
    case CMD_RESTORE:
        memory[VIA1_BASE + VIA_IFR] |= IFR_CA1;
        break;
    case CMD_EXIT:
        shut_down_tarvikon();
        exit(0);
    case CMD_WARP:
        set_warp(!warp_speed);
        break;
    case CMD_FULLSCREEN:
        set_full_screen(!full_screen);
        break;
    case CMD_MONITOR:
        monitor_key();
        break;
    case CMD_MENU_BAR:
        toggle_menu_bar();
        break;
    case CMD_QUICK_SAVE:
        request_snapshot_save(QUICK_SNAPSHOT);
        break;
    case CMD_QUICK_LOAD:
        request_snapshot_load(QUICK_SNAPSHOT, false);
        break;
    case CMD_REWIND:
        rewind_held = true;
        break;
    case CMD_SCREENSHOT:
        request_screenshot(key_modifiers & ShiftMask);
        break;
    }
}

// Keys pressed in the last frames, kept until the frame count has moved on
// by two frame ends (one whole frame) after the press. While such a release
// waits, the matrix and joystick events behind it wait too and follow in
// their order: a burst of events (from a busy host) still reaches the machine
// as typed, Shift is never let go before its 8, nor CTRL kept for the next key.
struct HeldKey {
    KeySym sym;
    uint32_t pressed_at;
};
constexpr unsigned HELD_MAX = 16;
constexpr uint32_t HOLD_FRAMES = 2;
HeldKey held[HELD_MAX];
unsigned held_count = 0;
KeySym waiting_release = NoSymbol;

struct KeyEvent {
    KeySym sym;
    bool press;
};
constexpr unsigned QUEUE_MAX = 256;
KeyEvent queued[QUEUE_MAX];
unsigned queue_first = 0, queue_count = 0;

bool held_long_enough(const HeldKey& k) { return frame_count - k.pressed_at >= HOLD_FRAMES; }

void forget_held(unsigned i) { held[i] = held[--held_count]; }

HeldKey* find_held(KeySym sym) {
    for (unsigned i = 0; i < held_count; i++)
        if (held[i].sym == sym) return &held[i];
    return nullptr;
}

// A scale refuses values outside its range (a configuration file may hold
// any number), so the shown value is kept inside it.
void set_scale(Widget scale_widget, int value) {
    int lowest = 0, highest = 0;
    XtVaGetValues(scale_widget, XmNminimum, &lowest, XmNmaximum, &highest, nullptr);
    XtVaSetValues(scale_widget, XmNvalue, value < lowest ? lowest : value > highest ? highest : value, nullptr);
}

void set_number_label(Widget label, const char* format, unsigned value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    set_label(label, text);
}

// The chosen name of a file dialog as plain text; free it with XtFree.
char* chosen_file(XtPointer call_data) {
    auto* cbs = static_cast<XmFileSelectionBoxCallbackStruct*>(call_data);
    char* name = nullptr;
    if (!cbs || !XmStringGetLtoR(cbs->value, char_set, &name)) return nullptr;
    return name;
}

// OK runs the file operation on the chosen name; OK and Cancel hide the dialog.
void basic_file_chosen(Widget dialog, XtPointer client_data, XtPointer call_data, int (*operation)(const char*)) {
    intptr_t which = reinterpret_cast<intptr_t>(client_data);
    if (which == DIALOG_OK) {
        if (char* name = chosen_file(call_data)) {
            operation(name);
            XtFree(name);
        }
    }
    if (which == DIALOG_OK || which == DIALOG_CANCEL) XtUnmanageChild(dialog);
}

}  // namespace

namespace {
// The joystick lines the keys and the gamepads hold, one bit a line: a line
// is down while either holds it.
uint8_t held_by_keys = 0, held_by_pads = 0;

void hold_line(uint8_t& holder, JoystickLine line, bool press) {
    const uint8_t bit = uint8_t(1u << line);
    holder = uint8_t(press ? holder | bit : holder & ~bit);
    move_joystick(line, (held_by_keys | held_by_pads) & bit);
}
}  // namespace

void move_pad_lines(uint8_t lines, uint8_t before) {
    for (JoystickLine line : {JOY_UP, JOY_DOWN, JOY_LEFT, JOY_RIGHT, JOY_FIRE})
        if ((lines ^ before) & (1u << line)) hold_line(held_by_pads, line, lines & (1u << line));
}

void release_host_input() {
    std::memset(keyrow, 0xFF, sizeof keyrow);
    std::memset(keycol, 0xFF, sizeof keycol);
    keycount = 0;
    host_shift[0] = host_shift[1] = false;
    forced_shift = -1;
    held_count = 0;  // their late releases and the events behind are done with too
    waiting_release = NoSymbol;
    queue_count = 0;
    rewind_held = false;
    for (JoystickLine line : {JOY_UP, JOY_DOWN, JOY_LEFT, JOY_RIGHT, JOY_FIRE}) hold_line(held_by_keys, line, false);
}

KeySym key_symbol(XKeyEvent* key) {
    KeySym sym = XLookupKeysym(key, 0);
    if (!IsKeypadKey(sym)) return sym;
    // Shift would undo NumLock on the keypad; the VIC 20's own SHIFT is a
    // matrix key and has nothing to do with the level.
    XKeyEvent unshifted = *key;
    unshifted.state &= ~unsigned(ShiftMask | LockMask);
    char text[8];
    KeySym level = NoSymbol;
    XLookupString(&unshifted, text, sizeof text, &level, nullptr);
    return level;
}

bool handle_key(KeySym sym, bool press) {
    const KeyBinding* k = find_key(sym);
    if (!k) return false;
    switch (k->kind) {
    case KEY_MATRIX:
        press_host_matrix(k->a, k->b, press);
        break;
    case KEY_PLAIN:
    case KEY_SHIFTED:
        press_character(k->a, k->b, k->kind == KEY_SHIFTED, press);
        break;
    case KEY_JOYSTICK:
        hold_line(held_by_keys, JoystickLine(k->a), press);
        break;
    case KEY_PADDLE:
        if (press) move_paddle(PaddleMove(k->a));
        break;
    case KEY_COMMAND:
        if (press) run_command(KeyCommand(k->a));
        else if (k->a == CMD_REWIND) rewind_held = false;
        break;
    }
    return true;
}

namespace {

void apply_key_event(KeySym sym, bool press) {
    HeldKey* k = find_held(sym);
    if (press) {
        if (k) forget_held(unsigned(k - held));
        if (handle_key(sym, true) && held_count < HELD_MAX) held[held_count++] = {sym, frame_count};
        return;
    }
    if (k && !held_long_enough(*k)) {
        waiting_release = sym;
        return;
    }
    if (k) forget_held(unsigned(k - held));
    handle_key(sym, false);
}

// Lets the waiting release go once its key has been down a whole frame (or at
// once), then the events behind it up to the next release that must wait.
void let_go(bool at_once) {
    while (waiting_release != NoSymbol) {
        HeldKey* k = find_held(waiting_release);
        if (k && !held_long_enough(*k) && !at_once) return;
        if (k) forget_held(unsigned(k - held));
        handle_key(waiting_release, false);
        waiting_release = NoSymbol;
        at_once = false;
        while (queue_count && waiting_release == NoSymbol) {
            KeyEvent e = queued[queue_first];
            queue_first = (queue_first + 1) % QUEUE_MAX;
            queue_count--;
            apply_key_event(e.sym, e.press);
        }
    }
}

}  // namespace

void key_event(KeySym sym, bool press) {
    const KeyBinding* b = find_key(sym);
    if (!b) return;
    // Paddle and command keys act on the press alone and need no frame.
    if (b->kind == KEY_PADDLE || b->kind == KEY_COMMAND) {
        handle_key(sym, press);
        return;
    }
    if (waiting_release != NoSymbol && queue_count == QUEUE_MAX) let_go(true);
    if (waiting_release != NoSymbol) {
        queued[(queue_first + queue_count++) % QUEUE_MAX] = {sym, press};
        return;
    }
    apply_key_event(sym, press);
}

void release_held_keys() { let_go(false); }

void set_warp(bool on) {
    warp_speed = on ? 1 : 0;
    if (warp_item) XmToggleButtonSetState(warp_item, on, False);
}

PenPosition lightpen_position(int px, int py, unsigned scale_factor, unsigned top_overscan) {
    int s = int(scale_factor) + 1;
    int pen_x = px / (4 * s) + 23;
    int pen_y = py / (2 * s) + (top_overscan == 9 ? 2 : 12);
    return {uint8_t(pen_x & 0xFF), uint8_t(pen_y & 0xFF)};
}

void check_basic_program() {
    uint16_t start = memory_word(BASIC_START), end = memory_word(BASIC_END);
    show(end == uint16_t(start + 2) ? save_error_dialog : save_basic_dialog);
}

// ---- input handlers -------------------------------------------------------------------

void KeyboardCB(Widget, XtPointer, XEvent* event, Boolean*) {
    if (event->type != KeyPress && event->type != KeyRelease) return;
    key_modifiers = event->xkey.state;
    key_event(event_key(&event->xkey), event->type == KeyPress);
}

namespace {
// Without a focus window of its own the keyboard goes where the pointer is.
bool keyboard_follows_pointer(const XCrossingEvent& crossing) {
    Window focus;
    int revert;
    XGetInputFocus(crossing.display, &focus, &revert);
    return focus == PointerRoot || focus == crossing.root;
}
}  // namespace

void FocusCB(Widget, XtPointer, XEvent* event, Boolean*) {
    if (event->type == FocusOut && event->xfocus.detail != NotifyInferior) release_host_input();
    if (event->type == LeaveNotify && event->xcrossing.detail != NotifyInferior &&
        keyboard_follows_pointer(event->xcrossing))
        release_host_input();
}

void MouseCB(Widget, XtPointer, XEvent* event, Boolean*) {
    // The middle button pastes, as in every X program; the others are the fire button.
    if ((event->type == ButtonPress || event->type == ButtonRelease) && event->xbutton.button == Button2) {
        if (event->type == ButtonPress) paste_selection(true);
        return;
    }
    if (event->type == ButtonPress) {
        joystick2 &= 0x00DF;
    } else if (event->type == ButtonRelease) {
        joystick2 |= 0x20;
        // The pointer in the picture, at its zoom (the 8-bit window's is fixed).
        PictureFit at = view_active ? view_fit() : PictureFit{scale + 1u, 0, 0};
        PenPosition pen = lightpen_position(event->xbutton.x - at.x, event->xbutton.y - at.y, at.zoom - 1, overscan);
        Vic.lightpen_x = pen.x;
        Vic.lightpen_y = pen.y;
    }
}

// ---- menus and message dialogs ------------------------------------------------------------

// The drive the disk image dialog attaches to: the File menu item's.
unsigned attach_disk_unit = 8;

void menuCB(Widget, XtPointer client_data, XtPointer) {
    switch (reinterpret_cast<intptr_t>(client_data)) {
    case MENU_LOAD_BASIC:
        show(load_basic_dialog);
        break;
    case MENU_SAVE_BASIC:
        check_basic_program();
        break;
    case MENU_LOAD_CART:
        show(load_cart_dialog);
        break;
    case MENU_ATTACH_DISK:
    case MENU_ATTACH_DISK_9:
    case MENU_ATTACH_DISK_10:
    case MENU_ATTACH_DISK_11:
        attach_disk_unit = MENU_ATTACH_DISK == reinterpret_cast<intptr_t>(client_data)
                               ? 8
                               : unsigned(9 + reinterpret_cast<intptr_t>(client_data) - MENU_ATTACH_DISK_9);
        show(attach_disk_dialog);
        break;
    case MENU_ATTACH_TAPE:
        show(attach_tape_dialog);
        break;
    case MENU_TAPE_PLAY: tape_play(); break;
    case MENU_TAPE_STOP: tape_stop(); break;
    case MENU_TAPE_REWIND: tape_rewind(); break;
    case MENU_TAPE_RECORD: tape_record(); break;
    case MENU_TAPE_EJECT: tape_eject(); break;
    case MENU_TAPE_WARP:
        tape_warp = XmToggleButtonGetState(tape_warp_item);
        break;
    case MENU_REMOVE_CART:
        remove_rom_memory();
        show(clear_rom_dialog);
        reset_tarvikon();
        break;
    case MENU_SAVE_CONFIG:
        // A save that did not reach the disk is not reported as done, and the
        // item stays on for another try.
        if (save_config() != 0) {
            show(save_config_failed_dialog);
            break;
        }
        show(save_config_dialog);
        XtSetSensitive(save_config_item, False);
        break;
    case MENU_EXIT:
        shut_down_tarvikon();
        exit(0);
    case MENU_MEMORY:
        show(memory_dialog);
        break;
    case MENU_SPEED:
        interrupt_old = uint8_t(interrupt);
        delay_old = delay_loop;
        show(speed_dialog);
        break;
    case MENU_VIDEO:
        show(video_dialog);
        break;
    case MENU_RESET:
        reset_tarvikon();
        break;
    case MENU_WARP:
        set_warp(XmToggleButtonGetState(warp_item));
        break;
    case MENU_FULLSCREEN:
        set_full_screen(XmToggleButtonGetState(fullscreen_item));
        break;
    case MENU_SAVE_SNAPSHOT:
        show(save_snapshot_dialog);
        break;
    case MENU_LOAD_SNAPSHOT:
        show(load_snapshot_dialog);
        break;
    case MENU_REWIND_BUFFER:
        rewind_on = XmToggleButtonGetState(rewind_item);
        break;
    case MENU_ABOUT:
        show(about_window);
        break;
    case MENU_MONITOR:
        monitor_key();
        break;
    case MENU_OPEN:
        show(open_dialog);
        break;
    case MENU_PASTE:
        paste_selection(false);
        break;
    case MENU_COPY_SCREEN:
        copy_screen();
        break;
    case MENU_SCREENSHOT: request_screenshot(false); break;
    case MENU_SCREENSHOT_SCALED: request_screenshot(true); break;
    case MENU_RECORD_SOUND: toggle_sound_recording(); break;
    case MENU_JOYSTICK_PAD:
    case MENU_JOYSTICK_KEYS:
        set_gamepads_enabled(XmToggleButtonGetState(joystick_pad_item));
        break;
    default:
        if (intptr_t i = reinterpret_cast<intptr_t>(client_data) - MENU_RECENT_FIRST; i >= 0 && i < RECENT_MAX) {
            std::string file = recent_menu_file(unsigned(i));
            if (!file.empty()) show_opened(file);
        }
        break;
    }
}

void dialogCB(Widget w, XtPointer, XtPointer) { XtUnmanageChild(w); }

void dialog1CB(Widget w, XtPointer client_data, XtPointer call_data) {
    basic_file_chosen(w, client_data, call_data, readbasic);
}

void dialog2CB(Widget w, XtPointer client_data, XtPointer call_data) {
    basic_file_chosen(w, client_data, call_data, writebasic);
}

void fileListCB(Widget w, XtPointer, XtPointer) { XmFileSelectionDoSearch(w, nullptr); }

void dialog3CB(Widget, XtPointer client_data, XtPointer call_data) {
    if (reinterpret_cast<intptr_t>(client_data) == DIALOG_OK) {
        if (char* name = chosen_file(call_data)) {
            load_game_cartridge(name);
            if (!is_disk_image_name(name)) show(cart_start_dialog);  // an image needs no reset
            XtFree(name);
        }
    }
    XtUnmanageChild(load_cart_dialog);
}

// A file attached or started from a dialog is a recent one.
int keep_if_opened(const char* name, bool opened) {
    if (!opened) return -1;
    add_recent_file(name);
    rebuild_recent_menu();
    return 0;
}

void attach_disk_CB(Widget w, XtPointer client_data, XtPointer call_data) {
    basic_file_chosen(w, client_data, call_data,
                      [](const char* name) { return keep_if_opened(name, drive_attach_image(attach_disk_unit, name)); });
}

void show_halt_dialog() {
    if (!no_display) show(halt_dialog);
}

void show_wrongmemory_dialog(int expansion) {
    if (no_display) return;
    Widget dialogs[5] = {unexp_dialog, k3_dialog, k8_dialog, k16_dialog, k24_dialog};
    if (expansion >= 0 && expansion < 5) show(dialogs[expansion]);
}

// ---- settings dialogs -------------------------------------------------------------------

void memvalCB(Widget, XtPointer, XtPointer call_data) {
    int value = static_cast<XmScaleCallbackStruct*>(call_data)->value;
    if (value < 0 || value > EXP_ALL || uint32_t(value) == memexp) return;
    memexp = uint32_t(value);
    set_label(memory_value_label, expansion_name(memexp));
}

void memoryCB(Widget, XtPointer client_data, XtPointer) {
    switch (reinterpret_cast<intptr_t>(client_data)) {
    case DIALOG_OK:
        if (memexp != memdef) {
            config = 1;
            XtSetSensitive(save_config_item, True);
            reset_tarvikon();
        }
        if (XmToggleButtonGetState(ram_toggle)) {
            ram |= RAM_AT_A000;
            rombank[10] = rombank[11] = BLOCK_RAM;
        } else {
            ram &= uint8_t(~RAM_AT_A000);
            if (memdef != EXP_ALL) rombank[10] = rombank[11] = BLOCK_ROM;  // that layout has RAM there
        }
        break;
    case DIALOG_CANCEL:
        memexp = memdef;
        set_label(memory_value_label, expansion_name(memexp));
        set_scale(memory_scale, int(memexp));
        break;
    default:
        break;
    }
}

void speedvalCB(Widget, XtPointer client_data, XtPointer call_data) {
    int value = static_cast<XmScaleCallbackStruct*>(call_data)->value;
    switch (reinterpret_cast<intptr_t>(client_data)) {
    case SCALE_FRAME_RATE:
        if (value >= 1 && uint32_t(value) != interrupt) {
            interrupt = uint32_t(value);
            set_number_label(frame_value_label, "1/%d", interrupt);
        }
        break;
    case SCALE_DELAY:
        if (value >= 0 && value != delay_loop) {
            delay_loop = uint16_t(value);
            set_number_label(delay_value_label, "%d cycles", delay_loop);
        }
        break;
    default:
        break;
    }
}

void speedCB(Widget, XtPointer client_data, XtPointer) {
    switch (reinterpret_cast<intptr_t>(client_data)) {
    case DIALOG_OK:
        if (interrupt != interrupt_old || delay_loop != delay_old) XtSetSensitive(save_config_item, True);
        break;
    case DIALOG_CANCEL:
        interrupt = interrupt_old;
        delay_loop = delay_old;
        set_number_label(delay_value_label, "%d cycles", delay_loop);
        set_number_label(frame_value_label, "1/%d", interrupt);
        set_scale(speed_scale, int(interrupt));
        set_scale(delay_scale, delay_loop);
        break;
    default:
        break;
    }
}

void videoCB(Widget, XtPointer client_data, XtPointer) {
    if (reinterpret_cast<intptr_t>(client_data) != DIALOG_OK) return;
    vid_new = XmToggleButtonGetState(ntsc_toggle) ? 0 : 1;
    overscan_set = XmToggleButtonGetState(small_toggle) ? 9 : 28;
    if (vid_new == vid_time && overscan_set == overscan) return;
    XtSetSensitive(save_config_item, True);
    config = 1;
    reset_tarvikon();
}

void attach_tape_CB(Widget w, XtPointer client_data, XtPointer call_data) {
    basic_file_chosen(w, client_data, call_data,
                      [](const char* name) { return keep_if_opened(name, tape_attach(name)); });
}

std::string window_note;

void show_opened(const std::string& path) {
    const uint32_t expansion = memexp;
    window_note = open_file(path);
    // Started with other memory than the file's: that can be saved now.
    if (memexp != expansion) XtSetSensitive(save_config_item, True);
    show_tape_status();
    rebuild_recent_menu();
}

void open_CB(Widget w, XtPointer client_data, XtPointer call_data) {
    basic_file_chosen(w, client_data, call_data, [](const char* name) {
        show_opened(name);
        return 0;
    });
}

namespace {
std::string question_path;  // the snapshot the question is about
}

void save_snapshot_CB(Widget w, XtPointer client_data, XtPointer call_data) {
    basic_file_chosen(w, client_data, call_data, [](const char* name) {
        request_snapshot_save(name);
        return 0;
    });
}

void load_snapshot_CB(Widget w, XtPointer client_data, XtPointer call_data) {
    basic_file_chosen(w, client_data, call_data, [](const char* name) {
        request_snapshot_load(name, false);
        return 0;
    });
}

void ask_about_snapshot(const std::string& path) {
    question_path = path;
    show(snapshot_question_dialog);
}

void snapshot_question_CB(Widget w, XtPointer client_data, XtPointer) {
    if (reinterpret_cast<intptr_t>(client_data) == DIALOG_OK) request_snapshot_load(question_path, true);
    XtUnmanageChild(w);
}

void show_tape_status() {
    static std::string shown;
    std::string status = tape_status();
    if (!window_note.empty()) status = status.empty() ? window_note : window_note + "  " + status;
    if (!snapshot_note.empty()) status += (status.empty() ? "" : "  ") + snapshot_note;
    if (status == shown) return;
    shown = status;
    std::string title = status.empty() ? WINDOW_TITLE : std::string(WINDOW_TITLE) + "  " + status;
    XtVaSetValues(toplevel, XmNtitle, title.c_str(), nullptr);
}
