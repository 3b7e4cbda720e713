; Date requests through _DATE: day number to text, text to day number, and
; a rejected text ending the program with ERROR_CODE 1.
        extern _DATE, _DISPLAY, _ENDPROGRAM, ERROR_CODE, LF

section .data
day:    dq 789
        dq 0
        db 'X'
        dq 10
text:   times 10 db ' '
good:   db '2024-02-29'
bad:    db '2023/02/29'

section .text
global _start
_start:
        mov r8, 1               ; day number to text
        mov r9, day
        mov r10, text
        call _DATE
        call show
        mov r8, 2               ; text to day number
        mov r9, day
        mov r10, good
        call _DATE
        mov r8, 1
        mov r9, day
        mov r10, text
        call _DATE
        call show
        cmp qword [day], 19782
        jne failed
        mov r8, 2
        mov r9, day
        mov r10, bad
        call _DATE
        cmp qword [day], 19782  ; unchanged by the rejected text
        jne failed
        call _ENDPROGRAM        ; ERROR_CODE is 1
failed:
        mov qword [ERROR_CODE], 9
        call _ENDPROGRAM

show:
        mov r9, text
        mov r10, 1
        mov r11, 10
        call _DISPLAY
        mov r9, LF
        mov r10, 1
        mov r11, 1
        call _DISPLAY
        ret

section .note.GNU-stack noalloc noexec nowrite progbits
