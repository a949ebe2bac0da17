// Checked single steps: the breakpoints before an instruction, the
// watchpoints on the accesses it is about to make (decoded from the opcode
// table, so zero page, the stack and chip registers alike), the stepping
// plans and the profile after it.
#include "debug.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <map>

#include "../core/cpu_table.h"
#include "../core/hooks.h"
#include "../core/memory.h"
#include "../core/tarvikon.h"
#include "labels.h"

using namespace cpu_table;

std::vector<Point> points;
std::vector<ProfileRange> profile_ranges;
bool profile_by_label = false;

namespace {

unsigned next_id = 1;
uint8_t point_map[0x10000];  // kinds of every point over each address

struct RunState {
    Plan plan = Plan::RUN;
    uint32_t count = 0;
    uint16_t target = 0;
    uint8_t sp = 0;
    bool stop_pending = false;
    std::string reason;
    bool skip_break = false;  // the instruction at the resume address runs once unchecked
    uint64_t resume_cycle = 0, stop_cycle = 0;
} run;

uint64_t limit_cycle = 0;
void (*limit_call)() = nullptr;

std::map<std::string, RoutineCount> routines;
std::string current_routine;

void rebuild_map() {
    std::memset(point_map, 0, sizeof point_map);
    for (const Point& p : points)
        for (unsigned a = p.from; a <= p.to; a++) point_map[a] |= p.kinds;
}

uint16_t reg_value(char reg) {
    switch (reg) {
    case 'A': return Register.A;
    case 'X': return Register.X;
    case 'Y': return Register.Y;
    case 'S': return Register.SP;
    case 'P': return compose_p();
    default: return Register.PC;
    }
}

// An access an instruction is about to make.
struct Access1 {
    uint16_t addr;
    uint8_t kind;
};

// The data accesses of the instruction at PC, from the registers as they stand.
unsigned decode_accesses(Access1 out[4]) {
    const uint16_t pc = Register.PC;
    const Entry& e = OPCODES[memory[pc]];
    const uint8_t lo = memory[uint16_t(pc + 1)];
    const uint16_t word = uint16_t(lo | memory[uint16_t(pc + 2)] << 8);
    const uint8_t sp = Register.SP;
    unsigned n = 0;
    auto stack = [&](int offset, uint8_t kind) { out[n++] = {uint16_t(0x100 + uint8_t(sp + offset)), kind}; };
    switch (e.op) {
    case Op::PHA:
    case Op::PHP: stack(0, POINT_WRITE); return n;
    case Op::PLA:
    case Op::PLP: stack(1, POINT_READ); return n;
    case Op::JSR: stack(0, POINT_WRITE), stack(-1, POINT_WRITE); return n;
    case Op::RTS: stack(1, POINT_READ), stack(2, POINT_READ); return n;
    case Op::RTI: stack(1, POINT_READ), stack(2, POINT_READ), stack(3, POINT_READ); return n;
    case Op::BRK: stack(0, POINT_WRITE), stack(-1, POINT_WRITE), stack(-2, POINT_WRITE); return n;
    default: break;
    }
    if (e.op == Op::JMP && e.mode == IND) {
        out[n++] = {word, POINT_READ};
        out[n++] = {uint16_t((word & 0xFF00) | uint8_t(word + 1)), POINT_READ};
        return n;
    }
    uint16_t ea;
    switch (e.mode) {
    case ZP: ea = lo; break;
    case ZPX: ea = uint8_t(lo + Register.X); break;
    case ZPY: ea = uint8_t(lo + Register.Y); break;
    case ABS: ea = word; break;
    case ABX: ea = uint16_t(word + Register.X); break;
    case ABY: ea = uint16_t(word + Register.Y); break;
    case IZX: ea = memory_word(uint8_t(lo + Register.X)); break;
    case IZY: ea = uint16_t(memory_word(lo) + Register.Y); break;
    default: return n;
    }
    if (e.access == Access::N) return n;
    const uint8_t kind = is_read(e.access) ? POINT_READ : is_write(e.access) ? POINT_WRITE : POINT_READ | POINT_WRITE;
    out[n++] = {ea, kind};
    return n;
}

// The value a store puts on the bus, from the registers before it; other
// writes (read-modify-write) leave theirs in memory.
int store_value(uint8_t opcode) {
    switch (OPCODES[opcode].op) {
    case Op::STA: return Register.A;
    case Op::STX: return Register.X;
    case Op::STY: return Register.Y;
    case Op::SAX: return Register.A & Register.X;
    default: return -1;
    }
}

std::string hex4(unsigned v) {
    char t[8];
    std::snprintf(t, sizeof t, "$%04X", v);
    return t;
}

void stop(const std::string& reason) {
    open_monitor(reason);
}

void count_profile(uint16_t pc, uint8_t sp, uint64_t taken) {
    // An execution ends when the next instruction is outside the range at
    // the entry's stack depth or above: not in a call or an interrupt.
    for (ProfileRange& r : profile_ranges) {
        if (!r.inside && pc >= r.from && pc <= r.to) {
            r.inside = true;
            r.entry_sp = sp;
            r.current = 0;
        }
        if (!r.inside) continue;
        r.current += taken;
        if ((Register.PC < r.from || Register.PC > r.to) && Register.SP >= r.entry_sp) {
            r.runs.push_back(r.current);
            r.inside = false;
        }
    }
    if (profile_by_label && !labels.by_address.empty()) {
        auto it = labels.by_address.upper_bound(pc);
        const std::string& name = it == labels.by_address.begin() ? std::string("(before the first label)")
                                                                   : std::prev(it)->second;
        RoutineCount& c = routines[name];
        if (name != current_routine) c.entries++;
        current_routine = name;
        c.cycles += taken;
    }
}

bool break_here(uint16_t pc) {
    for (const Point& p : points)
        if ((p.kinds & POINT_EXEC) && pc >= p.from && pc <= p.to && condition_holds(p.cond)) {
            stop("Breakpoint " + std::to_string(p.id) + " at " + hex4(pc));
            return true;
        }
    return false;
}

// One instruction with every check; true when it ran.
bool checked_step() {
    if (limit_call && machine_cycle() >= limit_cycle) limit_call();
    const uint16_t pc = Register.PC;
    const bool skip = run.skip_break;
    run.skip_break = false;
    if (!skip) {
        if ((point_map[pc] & POINT_EXEC) && break_here(pc)) return false;
        if ((run.plan == Plan::UNTIL && pc == run.target) ||
            (run.plan == Plan::OVER && pc == run.target && Register.SP == run.sp)) {
            stop(run.plan == Plan::UNTIL ? "Reached " + hex4(pc) : "Stepped over to " + hex4(pc));
            return false;
        }
    }
    Access1 acc[4];
    const unsigned n = decode_accesses(acc);
    const Point* hit = nullptr;
    uint16_t hit_addr = 0;
    uint8_t hit_kind = 0;
    for (unsigned i = 0; i < n && !hit; i++) {
        const uint8_t kinds = point_map[acc[i].addr] & acc[i].kind & (POINT_READ | POINT_WRITE);
        if (!kinds) continue;
        for (const Point& p : points)
            if ((p.kinds & kinds) && acc[i].addr >= p.from && acc[i].addr <= p.to && condition_holds(p.cond)) {
                hit = &p;
                hit_addr = acc[i].addr;
                hit_kind = p.kinds & kinds;
                break;
            }
    }
    const uint8_t opcode = memory[pc], sp = Register.SP;
    const int stored = store_value(opcode);
    const uint64_t before = machine_cycle();
    run_step();
    count_profile(pc, sp, machine_cycle() - before);

    if (hit) {
        const uint8_t value = uint8_t(stored >= 0 ? stored : memory[hit_addr]);
        if ((hit_kind & POINT_WRITE) && hit->on_write) {
            hit->on_write(value);
        } else if (!hit->on_write) {
            char text[96];
            if (hit_kind & POINT_WRITE)
                std::snprintf(text, sizeof text, "Watchpoint %u: $%02X written to $%04X at $%04X", hit->id, value,
                              hit_addr, pc);
            else
                std::snprintf(text, sizeof text, "Watchpoint %u: $%04X read at $%04X", hit->id, hit_addr, pc);
            stop(text);
            return true;
        }
    }
    const Op op = OPCODES[opcode].op;
    if (run.plan == Plan::STEPS && --run.count == 0) stop("Stepped to " + hex4(Register.PC));
    else if (run.plan == Plan::OUT && (op == Op::RTS || op == Op::RTI) && Register.SP > run.sp)
        stop("Returned to " + hex4(Register.PC));
    return true;
}

bool needs_steps() {
    return !points.empty() || run.plan != Plan::RUN || !profile_ranges.empty() || profile_by_label || limit_call;
}

void checked_frame() {
    for (;;) {
        if (run.stop_pending) {
            run.stop_pending = false;
            stop(run.reason);
        }
        if (!needs_steps()) {
            if (run_turn()) break;
            continue;
        }
        const uint16_t before = raster;
        checked_step();
        if (raster < before) break;
    }
    update_frame_runner();
}

}  // namespace

