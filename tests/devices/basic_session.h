// BASIC through the real kernal, headless, with both kernals: commands typed
// into the keyboard buffer, results read from the screen matrix.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>

#include "core/memory.h"
#include "core/tarvikon.h"
#include "files/fileio.h"
#include "files_support.h"
#include "screen.h"

// "10 PRINT 42" as BASIC saves it from $1001: load address, then the line.
inline const std::string PRINT_42_PROGRAM = std::string("\x01\x10\x0a\x10\x0a\x00\x99\x20\x34\x32\x00\x00\x00", 13);

class BasicSession : public testing::TestWithParam<uint8_t> {
protected:
    static constexpr uint16_t KEY_BUFFER = 0x0277, KEY_COUNT = 0xC6;
    static constexpr unsigned KEY_BUFFER_SIZE = 10;
    unsigned max_frames = 600;  // how long a command may take

    // The machine booted to READY with the parameter's kernal (1 PAL).
    void boot() {
        new_machine(GetParam());
        ASSERT_NO_FATAL_FAILURE(read_real_roms(GetParam()));
        patch_rom_version();
        insert_memory_expansion();
        machine_start();
        ASSERT_TRUE(run_until_ready(1));
    }

    // The rows joined and each run of spaces made one, so that text wrapped
    // onto the next row reads on.
    std::string screen() {
        std::string s;
        for (const std::string& row : read_matrix(memory).rows())
            for (char c : row)
                if (c != ' ' || s.empty() || s.back() != ' ') s += c;
        return s;
    }

    // Runs until `count` READY. prompts are on the screen after the cursor row.
    bool run_until_ready(unsigned count) {
        for (unsigned i = 0; i < max_frames; i++) {
            run_frame();
            if (count_of(screen(), "READY.") >= count && memory[KEY_COUNT] == 0) return true;
        }
        return false;
    }

    // Puts text into the keyboard buffer, a bufferful at a time, and runs
    // until the kernal has taken all of it.
    void type(const std::string& text) {
        for (size_t at = 0; at < text.size(); at += KEY_BUFFER_SIZE) {
            std::string part = text.substr(at, KEY_BUFFER_SIZE);
            std::memcpy(memory + KEY_BUFFER, part.data(), part.size());
            memory[KEY_COUNT] = uint8_t(part.size());
            for (unsigned i = 0; i < max_frames && memory[KEY_COUNT] != 0; i++) run_frame();
        }
        for (unsigned i = 0; i < 5; i++) run_frame();
    }

    // Types a direct command and runs until READY. follows it; the screen.
    std::string enter(const std::string& line) {
        type(line + "\r");
        for (unsigned i = 0; i < max_frames; i++) {
            std::string s = screen();
            size_t ready = s.rfind("READY.");
            size_t typed = s.rfind(line);
            if (typed != std::string::npos && ready != std::string::npos && ready > typed) return s.substr(typed);
            run_frame();
        }
        ADD_FAILURE() << "no READY. after " << line << "\n" << screen();
        return screen();
    }

    void clear_screen() { type("\x93"); }

    // Each text is somewhere in what a command left on the screen.
    static void shows(const std::string& screen, std::initializer_list<const char*> texts) {
        for (const char* text : texts) EXPECT_NE(screen.find(text), std::string::npos) << text << " not in\n" << screen;
    }
};

inline std::string kernal_name(const testing::TestParamInfo<uint8_t>& p) { return p.param ? "PAL" : "NTSC"; }
