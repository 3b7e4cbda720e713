; The kernel form of the fatal exit: rax = -2 prints "System Error is " and
; line 002 of the kernel table in light red, then exits with status 1.
        global  _start
        extern  _SYSERROR

section .text
_start:
        mov     rax, -2
        xor     r14, r14
        call    _SYSERROR

section .note.GNU-stack noalloc noexec nowrite progbits
