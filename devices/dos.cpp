// The drives' DOS: channels, the status line and the command table.
#include "dos.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "drive8.h"
#include "drive_media.h"

namespace {

constexpr unsigned CHANNELS = 16;
constexpr unsigned COMMAND_CHANNEL = 15;
constexpr unsigned SAVE_CHANNEL = 1;
constexpr unsigned DATA_CHANNELS_MAX = 5;  // the 1541's buffers for files
constexpr size_t NAME_LIMIT = 16;
constexpr unsigned BLOCK_SIZE = 256;
constexpr unsigned BLOCK_DATA = 254;
constexpr uint8_t CR = 0x0D;
constexpr uint8_t EMPTY_RECORD = 0xFF;  // a REL record never written
constexpr uint8_t TYPE_CLOSED = 0x80, TYPE_MASK = 0x07;
constexpr unsigned DRIVES = LAST_DRIVE + 1 - FIRST_DRIVE;

// Status codes as the drive numbers them.
enum Code : uint8_t {
    OK = 0, SCRATCHED = 1, READ_ERROR = 20, WRITE_ERROR = 25, WRITE_PROTECT = 26, SYNTAX = 30, UNKNOWN_COMMAND = 31,
    LONG_LINE = 32, BAD_NAME = 33, NO_NAME = 34, NO_RECORD = 50, OVERFLOW = 51, TOO_LARGE = 52, WRITE_OPEN = 60,
    NOT_OPEN = 61, NOT_FOUND = 62, EXISTS = 63, MISMATCH = 64, NO_BLOCK = 65, ILLEGAL_SECTOR = 66,
    NO_CHANNEL = 70, DIR_ERROR = 71, DISK_FULL = 72, POWER_ON = 73, NOT_READY = 74,
};

struct Message {
    uint8_t code;
    const char* text;
};
constexpr Message MESSAGES[] = {
    {OK, " OK"}, {SCRATCHED, " FILES SCRATCHED"}, {READ_ERROR, "READ ERROR"}, {WRITE_ERROR, "WRITE ERROR"},
    {WRITE_PROTECT, "WRITE PROTECT ON"}, {SYNTAX, "SYNTAX ERROR"}, {UNKNOWN_COMMAND, "SYNTAX ERROR"},
    {LONG_LINE, "SYNTAX ERROR"}, {BAD_NAME, "SYNTAX ERROR"}, {NO_NAME, "SYNTAX ERROR"},
    {NO_RECORD, "RECORD NOT PRESENT"}, {OVERFLOW, "OVERFLOW IN RECORD"}, {TOO_LARGE, "FILE TOO LARGE"},
    {WRITE_OPEN, "WRITE FILE OPEN"}, {NOT_OPEN, "FILE NOT OPEN"}, {NOT_FOUND, "FILE NOT FOUND"},
    {EXISTS, "FILE EXISTS"}, {MISMATCH, "FILE TYPE MISMATCH"}, {NO_BLOCK, "NO BLOCK"},
    {ILLEGAL_SECTOR, "ILLEGAL TRACK AND SECTOR"}, {NO_CHANNEL, "NO CHANNEL"}, {DIR_ERROR, "DIR ERROR"},
    {DISK_FULL, "DISK FULL"}, {POWER_ON, "CBM DOS V2.6 1541"}, {NOT_READY, "DRIVE NOT READY"},
};

struct StatusOf {
    DiskStatus status;
    Code code;
};
constexpr StatusOf CODES[] = {
    {DiskStatus::OK, OK}, {DiskStatus::NOT_FOUND, NOT_FOUND}, {DiskStatus::READ_ERROR, READ_ERROR},
    {DiskStatus::DISK_FULL, DISK_FULL}, {DiskStatus::EXISTS, EXISTS}, {DiskStatus::WRITE_ERROR, WRITE_ERROR},
    {DiskStatus::BAD_IMAGE, NOT_READY}, {DiskStatus::WRITE_PROTECTED, WRITE_PROTECT},
    {DiskStatus::NO_BLOCK, NO_BLOCK}, {DiskStatus::ILLEGAL_SECTOR, ILLEGAL_SECTOR},
};

Code code_of(DiskStatus status) {
    for (const StatusOf& s : CODES)
        if (s.status == status) return s.code;
    return READ_ERROR;
}

enum class Mode { CLOSED, READ, WRITE, RELATIVE, BUFFER };

struct Channel {
    Mode mode = Mode::CLOSED;
    std::vector<uint8_t> data;  // the file, the bytes written, or the block buffer
    size_t pos = 0;
    // WRITE and RELATIVE: what goes to the medium at close.
    std::string name;
    uint8_t type = FILE_SEQ;
    bool replace = false;
    bool changed = false;
    // RELATIVE
    uint8_t record_length = 0;
    size_t record = 0;
    bool record_fresh = true;  // the next byte written starts the record anew
};

struct Drive {
    std::array<Channel, CHANNELS> channels;
    uint8_t code = POWER_ON, track = 0, sector = 0;
    std::vector<uint8_t> reply;  // what channel 15 sends next
    size_t reply_pos = 0;
    std::string command;         // what channel 15 received so far
};
Drive drives[DRIVES];

Drive* drive_of(unsigned unit) { return is_drive_unit(unit) ? &drives[unit - FIRST_DRIVE] : nullptr; }

void set_status(Drive& d, uint8_t code, uint8_t track = 0, uint8_t sector = 0) {
    d.code = code;
    d.track = track;
    d.sector = sector;
    d.reply.clear();
    d.reply_pos = 0;
}

// ---- channels -------------------------------------------------------------------

size_t record_count(const Channel& c) { return c.data.size() / c.record_length; }

// Grows a REL file to hold `records`, by whole blocks of empty records as
// the drive does.
void grow_relative(Channel& c, size_t records) {
    size_t bytes = (records * c.record_length + BLOCK_DATA - 1) / BLOCK_DATA * BLOCK_DATA;
    size_t total = std::max<size_t>(bytes / c.record_length, records);
    for (size_t r = record_count(c); r < total; r++) {
        c.data.push_back(EMPTY_RECORD);
        c.data.insert(c.data.end(), c.record_length - 1, 0);
    }
    c.changed = true;
}

// Writes a file open for writing to the medium; the status tells how it went.
void finish_channel(unsigned unit, Drive& d, Channel& c) {
    if ((c.mode == Mode::WRITE || c.mode == Mode::RELATIVE) && c.changed) {
        // A file closed without a byte holds a CR, as on the drive.
        if (c.data.empty()) c.data.push_back(CR);
        DiskStatus s = drive_write(unit, c.name, c.type, c.record_length, c.data, c.replace || c.mode == Mode::RELATIVE);
        if (s != DiskStatus::OK) set_status(d, code_of(s));
    }
    c = Channel{};
}

unsigned open_data_channels(const Drive& d) {
    unsigned n = 0;
    for (unsigned i = 0; i < COMMAND_CHANNEL; i++) n += d.channels[i].mode != Mode::CLOSED;
    return n;
}

// The name's parts: "[@][n:]name[,type][,mode]" or "name,L,<length>".
struct OpenName {
    DriveName name;
    char type = 0, mode = 0;
    int record_length = -1;  // after ",L,"
};

OpenName parse_open_name(const std::string& raw) {
    OpenName o;
    o.name = parse_drive_name(raw);
    size_t comma = raw.find(',');
    if (o.name.directory || comma == std::string::npos) return o;
    std::string rest = raw.substr(comma + 1);
    while (!rest.empty()) {
        char letter = char(rest[0] & 0x7F);
        if (letter == 'L') {
            o.type = 'L';
            size_t at = rest.find(',');
            if (at != std::string::npos && at + 1 < rest.size()) o.record_length = uint8_t(rest[at + 1]);
            else o.record_length = 0;
            break;
        }
        if (letter == 'S' || letter == 'P' || letter == 'U' || letter == 'D') o.type = letter;
        else if (letter == 'R' || letter == 'W' || letter == 'A' || letter == 'M') o.mode = letter;
        size_t next = rest.find(',');
        if (next == std::string::npos) break;
        rest.erase(0, next + 1);
    }
    return o;
}

uint8_t type_of_letter(char letter) {
    switch (letter) {
    case 'S': return FILE_SEQ;
    case 'P': return FILE_PRG;
    case 'U': return FILE_USR;
    case 'L': return FILE_REL;
    default: return 0;
    }
}

// The first file matching a pattern, or nullptr.
const DiskFile* find_file(unsigned unit, const DiskListing& listing, const std::string& pattern) {
    for (const DiskFile& f : listing.files)
        if ((f.type & TYPE_CLOSED) && drive_name_matches(pattern, f.name, drive_folds_case(unit))) return &f;
    return nullptr;
}

bool is_pattern(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

void open_buffer(Drive& d, Channel& c) {
    c.mode = Mode::BUFFER;
    c.data.assign(BLOCK_SIZE, 0);
    c.pos = 0;
    set_status(d, OK);
}

void open_directory(unsigned unit, Drive& d, Channel& c, const std::string& raw) {
    std::vector<uint8_t> listing;
    DiskStatus s = drive_load(unit, raw, listing);
    if (s != DiskStatus::OK) return set_status(d, code_of(s));
    c.mode = Mode::READ;
    c.data = std::move(listing);
    set_status(d, OK);
}

void open_file(unsigned unit, Drive& d, unsigned channel, const std::string& raw) {
    Channel& c = d.channels[channel];
    OpenName o = parse_open_name(raw);
    std::string name = o.name.pattern.substr(0, NAME_LIMIT);
    DiskListing listing;
    if (DiskStatus s = drive_listing(unit, listing); s != DiskStatus::OK) return set_status(d, code_of(s));
    uint8_t type = type_of_letter(o.type);
    char mode = o.mode ? o.mode : channel == SAVE_CHANNEL ? 'W' : 'R';
    if (channel == SAVE_CHANNEL && !type) type = FILE_PRG;
    if (name.empty()) return set_status(d, NO_NAME);
    const DiskFile* found = find_file(unit, listing, name);

    if (o.type == 'L' || (found && (found->type & TYPE_MASK) == FILE_REL && mode == 'R' && !o.type)) {
        if (is_pattern(name) && !found) return set_status(d, NOT_FOUND);
        c.mode = Mode::RELATIVE;
        if (found) {
            if ((found->type & TYPE_MASK) != FILE_REL) return c = Channel{}, set_status(d, MISMATCH);
            if (found->record_length == 0) return c = Channel{}, set_status(d, READ_ERROR);  // a damaged entry
            if (o.record_length > 0 && o.record_length != found->record_length)
                return c = Channel{}, set_status(d, NO_RECORD);
            if (DiskStatus s = drive_read(unit, *found, c.data); s != DiskStatus::OK)
                return c = Channel{}, set_status(d, code_of(s));
            c.name = found->name;
            c.record_length = found->record_length;
            c.data.resize(record_count(c) * c.record_length);
        } else {
            if (o.record_length < 1 || o.record_length > int(BLOCK_DATA)) return c = Channel{}, set_status(d, SYNTAX);
            if (drive_writable(unit, nullptr) != DiskStatus::OK) return c = Channel{}, set_status(d, WRITE_PROTECT);
            c.name = name;
            c.record_length = uint8_t(o.record_length);
            grow_relative(c, 1);
        }
        c.type = FILE_REL;
        return set_status(d, OK);
    }

    if (mode == 'R') {
        if (!found) return set_status(d, NOT_FOUND);
        if (type && (found->type & TYPE_MASK) != type) return set_status(d, MISMATCH);
        if (DiskStatus s = drive_read(unit, *found, c.data); s != DiskStatus::OK) return set_status(d, code_of(s));
        c.mode = Mode::READ;
        return set_status(d, OK);
    }
    if (mode != 'W' && mode != 'A') return set_status(d, SYNTAX);
    if (is_pattern(name)) return set_status(d, BAD_NAME);
    if (mode == 'A') {
        if (!found) return set_status(d, NOT_FOUND);
        if (type && (found->type & TYPE_MASK) != type) return set_status(d, MISMATCH);
        if (drive_writable(unit, found) != DiskStatus::OK) return set_status(d, WRITE_PROTECT);
        if (DiskStatus s = drive_read(unit, *found, c.data); s != DiskStatus::OK) return set_status(d, code_of(s));
        c.name = found->name;
        c.type = uint8_t(found->type & TYPE_MASK);
        c.replace = true;
    } else {
        if (found && !o.name.replace) return set_status(d, EXISTS);
        if (drive_writable(unit, found) != DiskStatus::OK) return set_status(d, WRITE_PROTECT);
        c.name = found ? found->name : name;
        c.type = type ? type : FILE_SEQ;
        c.replace = o.name.replace;
    }
    c.mode = Mode::WRITE;
    c.changed = true;
    set_status(d, OK);
}

// ---- the command table --------------------------------------------------------------

// The numbers of a block command: after the colon, or after the command's
// own letters, separated by spaces, commas or colons.
std::vector<unsigned> numbers_of(const std::string& text, size_t skip) {
    size_t at = text.find(':');
    at = at == std::string::npos ? skip : at + 1;
    std::vector<unsigned> out;
    unsigned value = 0;
    bool in_number = false;
    for (size_t i = at; i <= text.size(); i++) {
        char c = i < text.size() ? text[i] : ' ';
        if (c >= '0' && c <= '9') {
            value = std::min(value * 10 + unsigned(c - '0'), 0xFFFFu);
            in_number = true;
        } else if (in_number) {
            out.push_back(value);
            value = 0;
            in_number = false;
        }
    }
    return out;
}

// What follows the command's colon (or its letters), with a drive number
// before the colon dropped.
std::string argument_of(const std::string& text) {
    size_t colon = text.find(':');
    return colon == std::string::npos ? text.substr(1) : text.substr(colon + 1);
}

std::vector<std::string> split(const std::string& s, char by) {
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t at; (at = s.find(by, from)) != std::string::npos; from = at + 1) out.push_back(s.substr(from, at - from));
    out.push_back(s.substr(from));
    return out;
}

// Strips a leading "n:" drive number from one name of a command.
std::string plain_name(const std::string& s) {
    size_t colon = s.find(':');
    return (colon != std::string::npos ? s.substr(colon + 1) : s).substr(0, NAME_LIMIT);
}

void scratch(unsigned unit, Drive& d, const std::string& text) {
    unsigned count = 0;
    for (const std::string& pattern : split(argument_of(text), ',')) {
        DiskListing listing;
        if (DiskStatus s = drive_listing(unit, listing); s != DiskStatus::OK) return set_status(d, code_of(s));
        for (const DiskFile& f : listing.files) {
            if (!drive_name_matches(plain_name(pattern), f.name, drive_folds_case(unit))) continue;
            DiskStatus s = drive_scratch(unit, f);
            if (s != DiskStatus::OK) return set_status(d, code_of(s));
            count++;
        }
    }
    set_status(d, SCRATCHED, uint8_t(std::min(count, 99u)));
}

// "R:new=old" and "C:new=old[,old...]".
void rename_or_copy(unsigned unit, Drive& d, const std::string& text, bool copy) {
    std::string arg = argument_of(text);
    size_t equals = arg.find('=');
    if (equals == std::string::npos) return set_status(d, SYNTAX);
    std::string to = plain_name(arg.substr(0, equals));
    std::vector<std::string> from = split(arg.substr(equals + 1), ',');
    if (to.empty() || is_pattern(to) || (!copy && from.size() != 1)) return set_status(d, to.empty() ? NO_NAME : SYNTAX);
    DiskListing listing;
    if (DiskStatus s = drive_listing(unit, listing); s != DiskStatus::OK) return set_status(d, code_of(s));
    if (find_file(unit, listing, to)) return set_status(d, EXISTS);
    std::vector<uint8_t> data;
    uint8_t type = 0, record_length = 0;
    for (const std::string& name : from) {
        const DiskFile* f = find_file(unit, listing, plain_name(name));
        if (!f) return set_status(d, NOT_FOUND);
        if (!copy) return set_status(d, code_of(drive_rename(unit, *f, to)));
        std::vector<uint8_t> part;
        if (DiskStatus s = drive_read(unit, *f, part); s != DiskStatus::OK) return set_status(d, code_of(s));
        data.insert(data.end(), part.begin(), part.end());
        if (!type) type = uint8_t(f->type & TYPE_MASK), record_length = f->record_length;
    }
    if (data.empty()) data.push_back(CR);
    set_status(d, code_of(drive_write(unit, to, type, record_length, data, false)));
}

void format(unsigned unit, Drive& d, const std::string& text) {
    std::vector<std::string> parts = split(argument_of(text), ',');
    if (parts[0].empty()) return set_status(d, NO_NAME);
    set_status(d, code_of(drive_format(unit, parts[0].substr(0, NAME_LIMIT), parts.size() > 1 ? parts[1].substr(0, 2) : "")));
}

// The channel a block command names, when it is a buffer ("#") channel.
Channel* buffer_channel(Drive& d, unsigned channel) {
    if (channel >= COMMAND_CHANNEL || d.channels[channel].mode != Mode::BUFFER) return nullptr;
    return &d.channels[channel];
}

// U1/B-R and U2/B-W: channel, drive, track, sector. B-R takes the block's
// first byte as the count of bytes to read; B-W stores the buffer pointer
// there.
void block_transfer(unsigned unit, Drive& d, const std::string& text, size_t skip, bool write, bool counted) {
    std::vector<unsigned> n = numbers_of(text, skip);
    if (n.size() < 4) return set_status(d, SYNTAX);
    Channel* c = buffer_channel(d, n[0]);
    if (!c) return set_status(d, NO_CHANNEL);
    uint8_t track = uint8_t(std::min(n[2], 255u)), sector = uint8_t(std::min(n[3], 255u));
    DiskStatus s;
    if (write) {
        if (counted) c->data[0] = uint8_t(c->pos);
        s = drive_write_block(unit, n[2], n[3], c->data.data());
    } else {
        s = drive_read_block(unit, n[2], n[3], c->data.data());
        c->pos = counted ? 1 : 0;
    }
    if (s == DiskStatus::ILLEGAL_SECTOR) return set_status(d, ILLEGAL_SECTOR, track, sector);
    set_status(d, code_of(s));
}

void block_pointer(Drive& d, const std::string& text) {
    std::vector<unsigned> n = numbers_of(text, 3);
    if (n.size() < 2) return set_status(d, SYNTAX);
    Channel* c = buffer_channel(d, n[0]);
    if (!c) return set_status(d, NO_CHANNEL);
    c->pos = n[1] & 0xFF;
    set_status(d, OK);
}

void block_allocate(unsigned unit, Drive& d, const std::string& text, bool allocate) {
    std::vector<unsigned> n = numbers_of(text, 3);
    if (n.size() < 3) return set_status(d, SYNTAX);
    DiskStatus s = drive_allocate_block(unit, n[1], n[2], allocate);
    uint8_t track = uint8_t(std::min(n[1], 255u)), sector = uint8_t(std::min(n[2], 255u));
    if (s == DiskStatus::NO_BLOCK || s == DiskStatus::ILLEGAL_SECTOR) return set_status(d, code_of(s), track, sector);
    set_status(d, code_of(s));
}

// "P" + channel + record (low, high) + position, as bytes.
void position(Drive& d, const std::string& text) {
    if (text.size() < 2) return set_status(d, SYNTAX);
    unsigned channel = uint8_t(text[1]) & 0x0F;
    if (channel >= COMMAND_CHANNEL || d.channels[channel].mode != Mode::RELATIVE) return set_status(d, NO_CHANNEL);
    Channel& c = d.channels[channel];
    unsigned record = text.size() > 2 ? uint8_t(text[2]) : 1;
    if (text.size() > 3) record |= unsigned(uint8_t(text[3])) << 8;
    unsigned offset = text.size() > 4 ? uint8_t(text[4]) : 1;
    c.record = record ? record - 1 : 0;
    c.pos = offset ? offset - 1 : 0;
    c.record_fresh = true;
    if (c.pos >= c.record_length) {
        c.pos = 0;
        return set_status(d, OVERFLOW);
    }
    set_status(d, c.record < record_count(c) ? OK : NO_RECORD);
}

// M-R: what a 1541 answers at the places programs read to know the drive:
// the version text of its ROM, its device number in its listen and talk
// addresses; zeros elsewhere. Nothing of the drive's code runs.
constexpr uint16_t ROM_VERSION_TEXT = 0xE5B6;
constexpr const char* VERSION_TEXT = "CBM DOS V2.6 1541";
constexpr uint16_t LISTEN_ADDRESS = 0x77, TALK_ADDRESS = 0x78;

uint8_t drive_memory(unsigned unit, uint16_t address) {
    size_t text = std::char_traits<char>::length(VERSION_TEXT);
    if (address >= ROM_VERSION_TEXT && address < ROM_VERSION_TEXT + text) return uint8_t(VERSION_TEXT[address - ROM_VERSION_TEXT]);
    if (address == LISTEN_ADDRESS) return uint8_t(0x20 + unit);
    if (address == TALK_ADDRESS) return uint8_t(0x40 + unit);
    return 0;
}

void memory_read(unsigned unit, Drive& d, const std::string& text) {
    if (text.size() < 5) return set_status(d, SYNTAX);
    uint16_t address = uint16_t(uint8_t(text[3]) | uint8_t(text[4]) << 8);
    unsigned count = text.size() > 5 ? uint8_t(text[5]) : 1;
    if (count == 0) count = 256;
    set_status(d, OK);
    for (unsigned i = 0; i < count; i++) d.reply.push_back(drive_memory(unit, uint16_t(address + i)));
}

using Handler = void (*)(unsigned unit, Drive& d, const std::string& text);
struct Command {
    const char* prefix;  // longest first where one starts another
    Handler run;
};
constexpr Command COMMANDS[] = {
    {"B-R", [](unsigned u, Drive& d, const std::string& t) { block_transfer(u, d, t, 3, false, true); }},
    {"B-W", [](unsigned u, Drive& d, const std::string& t) { block_transfer(u, d, t, 3, true, true); }},
    {"B-P", [](unsigned, Drive& d, const std::string& t) { block_pointer(d, t); }},
    {"B-A", [](unsigned u, Drive& d, const std::string& t) { block_allocate(u, d, t, true); }},
    {"B-F", [](unsigned u, Drive& d, const std::string& t) { block_allocate(u, d, t, false); }},
    {"B-E", [](unsigned, Drive& d, const std::string&) { set_status(d, OK); }},
    {"M-R", memory_read},
    {"M-W", [](unsigned, Drive& d, const std::string&) { set_status(d, OK); }},
    {"M-E", [](unsigned, Drive& d, const std::string&) { set_status(d, OK); }},
    {"U1", [](unsigned u, Drive& d, const std::string& t) { block_transfer(u, d, t, 2, false, false); }},
    {"UA", [](unsigned u, Drive& d, const std::string& t) { block_transfer(u, d, t, 2, false, false); }},
    {"U2", [](unsigned u, Drive& d, const std::string& t) { block_transfer(u, d, t, 2, true, false); }},
    {"UB", [](unsigned u, Drive& d, const std::string& t) { block_transfer(u, d, t, 2, true, false); }},
    {"UI+", [](unsigned, Drive& d, const std::string&) { set_status(d, OK); }},
    {"UI-", [](unsigned, Drive& d, const std::string&) { set_status(d, OK); }},
    {"UI", [](unsigned u, Drive&, const std::string&) { dos_reset(u); }},
    {"UJ", [](unsigned u, Drive&, const std::string&) { dos_reset(u); }},
    {"U:", [](unsigned u, Drive&, const std::string&) { dos_reset(u); }},
    {"U9", [](unsigned u, Drive&, const std::string&) { dos_reset(u); }},
    {"S", scratch},
    {"R", [](unsigned u, Drive& d, const std::string& t) { rename_or_copy(u, d, t, false); }},
    {"C", [](unsigned u, Drive& d, const std::string& t) { rename_or_copy(u, d, t, true); }},
    {"N", format},
    {"I", [](unsigned, Drive& d, const std::string&) { set_status(d, OK); }},
    {"V", [](unsigned u, Drive& d, const std::string&) { set_status(d, code_of(drive_validate(u))); }},
    {"P", [](unsigned, Drive& d, const std::string& t) { position(d, t); }},
};

}  // namespace

