; The VIC's step from one character row to the next. Entered at cycle 0 of a
; line, the loop takes LINE cycles (65 or 71) per line: it writes the column
; count N1 (zero-page COLUMNS) to $9002 in cycle 6, before the text area
; (cell 48) is reached, and N2 (COLUMNS+1) in cycle 58, when the beam is at
; cell 4 x (58 + 1 - 7) = 208, past 16 columns' fetches (cell 48 + 128).
; Every line fetches N1 columns and ends with N2 in the register. Set-up:
; text from line 20 at cell 48, 4 rows of 8 lines, screen at $1800 (codes
; 0), character 0 solid at $1C00, colour RAM cell i colour i AND 7.
COLUMNS = $10

.include "timing.inc"

.segment "CODE"
        jmp setup
line:   lda COLUMNS             ; cycles 0-2
        sta $9002               ; write in cycle 6
        delay 45
        lda COLUMNS+1
        sta $9002               ; write in cycle 58
        delay LINE - 62
        jmp line

setup:  lda #12                 ; text from cell 48...
        sta $9000
        lda #10                 ; ...and line 20
        sta $9001
        lda #8                  ; 4 rows of 8 lines
        sta $9003
        lda #$EF                ; screen at $1800, characters at $1C00
        sta $9005
        lda #$EB                ; light blue background, cyan border
        sta $900F
        ldx #0
fill:   lda #0
        sta $1800,x
        lda #$FF
        sta $1C00,x
        txa
        and #7
        sta $9400,x
        inx
        bne fill
        brk
