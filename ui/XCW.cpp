// Widget builders: the menus, the file-selection and message dialogs, the three
// settings dialogs and the drawing area. Everything is built once at start-up,
// hidden, and later shown and hidden by managing it.
#include "X.h"

#include <Xm/CascadeB.h>
#include <Xm/DialogS.h>
#include <Xm/DrawingA.h>
#include <Xm/FileSB.h>
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/MessageB.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/Scale.h>
#include <Xm/Separator.h>
#include <Xm/ToggleB.h>
#include <Xm/ToggleBG.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../core/memory.h"
#include "../core/pacing.h"
#include "../core/rewind.h"
#include "../core/tarvikon.h"
#include "../devices/datasette.h"
#include "../start/recent.h"

XmStringCharSet char_set = const_cast<XmStringCharSet>(XmSTRING_DEFAULT_CHARSET);

Widget file_menu, options_menu, about_menu;
Widget load_basic_item, save_basic_item, load_cart_item, clear_item, attach_disk_item, save_config_item, quit_item;
Widget memory_item, speed_item, video_item, reset_item, about_item;
Widget warp_item;
Widget tape_warp_item, attach_tape_dialog;
Widget fullscreen_item;
Widget edit_menu, recent_menu, open_dialog;
Widget rewind_item, save_snapshot_dialog, load_snapshot_dialog, snapshot_question_dialog;
Widget joystick_pad_item;

Widget load_basic_dialog, save_basic_dialog, load_cart_dialog, attach_disk_dialog;
Widget about_window;
Widget cart_start_dialog, save_config_dialog, clear_rom_dialog;
Widget halt_dialog, unexp_dialog, k3_dialog, k8_dialog, k16_dialog, k24_dialog, save_error_dialog;
Widget save_config_failed_dialog;

Widget memory_dialog, memory_label, memory_scale, memory_value_label, sep1, ram_label, ram_toggle, sep2, button,
    button2;
Widget speed_dialog, speed_label, speed_scale, frame_value_label, sep3, speed_label2, delay_scale,
    delay_value_label, sep4, button3, button4;
Widget video_dialog, video_label, video_radio_box, ntsc_toggle, pal_toggle, sep5, overscan_label,
    overscan_radio_box, small_toggle, large_toggle, sep6, button5, button6;

namespace {

constexpr const char* ABOUT_TEXT =
    "Tarvikon for Linux V0.8\n\n"
    "A Commodore VIC 20 emulator for X and Motif,\n"
    "written by the Tarvikon developers.\n\n"
    "It runs the VIC 20's own kernal, BASIC and character ROMs,\n"
    "which you supply in the roms/ directory.\n\n"
    "Questions and bug reports: the Tarvikon issue tracker.";

XtPointer data(intptr_t value) { return reinterpret_cast<XtPointer>(value); }

XmString text_of(const char* text) { return XmStringCreateLtoR(const_cast<char*>(text), char_set); }

// Resources of one widget, with compound strings released after creation.
struct Args {
    Arg list[24];
    Cardinal count = 0;
    XmString strings[8];
    unsigned string_count = 0;

