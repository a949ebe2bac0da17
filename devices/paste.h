// Text typed into the machine as if from its keyboard: the host's clipboard
// pasted at the cursor. Letters, digits, punctuation and the VIC's own
// symbols (£ ↑ ← π and the graphics that Edit > Copy screen writes) become
// the PETSCII codes its keys give; a line end is RETURN.
//
// Usage: paste_text(utf8) queues the text; at every frame end the keys go
// into the kernal's keyboard buffer whenever the kernal has emptied it, ten
// at most, which is as fast as a typist the kernal never loses a key of.
#pragma once

#include <cstdint>
#include <string>

// ---- the mapping ------------------------------------------------------------------

struct PetsciiText {
    std::string keys;       // PETSCII codes, RETURN ($0D) for each line end
    unsigned skipped = 0;   // characters the VIC 20 has no key or glyph for
};

// UTF-8 text as PETSCII for the character set in use: in the upper-case and
// graphics set both cases of a letter type the letter; in the lower-case
// set a capital is the shifted letter. "\r\n" and "\r" end a line as "\n"
// does; malformed UTF-8 counts as skipped.
PetsciiText petscii_from_utf8(const std::string& text, bool lower_case_set);

// True while the VIC shows the lower-case set.
bool lower_case_shown();

// ---- the typing ---------------------------------------------------------------------

// Queues the text after whatever still waits; says on one line how many
// characters were skipped, when any were.
void paste_text(const std::string& utf8);

// The frame call: the next keys into the buffer once it is empty.
void paste_at_frame_end();

// Keys still waiting (tests), and forgetting them (a reset, tests).
size_t paste_pending();
void paste_clear();