void update_frame_runner() {
    frame_runner = run.stop_pending || needs_steps() ? checked_frame : nullptr;
}

unsigned add_point(uint8_t kinds, uint16_t from, uint16_t to, const Condition& cond, void (*on_write)(uint8_t)) {
    points.push_back(Point{next_id++, kinds, from, to, cond, on_write});
    rebuild_map();
    update_frame_runner();
    return points.back().id;
}

bool delete_point(unsigned id) {
    auto it = std::find_if(points.begin(), points.end(), [&](const Point& p) { return p.id == id && !p.on_write; });
    if (it == points.end()) return false;
    points.erase(it);
    rebuild_map();
    update_frame_runner();
    return true;
}

void resume(Plan plan, uint32_t count, uint16_t target) {
    run.plan = plan;
    run.count = count;
    run.target = target;
    run.sp = Register.SP;
    if (plan == Plan::OVER) {
        // Over a JSR: up to the instruction after it at the same stack depth;
        // anything else is one step.
        if (OPCODES[memory[Register.PC]].op == Op::JSR) {
            run.target = uint16_t(Register.PC + 3);
        } else {
            run.plan = Plan::STEPS;
            run.count = 1;
        }
    }
    run.skip_break = true;
    run.resume_cycle = machine_cycle();
    for (ProfileRange& r : profile_ranges) {
        r.runs.clear();
        r.inside = false;
    }
    routines.clear();
    current_routine.clear();
    update_frame_runner();
}