    Args& set(const char* name, XtArgVal value) {
        XtSetArg(list[count], const_cast<char*>(name), value);
        count++;
        return *this;
    }
    Args& text(const char* name, const char* value) {
        XmString s = text_of(value);
        strings[string_count++] = s;
        return set(name, XtArgVal(s));
    }
    ~Args() {
        for (unsigned i = 0; i < string_count; i++) XmStringFree(strings[i]);
    }
};

Widget push_item(Widget menu, const char* label, intptr_t client) {
    Args a;
    a.text(XmNlabelString, label);
    Widget item = XtCreateManagedWidget(label, xmPushButtonWidgetClass, menu, a.list, a.count);
    XtAddCallback(item, XmNactivateCallback, menuCB, data(client));
    return item;
}

Widget toggle_item(Widget menu, const char* label, bool on, intptr_t client) {
    Args a;
    a.text(XmNlabelString, label).set(XmNset, on ? XmSET : XmUNSET).set(XmNvisibleWhenOff, True);
    Widget item = XtCreateManagedWidget(label, xmToggleButtonWidgetClass, menu, a.list, a.count);
    XtAddCallback(item, XmNvalueChangedCallback, menuCB, data(client));
    return item;
}

void separator(Widget menu) { XtCreateManagedWidget("sep", xmSeparatorWidgetClass, menu, nullptr, 0); }

Widget pulldown(Widget menu_bar, const char* name, bool tear_off, Widget* cascade) {
    Args a;
    if (tear_off) a.set(XmNtearOffModel, XmTEAR_OFF_ENABLED).text(XmNtearOffTitle, name);
    Widget menu = XmCreatePulldownMenu(menu_bar, const_cast<char*>(name), a.list, a.count);
    Args c;
    c.set(XmNsubMenuId, XtArgVal(menu)).text(XmNlabelString, name);
    *cascade = XtCreateManagedWidget(name, xmCascadeButtonWidgetClass, menu_bar, c.list, c.count);
    return menu;
}

// The dialog creators hand their resources to the dialog shell as well, whose
// minimum and maximum sizes then keep the dialog at its fixed size.
// Only a load needs a file that is there; a save may name a new one.
Widget file_dialog(const char* name, const char* title, XtCallbackProc handler, bool must_match) {
    Args a;
    a.text(XmNdialogTitle, title)
        .text(XmNselectionLabelString, "Please enter file name : ")
        .set(XmNheight, 400)
        .set(XmNwidth, 400)
        .set(XmNminHeight, 400)
        .set(XmNmaxHeight, 400)
        .set(XmNminWidth, 400)
        .set(XmNmaxWidth, 400)
        .set(XmNmustMatch, must_match)
        .set(XmNresizePolicy, XmRESIZE_NONE);
    Widget dialog = XmCreateFileSelectionDialog(toplevel, const_cast<char*>(name), a.list, a.count);
    XtAddCallback(dialog, XmNokCallback, handler, data(DIALOG_OK));
    XtAddCallback(dialog, XmNcancelCallback, handler, data(DIALOG_CANCEL));
    XtAddCallback(dialog, XmNmapCallback, fileListCB, nullptr);
    XtUnmanageChild(XmFileSelectionBoxGetChild(dialog, XmDIALOG_HELP_BUTTON));
    return dialog;
}

using MessageCreator = Widget (*)(Widget, String, ArgList, Cardinal);

Widget message_dialog(MessageCreator create, Widget parent, const char* title, const char* text,
                      bool fixed_size) {
    Args a;
    a.text(XmNdialogTitle, title).text(XmNmessageString, text);
    if (fixed_size) a.set(XmNresizePolicy, XmRESIZE_NONE);
    Widget dialog = create(parent, const_cast<char*>("dialog"), a.list, a.count);
    XtAddCallback(dialog, XmNokCallback, dialogCB, data(DIALOG_OK));
    XtUnmanageChild(XmMessageBoxGetChild(dialog, XmDIALOG_CANCEL_BUTTON));
    XtUnmanageChild(XmMessageBoxGetChild(dialog, XmDIALOG_HELP_BUTTON));
    return dialog;
}

// ---- form layout ------------------------------------------------------------------------

// One edge of a form child: unattached, at the form's edge, at a per cent of
// the form, or below another child.
struct Side {
    enum Kind { NONE, FORM, POSITION, BELOW } kind;
    int position;
    Widget* widget;
};
constexpr Side NONE{Side::NONE, 0, nullptr};
constexpr Side FORM{Side::FORM, 0, nullptr};
constexpr Side at(int percent) { return {Side::POSITION, percent, nullptr}; }
constexpr Side below(Widget& w) { return {Side::BELOW, 0, &w}; }

void attach(Args& a, Side side, const char* attachment, const char* position, const char* widget) {
    switch (side.kind) {
    case Side::NONE:
        a.set(attachment, XmATTACH_NONE);
        break;
    case Side::FORM:
        a.set(attachment, XmATTACH_FORM);
        break;
    case Side::POSITION:
        a.set(attachment, XmATTACH_POSITION).set(position, side.position);
        break;
    case Side::BELOW:
        a.set(attachment, XmATTACH_WIDGET).set(widget, XtArgVal(*side.widget));
        break;
    }
}

Args& place(Args& a, Side top, Side left, Side right, Side bottom) {
    attach(a, top, XmNtopAttachment, XmNtopPosition, XmNtopWidget);
    attach(a, left, XmNleftAttachment, XmNleftPosition, XmNleftWidget);
    attach(a, right, XmNrightAttachment, XmNrightPosition, XmNrightWidget);
    attach(a, bottom, XmNbottomAttachment, XmNbottomPosition, XmNbottomWidget);
    return a;
}

Widget form_dialog(Widget parent, const char* title, Dimension width, Dimension height) {
    Args a;
    a.text(XmNdialogTitle, title)
        .set(XmNwidth, width)
        .set(XmNheight, height)
        .set(XmNminWidth, width)
        .set(XmNmaxWidth, width)
        .set(XmNminHeight, height)
        .set(XmNmaxHeight, height)
        .set(XmNresizePolicy, XmRESIZE_NONE);
    return XmCreateFormDialog(parent, const_cast<char*>("form"), a.list, a.count);
}

Widget label(Widget form, const char* name, const char* text, Side top, Side left, Side right, Side bottom) {
    Args a;
    a.text(XmNlabelString, text);
    place(a, top, left, right, bottom);
    return XtCreateManagedWidget(name, xmLabelWidgetClass, form, a.list, a.count);
}

Widget rule(Widget form, const char* name, Side top) {
    Args a;
    a.set(XmNorientation, XmHORIZONTAL);
    place(a, top, FORM, FORM, NONE);
    return XtCreateManagedWidget(name, xmSeparatorWidgetClass, form, a.list, a.count);
}

Widget slider(Widget form, const char* name, int lowest, int highest, int value, XtCallbackProc handler,
             intptr_t client, Side top, Side left) {
    Args a;
    a.set(XmNorientation, XmHORIZONTAL)
        .set(XmNminimum, lowest)
        .set(XmNmaximum, highest)
        .set(XmNvalue, value < lowest ? lowest : value > highest ? highest : value);
    place(a, top, left, NONE, NONE);
    Widget w = XtCreateManagedWidget(name, xmScaleWidgetClass, form, a.list, a.count);
    // A click in the trough or a key moves the slider without a drag.
    XtAddCallback(w, XmNdragCallback, handler, data(client));
    XtAddCallback(w, XmNvalueChangedCallback, handler, data(client));
    return w;
}

Widget push_button(Widget form, const char* name, const char* text, XtCallbackProc handler, intptr_t client,
                   Side left) {
    Args a;
    a.text(XmNlabelString, text);
    place(a, at(80), left, NONE, NONE);
    Widget w = XtCreateManagedWidget(name, xmPushButtonWidgetClass, form, a.list, a.count);
    XtAddCallback(w, XmNactivateCallback, handler, data(client));
    return w;
}

Widget radio_box(Widget form, const char* name, Side top) {
    Args a;
    a.set(XmNorientation, XmHORIZONTAL);
    place(a, top, at(5), FORM, NONE);
    Widget box = XmCreateRadioBox(form, const_cast<char*>(name), a.list, a.count);
    XtManageChild(box);
    return box;
}

// Toggle gadgets show their widget name as label.
Widget radio_toggle(Widget box, const char* name, bool set) {
    Args a;
    a.set(XmNset, set ? XmSET : XmUNSET);
    return XtCreateManagedWidget(name, xmToggleButtonGadgetClass, box, a.list, a.count);
}

}  // namespace

