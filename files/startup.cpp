// Placeholder until start-up lands.
#include "startup.h"
void start_tarvikon(int, char**) {}
void show_help() {}
