; Colour bands at fixed cycles of every raster line. The screen is set up
; with a text area of blank characters; then the loop at BANDS, entered at
; cycle 0 of a raster line with interrupts off, takes exactly LINE cycles
; (65 on the 6560, 71 on the 6561) and writes $900F twice, so that both
; writes land in the same cycle of every line of every frame:
;   STA in cycle FIRST_WRITE:  cyan background, red border
;   STX in cycle SECOND_WRITE: blue background, green border
;
; $1000 jmp setup   (ends in the loop at $1006)
; $1003 jmp bands

.ifndef LINE
LINE = 71
.endif

FIRST_WRITE  = 19
SECOND_WRITE = 43

.macro delay cycles
    .if (cycles) .mod 2
        bit $00
        .repeat ((cycles) - 3) / 2
            nop
        .endrep
    .else
        .repeat (cycles) / 2
            nop
        .endrep
    .endif
.endmacro

.segment "CODE"
        jmp setup
        jmp bands
ready:  jmp ready

setup:  sei
        lda #12                 ; text from cell 48
        sta $9000
        lda #10                 ; from raster line 20
        sta $9001
        lda #22                 ; 22 columns, colour RAM at $9400
        sta $9002
        lda #46                 ; 23 rows of 8 lines
        sta $9003
        lda #$EF                ; screen at $1800, characters at $1C00
        sta $9005
        lda #0
        tax
clear:  sta $1800,x             ; the screen all code 0...
        sta $1900,x
        sta $1C00,x             ; ...and every character blank
        sta $1D00,x
        sta $1E00,x
        sta $1F00,x
        inx
        bne clear
        lda #$3A                ; cyan background, normal, red border
        ldx #$6D                ; blue background, normal, green border
        jmp ready

bands:  delay FIRST_WRITE - 3
        sta $900F               ; writes in its fourth cycle
        delay SECOND_WRITE - FIRST_WRITE - 4
        stx $900F
        delay LINE - SECOND_WRITE - 1 - 3
        jmp bands
