// The headless test runner: -headless runs the machine without a window or
// sound as fast as the host allows, and the options below end the run with
// an exit status a script can test.
//   -limitcycles N    exit status 1 once the clock reaches N cycles
//   -type TEXT        typed at READY ("\n" is Return)
//   -exitaddress ADDR a write of V there ends the run with status V
//   -screenshot FILE  the picture as a PNG at the end
//   -screentext       the screen as text at the end
//   -expect TEXT      status 0 as soon as TEXT is on the screen
#pragma once

void set_headless();
void set_limit_cycles(const char* value);
void set_type_text(const char* value);
void set_exit_address(const char* value);
void set_screenshot(const char* value);
void set_screen_text();
void set_expect(const char* value);

// Start-up, after the devices and the program to start: arms the checks.
void start_test_runner();
