; Waits for the raster through $9004 in each form of loop that programs use
; to time their frames: while the line is not 0 or 1 (BNE), until line 80
; (CMP, BNE), while it is line 80 or 81 (CMP, BEQ), until line 200 (CMP,
; BCC) and while it is below 240 (CMP, BCS is not taken: a wait that ends
; at once). After each wait it keeps the low byte of the second VIA's timer
; 1, which tells the cycle the wait ended in, in a ring of 256 at $1000,
; puts a new border colour and counts the waits in $02.
.segment "CODE"
        sei
        ldx #0
frame:  lda $9004
        bne frame
        jsr note
line80: lda $9004
        cmp #40
        bne line80
        jsr note
past80: lda $9004
        cmp #40
        beq past80
        jsr note
line200:
        lda $9004
        cmp #100
        bcc line200
        jsr note
below240:
        lda $9004
        cmp #120
        bcs below240
        jsr note
        jmp frame

note:   lda $9124
        sta $1000,x
        stx $900F
        stx $02
        inx
        rts
