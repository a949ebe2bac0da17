// The program: start-up, machine start, then the endless main loop.
#include "../core/tarvikon.h"
#include "startup.h"

int main(int argc, char** argv) {
    start_tarvikon(argc, argv);
    machine_start();
    main_loop();
}