void dos_reset(unsigned unit) {
    Drive* d = drive_of(unit);
    if (!d) return;
    for (Channel& c : d->channels) finish_channel(unit, *d, c);
    d->command.clear();
    set_status(*d, POWER_ON);
}

void dos_open(unsigned unit, unsigned channel, const std::string& name) {
    Drive* d = drive_of(unit);
    if (!d || channel >= CHANNELS) return;
    if (channel == COMMAND_CHANNEL) {
        if (!name.empty()) dos_command(unit, name);
        return;
    }
    Channel& c = d->channels[channel];
    finish_channel(unit, *d, c);
    if (open_data_channels(*d) >= DATA_CHANNELS_MAX) return set_status(*d, NO_CHANNEL);
    if (!name.empty() && name[0] == '#') return open_buffer(*d, c);
    DriveName n = parse_drive_name(name);
    if (n.directory) return open_directory(unit, *d, c, name.substr(0, name.find(',')));
    open_file(unit, *d, channel, name);
}

void dos_close(unsigned unit, unsigned channel) {
    Drive* d = drive_of(unit);
    if (!d || channel >= CHANNELS) return;
    // Closing the command channel closes every file of the drive.
    if (channel == COMMAND_CHANNEL) {
        for (Channel& c : d->channels) finish_channel(unit, *d, c);
        return;
    }
    finish_channel(unit, *d, d->channels[channel]);
}

