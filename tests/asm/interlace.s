; Interlace on the 6560: sets $9000 bit 7 and colours each field by the
; field before it: only the 263-line field reaches line 262 ($9004 = 131),
; and the field after that one, the lower one, gets blue ($6E), every other
; field yellow ($7F).
.segment "ZEROPAGE"
long:   .res 1                  ; nonzero once this field reached line 262
last:   .res 1                  ; $9004 at the previous read

.segment "CODE"
        sei
        lda #$85                ; interlace, text area from cell 20
        sta $9000
        lda #0
        sta long
poll:   lda $9004
        cmp #131
        bne :+
        sta long
:       cmp last
        sta last
        bcs poll                ; a new field once the line number falls
        ldy #$7F
        lda long
        beq :+
        ldy #$6E
:       sty $900F
        lda #0
        sta long
        beq poll
