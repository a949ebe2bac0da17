; A program for the headless test runner: prints a line, works out 6 * 7
; with interrupts off, and reports the result by writing it to $FFFF (the
; test's -exitaddress), then waits for ever.
        .word $1001             ; the .prg's load address
        .word basic_end, 10     ; 10 SYS 4109
        .byte $9E, "4109", 0
basic_end:
        .word 0
start:
        .assert start = 4109, error, "the SYS line must name start"
        ldx #0
print:  lda text,x
        beq multiply
        jsr $FFD2               ; CHROUT
        inx
        bne print
multiply:
        sei
        lda #0
        ldy #6
mul:    clc
        adc #7
        dey
        bne mul
store:  cli
        sta $FFFF
forever:
        jmp forever
text:   .byte "HELLO FROM CA65", 13, 0
