// The settings file tarvikon.rc in the working directory: read at start-up,
// written by Save config.
#pragma once

// Start-up: reads tarvikon.rc field by field, falling back to defaults.
void read_config();

// The expansion in memexp is the user's choice (read from tarvikon.rc, or
// given with -memory): start-up keeps it for the programs that fit.
extern bool expansion_chosen;

// Writes the settings in effect; the result of the close, or -1 on failure.
int save_config();