void dos_write(unsigned unit, unsigned channel, uint8_t byte) {
    Drive* d = drive_of(unit);
    if (!d || channel >= CHANNELS) return;
    if (channel == COMMAND_CHANNEL) {
        d->command.push_back(char(byte));
        return;
    }
    Channel& c = d->channels[channel];
    switch (c.mode) {
    case Mode::WRITE:
        c.data.push_back(byte);
        break;
    case Mode::BUFFER:
        c.data[c.pos] = byte;
        c.pos = (c.pos + 1) % BLOCK_SIZE;
        break;
    case Mode::RELATIVE:
        if (c.record >= record_count(c)) grow_relative(c, c.record + 1);
        if (c.record_fresh) {
            std::fill_n(c.data.begin() + long(c.record * c.record_length + c.pos), c.record_length - c.pos, 0);
            c.record_fresh = false;
        }
        if (c.pos >= c.record_length) return set_status(*d, OVERFLOW);
        c.data[c.record * c.record_length + c.pos++] = byte;
        c.changed = true;
        break;
    default:
        break;  // nothing open there: the drive takes the bytes and drops them
    }
}

void dos_end_of_write(unsigned unit, unsigned channel) {
    Drive* d = drive_of(unit);
    if (!d || channel >= CHANNELS) return;
    if (channel == COMMAND_CHANNEL) {
        std::string text = std::move(d->command);
        d->command.clear();
        if (!text.empty()) dos_command(unit, text);
        return;
    }
    Channel& c = d->channels[channel];
    if (c.mode == Mode::RELATIVE && !c.record_fresh) {
        c.record++;
        c.pos = 0;
        c.record_fresh = true;
    }
}

