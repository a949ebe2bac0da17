#include "basic_program.h"

namespace {

constexpr size_t LINE_OVERHEAD = 5;  // link, line number, the closing 0

void add_line(std::string& file, uint16_t start, int number, const std::string& text) {
    uint16_t next = uint16_t(start + (file.size() - 2) + LINE_OVERHEAD + text.size());
    file += char(next & 0xFF);
    file += char(next >> 8);
    file += char(number & 0xFF);
    file += char(number >> 8);
    file += text;
    file += '\0';
}

}  // namespace

std::string basic_file(uint16_t start, const std::vector<std::pair<int, std::string>>& lines, size_t file_bytes) {
    std::string file{char(start & 0xFF), char(start >> 8)};
    int last = 0;
    for (const auto& [number, text] : lines) {
        add_line(file, start, number, text);
        last = number;
    }
    size_t used = file.size() + 2;
    if (file_bytes >= used + LINE_OVERHEAD + REM_TOKEN.size())
        add_line(file, start, last + 10, REM_TOKEN + std::string(file_bytes - used - LINE_OVERHEAD - 1, 'X'));
    file += std::string(2, '\0');
    return file;
}

std::string marker_program(uint16_t start, size_t file_bytes) {
    return basic_file(start, {{10, PRINT_TOKEN + "\"AUTOSTART\";" + PEEK_TOKEN + "(44):" + END_TOKEN}}, file_bytes);
}
