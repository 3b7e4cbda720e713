; A misuse ends the program through the fatal path: adding a word to a
; number prints the library line in light red and exits with status 1.
        global  _start
        extern  _NUMBERS, _ENDPROGRAM

section .data
        dq 1
        db '9'
        dq 4
total:  dq 0
        db '9999'
        dq 0
        db 'X'
        dq 2
text:   db '12'
before: db 'before', 10

section .text
_start:
        mov     eax, 1
        mov     edi, 1
        mov     rsi, before
        mov     edx, 7
        syscall
        mov     r8, 1                   ; add
        mov     r9, total
        mov     r12, text
        mov     r13, 1
        mov     r14, 2
        call    _NUMBERS
        call    _ENDPROGRAM             ; not reached

section .note.GNU-stack noalloc noexec nowrite progbits
