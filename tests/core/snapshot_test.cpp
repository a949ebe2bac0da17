// Snapshots and rewind against the uninterrupted run: a machine loaded from
// a state saved at any moment between two turns, or rewound to one, must
// come out of the following frames exactly as the run that was never
// stopped. The whole state is compared, picture included. The sessions: the
// real ROMs on both standards loading from tape in real time with drive 8
// holding a folder, and a BASIC program writing and reading files on it;
// raster-timed bands on both chips; interlaced fields.
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>

#include "core/hooks.h"
#include "core/host.h"
#include "core/memory.h"
#include "core/rewind.h"
#include "core/snapshot.h"
#include "core/tarvikon.h"
#include "core/via.h"
#include "core/vic.h"
#include "devices/datasette.h"
#include "devices/dos.h"
#include "devices/drive8.h"
#include "files/fileio.h"
#include "files_support.h"
#include "support.h"
#include "tape_image.h"

namespace {

using State = std::vector<uint8_t>;
constexpr unsigned FRAMES_AFTER = 3;
constexpr unsigned FILE_RUN_FRAMES = 260;  // both fields of an interlaced picture drawn again

std::string part_differing(const State& a, const State& b) {
    if (a.size() != b.size()) return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    const size_t at = size_t(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
    return "first difference at byte " + std::to_string(at) + " of " + std::to_string(a.size());
}

// The reference run, turn by turn: the state at every frame's end, and
// snapshots taken at random turns; the rewind ring fed as the main loop does.
struct Reference {
    std::map<uint32_t, State> at_frame_end, unpictured_at_frame_end;
    std::vector<std::pair<uint32_t, State>> saved;  // frame count at saving, bytes
    uint32_t first_frame = 0, last_frame = 0;
    std::function<void(unsigned)> before_frame;  // what the test does to the machine, by frame
    // The frames from the moment loaded or rewound to, each against the
    // reference's, with the test's actions at the same frames.
    // A rewound machine has the picture of the moment it left, which the
    // first field drawn does not cover when the fields are interlaced.
    void expect_frames_as_before(const std::string& what, unsigned picture_from = 1) const {
        const uint32_t from = frame_count;
        for (unsigned f = 1; f <= FRAMES_AFTER; f++) {
            if (f > 1) before_frame(frame_count - first_frame);
            run_frame();
            const bool picture = f >= picture_from;
            const State& want = (picture ? at_frame_end : unpictured_at_frame_end).at(from + f);
            const State got = save_machine_state(picture);
            ASSERT_TRUE(got == want) << what << " " << from << ", " << f << " frames on: " << part_differing(got, want);
        }
    }
};

Reference run_reference(unsigned frames, unsigned saves, unsigned seed,
                        const std::function<void(unsigned)>& before_frame = [](unsigned) {}) {
    Reference ref;
    ref.first_frame = frame_count;
    ref.before_frame = before_frame;
    std::mt19937 random(seed);
    std::vector<bool> save_in_frame(frames, false);
    for (unsigned i = 0; i < saves; i++) save_in_frame[random() % (frames - FRAMES_AFTER - 1)] = true;
    rewind_clear();
    for (unsigned f = 0; f < frames; f++) {
        before_frame(f);
        const uint32_t turn_to_save = save_in_frame[f] ? random() % 250 : UINT32_MAX;
        for (uint32_t turn = 0;; turn++) {
            if (turn == turn_to_save) ref.saved.push_back({frame_count, save_machine_state(true)});
            if (run_turn()) break;
        }
        rewind_between_frames();
        ref.at_frame_end[frame_count] = save_machine_state(true);
        ref.unpictured_at_frame_end[frame_count] = save_machine_state(false);
    }
    ref.last_frame = frame_count;
    return ref;
}

// Everything a snapshot holds set to one byte, so that a value the load
// leaves out shows: the VIA records whole (a field added to them is covered
// too), then everything else the core keeps.
void scramble(uint8_t p) {
    std::memset(&Via1, p, sizeof Via1);
    std::memset(&Via2, p, sizeof Via2);
    wire_vias();
    std::memset(&Register, p, sizeof Register);
    std::memset(Flags, p & 1, sizeof Flags);
    nmi_low = nmi_alt = irq_low = field_odd = frame_interlaced = frame_ready = p & 1;
    field_extra = p & 2;
    std::memset(&vic_drawn, p, sizeof vic_drawn);
    std::memset(memory, p, 0x8000);
    std::memset(memory + 0x9000, p, 0x3000);
    std::memset(keyrow, p, sizeof keyrow);
    std::memset(keycol, p, sizeof keycol);
    keycount = joystick = joystick2 = Vic.lightpen_x = Vic.lightpen_y = cassette_keys = p;
    raster = x = y = intdef = p;
    line_cycles = p & 63;
    line_start_cycle = frame_count = p;
}

// Each snapshot loaded (into a scrambled machine) and run on; then rewinding, held for some frames.
void expect_same_runs(const Reference& ref) {
    ASSERT_FALSE(ref.saved.empty());
    for (const auto& [frame, bytes] : ref.saved) {
        scramble(frame & 1 ? 0xFF : 0x00);
        ASSERT_EQ(load_machine_state(bytes.data(), bytes.size(), false).refusal, StateRefusal::NONE);
        ASSERT_EQ(frame_count, frame);
        ASSERT_NO_FATAL_FAILURE(ref.expect_frames_as_before("saved in frame"));
    }
    const State& last = ref.at_frame_end.at(ref.last_frame);
    ASSERT_EQ(load_machine_state(last.data(), last.size(), false).refusal, StateRefusal::NONE);
    rewind_held = true;
    uint32_t reached = UINT32_MAX;
    for (unsigned step = 0; step < 8; step++) {
        rewind_between_frames();
        if (step % 2 == 0) EXPECT_LT(frame_count, reached) << "a step further back every other frame";
        else EXPECT_EQ(frame_count, reached) << "the state reached shown again";
        reached = frame_count;
    }
    rewind_held = false;
    EXPECT_LE(ref.last_frame - reached, 4 * REWIND_INTERVAL);
    ref.expect_frames_as_before("rewound to frame", 2);
}

class Snapshot : public testing::TestWithParam<uint8_t> {
protected:
    TempDir dir;
    void TearDown() override {
        capture_stdout([] {
            tape_eject();
            drive8_use_folder(".");
        });
        tape_instant_load = true;
    }
};

TEST_P(Snapshot, LoadedAtRandomMomentsOfATapeLoadRunsOnAsTheRunNeverStopped) {
    REQUIRE_ROMS();
    const uint8_t timing = GetParam();
    ASSERT_NO_FATAL_FAILURE(start_real_machine(timing));
    interrupt = intdef = 1;
    for (int f = 0; f < 150; f++) run_frame();  // READY, the cursor blinking
    const std::vector<uint8_t> tape = kernal_tap({{1, 0x1001, 0x1004, "ONE", {1, 2, 3}}});
    write_file(dir.file("one.tap"), std::string(tape.begin(), tape.end()));
    capture_stdout([&] {
        ASSERT_TRUE(tape_attach(dir.file("one.tap")));
        ASSERT_TRUE(drive8_use_folder(dir.path));
    });
    tape_instant_load = false;  // the pulses in real time
    const Reference ref = run_reference(240, 16, timing, [](unsigned f) {
        if (f != 60) return;
        tape_play();
        std::memcpy(memory + 0x277, "LOAD\r", 5);
        memory[0xC6] = 5;
    });
    EXPECT_NE(tape_status().find("PLAY"), std::string::npos);
    expect_same_runs(ref);
}

// A file written with PRINT#, then read back with GET# while a copy of it,
// each byte doubled, is written. Loaded anywhere in that, into a machine
// whose drive has other channels open and whose folder has lost every file,
// the run ends as the one never stopped: the same machine and the same copy
// (the file read, or written so far, comes from the snapshot).
const char* const FILE_PROGRAM[] = {
    "10 OPEN2,8,2,\"@0:LOG,S,W\":FORI=1TO24:PRINT#2,\"LINE\"I:NEXT:CLOSE2",
    "20 OPEN3,8,3,\"LOG,S,R\":OPEN4,8,4,\"@0:COPY,S,W\"",
    "30 GET#3,A$:E=ST:S=S+ASC(A$+CHR$(0)):PRINT#4,A$A$;:IFE=0GOTO30",
    "40 CLOSE4:CLOSE3:PRINT\"SUM\"S",
};

TEST_P(Snapshot, LoadedAtRandomMomentsOfFilesOpenOnDrive8RunsOnAsTheRunNeverStopped) {
    REQUIRE_ROMS();
    const uint8_t timing = GetParam();
    ASSERT_NO_FATAL_FAILURE(start_real_machine(timing));
    interrupt = intdef = 1;
    for (int f = 0; f < 150; f++) run_frame();
    for (std::string line : FILE_PROGRAM)
        for (size_t at = 0; at < (line += "\r").size(); at += 8) {
            const std::string part = line.substr(at, 8);
            std::memcpy(memory + 0x277, part.data(), part.size());
            memory[0xC6] = uint8_t(part.size());
            for (int f = 0; f < 10 || memory[0xC6]; f++) run_frame();
        }
    capture_stdout([&] { ASSERT_TRUE(drive8_use_folder(dir.path)); });
    const Reference ref = run_reference(FILE_RUN_FRAMES, 12, 3 + timing, [](unsigned f) {
        if (f != 0) return;
        std::memcpy(memory + 0x277, "RUN\r", 4);
        memory[0xC6] = 4;
    });
    const std::string copy = read_file(dir.file("copy.seq"));
    ASSERT_EQ(copy.size(), 2 * read_file(dir.file("log.seq")).size());
    ASSERT_FALSE(copy.empty());
    EXPECT_FALSE(dos_writing()) << "the program ended";

    unsigned writing = 0;
    for (const auto& [frame, bytes] : ref.saved) {
        for (const auto& entry : std::filesystem::directory_iterator(dir.path)) std::filesystem::remove(entry.path());
        dos_open(8, 2, "#");
        dos_open(8, 4, "@0:JUNK,S,W");
        dos_write(8, 4, 'J');
        dos_command(8, "Q");
        scramble(frame & 1 ? 0xFF : 0x00);
        ASSERT_EQ(load_machine_state(bytes.data(), bytes.size(), false).refusal, StateRefusal::NONE);
        const bool open = dos_writing();
        writing += open;
        ASSERT_NO_FATAL_FAILURE(ref.expect_frames_as_before("saved in frame"));
        while (frame_count < ref.last_frame) run_frame();
        const State got = save_machine_state(true), &want = ref.at_frame_end.at(ref.last_frame);
        ASSERT_TRUE(got == want) << "saved in frame " << frame << ", at the end: " << part_differing(got, want);
        if (open) {
            EXPECT_EQ(read_file(dir.file("copy.seq")), copy) << "saved in frame " << frame;
        }
        EXPECT_FALSE(std::filesystem::exists(dir.file("junk.seq"))) << "a file of the run left is not written";
    }
    EXPECT_GE(writing, ref.saved.size() / 3) << "snapshots taken with files open";
}

TEST_P(Snapshot, LoadedAtRandomMomentsOfARasterTimedPictureRunsOnAsTheRunNeverStopped) {
    const uint8_t timing = GetParam();
    if (!start_line_timed_program("raster_bands", timing)) SKIP_OR_FAIL("raster_bands not built");
    expect_same_runs(run_reference(60, 8, 7 + timing));
}

TEST(SnapshotInterlace, LoadedAtRandomMomentsOfInterlacedFieldsRunsOnAsTheRunNeverStopped) {
    new_machine(0);
    if (!load_test_program("interlace")) SKIP_OR_FAIL("interlace not built");
    interrupt = intdef = 1;
    const Reference ref = run_reference(60, 8, 11);
    EXPECT_EQ(frame_interlaced, 1);
    expect_same_runs(ref);
}

INSTANTIATE_TEST_SUITE_P(Standards, Snapshot, testing::Values(0, 1),
                         [](const testing::TestParamInfo<uint8_t>& info) { return info.param ? "PAL" : "NTSC"; });

}  // namespace
