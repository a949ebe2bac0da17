// The monitor through its socket, on the real ROMs: a client on a thread
// holds the conversation while the machine runs its main loop here.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/hooks.h"
#include "core/memory.h"
#include "core/tarvikon.h"
#include "files/fileio.h"
#include "files_support.h"
#include "monitor/debug.h"
#include "monitor/session.h"

namespace {

const int PORT = 20000 + getpid() % 30000;

void boot() {
    ASSERT_NO_FATAL_FAILURE(start_real_machine(1));
    for (int i = 0; i < 150; i++) run_frame();
    static bool listening = false;
    if (!listening) {
        set_remote_monitor_port(std::to_string(PORT).c_str());
        start_monitor();
        listening = true;
    }
}

// One frame as the program's main loop runs it.
void loop_frame() {
    if (frame_runner) frame_runner();
    else run_frame();
}

struct Client {
    int fd = -1;
    std::string buffer;

    bool open() {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(PORT));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    void send_line(const std::string& line) { (void)!write(fd, (line + "\n").data(), line.size() + 1); }

    // The text up to the next prompt (one at the start of a line).
    std::string answer() {
        for (;;) {
            for (size_t at = 0; (at = buffer.find(MONITOR_PROMPT, at)) != std::string::npos; at++)
                if (at == 0 || buffer[at - 1] == '\n') {
                    std::string text = buffer.substr(0, at);
                    buffer.erase(0, at + 2);
                    return text;
                }
            pollfd p{fd, POLLIN, 0};
            char chunk[4096];
            if (poll(&p, 1, 20000) <= 0) return "(no answer)";
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n <= 0) return "(closed)";
            buffer.append(chunk, size_t(n));
        }
    }
    void close_connection() { close(fd); }
};

// Runs `talk` on a thread with a client while the machine runs, up to
// frame `last_frame` at most.
void converse(const std::function<void(Client&)>& talk, uint32_t last_frame = UINT32_MAX) {
    std::atomic<bool> done = false;
    std::thread client([&] {
        Client c;
        if (c.open()) talk(c);
        c.close_connection();
        done = true;
    });
    for (int frames = 0; !done && frames < 100000 && frame_count < last_frame; frames++) loop_frame();
    client.join();
}

TEST(Monitor, CommandTableThroughTheSocket) {
    REQUIRE_ROMS();
    ASSERT_NO_FATAL_FAILURE(boot());
    struct Exchange {
        std::string command;
        std::string answer;  // a part of the answer
    };
    TempDir dir;
    const std::string file = dir.file("range.prg");
    const Exchange table[] = {
        {"a 1000 jsr $1010", "$1000  20 10 10  JSR $1010\n"},
        {"a 1003 sta $9114", "8D 14 91  STA $9114"},
        {"a 1006 jmp $1000", "JMP $1000"},
        {"a 1010 lda #$05", "A9 05"},
        {"a 1012 inx", "E8"},
        {"a 1013 rts", "60"},
        {"r PC=1000 X=00 P=24", "PC=$1000"},
        {"next", "Stepped over to $1003 after 16 cycles\n$1003  8D 14 91  STA $9114\n"},
        {"r", "A=$05 X=$01"},
        {"watch 9114 w if A==05", "Added 1: watch w $9114 if A==$05\n"},
        {"g", "Watchpoint 1: $05 written to $9114 at $1003 after 4 cycles"},
        {"m 9116 9116", "$9116  05"},
        {"io via1", "VIA1 $9110: port B"},
        {"break 1010", "Added 2: break $1010\n"},
        {"g", "Breakpoint 2 at $1010 after 9 cycles"},
        {"finish", "Returned to $1003"},
        {"delete 1", "Deleted 1\n"},
        {"step", "Stepped to $1006 after 4 cycles"},
        {"until 1003", "Breakpoint 2 at $1010"},
        {"delete 2", "Deleted 2"},
        {"until 1003", "Reached $1003"},
        {"d 1000 1006", "$1003  8D 14 91  STA $9114\n$1006  4C 00 10  JMP $1000\n"},
        {"m 1010 1013", "$1010  A9 05 E8 60"},
        {"frobnicate", "Unknown command: frobnicate (help lists the commands)\n"},
        {"m zz", "Bad address: zz\n"},
        {"break 10000", "Bad address: 10000\n"},
        {"delete 7", "No breakpoint or watchpoint 7\n"},
        {"watch 2000-1000", "Bad range: 2000-1000 ends before it starts\n"},
        {"a 1000 lda ($10", "Cannot assemble: bad operand ($10\n"},
        {"watch 9114 w if Q>1", "Bad condition: Q>1"},
        {"help", "watch ADDR[-ADDR] [r|w] [if COND]"},
        {"f 1100 1107 aa 55", "Filled $1100-$1107\n"},
        {"h 1100 1107 55 aa", "$1101\n$1103\n$1105\n3 found\n"},
        {"t 1100 1107 1108", "Moved $1100-$1107 to $1108\n"},
        {"set 1109 00", "Set 1 bytes at $1109\n"},
        {"c 1100 1107 1108", "$1101 $55, $1109 $00\n1 bytes differ\n"},
        {"save " + file + " 1100 1103", "Saved $1100-$1103 to " + file + " (with its load address)\n"},
        {"f 1100 1103 00", "Filled"},
        {"load " + file, "Loaded $1100-$1103\n"},
        {"m 1100 1103", "$1100  AA 55 AA 55"},
        {"load " + dir.file("none.prg"), "Cannot load " + dir.file("none.prg") + ": No such file or directory\n"},
        {"labels " + file, " holds no ld65 labels\n"},
    };
    std::vector<std::string> answers;
    std::string header, first;
    converse([&](Client& c) {
        c.send_line("r");
        header = c.answer();
        first = c.answer();
        for (const Exchange& e : table) {
            c.send_line(e.command);
            answers.push_back(c.answer());
        }
        c.send_line("x");
    });
    EXPECT_NE(header.find("Stopped by the remote monitor after "), std::string::npos) << header;
    EXPECT_NE(first.find("PC=$"), std::string::npos) << first;
    ASSERT_EQ(answers.size(), std::size(table));
    for (size_t i = 0; i < answers.size(); i++)
        EXPECT_NE(answers[i].find(table[i].answer), std::string::npos) << table[i].command << "\n" << answers[i];
}

