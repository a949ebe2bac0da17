// The command table and its handlers.
#include "commands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../core/hooks.h"
#include "../core/memory.h"
#include "../core/screen_text.h"
#include "../core/tarvikon.h"
#include "../files/fileutil.h"
#include "debug.h"
#include "disasm.h"
#include "labels.h"

namespace {

using Args = std::vector<std::string>;

std::string format(const char* fmt, auto... args) {
    char text[256];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

// Words, with "quoted text" as one word (file names with spaces).
Args split(const std::string& line) {
    Args words;
    size_t i = 0;
    while (i < line.size()) {
        if (std::isspace(static_cast<unsigned char>(line[i]))) {
            i++;
        } else if (line[i] == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos) end = line.size();
            words.push_back(line.substr(i, end - i + 1 > line.size() - i ? line.size() - i : end - i + 1));
            i = end + 1;
        } else {
            size_t end = i;
            while (end < line.size() && !std::isspace(static_cast<unsigned char>(line[end]))) end++;
            words.push_back(line.substr(i, end - i));
            i = end;
        }
    }
    return words;
}

std::string unquote(const std::string& s) {
    if (s.size() >= 1 && s[0] == '"') return s.substr(1, s.size() >= 2 && s.back() == '"' ? s.size() - 2 : s.size() - 1);
    return s;
}

// The answer's faults: thrown by the argument readers, caught per command.
struct BadInput {
    std::string text;
};

uint16_t value_arg(const std::string& word, const char* what = "address") {
    std::optional<uint16_t> v = parse_value(word);
    if (!v) throw BadInput{std::string("Bad ") + what + ": " + word};
    return *v;
}

// FROM-TO in one word, or FROM and an optional TO in two.
struct Range {
    uint16_t from, to;
};
Range range_args(const Args& a, size_t at, unsigned default_length) {
    if (a.size() <= at) throw BadInput{"Missing address"};
    const size_t dash = a[at].find('-', 1);
    if (dash != std::string::npos) {
        Range r{value_arg(a[at].substr(0, dash)), value_arg(a[at].substr(dash + 1))};
        if (r.to < r.from) throw BadInput{"Bad range: " + a[at] + " ends before it starts"};
        return r;
    }
    const uint16_t from = value_arg(a[at]);
    if (a.size() > at + 1) {
        const uint16_t to = value_arg(a[at + 1]);
        if (to < from) throw BadInput{"Bad range: " + a[at + 1] + " is before " + a[at]};
        return {from, to};
    }
    return {from, uint16_t(std::min(0xFFFFu, from + default_length - 1u))};
}

// Hex bytes and "text" (its ASCII bytes) from word `at` on.
std::vector<uint8_t> byte_args(const Args& a, size_t at) {
    std::vector<uint8_t> bytes;
    for (size_t i = at; i < a.size(); i++) {
        if (a[i][0] == '"') {
            for (char c : unquote(a[i])) bytes.push_back(uint8_t(c));
            continue;
        }
        const uint16_t v = value_arg(a[i], "byte");
        if (v > 0xFF) throw BadInput{"Bad byte: " + a[i]};
        bytes.push_back(uint8_t(v));
    }
    if (bytes.empty()) throw BadInput{"Missing bytes"};
    return bytes;
}

// A monitor store: chip registers see it as a write; everything else,
// ROM included, is patched in the image.
void poke(uint16_t addr, uint8_t value) {
    if (addr >= IO_BASE && addr < IO_BASE + IO_DISPATCH_SIZE) write_io(addr, value);
    else memory[addr] = value;
}

std::string disassembly_line(uint16_t addr, unsigned& length) {
    std::string s;
    const std::string label = label_at(addr);
    if (!label.empty()) s += label + ":\n";
    const Disassembly d = disassemble(memory, addr, label_at);
    length = d.length;
    std::string bytes;
    for (unsigned i = 0; i < d.length; i++) bytes += format("%02X ", memory[uint16_t(addr + i)]);
    s += format("$%04X  %-9s %s\n", addr, bytes.c_str(), d.text.c_str());
    return s;
}

uint16_t next_disassembly = 0, next_dump = 0;

std::string flags_text() {
    const uint8_t p = compose_p();
    std::string s;
    const char* names = "czidb-vn";
    for (int bit = 7; bit >= 0; bit--) s += (p >> bit & 1) ? char(std::toupper(names[bit])) : names[bit];
    return s;
}

// ---- the commands --------------------------------------------------------------

bool cmd_help(const Args&, std::string& out);

bool cmd_registers(const Args& a, std::string& out) {
    for (size_t i = 1; i < a.size(); i++) {
        const size_t eq = a[i].find('=');
        if (eq == std::string::npos) throw BadInput{"Bad register setting: " + a[i] + " (like A=05)"};
        std::string reg = a[i].substr(0, eq);
        for (char& c : reg) c = char(std::toupper(static_cast<unsigned char>(c)));
        const uint16_t v = value_arg(a[i].substr(eq + 1), "value");
        if (reg != "PC" && v > 0xFF) throw BadInput{"Bad value: " + a[i]};
        if (reg == "PC") Register.PC = v;
        else if (reg == "A") Register.A = uint8_t(v);
        else if (reg == "X") Register.X = uint8_t(v);
        else if (reg == "Y") Register.Y = uint8_t(v);
        else if (reg == "SP") Register.SP = uint8_t(v);
        else if (reg == "P")
            for (int bit = 0; bit < 8; bit++) Flags[bit] = v >> bit & 1;
        else throw BadInput{"Bad register: " + reg + " (PC, A, X, Y, SP or P)"};
    }
    out += format("PC=$%04X A=$%02X X=$%02X Y=$%02X SP=$%02X P=$%02X %s\n", Register.PC, Register.A, Register.X,
                  Register.Y, Register.SP, compose_p(), flags_text().c_str());
    out += format("raster line %u, cycle %llu, %llu cycles since the last stop\n", unsigned(raster),
                  (unsigned long long)machine_cycle(), (unsigned long long)cycles_since_resume());
    return false;
}

bool cmd_memory(const Args& a, std::string& out) {
    const Range r = a.size() > 1 ? range_args(a, 1, 64) : Range{next_dump, uint16_t(std::min(0xFFFF, next_dump + 63))};
    unsigned addr = r.from;
    while (addr <= r.to) {
        std::string hex, petscii, screen;
        out += format("$%04X ", addr);
        for (unsigned i = 0; i < 8; i++) {
            if (addr + i > r.to) {
                hex += "   ";
                continue;
            }
            const uint8_t b = memory[addr + i];
            hex += format(" %02X", b);
            const uint8_t c = b & 0x7F;
            petscii += c >= 0x20 && c < 0x60 ? char(c) : '.';
            screen += screen_code_utf8(b, false);
        }
        out += hex + "  " + petscii + std::string(8 - petscii.size(), ' ') + "  " + screen + "\n";
        addr += 8;
    }
    next_dump = uint16_t(addr);
    return false;
}

bool cmd_disassemble(const Args& a, std::string& out) {
    unsigned from = a.size() > 1 ? value_arg(a[1]) : next_disassembly;
    const unsigned to = a.size() > 2 ? value_arg(a[2]) : 0x10000;
    unsigned count = 0, addr = from;
    while (addr <= 0xFFFF && (to == 0x10000 ? count < 16 : addr <= to)) {
        unsigned length;
        out += disassembly_line(uint16_t(addr), length);
        addr += length;
        count++;
    }
    next_disassembly = uint16_t(addr);
    return false;
}

bool cmd_assemble(const Args& a, std::string& out) {
    if (a.size() < 3) throw BadInput{"Usage: a ADDRESS INSTRUCTION"};
    const uint16_t addr = value_arg(a[1]);
    std::string text;
    for (size_t i = 2; i < a.size(); i++) text += (i > 2 ? " " : "") + a[i];
    std::string error;
    const auto code = assemble(text, addr, parse_value, error);
    if (!code) throw BadInput{"Cannot assemble: " + error};
    for (unsigned i = 0; i < code->length; i++) memory[uint16_t(addr + i)] = code->bytes[i];
    unsigned length;
    out += disassembly_line(addr, length);
    next_disassembly = uint16_t(addr + length);
    return false;
}

bool cmd_fill(const Args& a, std::string& out) {
    const Range r = range_args(a, 1, 1);
    const size_t at = a[1].find('-', 1) != std::string::npos ? 2 : 3;
    const std::vector<uint8_t> bytes = byte_args(a, at);
    for (unsigned addr = r.from, i = 0; addr <= r.to; addr++, i++) poke(uint16_t(addr), bytes[i % bytes.size()]);
    out += format("Filled $%04X-$%04X\n", r.from, r.to);
    return false;
}

bool cmd_set(const Args& a, std::string& out) {
    if (a.size() < 3) throw BadInput{"Usage: set ADDRESS BYTE..."};
    const uint16_t addr = value_arg(a[1]);
    const std::vector<uint8_t> bytes = byte_args(a, 2);
    for (size_t i = 0; i < bytes.size(); i++) poke(uint16_t(addr + i), bytes[i]);
    out += format("Set %zu bytes at $%04X\n", bytes.size(), addr);
    return false;
}

// FROM TO DEST for compare and move.
struct Transfer {
    Range r;
    uint16_t dest;
};
Transfer transfer_args(const Args& a) {
    if (a.size() < 3) throw BadInput{"Usage: " + a[0] + " FROM TO DESTINATION"};
    const Range r = range_args(a, 1, 1);
    const size_t at = a[1].find('-', 1) != std::string::npos ? 2 : 3;
    if (a.size() <= at) throw BadInput{"Missing destination"};
    const uint16_t dest = value_arg(a[at]);
    if (dest + unsigned(r.to - r.from) > 0xFFFF) throw BadInput{"Bad destination: the range would pass $FFFF"};
    return {r, dest};
}

bool cmd_compare(const Args& a, std::string& out) {
    const Transfer t = transfer_args(a);
    unsigned differences = 0;
    for (unsigned addr = t.r.from; addr <= t.r.to; addr++) {
        const unsigned other = t.dest + (addr - t.r.from);
        if (memory[addr] == memory[other]) continue;
        if (++differences <= 64) out += format("$%04X $%02X, $%04X $%02X\n", addr, memory[addr], other, memory[other]);
    }
    out += differences ? format("%u bytes differ\n", differences) : std::string("The ranges are equal\n");
    return false;
}

bool cmd_move(const Args& a, std::string& out) {
    const Transfer t = transfer_args(a);
    const unsigned n = t.r.to - t.r.from + 1u;
    std::vector<uint8_t> copy(memory + t.r.from, memory + t.r.from + n);
    for (unsigned i = 0; i < n; i++) poke(uint16_t(t.dest + i), copy[i]);
    out += format("Moved $%04X-$%04X to $%04X\n", t.r.from, t.r.to, t.dest);
    return false;
}

bool cmd_hunt(const Args& a, std::string& out) {
    const Range r = range_args(a, 1, 1);
    const size_t at = a[1].find('-', 1) != std::string::npos ? 2 : 3;
    const std::vector<uint8_t> bytes = byte_args(a, at);
    unsigned found = 0;
    for (unsigned addr = r.from; addr + bytes.size() - 1 <= r.to; addr++)
        if (std::equal(bytes.begin(), bytes.end(), memory + addr) && ++found <= 64) out += format("$%04X\n", addr);
    out += format("%u found\n", found);
    return false;
}

// The words after "if" as a condition.
Condition condition_args(const Args& a, size_t at) {
    Condition c;
    if (a.size() <= at) return c;
    if (a[at] != "if") throw BadInput{"Unexpected " + a[at] + " (a condition starts with if)"};
    std::string text, error;
    for (size_t i = at + 1; i < a.size(); i++) text += a[i];
    if (!parse_condition(text, c, error)) throw BadInput{error};
    return c;
}

std::string point_text(const Point& p) {
    std::string kinds = p.kinds & POINT_EXEC ? "break" : std::string("watch ") + (p.kinds & POINT_READ ? "r" : "") +
                                                          (p.kinds & POINT_WRITE ? "w" : "");
    std::string where = format("$%04X", p.from);
    if (p.to != p.from) where += format("-$%04X", p.to);
    const std::string label = label_at(p.from);
    if (!label.empty()) where += " (" + label + ")";
    return format("%u: %s %s", p.id, kinds.c_str(), where.c_str()) + condition_text(p.cond) + "\n";
}

bool cmd_break(const Args& a, std::string& out) {
    if (a.size() == 1) {
        for (const Point& p : points)
            if (!p.on_write) out += point_text(p);
        if (out.empty()) out += "No breakpoints or watchpoints\n";
        return false;
    }
    const uint16_t addr = value_arg(a[1]);
    add_point(POINT_EXEC, addr, addr, condition_args(a, 2));
    out += "Added " + point_text(points.back());
    return false;
}

bool cmd_watch(const Args& a, std::string& out) {
    if (a.size() == 1) return cmd_break(a, out);
    const size_t dash = a[1].find('-', 1);
    Range r;
    if (dash != std::string::npos) {
        r = {value_arg(a[1].substr(0, dash)), value_arg(a[1].substr(dash + 1))};
        if (r.to < r.from) throw BadInput{"Bad range: " + a[1] + " ends before it starts"};
    } else {
        r.from = r.to = value_arg(a[1]);
    }
    uint8_t kinds = POINT_READ | POINT_WRITE;
    size_t at = 2;
    if (a.size() > 2 && (a[2] == "r" || a[2] == "w" || a[2] == "rw")) {
        kinds = uint8_t((a[2].find('r') != std::string::npos ? POINT_READ : 0) |
                        (a[2].find('w') != std::string::npos ? POINT_WRITE : 0));
        at = 3;
    }
    add_point(kinds, r.from, r.to, condition_args(a, at));
    out += "Added " + point_text(points.back());
    return false;
}

bool cmd_delete(const Args& a, std::string& out) {
    if (a.size() < 2) throw BadInput{"Usage: delete NUMBER"};
    char* end = nullptr;
    const unsigned long id = std::strtoul(a[1].c_str(), &end, 10);
    if (*end || !delete_point(unsigned(id))) throw BadInput{"No breakpoint or watchpoint " + a[1]};
    out += "Deleted " + a[1] + "\n";
    return false;
}

bool cmd_go(const Args& a, std::string&) {
    if (a.size() > 1) Register.PC = value_arg(a[1]);
    resume(Plan::RUN);
    return true;
}

bool cmd_step(const Args& a, std::string&) {
    uint32_t n = 1;
    if (a.size() > 1) {
        char* end = nullptr;
        n = uint32_t(std::strtoul(a[1].c_str(), &end, 10));
        if (*end || n == 0) throw BadInput{"Bad count: " + a[1]};
    }
    resume(Plan::STEPS, n);
    return true;
}

bool cmd_next(const Args&, std::string&) {
    resume(Plan::OVER);
    return true;
}

bool cmd_finish(const Args&, std::string&) {
    resume(Plan::OUT);
    return true;
}

bool cmd_until(const Args& a, std::string&) {
    if (a.size() < 2) throw BadInput{"Usage: until ADDRESS"};
    resume(Plan::UNTIL, 0, value_arg(a[1]));
    return true;
}

bool cmd_io(const Args& a, std::string& out) {
    out += describe_chips(a.size() > 1 ? a[1] : "");
    return false;
}

bool cmd_cycles(const Args&, std::string& out) {
    out += format("%llu cycles since the last stop (cycle %llu)\n", (unsigned long long)cycles_since_resume(),
                  (unsigned long long)machine_cycle());
    return false;
}

bool cmd_load(const Args& a, std::string& out) {
    if (a.size() < 2) throw BadInput{"Usage: load FILE [ADDRESS]"};
    const std::string path = unquote(a[1]);
    std::vector<uint8_t> bytes;
    if (read_file_start(path.c_str(), 0x10002, bytes) < 0) throw BadInput{"Cannot load " + path + ": " + std::strerror(errno)};
    size_t skip = 0;
    uint16_t addr;
    if (a.size() > 2) {
        addr = value_arg(a[2]);
    } else {
        if (bytes.size() < 2) throw BadInput{"Cannot load " + path + ": no load address (give one)"};
        addr = uint16_t(bytes[0] | bytes[1] << 8);
        skip = 2;
    }
    const size_t n = std::min(bytes.size() - skip, size_t(0x10000 - addr));
    if (n == 0) throw BadInput{"Cannot load " + path + ": empty"};
    std::copy(bytes.begin() + long(skip), bytes.begin() + long(skip + n), memory + addr);
    out += format("Loaded $%04X-$%04X", addr, unsigned(addr + n - 1));
    out += n < bytes.size() - skip ? " (the rest passed $FFFF and was dropped)\n" : "\n";
    return false;
}

bool cmd_save(const Args& a, std::string& out) {
    if (a.size() < 3) throw BadInput{"Usage: save FILE FROM TO [raw]"};
    const std::string path = unquote(a[1]);
    const Range r = range_args(a, 2, 1);
    const size_t at = a[2].find('-', 1) != std::string::npos ? 3 : 4;
    const bool raw = a.size() > at && a[at] == "raw";
    const uint8_t header[2] = {uint8_t(r.from), uint8_t(r.from >> 8)};
    errno = 0;
    if (replace_file(path.c_str(), {{header, raw ? 0u : 2u}, {memory + r.from, size_t(r.to - r.from + 1)}}) != 0)
        throw BadInput{"Cannot save " + path + (errno ? std::string(": ") + std::strerror(errno) : std::string())};
    out += format("Saved $%04X-$%04X to ", r.from, r.to) + path + (raw ? "\n" : " (with its load address)\n");
    return false;
}

bool cmd_labels(const Args& a, std::string& out) {
    if (a.size() < 2) {
        out += format("%zu labels\n", labels.by_name.size());
        return false;
    }
    unsigned count = 0;
    std::string error;
    if (!load_label_file(unquote(a[1]), error, count)) throw BadInput{error};
    out += format("%u labels read\n", count);
    return false;
}

bool cmd_profile(const Args& a, std::string& out) {
    if (a.size() == 1) {
        if (profile_ranges.empty() && !profile_by_label) out += "Nothing profiled (profile FROM-TO, LABEL or labels)\n";
        for (const ProfileRange& r : profile_ranges) {
            uint64_t total = 0, low = UINT64_MAX, high = 0;
            for (uint64_t c : r.runs) total += c, low = std::min(low, c), high = std::max(high, c);
            out += format("%s $%04X-$%04X: %zu execution%s", r.name.c_str(), r.from, r.to, r.runs.size(),
                          r.runs.size() == 1 ? "" : "s");
            if (!r.runs.empty())
                out += format(", %llu cycles, %llu to %llu each", (unsigned long long)total, (unsigned long long)low,
                              (unsigned long long)high);
            out += "\n";
            std::string line;
            for (size_t i = 0; i < r.runs.size() && i < 64; i++) line += format(" %llu", (unsigned long long)r.runs[i]);
            if (!line.empty()) out += " " + line + (r.runs.size() > 64 ? " ...\n" : "\n");
        }
        if (profile_by_label)
            for (const auto& [name, c] : routine_profile())
                out += format("%10llu cycles %8llu entries  ", (unsigned long long)c.cycles,
                              (unsigned long long)c.entries) + name + "\n";
        return false;
    }
    if (a[1] == "clear") {
        clear_profile();
        out += "Profile cleared\n";
        return false;
    }
    if (a[1] == "labels") {
        if (labels.by_address.empty()) throw BadInput{"No labels (labels FILE reads an ld65 -Ln file)"};
        profile_by_label = true;
        update_frame_runner();
        out += "Profiling every labelled routine\n";
        return false;
    }
    Range r;
    std::string name;
    if (a[1].find('-', 1) != std::string::npos || a.size() > 2) {
        r = range_args(a, 1, 1);
    } else {
        // A label alone: up to the next label.
        r.from = value_arg(a[1]);
        auto next = labels.by_address.upper_bound(r.from);
        r.to = next == labels.by_address.end() ? r.from : uint16_t(next->first - 1);
    }
    name = label_at(r.from);
    profile_ranges.push_back(ProfileRange{r.from, r.to, name.empty() ? "range" : name, false, 0, 0, {}});
    update_frame_runner();
    out += format("Profiling $%04X-$%04X\n", r.from, r.to);
    return false;
}

bool cmd_screen(const Args&, std::string& out) {
    out += screen_text();
    return false;
}

struct Command {
    const char* names[3];
    bool (*run)(const Args&, std::string&);
    const char* usage;
};
constexpr Command COMMANDS[] = {
    {{"help", "?"}, cmd_help, "help                     this list"},
    {{"r", "registers"}, cmd_registers, "r [REG=VALUE...]         registers (PC A X Y SP P), shown or set"},
    {{"m", "mem"}, cmd_memory, "m [FROM [TO]]            memory in hex, as PETSCII and as screen codes"},
    {{"d", "disass"}, cmd_disassemble, "d [FROM [TO]]            disassembly"},
    {{"a", "asm"}, cmd_assemble, "a ADDR INSTRUCTION       assemble one instruction"},
    {{"f", "fill"}, cmd_fill, "f FROM TO BYTES          fill a range with a pattern"},
    {{"set", ">"}, cmd_set, "set ADDR BYTES           set bytes (\"text\" for its codes)"},
    {{"c", "compare"}, cmd_compare, "c FROM TO DEST           compare two ranges"},
    {{"h", "hunt"}, cmd_hunt, "h FROM TO BYTES          find bytes in a range"},
    {{"t", "move"}, cmd_move, "t FROM TO DEST           copy a range"},
    {{"break", "b"}, cmd_break, "break [ADDR [if COND]]   breakpoint, or list them all"},
    {{"watch", "w"}, cmd_watch, "watch ADDR[-ADDR] [r|w] [if COND]  watchpoint on reads, writes or both"},
    {{"delete", "del"}, cmd_delete, "delete N                 remove breakpoint or watchpoint N"},
    {{"step", "z", "s"}, cmd_step, "step [N]                 N instructions, into subroutines"},
    {{"next", "n"}, cmd_next, "next                     one instruction, over a subroutine call"},
    {{"finish", "ret"}, cmd_finish, "finish                   until the current subroutine returns"},
    {{"until", "un"}, cmd_until, "until ADDR               run until PC reaches ADDR"},
    {{"g", "go"}, cmd_go, "g [ADDR]                 continue (at ADDR)"},
    {{"x", "exit"}, cmd_go, "x                        leave the monitor; the machine goes on"},
    {{"io"}, cmd_io, "io [via1|via2|vic]       chip registers decoded"},
    {{"cycles"}, cmd_cycles, "cycles                   cycles since the last stop"},
    {{"load", "l"}, cmd_load, "load FILE [ADDR]         a .prg to its address, or any file to ADDR"},
    {{"save"}, cmd_save, "save FILE FROM TO [raw]  a range as a .prg (raw: without load address)"},
    {{"labels"}, cmd_labels, "labels FILE              read an ld65 -Ln label file"},
    {{"profile"}, cmd_profile, "profile [FROM-TO|LABEL|labels|clear]  time the executions of a range; alone: the report"},
    {{"screen"}, cmd_screen, "screen                   the screen as text"},
};

bool cmd_help(const Args&, std::string& out) {
    for (const Command& c : COMMANDS) out += std::string(c.usage) + "\n";
    out += "Numbers are hexadecimal ($ optional; +N decimal); labels stand for addresses. COND: A==$05, X>=10, "
           "PC!=$1000...\n";
    return false;
}

}  // namespace