void set_label(Widget label_widget, const char* text) {
    XmString s = text_of(text);
    XtVaSetValues(label_widget, XmNlabelString, s, nullptr);
    XmStringFree(s);
}

// ---- menus ------------------------------------------------------------------------------

namespace {
std::vector<std::string> recent_shown;
}

void rebuild_recent_menu() {
    WidgetList items = nullptr;
    Cardinal count = 0;
    XtVaGetValues(recent_menu, XmNchildren, &items, XmNnumChildren, &count, nullptr);
    std::vector<Widget> old(items, items + count);
    for (Widget w : old) XtDestroyWidget(w);
    recent_shown = recent_files();
    for (unsigned i = 0; i < recent_shown.size(); i++) push_item(recent_menu, recent_shown[i].c_str(), MENU_RECENT_FIRST + i);
}

std::string recent_menu_file(unsigned i) { return i < recent_shown.size() ? recent_shown[i] : ""; }

void create_menus(Widget menu_bar) {
    Widget file_cascade, edit_cascade, options_cascade, help_cascade;

    file_menu = pulldown(menu_bar, "File", true, &file_cascade);
    push_item(file_menu, "Open...", MENU_OPEN);
    Widget recent_cascade;
    recent_menu = pulldown(file_menu, "Recent", false, &recent_cascade);
    rebuild_recent_menu();
    separator(file_menu);
    load_basic_item = push_item(file_menu, "Load basic...  F2", MENU_LOAD_BASIC);
    save_basic_item = push_item(file_menu, "Save basic...  F4", MENU_SAVE_BASIC);
    separator(file_menu);
    load_cart_item = push_item(file_menu, "Load cart...", MENU_LOAD_CART);
    clear_item = push_item(file_menu, "Remove cart", MENU_REMOVE_CART);
    attach_disk_item = push_item(file_menu, "Attach disk image...", MENU_ATTACH_DISK);
    push_item(file_menu, "Attach disk image to drive 9...", MENU_ATTACH_DISK_9);
    push_item(file_menu, "Attach disk image to drive 10...", MENU_ATTACH_DISK_10);
    push_item(file_menu, "Attach disk image to drive 11...", MENU_ATTACH_DISK_11);
    separator(file_menu);
    push_item(file_menu, "Save snapshot...  F6 quick", MENU_SAVE_SNAPSHOT);
    push_item(file_menu, "Load snapshot...  F8 quick", MENU_LOAD_SNAPSHOT);
    separator(file_menu);
    push_item(file_menu, "Attach tape image...", MENU_ATTACH_TAPE);
    push_item(file_menu, "Play", MENU_TAPE_PLAY);
    push_item(file_menu, "Stop", MENU_TAPE_STOP);
    push_item(file_menu, "Rewind", MENU_TAPE_REWIND);
    push_item(file_menu, "Record", MENU_TAPE_RECORD);
    push_item(file_menu, "Eject", MENU_TAPE_EJECT);
    separator(file_menu);
    save_config_item = push_item(file_menu, "Save config", MENU_SAVE_CONFIG);
    push_item(file_menu, "Save screenshot       Print", MENU_SCREENSHOT);
    push_item(file_menu, "Screenshot as shown   Shift+Print", MENU_SCREENSHOT_SCALED);
    record_sound_item = toggle_item(file_menu, "Record sound", false, MENU_RECORD_SOUND);
    separator(file_menu);
    quit_item = push_item(file_menu, "Exit           ESC", MENU_EXIT);

    edit_menu = pulldown(menu_bar, "Edit", true, &edit_cascade);
    push_item(edit_menu, "Paste", MENU_PASTE);
    push_item(edit_menu, "Copy screen", MENU_COPY_SCREEN);

    options_menu = pulldown(menu_bar, "Options", true, &options_cascade);
    memory_item = push_item(options_menu, "Memory...", MENU_MEMORY);
    speed_item = push_item(options_menu, "Speed...", MENU_SPEED);
    video_item = push_item(options_menu, "Video...", MENU_VIDEO);
    separator(options_menu);
    reset_item = push_item(options_menu, "Reset VIC 20      F11", MENU_RESET);
    warp_item = toggle_item(options_menu, "Warp speed", warp_speed, MENU_WARP);
    tape_warp_item = toggle_item(options_menu, "Warp while the tape runs", tape_warp, MENU_TAPE_WARP);
    fullscreen_item = toggle_item(options_menu, "Full screen", false, MENU_FULLSCREEN);
    push_item(options_menu, "Monitor   Menu key", MENU_MONITOR);
    rewind_item = toggle_item(options_menu, "Rewind buffer", rewind_on, MENU_REWIND_BUFFER);
    {
        Widget joystick_cascade;
        Widget joystick_menu = pulldown(options_menu, "Joystick", false, &joystick_cascade);
        XtVaSetValues(joystick_menu, XmNradioBehavior, True, XmNradioAlwaysOne, True, nullptr);
        joystick_pad_item = toggle_item(joystick_menu, "Gamepad and keys", true, MENU_JOYSTICK_PAD);
        toggle_item(joystick_menu, "Keys only", false, MENU_JOYSTICK_KEYS);
    }

    about_menu = pulldown(menu_bar, "Help", false, &help_cascade);
    about_item = push_item(about_menu, "About...", MENU_ABOUT);
    XtVaSetValues(menu_bar, XmNmenuHelpWidget, help_cascade, nullptr);

    if (!config) XtSetSensitive(save_config_item, False);
}

