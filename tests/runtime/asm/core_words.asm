; Word moves, operand helpers, comparisons and the block primitives through
; their register entries; ends through _ENDPROGRAM with ERROR_CODE 3.
        global  _start
        extern  _WORDS, _NUMBERS, _COMPARE, _ARRAYCOMPARE, _CMPSTR, _MOVSTR, _PADSTR
        extern  No_Assist, _VALIDATE_SRC, _VALIDATE_DST, _ENDPROGRAM
        extern  RETURN_CODE, ERROR_CODE, b_Result, w_One

%include "items.inc"

section .data
WRD dest, '..........'
WRD src, 'hello'
WRD left, 'AB   '
WRD right, 'ABC'
WRD picw, '9.99'
NUM start4, 4, '99'
NUM len2, 2, '99'
NUM lit125, 125, '999'
NUM amount, 0, '99.99'
WRD out, '          '
flags:  db 'FT'
lf:     db 10
blk1:   db 'abcdefghijklm'
blk2:   db 'abcdefghijkLm'
buf:    times 16 db '#'

section .text
%macro PRINT 2                  ; address, length
        mov     eax, 1
        mov     edi, 1
        mov     rsi, %1
        mov     rdx, %2
        syscall
%endmacro
%macro NEWLINE 0
        PRINT   lf, 1
%endmacro
; print "T" or "F" for the 0/1 value at %1
%macro TRUTH 1
        mov     rax, [%1]
        lea     rsi, [flags + rax]
        mov     eax, 1
        mov     edi, 1
        mov     edx, 1
        syscall
%endmacro

_start:
        ; dest(start4, len2) = src, through No_Assist: the extra arguments
        ; are pushed first, then the operand.
        push    start4
        push    len2
        push    dest
        mov     r15, 3
        pop     r12
        call    No_Assist               ; r13 = 4, r14 = 2
        add     rsp, 16
        mov     r8, 0
        mov     r9, src
        mov     r10, [w_One]
        mov     r11, [src - 8]
        xor     r15, r15
        call    _WORDS                  ; plain move into {dest,4,2}
        PRINT   dest, 10
        NEWLINE
        ; upper case with padding
        mov     r8, 2 + 4
        mov     r9, src
        mov     r10, 2
        mov     r11, 3
        mov     r12, dest
        mov     r13, 1
        mov     r14, 10
        call    _WORDS
        PRINT   dest, 10
        NEWLINE
        ; number operand with a picture argument: amount = 125 read as 1.25
        push    picw
        push    lit125
        mov     r15, 2
        pop     r12
        call    No_Assist               ; r13 = picw, r14 = 4
        add     rsp, 8
        mov     r8, 16
        mov     r9, amount
        call    _NUMBERS
        mov     r8, 0
        mov     r9, amount
        xor     r10, r10
        xor     r11, r11
        mov     r12, out
        mov     r13, 1
        mov     r15, 1
        call    _NUMBERS
        PRINT   out, [out - 8]
        NEWLINE
        ; comparisons: "AB   " = "ABC"? "AB   " < "ABC"?
        mov     r8, 1
        mov     r9, left
        mov     r10, 1
        mov     r11, 5
        mov     r12, right
        mov     r13, 1
        mov     r14, 3
        call    _COMPARE
        TRUTH   b_Result
        mov     r8, 4
        call    _COMPARE                ; registers survive the call
        TRUTH   b_Result
        mov     r8, 8 + 1               ; -3 >= 2 ?
        mov     rax, -3
        mov     rbx, 2
        call    _ARRAYCOMPARE
        TRUTH   RETURN_CODE
        mov     r8, 32
        call    _ARRAYCOMPARE           ; -3 <= 2
        TRUTH   RETURN_CODE
        ; _CMPSTR flags: 13 bytes, difference at byte 12 ("m" > "L")
        mov     rsi, blk1
        mov     rdi, blk2
        mov     rcx, 13
        call    _CMPSTR
        seta    al
        movzx   eax, al
        mov     [b_Result], rax
        TRUTH   b_Result
        mov     rsi, blk1
        mov     rdi, blk1
        mov     rcx, 13
        call    _CMPSTR
        sete    al
        movzx   eax, al
        mov     [b_Result], rax
        TRUTH   b_Result
        NEWLINE
        ; _MOVSTR 11 bytes, then _PADSTR 3 of them
        mov     rsi, blk1
        mov     rdi, buf
        mov     rcx, 11
        call    _MOVSTR
        lea     rdi, [buf + 2]
        mov     rcx, 3
        call    _PADSTR
        PRINT   buf, 16
        NEWLINE
        ; normalisation: start 12, length 5 on "hello" -> start 5, length 1
        mov     r9, src
        mov     r10, 12
        mov     r11, 5
        call    _VALIDATE_SRC
        add     r10, '0'
        add     r11, '0'
        mov     [buf], r10b
        mov     [buf + 1], r11b
        ; destination start 0 -> 1
        mov     r12, dest
        mov     r13, 0
        call    _VALIDATE_DST
        add     r13, '0'
        mov     [buf + 2], r13b
        PRINT   buf, 3
        NEWLINE
        mov     qword [ERROR_CODE], 3
        call    _ENDPROGRAM

section .note.GNU-stack noalloc noexec nowrite progbits
