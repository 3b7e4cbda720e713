; Line and random files through _FILEIO, _FIELDS and _DELIMITER, loaded as
; compiled statements load them, in a program linked with nothing but the
; runtime archive.
        global  _start
        extern  _FILEIO, _FIELDS, _DELIMITER, _ENDPROGRAM, w_RecordBuffer

%include "items.inc"
%macro FILEBLOCK 3              ; name, kind, path
NUM %1_SIZE, 0, '999999999999'
NUM %1_READLENGTH, 0, '999999'
NUM %1_STATUS, 0, '99'
        db %2
%1_HANDLE: dq 0
        dq 0
        db 'X'
        dq 255
%1:     db %3
        times 255 - %strlen(%3) db ' '
%endmacro

section .data
FILEBLOCK lines, 2, 'files_lines.txt'
FILEBLOCK rand, 16, 'files_rand.dat'
WRD name, 'alpha'
NUM qty, 42, '999'
; record item: key (3), qty "99"; flat length 5
        db 'R'
NUM item_NO, 0, '999999999'
item$LENGTH: dq 5
item:
WRD key, 'XYZ'
NUM iqty, 7, '99'
        dq 0
        db 0
        dq 5
lf:     db 10
digits: db '0123456789'

section .text
%macro PRINT 2
        mov     eax, 1
        mov     edi, 1
        mov     rsi, %1
        mov     rdx, %2
        syscall
%endmacro
%macro FILEIO 3                 ; operation, file, r10
        mov     r8, %1
        mov     r9, %2
        mov     r10, %3
        call    _FILEIO
%endmacro
; PRINTSTATUS file: its status as two digits and a line feed
%macro PRINTSTATUS 1
        mov     rax, [%1_STATUS]
        xor     edx, edx
        mov     ecx, 10
        div     rcx
        lea     rsi, [digits + rax]
        push    rdx
        PRINT   rsi, 1
        pop     rdx
        lea     rsi, [digits + rdx]
        PRINT   rsi, 1
        PRINT   lf, 1
%endmacro

_start:
        FILEIO  2, lines, 513                   ; write, empty
        mov     rbx, 3
.write: mov     rdi, w_RecordBuffer
        mov     r15, lines
        mov     r8, 1
        mov     r9, name
        mov     r10, 1
        mov     r11, 5
        call    _FIELDS
        mov     r8, 1
        mov     r9, qty
        xor     r10, r10
        xor     r11, r11
        call    _FIELDS
        call    _DELIMITER
        FILEIO  1, lines, 0
        inc     qword [qty]
        dec     rbx
        jnz     .write
        FILEIO  3, lines, 0
        FILEIO  2, lines, 0                     ; read
.read:  FILEIO  0, lines, 0
        cmp     qword [lines_STATUS], 10
        je      .done
        PRINT   w_RecordBuffer, [lines_READLENGTH]
        PRINT   lf, 1
        jmp     .read
.done:  PRINTSTATUS lines
        FILEIO  3, lines, 0

        ; record 2 of a new random file; record 1 reads as invalid key
        FILEIO  2, rand, 2
        mov     qword [item_NO], 2
        FILEIO  1, rand, item
        mov     qword [item_NO], 1
        mov     dword [key], 'KEE'
        FILEIO  0, rand, item
        PRINTSTATUS rand
        PRINT   key, 3
        PRINT   lf, 1
        mov     qword [item_NO], 0
        FILEIO  4, rand, item                   ; start: the first in use
        PRINTSTATUS rand
        mov     rax, [item_NO]
        lea     rsi, [digits + rax]
        PRINT   rsi, 1
        PRINT   key, 3
        PRINT   lf, 1
        FILEIO  5, rand, item                   ; next: end of file
        PRINTSTATUS rand
        FILEIO  3, rand, 0
        call    _ENDPROGRAM
