; Display words, a number through its picture, a word substring and the
; cursor, through the register entries.
        extern _DISPLAY, _CURSOR, _ENDPROGRAM, _getSTDIOhandles
        extern v_TopLeft, v_Line, v_TopRight, v_RedFG, v_ResetAll, Row9, Col9

section .data
        dq 1
        db '9'
        dq 2
seven:  dq 7
        db '99'
        dq 0
        db 'X'
        dq 11
greet:  db 'hello world'

section .text
global _start
_start:
        call _getSTDIOhandles
%macro SHOW 1
        mov r9, %1
        mov r10, 1
        mov r11, [%1 - 8]
        call _DISPLAY
%endmacro
        SHOW v_RedFG
        SHOW v_TopLeft
        SHOW v_Line
        SHOW v_TopRight
        SHOW v_ResetAll
        mov r9, seven
        xor r10, r10
        xor r11, r11
        call _DISPLAY
        mov r9, greet
        mov r10, 7
        mov r11, 5
        call _DISPLAY
        mov qword [Row9], 12
        mov qword [Col9], 3
        call _CURSOR
        call _ENDPROGRAM

section .note.GNU-stack noalloc noexec nowrite progbits
