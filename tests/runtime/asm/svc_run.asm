; Starts a program, waits for it and ends with its exit status.
        extern _RUN_INTERACTIVE, _WAIT, _ENDPROGRAM, CHILD_PID

section .data
        dq 0
        db 'X'
        dq 20
command: db '/bin/false          '

section .text
global _start
_start:
        mov r9, command
        call _RUN_INTERACTIVE
        mov r9, CHILD_PID
        call _WAIT
        call _ENDPROGRAM

section .note.GNU-stack noalloc noexec nowrite progbits
