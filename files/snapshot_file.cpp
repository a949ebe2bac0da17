// Snapshot files on disk and the window's deferred requests.
#include "snapshot_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "../core/snapshot.h"
#include "fileutil.h"

std::string snapshot_note;
void (*ask_snapshot_load)(const std::string& path) = nullptr;

namespace {

constexpr size_t SNAPSHOT_LIMIT = 16u << 20;  // far beyond any snapshot

// The folder part of a path, for the temporary file beside it.
std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// 0, or the errno of the step that failed; the temporary file is gone then.
int write_beside(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string temp = folder_of(path) + "/.snapshot-XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd == -1) return errno;
    const mode_t mask = umask(0);
    umask(mask);
    int error = 0;
    if (fchmod(fd, 0666 & ~mask) != 0 || !write_all(fd, bytes.data(), bytes.size()) || fsync(fd) != 0)
        error = errno ? errno : EIO;
    if (close(fd) != 0 && !error) error = errno;
    if (!error && rename(temp.c_str(), path.c_str()) != 0) error = errno;
    if (error) unlink(temp.c_str());
    return error;
}

struct Request {
    enum Kind { NONE, SAVE, LOAD } kind = NONE;
    std::string path;
    bool agreed = false;
};
Request pending;

}  // namespace

bool save_snapshot_file(const char* path) {
    printf("Saving snapshot %s...", path);
    errno = 0;
    if (const int error = write_beside(path, save_machine_state(true))) {
        printf("failed: %s\n", strerror(error));
        return false;
    }
    fputs("OK\n", stdout);
    char when[16];
    const time_t now = time(nullptr);
    strftime(when, sizeof when, "%H:%M:%S", localtime(&now));
    snapshot_note = std::string(path) + " saved " + when;
    return true;
}

// The line is printed once the load is over: a device that takes up its
// file again says so on a line of its own before it.
bool load_snapshot_file(const char* path, bool agreed, bool* ask) {
    std::vector<uint8_t> bytes;
    const off_t length = read_file_start(path, SNAPSHOT_LIMIT, bytes);
    if (length == -1 || size_t(length) != bytes.size()) {
        const char* why = length == -1 ? "cannot be read" : "too long for a snapshot";
        printf("Loading snapshot %s...refused: %s\n", path, why);
        return false;
    }
    const StateCheck c = load_machine_state(bytes.data(), bytes.size(), agreed);
    if (c.refusal == StateRefusal::NONE || (agreed && c.refusal != StateRefusal::DAMAGED)) {
        printf("Loading snapshot %s...OK%s%s\n", path, c.refusal == StateRefusal::NONE ? "" : ", ", c.reason.c_str());
        return true;
    }
    if (ask) *ask = c.refusal != StateRefusal::DAMAGED;
    printf("Loading snapshot %s...refused: %s\n", path, c.reason.c_str());
    return false;
}

void request_snapshot_save(const std::string& path) { pending = {Request::SAVE, path, false}; }
void request_snapshot_load(const std::string& path, bool agreed) { pending = {Request::LOAD, path, agreed}; }

void snapshot_between_frames() {
    const Request r = pending;
    pending = {};
    bool ask = false;
    if (r.kind == Request::SAVE) save_snapshot_file(r.path.c_str());
    if (r.kind == Request::LOAD && !load_snapshot_file(r.path.c_str(), r.agreed, &ask) && ask && ask_snapshot_load)
        ask_snapshot_load(r.path);
}
