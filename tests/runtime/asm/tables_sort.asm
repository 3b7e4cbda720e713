; A fixed table and an xtable through _TABLES and _XTABLES, loaded as
; compiled statements load them, in a program linked with nothing but the
; runtime archive: bind, record to entry, sort, find with duplicates, a
; field fetched by number (as "@TABLES_fget tab,0001,target,index" does),
; and an index beyond the table.
        global  _start
        extern  _TABLES, _XTABLES, _ARRAYS, _ENDPROGRAM

%include "items.inc"

section .data
; record item: key (3), qty "99"; flat length 5
        db 'R'
NUM item_NO, 0, '999999999'
item$LENGTH: dq 5
item:
WRD key, '   '
NUM qty, 0, '99'
        dq 0
        db 0
        dq 5
; fixed table of 6 entries
NUM tab_STATUS, 0, '99'
        dq 6, 1, 0, 0, 0, 0, 0, 0
        dq item
        db 't'
        dq 30
tab:    times 30 db 0
        times 64 db 0
; xtable
NUM xt_UBOUND, 0, '999999999'
NUM xt_STATUS, 0, '99'
        dq item
        db 'T'
        dq 0
xt:     dq 0
keys:   db 'DOGCATEMUCATANTCAT'
WRD wanted, 'CAT'
NUM pos, 0, '999'
WRD got, '   '
numbers: dq 5, -2, 9, 0, 3
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
%macro PRINTDIGIT 1             ; a value 0..9
        mov     rax, %1
        lea     rsi, [digits + rax]
        PRINT   rsi, 1
%endmacro
%macro PRINT2 1                 ; a value 0..99
        mov     rax, %1
        xor     edx, edx
        mov     ecx, 10
        div     rcx
        push    rdx
        PRINTDIGIT rax
        pop     rdx
        PRINTDIGIT rdx
%endmacro
%macro SETINDEX 1               ; index slot 1 of tab, then the closing zero
        mov     rdx, [tab - 8]
        mov     qword [tab + rdx + 8], %1
        mov     qword [tab + rdx + 16], 0
%endmacro

_start:
        mov     r8, 1                           ; bind
        mov     r9, tab
        mov     r10, item
        call    _TABLES
        xor     rbx, rbx
.fill:  mov     eax, [keys + rbx * 2 + rbx]
        mov     [key], ax
        shr     eax, 16
        mov     [key + 2], al
        mov     [qty], rbx
        lea     rcx, [rbx + 1]
        SETINDEX rcx
        mov     r8, 4                           ; record to entry
        mov     r9, tab
        call    _TABLES
        ; the same record at the end of the xtable
        inc     qword [xt_UBOUND]
        cmp     rbx, 0
        jne     .put
        mov     r8, 1                           ; bind the xtable once
        mov     r9, xt
        mov     r10, item
        mov     r11, 1000
        call    _XTABLES
        mov     qword [xt_UBOUND], 1
.put:   mov     r8, 4
        mov     r9, xt
        mov     r10, [xt_UBOUND]
        call    _XTABLES
        inc     rbx
        cmp     rbx, 6
        jne     .fill

        mov     r8, 8                           ; sort on positions 1..3
        mov     r9, tab
        mov     r10, 1
        mov     r11, 3
        call    _TABLES
        PRINT   tab, 30
        PRINT   lf, 1
        mov     r8, 16                          ; find CAT (entries 2..4)
        mov     r9, tab
        mov     r10, 1
        mov     r11, 3
        mov     r12, wanted
        mov     r13, pos
        mov     r14, 3                          ; the key text's length
        call    _TABLES
        PRINTDIGIT [pos]
        PRINT2  [tab_STATUS]
        PRINT   lf, 1
        SETINDEX 6                              ; field 1 of entry 6
        mov     r8, 3
        mov     r9, tab
        mov     r11, 1
        mov     r12, got
        call    _TABLES
        PRINT   got, 3
        SETINDEX 7                              ; beyond the table
        mov     r8, 3
        mov     r9, tab
        mov     r11, 1
        mov     r12, got
        call    _TABLES
        PRINT2  [tab_STATUS]
        PRINT   lf, 1

        mov     r8, 8                           ; xtable sort by links
        mov     r9, xt
        mov     r10, 1
        mov     r11, 3
        call    _XTABLES
        mov     rbx, 1
.xget:  mov     r8, 2
        mov     r9, xt
        mov     r10, rbx
        call    _XTABLES
        PRINT   key, 3
        PRINTDIGIT [qty]
        inc     rbx
        cmp     rbx, 7
        jne     .xget
        mov     r8, 2                           ; position 7: beyond _UBOUND
        mov     r9, xt
        mov     r10, 7
        call    _XTABLES
        PRINT2  [xt_STATUS]
        PRINT   lf, 1

        mov     r8, 8                           ; integer array sort
        mov     r9, numbers
        mov     r10, 4
        call    _ARRAYS
        mov     rax, [numbers]
        neg     rax
        PRINTDIGIT rax
        PRINTDIGIT [numbers + 32]
        PRINT   lf, 1
        call    _ENDPROGRAM
