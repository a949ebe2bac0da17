#include "machine.h"

#include <cstdlib>
#include <cstring>

#include "core/hooks.h"
#include "core/host.h"
#include "core/memory.h"
#include "core/tarvikon.h"
#include "core/via.h"
#include "core/vic.h"
#include "devices/devices.h"

void reset_test_machine(uint8_t timing) {
    if (!memory) memory = static_cast<uint8_t*>(std::malloc(MEMORY_SIZE));
    std::memset(memory, 0, MEMORY_SIZE);
    std::memset(memory, 0xFF, 0x9000);
    std::memset(memory + 0xA000, 0xFF, 0x2000);
    std::memset(rombank, 0, sizeof rombank);
    std::memset(keyrow, 0xFF, sizeof keyrow);
    std::memset(keycol, 0xFF, sizeof keycol);
    keycount = 0;
    joystick = joystick2 = 0xFF;
    soundon = 0;
    tvsound = 0;
    verbose = 0;
    scale = 0;
    DUMP = 0;
    config = 0;
    ram = 0;
    memexp = memdef = 0;
    interrupt = 2;
    intdef = 2;
    delay_loop = 0;
    vid_time = vid_new = timing;
    overscan = overscan_set = 28;
    joystick_fd = -1;
    raster = 0;
    line_cycles = 0;
    frame_ready = 1;
    x = y = 0;
    cycles = 0;
    set_video_constants(timing);
    start_X_client();
    line_start_cycle = 0;
    wire_vias();
    init_via_timers();
    reset_vias();
    wire_vic();
    install_io_handlers();
    start_devices();
}
