; Arithmetic, editing, text conversion and numeric comparison through the
; register entries, loaded exactly as compiled statements load them.
        global  _start
        extern  _NUMBERS, _COMPARE_NO, _ENDPROGRAM, RETURN_CODE, ERROR_CODE

%include "items.inc"

section .data
NUM price, 0, '###,###,###,##9.9999-'
NUM total, 0, '###,###,###,##9.9999-'
NUM i, 7, '999999999'
NUM cents, 1000, '999.99'
LIT lit11, 11
LIT lit3, 3
LIT lit6, 6
WRD pic11, '9.9'
WRD text1, '1,234.5'
WRD text2, '12 34'
WRD out, '                              '
WRD pic7, '9999999'
NUM rc, 0, '9-'
lf:     db 10
relchars: db '<=>'

section .text
; r8 op, r9 target, r12 operand, r13/r14 explicit picture
%macro CALC 5
        mov     r8, %1
        mov     r9, %2
        mov     r12, %3
        mov     r13, %4
        mov     r14, %5
        call    _NUMBERS
%endmacro

; Edit the number at %1 through its own picture into `out` and print it.
%macro SHOW 1
        mov     r8, 0
        mov     r9, %1
        xor     r10, r10
        xor     r11, r11
        mov     r12, out
        mov     r13, 1
        mov     r15, 1          ; out takes the picture's length
        call    _NUMBERS
        call    print_out
%endmacro

_start:
        CALC    16, price, i, 0, 0              ; price = i
        CALC    4, price, lit11, pic11, 3       ; price = price * 1.1
        SHOW    price                           ; 7.7000
        CALC    1, total, price, 0, 0
        CALC    1, total, price, 0, 0           ; total = 15.4
        CALC    2, total, lit3, 0, 0            ; total = 12.4
        SHOW    total
        CALC    8, cents, lit3, 0, 0            ; 10.00 / 3
        SHOW    cents
        mov     qword [cents], 1000
        CALC    8, cents, lit6, 0, 0            ; 10.00 / 6
        SHOW    cents
        CALC    16, price, text1, 1, 7          ; text to number
        SHOW    price
        call    show_rc
        CALC    16, price, text2, 1, 5
        SHOW    price
        call    show_rc
        ; explicit picture in r10/r11 when editing
        mov     r8, 0
        mov     r9, i
        mov     r10, pic7 + 0
        mov     r11, 7
        mov     r12, out
        mov     r13, 1
        mov     r15, 1
        call    _NUMBERS
        call    print_out
        ; 1.1 (literal through "9.9") against price 12.34 and 1.10
        mov     r9, lit11
        mov     r10, pic11
        mov     r11, 3
        mov     r12, price
        xor     r13, r13
        xor     r14, r14
        call    _COMPARE_NO
        call    show_relation
        mov     qword [cents], 110
        mov     r9, lit11
        mov     r10, pic11
        mov     r11, 3
        mov     r12, cents
        xor     r13, r13
        xor     r14, r14
        call    _COMPARE_NO
        call    show_relation
        mov     qword [ERROR_CODE], 0
        call    _ENDPROGRAM

show_rc:
        mov     rax, [RETURN_CODE]
        mov     [rc], rax
        SHOW    rc
        ret

; r15 = -1, 0, 1 -> "<", "=", ">"
show_relation:
        lea     rsi, [relchars + 1 + r15]
        mov     eax, 1
        mov     edi, 1
        mov     edx, 1
        syscall
        mov     eax, 1
        mov     edi, 1
        mov     rsi, lf
        mov     edx, 1
        syscall
        ret

print_out:
        mov     eax, 1
        mov     edi, 1
        mov     rsi, out
        mov     rdx, [out - 8]
        syscall
        mov     eax, 1
        mov     edi, 1
        mov     rsi, lf
        mov     edx, 1
        syscall
        ret

section .note.GNU-stack noalloc noexec nowrite progbits
