; arith: for i = 1..N: price = i * 1.1; total = total + price; qty = qty + 1
; N from argument 1 (default 10,000,000).
;
; Written as the translator and the macro package compile the program:
; price and total have decimals, so their statements are fixed-point
; calculations, one call of _NUMBERS per operation (price = i * 1.1 is an
; assignment and a multiplication by the literal 11 read through "9.9");
; i and qty are whole numbers, whose statements are inline integer
; arithmetic with the range check of the fixed-point module.
        global  _start
        extern  _NUMBERS, _ENDPROGRAM, _SYSERROR, w_SaveRSP, err02
%include "items.inc"

section .data
NUM n, 10000000, '999999999'
NUM i, 0, '999999999'
NUM price, 0, '###############9.9999-'
NUM total, 0, '#################9.9999'
NUM qty, 0, '#########9'
LIT lit11, 11
PIC pic11, '9.9'
WRD arg, 20
WRD out, 40
t_total: db 'arith TOTAL='
t_qty:   db ' QTY='
lf:      db 10

section .text
_start:
        mov     [w_SaveRSP], rsp
        cmp     qword [rsp], 2
        jb      .run
        ARGUMENT 1, arg
        CALC    16, n, arg, 1, 20               ; n = argument 1
.run:
        mov     rbx, [n]
        mov     qword [i], 1
.loop:
        cmp     [i], rbx                        ; integer loop counter
        jg      .done
        CALC    16, price, i, 0, 0              ; price = i
        CALC    4, price, lit11, pic11, 3       ;       * 1.1
        CALC    1, total, price, 0, 0           ; total = total + price
        add     qword [qty], 1                  ; qty = qty + 1
        jo      .range
        inc     qword [i]
        jmp     .loop
.range:
        xor     eax, eax
        mov     r14, err02
        call    _SYSERROR
.done:
        PRINT_TEXT t_total, 12
        EDIT    total, out
        PRINT_TRIMMED out
        PRINT_TEXT t_qty, 5
        EDIT    qty, out
        PRINT_TRIMMED out
        PRINT_TEXT lf, 1
        call    _ENDPROGRAM

section .note.GNU-stack noalloc noexec nowrite progbits
