; Line and random files through _FILEIO, _FIELDS and _DELIMITER, loaded as
; compiled statements load them, in a program linked with nothing but the
; runtime archive.
        global  _start
        extern  _FILEIO, _FIELDS, _DELIMITER, _LINEFIELDS, _ENDPROGRAM, w_RecordBuffer

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
lost:   dq 0                            ; registers an entry did not keep
kept_text: db 'registers kept', 10
lost_text: db 'registers lost', 10

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
; MARK: registers the entries must give back, set to marks; KEPT r8, r9,
; r10, r11, rdi or rsi (the register not handed back): whatever came back
; otherwise counts in [lost].
%macro MARK 0
        mov     rax, 0x1111
        mov     rcx, 0x2222
        mov     rdx, 0x3333
        mov     rbp, 0x4444
        mov     r12, 0x5555
        mov     r13, 0x6666
        mov     r14, 0x7777
%endmacro
%macro KEPT 5
        xor     rax, 0x1111
        xor     rcx, 0x2222
        or      rax, rcx
        xor     rdx, 0x3333
        or      rax, rdx
        xor     rbp, 0x4444
        or      rax, rbp
        xor     r12, 0x5555
        or      rax, r12
        xor     r13, 0x6666
        or      rax, r13
        xor     r14, 0x7777
        or      rax, r14
        mov     rcx, %1
        xor     rcx, r8
        or      rax, rcx
        mov     rcx, %2
        xor     rcx, r9
        or      rax, rcx
        mov     rcx, %3
        xor     rcx, r10
        or      rax, rcx
        mov     rcx, %4
        xor     rcx, r11
        or      rax, rcx
        mov     rcx, lines
        xor     rcx, r15
        or      rax, rcx
        mov     rcx, 0x8888
        xor     rcx, %5
        or      rax, rcx
        or      [lost], rax
%endmacro
; LINEFIELDS operation: the two fields pushed last, for the file in r15
%macro LINEFIELDS 1
        mov     r8, %1
        mov     r9, rsp
        mov     r10, 2
        call    _LINEFIELDS
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
        MARK
        mov     rsi, 0x8888
        call    _FIELDS
        KEPT    1, name, 1, 5, rsi
        mov     r8, 1
        mov     r9, qty
        xor     r10, r10
        xor     r11, r11
        call    _FIELDS
        MARK
        mov     rsi, 0x8888
        call    _DELIMITER
        KEPT    1, qty, 0, 0, rsi
        MARK
        mov     rsi, rdi
        mov     rdi, 0x8888
        FILEIO  1, lines, 0
        KEPT    1, lines, 0, 0, rdi
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
        mov     r8, 0                           ; no line: no field changes
        mov     r9, name
        mov     r10, 1
        mov     r11, 5
        mov     rsi, w_RecordBuffer
        MARK
        mov     rdi, 0x8888
        call    _FIELDS
        KEPT    0, name, 1, 5, rdi
        FILEIO  3, lines, 0

        ; a line's fields in one call, pushed as @WRITELINE, @READLINE and
        ; @PUTFIELDS push them: written, read back into changed fields,
        ; built again; a read at the end leaves the fields as they are
        FILEIO  2, lines, 513
        push    0                               ; qty through its own picture
        push    0
        push    qty
        push    5                               ; the whole word name
        push    1
        push    name
        mov     r15, lines
        mov     r11, 0x9999
        MARK
        mov     rsi, 0x8888
        LINEFIELDS 3                            ; build and write
        KEPT    3, rsp, 2, 0x9999, rsi
        FILEIO  3, lines, 0
        FILEIO  2, lines, 0
        mov     dword [name], 'zzzz'
        mov     qword [qty], 0
        MARK
        mov     rdi, 0x8888
        LINEFIELDS 2                            ; read and take apart
        KEPT    2, rsp, 2, 0x9999, rdi
        mov     byte [name + 4], 'A'
        LINEFIELDS 1                            ; build
        mov     rdx, rdi
        sub     rdx, w_RecordBuffer
        PRINT   w_RecordBuffer, rdx
        mov     r11, 0x9999                     ; the system call took it
        MARK
        mov     rdi, 0x8888
        mov     rsi, 0x8888
        LINEFIELDS 2                            ; at the end: nothing taken
        KEPT    2, rsp, 2, 0x9999, rsi
        PRINT   name, 5
        PRINTSTATUS lines
        add     rsp, 48
        mov     rsi, kept_text
        cmp     qword [lost], 0
        je      .kept
        mov     rsi, lost_text
.kept:  PRINT   rsi, 15
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
