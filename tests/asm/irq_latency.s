; Interrupt latency. For each case the second VIA's timer 1, one-shot with
; latch N and its interrupt enabled, is started by STA $9125, which writes in
; its last cycle W, right before a slide of instructions; the handler's first
; instruction reads T1C-L and the value goes to RESULTS.
;
; The rules: the counter shows N in cycle W + 1 and $FFFF in F = W + N + 2,
; where the flag and the IRQ line rise. The processor takes the interrupt
; after the first instruction whose poll cycle P is F or later: P is its
; second-to-last cycle, but the first for a taken branch that stays in its
; page; CLI and SEI poll with I as it was before them. After an instruction
; ending at E (its last cycle E - 1), 7 cycles of entry, JMP at $FF72 (3) and
; LDA $9124 reading in its cycle 3 put the read in E + 13, which shows
; $FFFF - (E + 13 - F). Slide instruction k occupies W + 1 + len*k onwards.
;   NOPs:     P = W+1+2k >= F: 2k >= N+1; E + 13 - F = 2k + 14 - N:
;             N even 16 ($EF), N odd 15 ($F0)
;   BIT abs:  P = W+3+4k >= F: 4k >= N-1; E + 13 - F = 4k + 16 - N:
;             N = 4q 16 ($EF), 4q+1 15 ($F0), 4q+2 18 ($ED), 4q+3 17 ($EE)
;   BCC *+2:  P = W+1+3k >= F: 3k >= N+1; E + 13 - F = 3k + 15 - N:
;             N = 3q 18 ($ED), 3q+1 17 ($EE), 3q+2 16 ($EF)
;   CLI late: I set, N = 4 (F = W+6), 8 NOPs to W+16, CLI W+17-W+18 polls
;             with I set, the NOP after it ends at E = W+21: 28 ($E3)
;   SEI:      N = 0 (F = W+2), NOP W+1-W+2, SEI W+3-W+4 polls with I
;             clear: E = W+5, 16 ($EF)
RESULTS = $20
ptr     = $10
index   = $12

.segment "CODE"
        .org $0200              ; loaded there: page positions are known
        jmp start
        .word handler           ; $0203: the test puts JMP handler at $FF72
        .word expected          ; $0205
        .byte CASES             ; $0207

latches:  .byte 8, 9, 10, 11,  8, 9, 10, 11,  9, 10, 11,  4,  0
blocks:   .word nops, nops, nops, nops, bits, bits, bits, bits
          .word branches, branches, branches, cli_late, sei_early
expected: .byte $EF, $F0, $EF, $F0,  $EF, $F0, $ED, $EE,  $ED, $EE, $EF,  $E3,  $EF
CASES = 13

start:  sei
        ldx #$FF
        txs
        lda #$7F                ; only the second VIA's timer 1 interrupts
        sta $912E
        lda #$C0
        sta $912E
        lda #$00                ; one-shot
        sta $912B
        sta index
next:   ldx index
        cpx #CASES
        beq done
        lda latches,x
        sta $9124
        txa
        asl
        tay
        lda blocks,y
        sta ptr
        lda blocks+1,y
        sta ptr+1
        lda #0
        jmp (ptr)
done:   brk

handler:
        lda $9124               ; T1C-L, in the handler's first instruction
        ldx index
        sta RESULTS,x
        ldx #$FF                ; drop the interrupt's frame
        txs
        inc index
        jmp next

; A slide: I as PRE sets it, the timer's start, then COUNT of INSTR.
.macro slide pre, count, instr
        pre
        sta $9125
        .repeat count
        instr
        .endrep
.endmacro

        .res (256 - (* & $FF)) & $FF, $EA      ; the slides in one page: no branch crosses
nops:   slide cli, 16, nop
        jmp *
bits:   slide cli, 16, {bit a:$0080}
        jmp *
branches:
        clc
        slide cli, 16, {bcc *+2}
        jmp *
cli_late:
        slide sei, 8, nop
        cli
        .repeat 8
        nop
        .endrep
        jmp *
sei_early:
        slide cli, 1, nop
        sei
        .repeat 8
        nop
        .endrep
        jmp *
