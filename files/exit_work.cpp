// Exit work: at exit, and deferred signals done at the end of a frame.
#include "exit_work.h"

#include <csignal>
#include <cstdlib>
#include <iterator>

#include "../core/hooks.h"

namespace {

struct ExitWork {
    void (*work)();
    bool (*waiting)();
};
constexpr unsigned MAX_WORK = 4;
ExitWork works[MAX_WORK];
volatile std::sig_atomic_t work_count = 0;

constexpr int EXIT_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};
volatile std::sig_atomic_t pending_signal = 0;

void do_all_work() {
    for (int i = 0; i < work_count; i++) works[i].work();
}

bool any_waiting() {
    for (int i = 0; i < work_count; i++)
        if (works[i].waiting()) return true;
    return false;
}

void on_exit_signal(int signal_number) {
    if (pending_signal || !any_waiting()) {
        std::signal(signal_number, SIG_DFL);
        std::raise(signal_number);
        return;
    }
    pending_signal = signal_number;
}

void end_on_pending_signal() {
    if (!pending_signal) return;
    do_all_work();
    std::signal(pending_signal, SIG_DFL);
    std::raise(pending_signal);
}

}  // namespace

void add_exit_work(void (*work)(), bool (*waiting)()) {
    for (int i = 0; i < work_count; i++)
        if (works[i].work == work) return;
    if (work_count == int(MAX_WORK)) return;
    works[work_count] = {work, waiting};
    work_count = work_count + 1;
    if (work_count > 1) return;
    std::atexit(do_all_work);
    for (int s : EXIT_SIGNALS) {
        struct sigaction old;
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) std::signal(s, on_exit_signal);
    }
    add_frame_call(end_on_pending_signal);
}
