// The program: start-up, machine start, then the endless main loop.
#include "../core/tarvikon.h"
#include "startup.h"

int main(int argc, char** argv) {
    start_tarvikon(argc, argv);
    machine_start();
    start_from_snapshot();
    main_loop();
}