// ---- file and message dialogs -------------------------------------------------------------

void create_file_dialogs() {
    load_basic_dialog = file_dialog("load_basic_dialog", "Load BASIC program...", dialog1CB, true);
    save_basic_dialog = file_dialog("save basic dialog", "Save BASIC program...", dialog2CB, false);
    load_cart_dialog = file_dialog("load crt dialog", "Load Cart program...", dialog3CB, true);
    attach_disk_dialog = file_dialog("attach disk dialog", "Attach disk image...", attach_disk_CB, true);
    // A .tap name that does not exist yet is a new tape to record on.
    attach_tape_dialog = file_dialog("attach tape dialog", "Attach tape image...", attach_tape_CB, false);
    open_dialog = file_dialog("open dialog", "Open...", open_CB, true);
    save_snapshot_dialog = file_dialog("save snapshot dialog", "Save snapshot...", save_snapshot_CB, false);
    load_snapshot_dialog = file_dialog("load snapshot dialog", "Load snapshot...", load_snapshot_CB, true);
}

Widget create_about_dialog(Widget parent) {
    return message_dialog(XmCreateMessageDialog, parent, "About Tarvikon for Linux", ABOUT_TEXT, true);
}

Widget create_information_dialog(Widget parent, const char* text) {
    return message_dialog(XmCreateInformationDialog, parent, "Message", text, false);
}

