; Reading a random file without a record number ends the program with the
; files module's line and exit status 1.
        global  _start
        extern  _FILEIO

%include "items.inc"

section .data
NUM f_SIZE, 0, '999999999999'
NUM f_READLENGTH, 0, '999999'
NUM f_STATUS, 0, '99'
        db 16
        dq 0
        dq 0
        db 'X'
        dq 255
f:      db 'files_fatal.dat'
        times 240 db ' '
        db 'R'
NUM item_NO, 0, '999999999'
        dq 3
item:   dq 0
        db 'X'
        dq 3
        db 'abc'
        dq 0
        db 0
        dq 3

section .text
_start:
        mov     r8, 2
        mov     r9, f
        mov     r10, 2
        call    _FILEIO
        xor     r8, r8
        mov     r9, f
        mov     r10, item
        call    _FILEIO
        mov     eax, 60                         ; not reached
        xor     edi, edi
        syscall