bool dos_read(unsigned unit, unsigned channel, uint8_t& byte, bool& last) {
    Drive* d = drive_of(unit);
    if (!d || channel >= CHANNELS) return false;
    if (channel == COMMAND_CHANNEL) {
        if (d->reply_pos >= d->reply.size()) {
            std::string line = dos_status_line(unit) + char(CR);
            d->reply.assign(line.begin(), line.end());
            d->reply_pos = 0;
            d->code = OK, d->track = 0, d->sector = 0;
        }
        byte = d->reply[d->reply_pos++];
        last = d->reply_pos == d->reply.size();
        if (last) d->reply.clear(), d->reply_pos = 0;
        return true;
    }
    Channel& c = d->channels[channel];
    switch (c.mode) {
    case Mode::READ:
        if (c.pos >= c.data.size()) return false;
        byte = c.data[c.pos++];
        last = c.pos == c.data.size();
        return true;
    case Mode::BUFFER:
        byte = c.data[c.pos];
        last = c.pos == BLOCK_SIZE - 1;
        c.pos = (c.pos + 1) % BLOCK_SIZE;
        return true;
    case Mode::RELATIVE: {
        if (c.record >= record_count(c)) {
            set_status(*d, NO_RECORD);
            return false;
        }
        const uint8_t* record = c.data.data() + c.record * c.record_length;
        size_t end = c.record_length;
        while (end > 1 && record[end - 1] == 0) end--;
        byte = record[std::min(c.pos, end - 1)];
        last = ++c.pos >= end;
        if (last) {
            c.record++;
            c.pos = 0;
            c.record_fresh = true;
        }
        return true;
    }
    default:
        return false;
    }
}

