// The program's entry: banner, options and the fixed start-up order.
#pragma once

// Runs start-up steps 1 to 16 (everything before the machine start). Exits
// the process after the usage text or a fatal failure.
void start_tarvikon(int argc, char** argv);

// Prints the usage text.
void show_help();
