// Every call from the core out of itself. Most go to its host: the X
// display and dialogs in the program (ui/X*.cpp), or a headless stand-in for
// tests and benchmarks (ui/headless.cpp); exactly one of the two is linked.
// The last few go to the files and the sound process.
#pragma once

#include <cstdint>

// Pixel memory of the frame image. The renderer writes raster line r at byte
// offset r * FRAME_LINE_BYTES, one 16-bit double pixel per VIC pixel; with the
// doubled window the image is FRAME_ALLOC_BYTES long.
constexpr uint32_t FRAME_LINE_BYTES = 520;
constexpr uint32_t FRAME_LINES = 312;
constexpr uint32_t FRAME_CELLS = 260;
constexpr uint32_t FRAME_ALLOC_BYTES = 2 * FRAME_LINES * 2 * FRAME_LINE_BYTES;
extern uint8_t* frame_image;
// Nonzero while the VIC draws interlaced fields: raster line r of the odd
// field is then at row FRAME_LINES + r of frame_image, after the even field's
// rows, and the picture shown interleaves the two latest fields.
extern uint8_t frame_interlaced;

// 1 when the program runs without a display (-headless): the X host then
// opens no window and draws nothing; the frame image is plain memory.
extern uint8_t no_display;

// Initialises the toolkit, which takes its own options out of argc/argv.
void host_init(int* argc, char** argv);

// Builds the window, dialogs, colours and frame image; ends the process on failure.
void start_X_client();
void close_X_client();

// Shows the finished frame.
void put_frame();

// Handles at most one pending window-system event.
void poll_event();

// Handles window-system events as they arrive until the monotonic clock
// (pacing.h) reaches deadline_ns, sleeping in between; when that time has
// passed, only handles what is pending.
void wait_until(int64_t deadline_ns);

void resize_main_window(unsigned cycles_per_line, unsigned new_overscan);

void show_halt_dialog();
void show_wrongmemory_dialog(int expansion);

// ---- the files and the sound -------------------------------------------------------

// Reads exactly `size` bytes of an image to `address`; 0, or -1 after its
// failure text, with memory left as it was (files/fileio.cpp).
int readrom(const char* path, uint16_t address, int size);

// Puts the devices' trap points into the kernal image and writes the version
// text unless "-ver" was given. Called wherever the kernal is (re)loaded.
void patch_rom_version();

// Writes every address with its byte to dump.txt.
void dump();

// Sound register messages: codes 0..4 from the VIC's sound registers, 5 for
// a change of video standard (its cycles per raster line). Sent while sound
// is on (sound/sound.cpp); the core knows nothing else of the sound.
enum SoundCode : uint8_t { SND_VOLUME = 0, SND_BASS = 1, SND_ALTO = 2, SND_SOPRANO = 3, SND_NOISE = 4, SND_STANDARD = 5 };
void forward_sound(uint8_t code, uint8_t value);
void stop_sound_process();  // shut-down: close, SIGUSR1, wait