std::string dos_status_line(unsigned unit) {
    const Drive* d = drive_of(unit);
    if (!d) return "";
    const char* text = "";
    for (const Message& m : MESSAGES)
        if (m.code == d->code) text = m.text;
    // Two digits a field, as the drive prints them.
    char line[64];
    snprintf(line, sizeof line, "%02u,%s,%02u,%02u", d->code, text, std::min(d->track, uint8_t(99)),
             std::min(d->sector, uint8_t(99)));
    return line;
}

void dos_transfer_done(unsigned unit, DiskStatus status) {
    if (Drive* d = drive_of(unit)) set_status(*d, code_of(status));
}

void dos_command(unsigned unit, const std::string& command) {
    Drive* d = drive_of(unit);
    if (!d) return;
    std::string text = command;
    if (!text.empty() && uint8_t(text.back()) == CR) text.pop_back();
    if (text.empty()) return set_status(*d, OK);
    for (const Command& c : COMMANDS)
        if (text.compare(0, std::char_traits<char>::length(c.prefix), c.prefix) == 0) return c.run(unit, *d, text);
    set_status(*d, UNKNOWN_COMMAND);
}

void dos_flush_all() {
    for (unsigned unit = FIRST_DRIVE; unit <= LAST_DRIVE; unit++) {
        Drive& d = *drive_of(unit);
        for (Channel& c : d.channels) finish_channel(unit, d, c);
    }
}

