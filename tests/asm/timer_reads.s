; Timer counter reads at known cycles, interrupts off. Each case writes the
; counter's high byte with STA (its write cycle W), waits D cycles and reads
; with one instruction whose read falls in its cycle r (counted from 0):
; abs and abs,X within the page 3, abs,Y across a page and (zp),Y within
; it 4, (zp),Y across a page and (zp,X) 5. The read is in cycle
; W + k, k = 1 + D + r. With N = 5 the counter shows 6 - k up to k = 6
; (0), then $FFFF (k = 7, the flag rises), $FFFE, ...: low bytes $FF, $FE.
; Timer 2 counts the same way. The flag register shows bit 6 from k = 7. A
; read-modify-write of the flags writes the value read, then the result.
RESULTS = $20
ptr_in  = $10                   ; $9124: (zp),Y within the page, (zp,X)
ptr_out = $12                   ; $90FF: (zp),Y with Y = $25 crosses
ptr_t2  = $14                   ; $9128

.include "timing.inc"

; One case: result k of start (a T1C-H or T2C-H write), D cycles, read.
.macro case k, start, d, read
        lda #0
        start
        delay d
        read
        sta RESULTS+k
.endmacro

.segment "CODE"
        jmp start
        .word 0
        .word expected
        .byte CASES

expected:
        .byte 2, 0, $FF, $FE            ; abs, k = 4, 6, 7, 8
        .byte $FF, 0                    ; abs,X within the page, k = 7, 6
        .byte 1, $FF                    ; abs,Y across, k = 5, 7
        .byte $FF, 1                    ; (zp),Y within, k = 7, 5
        .byte 0, $FE                    ; (zp),Y across, k = 6, 8
        .byte 0, $FE                    ; (zp,X), k = 6, 8
        .byte 0, $40                    ; IFR, k = 6, 7 (nothing enabled: bit 7 clear)
        .byte 0, $FF, $FE               ; timer 2 abs, k = 6, 7, 8
        .byte 0                         ; IFR after LSR of $40: $40 written back first
CASES = 20

start:  sei
        lda #$7F
        sta $912E
        lda #$00                ; one-shot
        sta $912B
        lda #5
        sta $9124               ; latch N = 5
        sta $9128
        lda #$24
        sta ptr_in
        lda #$FF
        sta ptr_out
        lda #$28
        sta ptr_t2
        lda #$91
        sta ptr_in+1
        sta ptr_t2+1
        lda #$90
        sta ptr_out+1
        ldx #$24

        case 0, {sta $9125}, 0, {lda $9124}
        case 1, {sta $9125}, 2, {lda $9124}
        case 2, {sta $9125}, 3, {lda $9124}
        case 3, {sta $9125}, 4, {lda $9124}
        case 4, {sta $9125}, 3, {lda $9100,x}
        case 5, {sta $9125}, 2, {lda $9100,x}
        ldy #$25
        case 6, {sta $9125}, 0, {lda $90FF,y}
        case 7, {sta $9125}, 2, {lda $90FF,y}
        ldy #0
        case 8, {sta $9125}, 2, {lda (ptr_in),y}
        case 9, {sta $9125}, 0, {lda (ptr_in),y}
        ldy #$25
        case 10, {sta $9125}, 0, {lda (ptr_out),y}
        case 11, {sta $9125}, 2, {lda (ptr_out),y}
        ldx #0
        case 12, {sta $9125}, 0, {lda (ptr_in,x)}
        case 13, {sta $9125}, 2, {lda (ptr_in,x)}
        case 14, {sta $9125}, 2, {lda $912D}
        case 15, {sta $9125}, 3, {lda $912D}
        case 16, {sta $9129}, 2, {lda $9128}
        case 17, {sta $9129}, 3, {lda $9128}
        case 18, {sta $9129}, 4, {lda $9128}
        ; The T1 flag up (k = 7 onwards), LSR $912D writes $40 back, which
        ; clears it, before it writes $20.
        case 19, {sta $9125}, 6, {lsr $912D}
        lda $912D
        sta RESULTS+19
        brk
