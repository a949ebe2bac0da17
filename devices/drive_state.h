// The sections of drives 8 to 11 in a snapshot (core/snapshot.h).
#pragma once

void add_drive_state();
