// Placeholder until the processor lands.
#include "cpu.h"
void execute_instruction() { cycles = 2; Register.PC++; }