Widget create_question_dialog(Widget parent, const char* text, XtCallbackProc handler) {
    Args a;
    a.text(XmNdialogTitle, "Question").text(XmNmessageString, text);
    Widget dialog = XmCreateQuestionDialog(parent, const_cast<char*>("question"), a.list, a.count);
    XtAddCallback(dialog, XmNokCallback, handler, data(DIALOG_OK));
    XtAddCallback(dialog, XmNcancelCallback, handler, data(DIALOG_CANCEL));
    XtUnmanageChild(XmMessageBoxGetChild(dialog, XmDIALOG_HELP_BUTTON));
    return dialog;
}

Widget create_error_dialog(Widget parent, const char* text) {
    return message_dialog(XmCreateErrorDialog, parent, "Error Message", text, false);
}

// ---- settings dialogs ---------------------------------------------------------------------

Widget create_memory_dialog(Widget parent) {
    Widget form = form_dialog(parent, "Memory Settings", 250, 200);
    memory_label = label(form, "memory_label", "Memory expansion :", FORM, FORM, FORM, at(20));
    memory_scale = slider(form, "memory_scale", 0, EXP_ALL, memdef, memvalCB, SCALE_MEMORY, below(memory_label), at(10));
    memory_value_label = label(form, "memory_value_label", expansion_name(memexp), below(memory_label), at(50),
                               FORM, NONE);
    sep1 = rule(form, "sep1", at(40));
    ram_label = label(form, "ram_label", "RAM at $a000 :", at(55), at(10), NONE, NONE);
    {
        Args a;
        a.text(XmNlabelString, "enable").set(XmNset, (ram & RAM_AT_A000) ? XmSET : XmUNSET);
        place(a, at(53), at(60), NONE, NONE);
        ram_toggle = XtCreateManagedWidget("ram_toggle", xmToggleButtonWidgetClass, form, a.list, a.count);
    }
    sep2 = rule(form, "sep2", at(70));
    button = push_button(form, "button", "Apply", memoryCB, DIALOG_OK, at(10));
    button2 = push_button(form, "button2", "Cancel", memoryCB, DIALOG_CANCEL, at(70));
    return form;
}

