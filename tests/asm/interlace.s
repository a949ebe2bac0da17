; Interlace on the 6560: sets $9000 bit 7 and colours every field by what
; the raster register showed in the field before it. Only the 263-line field
; reaches line 262 ($9004 = 131); the field after it, the lower one, gets a
; blue background and border, every other field a yellow one.
;
; $1000 start (never returns)

LONG_FIELD_TOP = 131            ; line 262 >> 1
UPPER_COLOURS  = $7F            ; yellow background and border, normal
LOWER_COLOURS  = $6E            ; blue background and border, normal

long    = $FB                   ; the field so far reached line 262
last    = $FC                   ; $9004 at the previous read

.segment "CODE"
start:  sei
        lda #$85                ; interlace, text area from cell 20
        sta $9000
        lda #0
        sta long
        sta last
poll:   lda $9004
        cmp #LONG_FIELD_TOP
        bne not_long
        sta long                ; nonzero
not_long:
        cmp last
        sta last
        bcs poll                ; no new field unless the line number fell
        ldy #UPPER_COLOURS
        lda long
        beq colour
        ldy #LOWER_COLOURS
colour: sty $900F
        lda #0
        sta long
        beq poll
