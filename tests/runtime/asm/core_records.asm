; Text to record and record to text through _WORDS (129 and 130), and a
; numeric decision through _COMPARE, loaded as compiled statements load them.
        global  _start
        extern  _WORDS, _COMPARE, _ENDPROGRAM, b_Result, w_RecordBuffer, SX

%include "items.inc"

section .data
; record item: key (5), qty "9999", price "999.99-"; flat length 16
        db 'R'
NUM item_NO, 7, '999999999'
item$LENGTH: dq 16
item:
WRD key, '     '
NUM qty, 0, '9999'
NUM price, 0, '999.99-'
        dq 0
        db 0
item_CalcLen: dq 16

WRD source, '>>ABCDE0042012.50-tail'
WRD out, '....................'
NUM limit, 1250, '99.99'
flags:  db 'FT'
lf:     db 10

section .text
%macro PRINT 2
        mov     eax, 1
        mov     edi, 1
        mov     rsi, %1
        mov     rdx, %2
        syscall
%endmacro

_start:
        mov     r8, 129                         ; text to record
        mov     r12, source
        mov     r13, 3
        mov     r10, item
        call    _WORDS
        PRINT   key, 5
        PRINT   lf, 1
        ; price (-12.50) < limit (12.50)?  then price = limit?
        mov     r8, 4
        mov     r9, price
        xor     r10, r10
        xor     r11, r11
        mov     r12, limit
        xor     r13, r13
        xor     r14, r14
        call    _COMPARE
        mov     rax, [b_Result]
        lea     rsi, [flags + rax]
        PRINT   rsi, 1
        mov     r8, 1
        call    _COMPARE                        ; equal?  no
        mov     rax, [b_Result]
        lea     rsi, [flags + rax]
        PRINT   rsi, 1
        PRINT   lf, 1
        mov     qword [qty], 99
        mov     r8, 130                         ; record to text at 3
        mov     r10, item
        mov     r12, out
        mov     r13, 3
        call    _WORDS
        PRINT   out, 20
        PRINT   lf, 1
        ; the record number stays; the buffer holds the flat record
        mov     rax, [item_NO]
        add     al, '0'
        mov     [out], al
        PRINT   out, 1
        PRINT   w_RecordBuffer, [SX + 9]
        PRINT   lf, 1
        call    _ENDPROGRAM

section .note.GNU-stack noalloc noexec nowrite progbits