// Memory, registers, flags, the clock and the raster position.
std::string machine_state() {
    std::string s(reinterpret_cast<const char*>(memory), MEMORY_SIZE);
    s += std::to_string(Register.PC) + "," + std::to_string(Register.A) + "," + std::to_string(Register.X) + "," +
         std::to_string(Register.Y) + "," + std::to_string(Register.SP) + "," + std::to_string(compose_p()) + "," +
         std::to_string(machine_cycle()) + "," + std::to_string(raster);
    return s;
}

// Runs main-loop frames until the frame counter reaches `target`.
void run_to_frame(uint32_t target) {
    while (frame_count < target) loop_frame();
}

// A machine that stops, is looked at from every side and left, runs on as
// one that never stopped; closing the socket leaves the monitor too.
TEST(Monitor, LeavingChangesNothingAndAClosedSocketLeaves) {
    REQUIRE_ROMS();
    ASSERT_NO_FATAL_FAILURE(boot());
    run_to_frame(frame_count + 200);
    const std::string reference = machine_state();

    ASSERT_NO_FATAL_FAILURE(boot());  // the frame counter counts on
    const uint32_t end_at = frame_count + 200;
    run_to_frame(frame_count + 100);
    request_stop("Stopped for the test");
    std::string header, regs;
    const std::string said = capture_stdout([&] {
        converse([&](Client& c) {
            header = c.answer();
            for (const char* command : {"m 0 ffff", "d", "io", "cycles", "profile", "break", "screen", "labels"}) {
                c.send_line(command);
                c.answer();
            }
            c.send_line("r");
            regs = c.answer();
        }, end_at);  // closed without x
    });
    // No client yet when it stopped: the terminal had the stop.
    EXPECT_EQ(said.substr(0, said.find(" after ")), "Stopped for the test");
    EXPECT_TRUE(said.ends_with("> Remote monitor closed; the machine goes on\n")) << said;
    EXPECT_NE(header.find("Stopped for the test after "), std::string::npos) << header;
    EXPECT_NE(regs.find(" cycles since the last stop"), std::string::npos) << regs;
    run_to_frame(end_at);
    EXPECT_TRUE(machine_state() == reference) << "the machine ran differently after the monitor";
    EXPECT_EQ(frame_runner, nullptr);
}

}  // namespace
