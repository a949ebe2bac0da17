// Where the monitor's lines come from and go to: the terminal the emulator
// was started from, and a TCP client on 127.0.0.1 (-remotemonitor PORT).
#pragma once

#include <string>

// -monitor: the monitor opens before the first instruction.
void monitor_at_start();

// -remotemonitor PORT; the socket opens with start_monitor().
void set_remote_monitor_port(const char* value);

// Start-up, after the devices: opens the remote socket and arranges
// -monitor. A remote line that arrives while the machine runs stops it.
void start_monitor();

// The key and the menu item: stops the machine and opens the monitor.
void monitor_key();

// What the monitor prints before each command's answer; for the socket's
// clients, the end of an answer.
constexpr const char* MONITOR_PROMPT = "> ";