Widget create_speed_dialog(Widget parent) {
    char text[32];
    Widget form = form_dialog(parent, "Speed Settings", 250, 200);
    speed_label = label(form, "speed_label", "Frame rate :", FORM, FORM, FORM, at(20));
    speed_scale =
        slider(form, "speed_scale", 1, 6, int(interrupt), speedvalCB, SCALE_FRAME_RATE, below(speed_label), at(10));
    std::snprintf(text, sizeof text, "1/%d", int(interrupt));
    frame_value_label = label(form, "frame_value_label", text, below(speed_label), at(50), FORM, NONE);
    sep3 = rule(form, "sep3", at(35));
    speed_label2 = label(form, "speed_label2", "Delay :", at(40), FORM, FORM, NONE);
    delay_scale = slider(form, "delay_scale", 0, 500, delay_loop, speedvalCB, SCALE_DELAY, at(55), at(10));
    std::snprintf(text, sizeof text, "%d cycles", delay_loop);
    delay_value_label = label(form, "delay_value_label", text, at(55), at(50), FORM, NONE);
    sep4 = rule(form, "sep4", at(70));
    button3 = push_button(form, "button3", "  OK  ", speedCB, DIALOG_OK, at(10));
    button4 = push_button(form, "button4", "Cancel", speedCB, DIALOG_CANCEL, at(70));
    return form;
}

Widget create_video_dialog(Widget parent) {
    Widget form = form_dialog(parent, "Video Settings", 250, 250);
    video_label = label(form, "video_label", "Video Mode :", FORM, FORM, FORM, at(20));
    video_radio_box = radio_box(form, "video_radio_box", at(20));
    ntsc_toggle = radio_toggle(video_radio_box, "NTSC-M (6560)", vid_new == 0);
    pal_toggle = radio_toggle(video_radio_box, "PAL-G (6561) ", vid_new == 1);
    sep5 = rule(form, "sep5", at(35));
    overscan_label = label(form, "overscan_label", "Overscan (top) :", at(40), FORM, FORM, NONE);
    overscan_radio_box = radio_box(form, "overscan_radio_box", at(55));
    small_toggle = radio_toggle(overscan_radio_box, " 9 lines      ", overscan_set == 9);
    large_toggle = radio_toggle(overscan_radio_box, " 28 lines     ", overscan_set == 28);
    sep6 = rule(form, "sep6", at(70));
    button5 = push_button(form, "button5", "Apply", videoCB, DIALOG_OK, at(10));
    button6 = push_button(form, "button6", "Cancel", videoCB, DIALOG_CANCEL, at(70));
    return form;
}

// ---- drawing area ---------------------------------------------------------------------------

Widget create_drawingarea(Widget parent, const char* name) {
    AreaSize size = drawing_area_size(screen_width, last_line, overscan, scale);
    Args a;
    a.set(XmNheight, size.height).set(XmNwidth, size.width);
    Widget area = XtCreateManagedWidget(name, xmDrawingAreaWidgetClass, parent, a.list, a.count);
    XtAddEventHandler(area, ButtonPressMask, False, MouseCB, data(INPUT_PRESS));
    XtAddEventHandler(area, ButtonReleaseMask, False, MouseCB, data(INPUT_RELEASE));
    XtAddEventHandler(area, KeyPressMask, False, KeyboardCB, data(INPUT_PRESS));
    XtAddEventHandler(area, KeyReleaseMask, False, KeyboardCB, data(INPUT_PRESS));
    XtAddEventHandler(area, FocusChangeMask | LeaveWindowMask, False, FocusCB, nullptr);
    XtAddEventHandler(area, PointerMotionMask, False, PointerCB, nullptr);
    return area;
}
