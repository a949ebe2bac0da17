// "Save config" from the menu: a configuration that did not reach the disk
// is reported as a failure, never as "Configuration saved !", and the item
// stays on for another try. Runs the interface in the process on a private
// 8-bit Xvfb.
#include "support.h"  // before the X headers, whose None would hide gtest's

#include <Xm/MessageB.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/host.h"
#include "core/memory.h"
#include "core/tarvikon.h"
#include "core/via.h"
#include "core/vic.h"
#include "ui/X.h"
#include "xvfb8.h"

// Motif keeps a few small blocks of its own for good; the sanitizer build's
// leak check passes over what it allocates.
extern "C" const char* __lsan_default_suppressions() { return "leak:libXm.so\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

namespace {

std::string message_of(Widget dialog) {
    XmString s = nullptr;
    XtVaGetValues(dialog, XmNmessageString, &s, nullptr);
    std::string out;
    XmStringContext components;
    if (s && XmStringInitContext(&components, s)) {
        for (;;) {
            unsigned int length = 0;
            XtPointer value = nullptr;
            XmStringComponentType type = XmStringGetNextTriple(components, &length, &value);
            if (type == XmSTRING_COMPONENT_END) break;
            if (type == XmSTRING_COMPONENT_TEXT || type == XmSTRING_COMPONENT_LOCALE_TEXT)
                out.append(static_cast<char*>(value), length);
            XtFree(static_cast<char*>(value));
        }
        XmStringFreeContext(components);
    }
    if (s) XmStringFree(s);
    return out;
}

TEST(SaveConfigMenu, AFailedSaveIsReportedAndTheItemStaysOn) {
    if (!on_path("Xvfb")) SKIP_OR_FAIL("needs Xvfb");
    Xvfb8 server;
    ASSERT_FALSE(server.display.empty()) << "Xvfb did not start";

    memory = static_cast<uint8_t*>(std::malloc(MEMORY_SIZE));
    std::memset(memory, 0xFF, MEMORY_SIZE);
    std::memset(rombank, 0, sizeof rombank);
    soundon = 0;
    verbose = 0;
    scale = 0;
    interrupt = 3;
    delay_loop = 120;
    memexp = memdef = 2;
    vid_time = vid_new = 1;
    overscan = overscan_set = 28;
    set_video_constants(1);
    wire_vias();
    wire_vic();
    install_io_handlers();
    std::string display = server.display;
    char arg0[] = "save_report_test", arg1[] = "-display";
    char* argv[] = {arg0, arg1, display.data(), nullptr};
    int argc = 3;
    host_init(&argc, argv);
    start_X_client();

    TempDir dir;
    char previous[4096];
    ASSERT_TRUE(getcwd(previous, sizeof previous));
    ASSERT_EQ(chdir(dir.path.c_str()), 0);

    EXPECT_EQ(message_of(save_config_failed_dialog), "Configuration could not be saved !");

    // A directory where the file belongs: nothing can be written.
    ASSERT_EQ(mkdir("tarvikon.rc", 0755), 0);
    XtSetSensitive(save_config_item, True);
    XtCallCallbacks(save_config_item, XmNactivateCallback, nullptr);
    EXPECT_TRUE(XtIsManaged(save_config_failed_dialog));
    EXPECT_FALSE(XtIsManaged(save_config_dialog));
    EXPECT_TRUE(XtIsSensitive(save_config_item));
    struct stat st;
    EXPECT_TRUE(stat("tarvikon.rc", &st) == 0 && S_ISDIR(st.st_mode));
    XtUnmanageChild(save_config_failed_dialog);

    // Once the way is clear the same item saves and says so.
    ASSERT_EQ(rmdir("tarvikon.rc"), 0);
    XtCallCallbacks(save_config_item, XmNactivateCallback, nullptr);
    EXPECT_TRUE(XtIsManaged(save_config_dialog));
    EXPECT_FALSE(XtIsManaged(save_config_failed_dialog));
    EXPECT_FALSE(XtIsSensitive(save_config_item));
    EXPECT_EQ(read_file("tarvikon.rc"), std::string("\x03\0\0\0\x02\0\0\0\x01\0\0\0\x78\0\x1c", 15));

    EXPECT_EQ(chdir(previous), 0);
    close_X_client();
}

}  // namespace