std::optional<uint16_t> parse_value(const std::string& text) {
    if (text.empty()) return std::nullopt;
    if (text[0] == '.') return label_value(text);
    char* end = nullptr;
    unsigned long v;
    if (text[0] == '+' && text.size() > 1 && std::isdigit(static_cast<unsigned char>(text[1]))) {
        v = std::strtoul(text.c_str() + 1, &end, 10);
    } else {
        const char* digits = text.c_str() + (text[0] == '$');
        if (!std::isxdigit(static_cast<unsigned char>(*digits))) return label_value(text);
        v = std::strtoul(digits, &end, 16);
        if (*end) return label_value(text);
    }
    if (*end || v > 0xFFFF) return std::nullopt;
    return uint16_t(v);
}

bool run_command(const std::string& line, std::string& out) {
    const Args a = split(line);
    if (a.empty()) return false;
    for (const Command& c : COMMANDS)
        for (const char* name : c.names)
            if (name && a[0] == name) {
                try {
                    return c.run(a, out);
                } catch (const BadInput& bad) {
                    out += bad.text + "\n";
                    return false;
                }
            }
    out += "Unknown command: " + a[0] + " (help lists the commands)\n";
    return false;
}

std::string stop_header(const std::string& reason) {
    std::string s = reason + format(" after %llu cycles\n", (unsigned long long)cycles_since_resume());
    unsigned length;
    s += disassembly_line(Register.PC, length);
    next_disassembly = uint16_t(Register.PC + length);
    return s;
}
