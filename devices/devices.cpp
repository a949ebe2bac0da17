#include "devices.h"

#include "../core/hooks.h"
#include "autostart.h"
#include "datasette.h"
#include "drive_state.h"
#include "kernal_trap.h"
#include "serial_bus.h"

void start_devices() {
    add_drive8_traps();
    add_serial_bus_traps();
    add_frame_call(autostart_at_frame_end);
    add_datasette_hooks();
    add_drive_state();
}