bool dos_writing() {
    for (const Drive& d : drives)
        for (const Channel& c : d.channels)
            if ((c.mode == Mode::WRITE || c.mode == Mode::RELATIVE) && c.changed) return true;
    return false;
}

// ---- snapshot -------------------------------------------------------------------------

namespace {

constexpr unsigned MODE_LAST = unsigned(Mode::BUFFER);
constexpr uint64_t RECORDS_MAX = 0xFFFF;  // what a P command can reach beyond a file's records

std::string channel_field(unsigned channel, const char* what) {
    return "ch" + std::to_string(channel) + " " + what;
}

void put_bytes(std::vector<uint8_t>& body, const std::string& name, const void* data, size_t size) {
    put_field(body, name.c_str(), data, uint32_t(size));
}

std::vector<uint8_t> bytes_of(const FieldView* f) {
    return f ? std::vector<uint8_t>(f->data, f->data + f->size) : std::vector<uint8_t>{};
}

// A channel from its fields: false when one is of the wrong size or leaves
// the channel with a position outside its bytes.
bool load_channel(const std::vector<FieldView>& found, unsigned channel, Channel& c) {
    uint64_t mode = 0, pos = 0, type = FILE_SEQ, replace = 0, changed = 0, record_length = 0, record = 0, fresh = 1;
    if (!get_number(found, channel_field(channel, "mode").c_str(), 1, mode) || mode > MODE_LAST ||
        !get_number(found, channel_field(channel, "pos").c_str(), 4, pos) ||
        !get_number(found, channel_field(channel, "type").c_str(), 1, type) ||
        !get_number(found, channel_field(channel, "replace").c_str(), 1, replace) ||
        !get_number(found, channel_field(channel, "changed").c_str(), 1, changed) ||
        !get_number(found, channel_field(channel, "record_length").c_str(), 1, record_length) ||
        !get_number(found, channel_field(channel, "record").c_str(), 4, record) ||
        !get_number(found, channel_field(channel, "record_fresh").c_str(), 1, fresh))
        return false;
    c = Channel{};
    c.mode = Mode(mode);
    if (c.mode == Mode::CLOSED) return true;
    c.data = bytes_of(find_field(found, channel_field(channel, "data").c_str()));
    const FieldView* name = find_field(found, channel_field(channel, "name").c_str());
    if (name) c.name.assign(reinterpret_cast<const char*>(name->data), name->size);
    c.pos = size_t(pos);
    c.type = uint8_t(type);
    c.replace = replace != 0;
    c.changed = changed != 0;
    c.record_length = uint8_t(record_length);
    c.record = size_t(record);
    c.record_fresh = fresh != 0;
    switch (c.mode) {
    case Mode::READ: return c.pos <= c.data.size();
    case Mode::BUFFER: return c.data.size() == BLOCK_SIZE && c.pos < BLOCK_SIZE;
    case Mode::RELATIVE:
        return c.record_length >= 1 && c.record_length <= BLOCK_DATA && c.data.size() % c.record_length == 0 &&
               c.pos <= c.record_length && c.record <= std::max<size_t>(RECORDS_MAX, record_count(c));
    default: return true;
    }
}

}  // namespace

