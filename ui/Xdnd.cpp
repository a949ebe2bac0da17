// Files dropped on the window from a file manager, by the XDND protocol
// (version 5): the shell says it takes drops, answers each position with
// "copy" while the source offers a URI list, and on the drop fetches the
// list through the XdndSelection and opens its first local file.
#include "X.h"

#include <X11/Xatom.h>
#include <unistd.h>

#include <string>

#include "../start/open_file.h"

namespace {

constexpr long XDND_VERSION = 5;

struct Drag {
    Window source = None;
    bool takes = false;  // the source offers text/uri-list
} drag;

Atom atom(const char* name) { return XInternAtom(TKDisplay, name, False); }

void reply(Atom type, long l1, long l4) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.display = TKDisplay;
    e.xclient.window = drag.source;
    e.xclient.message_type = type;
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(XtWindow(toplevel));
    e.xclient.data.l[1] = l1;
    e.xclient.data.l[4] = l4;
    XSendEvent(TKDisplay, drag.source, False, NoEventMask, &e);
    XFlush(TKDisplay);
}

// Up to three types in the message itself, or the source's XdndTypeList.
bool offers_uri_list(const XClientMessageEvent& m) {
    const Atom wanted = atom("text/uri-list");
    if (!(m.data.l[1] & 1)) {
        for (int i = 2; i <= 4; i++)
            if (Atom(m.data.l[i]) == wanted) return true;
        return false;
    }
    Atom type;
    int format;
    unsigned long count = 0, after;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(TKDisplay, Window(m.data.l[0]), atom("XdndTypeList"), 0, 64, False, XA_ATOM, &type, &format,
                           &count, &after, &data) == Success && data && format == 32) {
        const Atom* types = reinterpret_cast<const Atom*>(data);
        for (unsigned long i = 0; i < count; i++) found = found || types[i] == wanted;
    }
    if (data) XFree(data);
    return found;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void dropped(Widget, XtPointer, Atom*, Atom* type, XtPointer value, unsigned long* length, int* format) {
    std::string path;
    if (value && *type != XT_CONVERT_FAIL && *format == 8)
        path = first_local_file(std::string(static_cast<const char*>(value), *length));
    if (value) XtFree(static_cast<char*>(value));
    reply(atom("XdndFinished"), path.empty() ? 0 : 1, path.empty() ? None : long(atom("XdndActionCopy")));
    drag = {};
    if (!path.empty()) show_opened(path);
}

void client_message(Widget, XtPointer, XEvent* event, Boolean*) {
    if (event->type != ClientMessage) return;
    const XClientMessageEvent& m = event->xclient;
    const Atom type = m.message_type;
    if (type == atom("XdndEnter")) {
        drag.source = Window(m.data.l[0]);
        drag.takes = (m.data.l[1] >> 24) <= XDND_VERSION && offers_uri_list(m);
    } else if (type == atom("XdndPosition") && Window(m.data.l[0]) == drag.source) {
        reply(atom("XdndStatus"), drag.takes ? 1 : 0, drag.takes ? long(atom("XdndActionCopy")) : None);
    } else if (type == atom("XdndLeave")) {
        drag = {};
    } else if (type == atom("XdndDrop") && Window(m.data.l[0]) == drag.source) {
        if (!drag.takes) {
            reply(atom("XdndFinished"), 0, None);
            drag = {};
            return;
        }
        XtGetSelectionValue(toplevel, atom("XdndSelection"), atom("text/uri-list"), dropped, nullptr, Time(m.data.l[2]));
    }
}

}  // namespace

std::string first_local_file(const std::string& uri_list) {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    size_t start = 0;
    while (start < uri_list.size()) {
        size_t end = uri_list.find('\n', start);
        if (end == std::string::npos) end = uri_list.size();
        std::string line = uri_list.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#' || line.compare(0, 7, "file://") != 0) continue;
        // file:///path, or file://host/path on this host only.
        const size_t slash = line.find('/', 7);
        const std::string authority = line.substr(7, slash == std::string::npos ? std::string::npos : slash - 7);
        if (slash == std::string::npos || !(authority.empty() || authority == "localhost" || authority == host))
            continue;
        std::string path;
        bool valid = true;
        for (size_t i = slash; i < line.size(); i++) {
            if (line[i] != '%') {
                path += line[i];
                continue;
            }
            const int high = i + 2 < line.size() ? hex_digit(line[i + 1]) : -1;
            const int low = high >= 0 ? hex_digit(line[i + 2]) : -1;
            if (low < 0 || (high == 0 && low == 0)) {
                valid = false;
                break;
            }
            path += char(high << 4 | low);
            i += 2;
        }
        if (valid) return path;
    }
    return "";
}

void start_drop_target() {
    const Atom version = XDND_VERSION;
    XChangeProperty(TKDisplay, XtWindow(toplevel), atom("XdndAware"), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&version), 1);
    XtAddEventHandler(toplevel, NoEventMask, True, client_message, nullptr);
}
