// Drive 8's section of a snapshot (core/snapshot.h).
#pragma once

void add_drive_state();
