; A raster engine. It waits for raster line SYNC x 2 through $9004, starts
; the second VIA's timer 1 free-running with LATCH = one frame less 2, so
; that its flag rises once a frame in the same cycle F of the same line, and
; runs LDA abs (4), NOP, NOP (2 each), JMP (3): 11 cycles, prime to both
; frame lengths, so that the flag meets every cycle of the loop. The interrupt is taken
; after the first instruction whose poll (its second-to-last cycle) comes
; in F or later; it ends in E with late = E - 2 - F in 0..3, since the one
; before it ended by F + 1. The handler reads T1C-L in E + 13 (7 cycles of
; entry, JMP at $FF72, LDA abs's cycle 3); the counter showed LATCH in F + 1,
; so the read shows LATCH - 14 - late. Outside 0..3 the frame is rejected
; (REJECTED counts it); otherwise the handler waits 3 - late cycles, so that
; what follows runs in the same cycles every frame, and writes $900F at a
; fixed cycle of 8 lines: bands that stand still, counted in DRAWN.
.if LINE = 65
LATCH = 261 * 65 - 2            ; $4243
.else
LATCH = 312 * 71 - 2            ; $5686
.endif
SYNC = 50
DRAWN = $10                     ; 16 bits
REJECTED = $12                  ; 16 bits
temp = $14

.segment "CODE"
        .org $0200              ; loaded there: page positions are known
        jmp start
        .word handler           ; $0203: the test puts JMP handler at $FF72

start:  sei
        ldx #$FF
        txs
        lda #0
        sta DRAWN
        sta DRAWN+1
        sta REJECTED
        sta REJECTED+1
        lda #$7F
        sta $912E
        lda #$C0                ; timer 1 interrupts
        sta $912E
        lda #$40                ; free-run
        sta $912B
        lda #<LATCH
        sta $9126
wait:   lda $9004
        cmp #SYNC
        bne wait
        lda #>LATCH
        sta $9125               ; counts from here on, one frame a period
        cli
main:   lda $1000
        nop
        nop
        jmp main

        .res (256 - (* & $FF)) & $FF, $EA      ; one page: no branch crosses
handler:
        lda $9124               ; T1C-L: LATCH - 14 - late
        sta temp
        lda #<(LATCH - 14)
        sec
        sbc temp                ; late
        cmp #4
        bcs reject
        eor #3                  ; 3 - late cycles more:
        lsr a
        bcs d1                  ; bit 0: one
d1:     lsr a
        bcs d2                  ; bit 1: two
d2:     bcs d3
d3:     ldx #8
band:   lda colors-1,x          ; a line of LINE cycles each
        sta $900F
        .repeat (LINE - 13) / 2
        nop
        .endrep
        dex
        bne band
        lda #$08                ; black border again
        sta $900F
        inc DRAWN
        bne done
        inc DRAWN+1
done:   rti
reject: inc REJECTED
        bne done
        inc REJECTED+1
        rti
colors: .byte $0A, $0B, $0C, $0D, $0E, $0F, $0A, $0B
