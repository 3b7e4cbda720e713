; edit: for i = 1..N: num = i * 1.97 - 985000; ed = num edited through
; "###,##9.99-"; digitsum += the digit in position 10 of ed; neg += 1 when
; position 11 is "-".  N from argument 1 (default 1,000,000); the argument
; "base" as argument 2 runs the same loop without the edit.
;
; num has decimals, so its statement is a fixed-point calculation (an
; assignment, a multiplication by 197 read through "9.99", a subtraction);
; ed = num is a word move from a number, a call of _WORDS; the counters are
; whole numbers with inline integer arithmetic.
        global  _start
        extern  _NUMBERS, _WORDS, _ENDPROGRAM, w_SaveRSP
%include "items.inc"

section .data
NUM n, 1000000, '999999999'
NUM i, 0, '999999999'
NUM num, 0, '###,##9.99-'
NUM digitsum, 0, '#################9'
NUM neg, 0, '#########9'
LIT lit197, 197
LIT lit985000, 985000
PIC pic197, '9.99'
PIC ed, '      0.00 '                ; as the peer's VALUE clause
WRD arg, 20
WRD mode, 20
WRD out, 40
t_last:  db 'edit LAST=['
t_sum:   db '] DIGITSUM='
t_neg:   db ' NEG='
t_base:  db 'base'
lf:      db 10

section .text
_start:
        mov     [w_SaveRSP], rsp
        cmp     qword [rsp], 2
        jb      .run
        ARGUMENT 1, arg
        CALC    16, n, arg, 1, 20               ; n = argument 1
        ARGUMENT 2, mode
.run:
        mov     rbx, [n]
        mov     eax, [t_base]
        xor     r15d, r15d
        cmp     eax, [mode]
        jne     .edit_loop
        cmp     byte [mode + 4], ' '
        je      .base_loop
.edit_loop:
        mov     qword [i], 1
.e_next:
        cmp     [i], rbx
        jg      .done
        CALC    16, num, i, 0, 0                ; num = i
        CALC    4, num, lit197, pic197, 4       ;     * 1.97
        CALC    2, num, lit985000, 0, 0         ;     - 985000
        mov     r8, 0                           ; ed = num
        mov     r9, num
        xor     r10, r10
        xor     r11, r11
        mov     r12, ed
        mov     r13, 1
        mov     r14, 11
        xor     r15, r15
        call    _WORDS
        movzx   eax, byte [ed + 9]
        sub     eax, '0'
        add     [digitsum], rax
        xor     eax, eax
        cmp     byte [ed + 10], '-'
        sete    al
        add     [neg], rax
        inc     qword [i]
        jmp     .e_next
.base_loop:
        mov     qword [i], 1
.b_next:
        cmp     [i], rbx
        jg      .done
        CALC    16, num, i, 0, 0
        CALC    4, num, lit197, pic197, 4
        CALC    2, num, lit985000, 0, 0
        movzx   eax, byte [ed + 9]
        sub     eax, '0'
        add     [digitsum], rax
        xor     eax, eax
        cmp     byte [ed + 10], '-'
        sete    al
        add     [neg], rax
        inc     qword [i]
        jmp     .b_next
.done:
        PRINT_TEXT t_last, 11
        PRINT_TEXT ed, 11
        PRINT_TEXT t_sum, 11
        EDIT    digitsum, out
        PRINT_TRIMMED out
        PRINT_TEXT t_neg, 5
        EDIT    neg, out
        PRINT_TRIMMED out
        PRINT_TEXT lf, 1
        call    _ENDPROGRAM

section .note.GNU-stack noalloc noexec nowrite progbits