void call_at_cycle_limit(uint64_t cycle, void (*call)()) {
    limit_cycle = cycle;
    limit_call = call;
    update_frame_runner();
}

void request_stop(const std::string& reason) {
    run.stop_pending = true;
    run.reason = reason;
    update_frame_runner();
}

uint64_t cycles_since_resume() { return machine_cycle() - run.resume_cycle; }

std::vector<std::pair<std::string, RoutineCount>> routine_profile() {
    std::vector<std::pair<std::string, RoutineCount>> list(routines.begin(), routines.end());
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.second.cycles > b.second.cycles; });
    return list;
}

void clear_profile() {
    profile_ranges.clear();
    profile_by_label = false;
    routines.clear();
    current_routine.clear();
    update_frame_runner();
}

// ---- conditions ---------------------------------------------------------------------

bool parse_condition(const std::string& text, Condition& cond, std::string& error) {
    std::string t;
    for (char c : text)
        if (c != ' ' && c != '\t') t += char(std::toupper(static_cast<unsigned char>(c)));
    struct RegName {
        const char* name;
        char reg;
    };
    static constexpr RegName REGS[] = {{"PC", 'C'}, {"SP", 'S'}, {"A", 'A'}, {"X", 'X'}, {"Y", 'Y'}, {"P", 'P'}};
    Condition c;
    size_t at = 0;
    for (const RegName& r : REGS)
        if (t.rfind(r.name, 0) == 0) {
            c.reg = r.reg;
            at = std::strlen(r.name);
            break;
        }
    static constexpr const char* OPS[] = {"==", "!=", "<=", ">=", "<", ">"};
    bool op_found = false;
    for (const char* op : OPS)
        if (c.reg && t.compare(at, std::strlen(op), op) == 0) {
            std::strcpy(c.op, op);
            at += std::strlen(op);
            op_found = true;
            break;
        }
    std::string value = t.substr(std::min(at, t.size()));
    if (!value.empty() && value[0] == '$') value.erase(0, 1);
    char* end = nullptr;
    const unsigned long v = value.empty() ? 0x10000 : std::strtoul(value.c_str(), &end, 16);
    if (!op_found || value.empty() || *end || v > 0xFFFF) {
        error = "Bad condition: " + text + " (like A==$05, X>=10, SP<$F0)";
        return false;
    }
    c.value = uint16_t(v);
    c.active = true;
    cond = c;
    return true;
}

bool condition_holds(const Condition& c) {
    if (!c.active) return true;
    const uint16_t v = reg_value(c.reg);
    const std::string op = c.op;
    if (op == "==") return v == c.value;
    if (op == "!=") return v != c.value;
    if (op == "<") return v < c.value;
    if (op == ">") return v > c.value;
    if (op == "<=") return v <= c.value;
    return v >= c.value;
}

std::string condition_text(const Condition& c) {
    if (!c.active) return "";
    const std::string reg = c.reg == 'C' ? "PC" : c.reg == 'S' ? "SP" : std::string(1, c.reg);
    char t[32];
    std::snprintf(t, sizeof t, " if %s%s$%02X", reg.c_str(), c.op, c.value);
    return t;
}
