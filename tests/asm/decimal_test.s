; Exhaustive check of decimal-mode ADC and SBC: every pair of operands,
; invalid BCD included, with both carries in. Public-domain algorithm by
; Bruce Clark, here in ca65 syntax for the NMOS 6502.
;
; Result: ERROR ($0B) = 0 when every result matched, 1 on the first
; mismatch; N1, N2 and Y then hold the operands and the carry in. The
; program ends in a `jmp *` loop either way.
;
; Assemble with -D CHECK_ALL_FLAGS=1 to check N, V and Z as well as A and C.

.ifndef CHECK_ALL_FLAGS
CHECK_ALL_FLAGS = 0
.endif

chk_a = 1
chk_c = 1
chk_n = CHECK_ALL_FLAGS
chk_v = CHECK_ALL_FLAGS
chk_z = CHECK_ALL_FLAGS

.segment "ZEROPAGE"
; operands - register Y = carry in
N1:     .res 1
N2:     .res 1
; binary result
HA:     .res 1
HNVZC:  .res 1
; decimal result
DA:     .res 1
DNVZC:  .res 1
; predicted results
AR:     .res 1
NF:     .res 1
VF:     .res 1
ZF:     .res 1
CF:     .res 1
ERROR:  .res 1
; workspace
N1L:    .res 1
N1H:    .res 1
N2L:    .res 1
N2H:    .res 2

.segment "CODE"
TEST:   ldy #1          ; initialize Y (used to loop through carry flag values)
        sty ERROR       ; store 1 in ERROR until the test passes
        lda #0          ; initialize N1 and N2
        sta N1
        sta N2
LOOP1:  lda N2          ; N2L = N2 & $0F
        and #$0F
        sta N2L
        lda N2          ; N2H = N2 & $F0
        and #$F0
        sta N2H
        ora #$0F        ; N2H+1 = (N2 & $F0) + $0F
        sta N2H+1
LOOP2:  lda N1          ; N1L = N1 & $0F
        and #$0F
        sta N1L
        lda N1          ; N1H = N1 & $F0
        and #$F0
        sta N1H
        jsr ADD
        jsr A6502
        jsr COMPARE
        bne DONE
        jsr SUB
        jsr S6502
        jsr COMPARE
        bne DONE
NEXT1:  inc N1
        bne LOOP2       ; loop through all 256 values of N1
NEXT2:  inc N2
        bne LOOP1       ; loop through all 256 values of N2
        dey
        bpl LOOP1       ; loop through both values of the carry flag
        lda #0          ; test passed, so store 0 in ERROR
        sta ERROR
DONE:   jmp DONE

; Actual decimal result and flags, the binary result and flags of N1+N2,
; and the predicted accumulator, carry and V.
ADD:    sed             ; decimal mode
        cpy #1          ; set carry if Y = 1, clear carry if Y = 0
        lda N1
        adc N2
        sta DA          ; actual accumulator result in decimal mode
        php
        pla
        sta DNVZC       ; actual flags result in decimal mode
        cld             ; binary mode
        cpy #1
        lda N1
        adc N2
        sta HA          ; accumulator result of N1+N2 using binary arithmetic
        php
        pla
        sta HNVZC       ; flags result of N1+N2 using binary arithmetic
        cpy #1
        lda N1L
        adc N2L
        cmp #$0A
        ldx #0
        bcc A1
        inx
        adc #5          ; add 6 (carry is set)
        and #$0F
        sec
A1:     ora N1H
; if N1L + N2L <  $0A, then add N2 & $F0
; if N1L + N2L >= $0A, then add (N2 & $F0) + $0F + 1 (carry is set)
        adc N2H,x
        php
        bcs A2
        cmp #$A0
        bcc A3
A2:     adc #$5F        ; add $60 (carry is set)
        sec
A3:     sta AR          ; predicted accumulator result
        php
        pla
        sta CF          ; predicted carry result
        pla
        sta VF          ; predicted V flag (all 8 bits of P)
        rts

; Actual decimal result and flags, and the binary result and flags of N1-N2.
SUB:    sed
        cpy #1
        lda N1
        sbc N2
        sta DA
        php
        pla
        sta DNVZC
        cld
        cpy #1
        lda N1
        sbc N2
        sta HA
        php
        pla
        sta HNVZC
        rts

; Predicted SBC accumulator result of the NMOS 6502.
SUB1:   cpy #1
        lda N1L
        sbc N2L
        ldx #0
        bcs S11
        inx
        sbc #5          ; subtract 6 (carry is clear)
        and #$0F
        clc
S11:    ora N1H
; if N1L - N2L >= 0, then subtract N2 & $F0
; if N1L - N2L <  0, then subtract (N2 & $F0) + $0F + 1 (carry is clear)
        sbc N2H,x
        bcs S12
        sbc #$5F        ; subtract $60 (carry is clear)
S12:    sta AR
        rts

; Compare actual with predicted results: Z = 1 when they agree.
COMPARE:
.if chk_a
        lda DA
        cmp AR
        bne C1
.endif
.if chk_n
        lda DNVZC
        eor NF
        and #$80        ; N flag
        bne C1
.endif
.if chk_v
        lda DNVZC
        eor VF
        and #$40        ; V flag
        bne C1
.endif
.if chk_z
        lda DNVZC
        eor ZF
        and #2          ; Z flag
        bne C1
.endif
.if chk_c
        lda DNVZC
        eor CF
        and #1          ; C flag
.endif
C1:     rts

; Predicted flags of the NMOS 6502.
A6502:  lda VF          ; bit 7 of VF holds the predicted N
        sta NF
        lda HNVZC
        sta ZF
        rts

S6502:  jsr SUB1
        lda HNVZC
        sta NF
        sta VF
        sta ZF
        sta CF
        rts
