; Colour bands at fixed cycles of every raster line: after SETUP (a text
; area of blank characters at cell 48, lines 20-203), the loop at $0203,
; entered at cycle 0 of a line, takes LINE cycles (65 on the 6560, 71 on
; the 6561) and writes $900F in its cycles 19 and 43.
.macro delay cycles
        .repeat (cycles) / 2
        nop
        .endrep
.endmacro

.segment "CODE"
        jmp setup
bands:  delay 16
        sta $900F               ; cycle 19: cyan background, red border
        delay 20
        stx $900F               ; cycle 43: blue background, green border
        delay LINE - 47
        jmp bands

setup:  lda #12
        ldx #10
        ldy #22
        sta $9000               ; text from cell 48...
        stx $9001               ; ...and line 20, 22 columns...
        sty $9002
        lda #46                 ; ...23 rows of 8 lines
        sta $9003
        lda #$EF                ; screen at $1800, characters at $1C00
        sta $9005
        lda #0
        tax
clear:  sta $1800,x             ; screen codes 0, character 0 blank
        sta $1900,x
        sta $1C00,x
        inx
        bne clear
        lda #$3A
        ldx #$6D
        brk