void dos_save_state(unsigned unit, std::vector<uint8_t>& body) {
    const Drive* d = drive_of(unit);
    if (!d) return;
    const uint8_t status[3] = {d->code, d->track, d->sector};
    put_field(body, "status", status, 3);
    put_field(body, "reply", d->reply.data(), uint32_t(d->reply.size()));
    put_number(body, "reply_pos", d->reply_pos, 4);
    put_field(body, "command", d->command.data(), uint32_t(d->command.size()));
    for (unsigned i = 0; i < CHANNELS; i++) {
        const Channel& c = d->channels[i];
        if (c.mode == Mode::CLOSED) continue;
        put_number(body, channel_field(i, "mode").c_str(), unsigned(c.mode), 1);
        put_bytes(body, channel_field(i, "data"), c.data.data(), c.data.size());
        put_number(body, channel_field(i, "pos").c_str(), c.pos, 4);
        put_bytes(body, channel_field(i, "name"), c.name.data(), c.name.size());
        put_number(body, channel_field(i, "type").c_str(), c.type, 1);
        put_number(body, channel_field(i, "replace").c_str(), c.replace, 1);
        put_number(body, channel_field(i, "changed").c_str(), c.changed, 1);
        put_number(body, channel_field(i, "record_length").c_str(), c.record_length, 1);
        put_number(body, channel_field(i, "record").c_str(), c.record, 4);
        put_number(body, channel_field(i, "record_fresh").c_str(), c.record_fresh, 1);
    }
}

bool dos_load_state(unsigned unit, const std::vector<FieldView>& found, bool apply) {
    Drive* d = drive_of(unit);
    if (!d) return false;
    Drive loaded;
    const FieldView* status = find_field(found, "status");
    if (status) {
        if (status->size != 3) return false;
        loaded.code = status->data[0], loaded.track = status->data[1], loaded.sector = status->data[2];
    }
    loaded.reply = bytes_of(find_field(found, "reply"));
    uint64_t reply_pos = 0;
    if (!get_number(found, "reply_pos", 4, reply_pos) || reply_pos > loaded.reply.size()) return false;
    loaded.reply_pos = size_t(reply_pos);
    const std::vector<uint8_t> command = bytes_of(find_field(found, "command"));
    loaded.command.assign(command.begin(), command.end());
    for (unsigned i = 0; i < CHANNELS; i++)
        if (!load_channel(found, i, loaded.channels[i])) return false;
    if (apply) *d = std::move(loaded);
    return true;
}
