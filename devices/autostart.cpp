// The autostart queue: lines typed at READY.
#include "autostart.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "../core/memory.h"
#include "../core/tarvikon.h"
#include "../files/fileio.h"

bool autostart_pending = false;

namespace {

constexpr uint8_t RETURN_KEY = 0x0D;

struct QueuedLine {
    std::string text;            // the keys still to type, Return included
    std::function<bool()> load;  // run before the first key; empty for none
};
std::deque<QueuedLine> queue;

}  // namespace

size_t type_into_buffer(const std::string& keys, size_t from) {
    if (memory[KEYS_WAITING] != 0 || from >= keys.size()) return 0;
    const size_t room = std::min<size_t>(memory[KEYBOARD_BUFFER_LIMIT], KEYBOARD_BUFFER_SIZE);
    const size_t n = std::min(keys.size() - from, room);
    std::memcpy(memory + KEYBOARD_BUFFER, keys.data() + from, n);
    memory[KEYS_WAITING] = uint8_t(n);
    return n;
}

bool editor_waits_in_direct_mode() {
    return Register.PC >= EDITOR_WAIT_LOOP && Register.PC < EDITOR_WAIT_LOOP_END && memory[KEYS_WAITING] == 0 &&
           (memory[MESSAGE_MODE] & DIRECT_MODE);
}

void autostart_queue_line(const std::string& text, std::function<bool()> load) {
    queue.push_back({text.empty() ? text : text + char(RETURN_KEY), std::move(load)});
    autostart_pending = true;
}

void autostart_queue_keys(const std::string& keys) {
    queue.push_back({keys, nullptr});
    autostart_pending = true;
}

void autostart_queue_line(const std::string& text, const std::string& program) {
    std::function<bool()> load;
    if (!program.empty()) load = [program] { return readbasic(program.c_str()) != -1; };
    autostart_queue_line(text, std::move(load));
}

void autostart_clear() {
    queue.clear();
    autostart_pending = false;
}

void autostart_next_line() {
    if (queue.empty() || !editor_waits_in_direct_mode()) return;
    QueuedLine& line = queue.front();
    if (line.load) {
        std::function<bool()> load = std::move(line.load);
        line.load = nullptr;
        if (!load() || line.text.empty()) {
            queue.pop_front();
            autostart_pending = !queue.empty();
            return;
        }
    }
    line.text.erase(0, type_into_buffer(line.text, 0));
    if (line.text.empty()) queue.pop_front();
    autostart_pending = !queue.empty();
}
