// The X selections: Edit > Paste types the clipboard's text into the
// machine, a middle click the primary selection's; Edit > Copy screen puts
// the screen's text on the clipboard. Through Xt's selection calls, which
// do the ICCCM's conversions and incremental transfers.
#include "X.h"

#include <X11/Xatom.h>

#include <cstring>
#include <string>

#include "../core/screen_text.h"
#include "../devices/paste.h"

namespace {

std::string copied;  // the text the clipboard holds while we own it

Atom atom(const char* name) { return XInternAtom(TKDisplay, name, False); }

std::string utf8_from_latin1(const char* text, unsigned long length) {
    std::string out;
    for (unsigned long i = 0; i < length; i++) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The owner's answer: UTF-8 text, or (asked again for STRING by an older
// owner) Latin-1 text.
void selection_arrived(Widget w, XtPointer asked_utf8, Atom* selection, Atom* type, XtPointer value,
                       unsigned long* length, int* format) {
    const bool utf8 = asked_utf8 != nullptr;
    const bool failed = !value || *type == XT_CONVERT_FAIL || *type == None || *format != 8;
    if (failed && utf8) {
        XtGetSelectionValue(w, *selection, XA_STRING, selection_arrived, nullptr, XtLastTimestampProcessed(TKDisplay));
    } else if (!failed) {
        const char* text = static_cast<const char*>(value);
        paste_text(utf8 ? std::string(text, *length) : utf8_from_latin1(text, *length));
    }
    if (value) XtFree(static_cast<char*>(value));
}

Boolean convert_copied(Widget, Atom*, Atom* target, Atom* type, XtPointer* value, unsigned long* length,
                       int* format) {
    const Atom utf8 = atom("UTF8_STRING"), text = atom("TEXT"), targets = atom("TARGETS");
    if (*target == targets) {
        Atom* list = reinterpret_cast<Atom*>(XtMalloc(4 * sizeof(Atom)));
        list[0] = targets;
        list[1] = utf8;
        list[2] = text;
        list[3] = XA_STRING;
        *type = XA_ATOM;
        *value = list;
        *length = 4;
        *format = 32;
        return True;
    }
    std::string out = copied;
    if (*target == XA_STRING) {
        // Latin-1 holds only the first 256 code points; the rest become '?'.
        out.clear();
        for (size_t i = 0; i < copied.size(); i++) {
            const unsigned char c = static_cast<unsigned char>(copied[i]);
            if (c < 0x80) {
                out += char(c);
            } else if ((c == 0xC2 || c == 0xC3) && i + 1 < copied.size()) {
                out += char((c & 0x03) << 6 | (copied[++i] & 0x3F));
            } else if (c >= 0xC0) {
                out += '?';
            }
        }
    } else if (*target != utf8 && *target != text) {
        return False;
    }
    char* bytes = XtMalloc(Cardinal(out.size() + 1));
    std::memcpy(bytes, out.data(), out.size());
    *type = *target == XA_STRING ? XA_STRING : utf8;
    *value = bytes;
    *length = out.size();
    *format = 8;
    return True;
}

}  // namespace

void paste_selection(bool primary) {
    const Atom selection = primary ? XA_PRIMARY : atom("CLIPBOARD");
    XtGetSelectionValue(drawing_area, selection, atom("UTF8_STRING"), selection_arrived, reinterpret_cast<XtPointer>(1),
                        XtLastTimestampProcessed(TKDisplay));
}

void copy_screen() {
    copied = screen_text();
    XtOwnSelection(drawing_area, atom("CLIPBOARD"), XtLastTimestampProcessed(TKDisplay), convert_copied, nullptr,
                   nullptr);
}
