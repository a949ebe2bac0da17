// Zip archives through libzip: checked whole, then one file taken out.
#include "archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "../files/exit_work.h"
#include "../files/fileutil.h"

namespace {

constexpr const char* VIC_SUFFIXES[] = {"prg", "crt", "a0", "20", "60", "b0", "d64", "tap", "t64"};

std::string folder;
pid_t folder_owner = 0;
unsigned taken_out = 0;  // each archive's file gets a subfolder of its own

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string base_name(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// An entry's path leaves the archive's folder when it is absolute or has a
// ".." step; backslashes count as separators, as some packers write them.
bool path_escapes(const std::string& name) {
    if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return true;
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); i++) {
        if (i < name.size() && name[i] != '/' && name[i] != '\\') continue;
        if (name.compare(start, i - start, "..") == 0 && i - start == 2) return true;
        start = i + 1;
    }
    return false;
}

// The sound process is a fork: only the process that made the folder removes it.
bool folder_to_remove() { return !folder.empty() && getpid() == folder_owner; }

bool make_folder() {
    if (!folder.empty()) return true;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvikon-XXXXXX";
    if (!mkdtemp(pattern.data())) return false;  // mode 0700
    folder = pattern;
    folder_owner = getpid();
    add_exit_work(remove_archive_folder, folder_to_remove);
    return true;
}

struct Refusal {
    std::string why;
};

// The archive's entries checked as a whole; the index of the first VIC 20
// file, -1 when there is none.
zip_int64_t check_entries(zip_t* archive, Refusal& refusal) {
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    if (count > ARCHIVE_MAX_ENTRIES) {
        refusal.why = "it holds more than " + std::to_string(ARCHIVE_MAX_ENTRIES) + " entries";
        return -1;
    }
    uint64_t total = 0;
    zip_int64_t first = -1;
    for (zip_int64_t i = 0; i < count; i++) {
        zip_stat_t st;
        if (zip_stat_index(archive, zip_uint64_t(i), 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME) ||
            !(st.valid & ZIP_STAT_SIZE)) {
            refusal.why = "it is damaged";
            return -1;
        }
        const std::string name = st.name;
        if (path_escapes(name)) {
            refusal.why = "the path " + name + " leaves its folder";
            return -1;
        }
        if (st.size > ARCHIVE_ENTRY_LIMIT) {
            refusal.why = name + " would unpack to more than " + std::to_string(ARCHIVE_ENTRY_LIMIT >> 20) + " MB";
            return -1;
        }
        total += st.size;
        if (total > ARCHIVE_TOTAL_LIMIT) {
            refusal.why = "it would unpack to more than " + std::to_string(ARCHIVE_TOTAL_LIMIT >> 20) + " MB";
            return -1;
        }
        if (first == -1 && name.back() != '/' && is_vic_file_name(base_name(name))) first = i;
    }
    return first;
}

// The entry's bytes, never more than its stated size: a stream that goes on
// (or ends early, or fails its checksum) is damaged.
bool read_entry(zip_t* archive, zip_int64_t index, std::vector<uint8_t>& bytes) {
    zip_stat_t st;
    if (zip_stat_index(archive, zip_uint64_t(index), 0, &st) != 0) return false;
    zip_file_t* file = zip_fopen_index(archive, zip_uint64_t(index), 0);
    if (!file) return false;
    bytes.resize(size_t(st.size) + 1);
    zip_int64_t got = 0, n = 0;
    while (got < zip_int64_t(bytes.size()) &&
           (n = zip_fread(file, bytes.data() + got, zip_uint64_t(bytes.size()) - zip_uint64_t(got))) > 0)
        got += n;
    zip_fclose(file);
    if (n < 0 || got != zip_int64_t(st.size)) return false;
    bytes.resize(size_t(got));
    return true;
}

std::string write_out(const std::string& name, const std::vector<uint8_t>& bytes) {
    if (!make_folder()) return "";
    const std::string sub = folder + "/" + std::to_string(++taken_out);
    if (mkdir(sub.c_str(), 0700) != 0) return "";
    const std::string path = sub + "/" + name;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0400);
    if (fd == -1) return "";
    bool ok = write_all(fd, bytes.data(), bytes.size());
    if (close(fd) != 0 || !ok) return "";
    keep_read_only(path.c_str());
    return path;
}

}  // namespace

bool is_archive_name(const char* name) { return lower(base_name(name ? name : "")).ends_with(".zip"); }

bool is_vic_file_name(const std::string& name) {
    const std::string own = base_name(name);
    const size_t dot = own.find('.');
    if (dot == std::string::npos) return false;
    const std::string suffix = lower(own.substr(dot + 1));
    for (const char* s : VIC_SUFFIXES)
        if (suffix == s) return true;
    return false;
}

std::string take_out_of_archive(const std::string& path) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!archive) {
        printf("Refused %s: %s\n", path.c_str(),
               error == ZIP_ER_NOENT || error == ZIP_ER_OPEN ? "it cannot be opened" : "it is no zip archive or damaged");
        return "";
    }
    Refusal refusal;
    const zip_int64_t index = check_entries(archive, refusal);
    std::vector<uint8_t> bytes;
    std::string name, out;
    if (index >= 0) {
        name = base_name(zip_get_name(archive, zip_uint64_t(index), 0));
        if (!read_entry(archive, index, bytes)) refusal.why = name + " is damaged";
    }
    zip_discard(archive);
    if (!refusal.why.empty()) {
        printf("Refused %s: %s\n", path.c_str(), refusal.why.c_str());
        return "";
    }
    if (index < 0) {
        printf("Nothing to start in %s: it holds no VIC 20 file\n", path.c_str());
        return "";
    }
    out = write_out(name, bytes);
    if (out.empty()) printf("Refused %s: %s cannot be taken out\n", path.c_str(), name.c_str());
    return out;
}

std::vector<std::string> take_out_of_archives(const std::vector<const char*>& files) {
    std::vector<std::string> out;
    for (const char* file : files) {
        if (!is_archive_name(file)) {
            out.push_back(file);
            continue;
        }
        std::string inside = take_out_of_archive(file);
        if (!inside.empty()) out.push_back(inside);
    }
    return out;
}

std::string archive_folder() { return folder; }

void remove_archive_folder() {
    if (!folder_to_remove()) return;
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    folder.clear();
    taken_out = 0;
}
