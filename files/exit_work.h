// Work that must be done before the program ends, however it ends: files
// still to be written, a temporary folder to remove.
//
// It is done at a normal exit, and when SIGTERM, SIGINT or SIGHUP ends the
// program. While any work waits, such a signal waits for the end of the
// frame, where the work is done and the signal raised again, so that the
// program ends as the signal would have ended it; with nothing waiting, or
// at a second signal, the signal ends the program at once. A handler that
// someone else set for a signal stays.
#pragma once

// `work` runs at exit and before a signal ends the program; `waiting`, which
// a signal handler calls, says whether there is any. Adding the same work
// again does nothing.
void add_exit_work(void (*work)(), bool (*waiting)());
