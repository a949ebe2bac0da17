// The monitor's terminal and socket. While it is open the machine stands:
// this loop waits in poll() on the terminal, the listening socket and the
// client, and returns only when a command resumes the machine.
#include "session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../core/hooks.h"
#include "commands.h"
#include "debug.h"

namespace {

int remote_port = -1;
int listen_fd = -1, client_fd = -1;
bool terminal_open = true;           // standard input has not ended
std::string terminal_input, client_input;
constexpr size_t MAX_LINE = 4096;

void say_terminal(const std::string& text) {
    fputs(text.c_str(), stdout);
    fflush(stdout);
}

void send_client(const std::string& text) {
    if (client_fd == -1) return;
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = send(client_fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the close shows up as the next read
        sent += size_t(n);
    }
}

void drop_client() {
    if (client_fd == -1) return;
    close(client_fd);
    client_fd = -1;
    client_input.clear();
}

void accept_client() {
    const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd == -1) return;
    drop_client();  // a new client takes the place of the old one
    client_fd = fd;
}

// Reads what is there; false when the connection or input has ended.
bool read_into(int fd, std::string& buffer) {
    char chunk[1024];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (n <= 0) return false;
    buffer.append(chunk, size_t(n));
    return true;
}

// The next whole line of a buffer, without its end; false when none is complete.
bool take_line(std::string& buffer, std::string& line) {
    const size_t end = buffer.find('\n');
    if (end == std::string::npos) {
        if (buffer.size() <= MAX_LINE) return false;
        line = buffer.substr(0, MAX_LINE);  // answered as an unknown or bad command
        buffer.clear();
        return true;
    }
    line = buffer.substr(0, end);
    buffer.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// Runs the complete lines waiting in a buffer; true when one resumed the machine.
bool serve(std::string& buffer, void (*answer)(const std::string&)) {
    std::string line;
    while (take_line(buffer, line)) {
        std::string out;
        const bool resumed = run_command(line, out);
        answer(resumed ? out : out + MONITOR_PROMPT);
        if (resumed) return true;
    }
    return false;
}

// The socket's share of a running machine, once a frame: a client's line
// stops it; the monitor then serves that line.
void poll_remote() {
    pollfd fds[2] = {{listen_fd, POLLIN, 0}, {client_fd, POLLIN, 0}};
    if (poll(fds, 2, 0) > 0) {
        if (fds[0].revents & POLLIN) accept_client();
        if (client_fd != -1 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) && !read_into(client_fd, client_input))
            drop_client();
    }
    // Lines sent after one that resumed the machine stop it again.
    if (client_input.find('\n') != std::string::npos) request_stop("Stopped by the remote monitor");
}

}  // namespace

void open_monitor(const std::string& reason) {
    const std::string header = stop_header(reason) + MONITOR_PROMPT;
    if (client_fd != -1) send_client(header);
    else say_terminal(header);
    if (serve(client_input, send_client) || serve(terminal_input, say_terminal)) return;
    for (;;) {
        pollfd fds[3] = {{terminal_open ? 0 : -1, POLLIN, 0}, {listen_fd, POLLIN, 0}, {client_fd, POLLIN, 0}};
        if (!terminal_open && listen_fd == -1) {
            // Nothing can ever send a command: the machine goes on.
            resume(Plan::RUN);
            return;
        }
        if (poll(fds, 3, -1) < 0) continue;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!read_into(0, terminal_input)) {
                terminal_open = false;
                if (!terminal_input.empty()) terminal_input += '\n';  // the last line, unended
            }
            if (serve(terminal_input, say_terminal)) return;
        }
        if (fds[1].revents & POLLIN) {
            accept_client();
            send_client(header);
        }
        if (client_fd != -1 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            if (!read_into(client_fd, client_input)) {
                drop_client();
                say_terminal("Remote monitor closed; the machine goes on\n");
                resume(Plan::RUN);
                return;
            }
            if (serve(client_input, send_client)) return;
        }
    }
}

void monitor_at_start() { request_stop("Monitor opened at start"); }

void set_remote_monitor_port(const char* value) {
    char* end = nullptr;
    const long port = std::strtol(value, &end, 10);
    if (end == value || *end || port < 1 || port > 65535) {
        printf("-remotemonitor needs a port number from 1 to 65535, not %s\n", value);
        return;
    }
    remote_port = int(port);
}

void start_monitor() {
    if (remote_port == -1 || listen_fd != -1) return;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int on = 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(remote_port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd == -1 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 1) != 0) {
        printf("Remote monitor: cannot listen on 127.0.0.1:%d: %s\n", remote_port, std::strerror(errno));
        if (fd != -1) close(fd);
        return;
    }
    listen_fd = fd;
    add_frame_call(poll_remote);
}

void monitor_key() { request_stop("Stopped by the monitor key"); }
