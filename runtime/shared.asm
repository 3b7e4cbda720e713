; Shared items of the Quillwright runtime.
;
; Each item is a global symbol at its data address, with the 17-byte header
; (Scale, Type, Length) in front of it, packed without alignment exactly as
; translated programs and the runtime modules expect.

%macro NUMBER_ITEM 3            ; name, value, picture text
        dq 1
        db '9'
        dq %strlen(%3)
global %1
%1:     dq %2
        db %3
%endmacro

%macro WORD_ITEM 2              ; name, length (blank filled)
        dq 0
        db 'X'
        dq %2
global %1
%1:     times %2 db ' '
%endmacro

section .data

global b_Result
b_Result:       dq 0

NUMBER_ITEM RETURN_CODE, 0, '9999-'
NUMBER_ITEM ERROR_CODE, 0, '99'
NUMBER_ITEM CHILD_PID, 0, '999999'
NUMBER_ITEM w_One, 1, '9'
WORD_ITEM   w_Spaces, 128
WORD_ITEM   w_Temp, 128

; An untyped numeric work item: Scale 1, Length 26, a picture of blanks.
        dq 1
        db '9'
        dq 26
global x_NULL
x_NULL: dq 0
        times 26 db ' '

NUMBER_ITEM EOF, 10, '99'
NUMBER_ITEM DUPLICATES, 22, '99'
NUMBER_ITEM INVALIDKEY, 23, '99'
NUMBER_ITEM LOCKED, 90, '99'

global LF
LF:     db 10

global w_SaveRSP, w_SaveAddress, w_TopOfBSS, w_BottomOfBSS
w_SaveRSP:      dq 0
w_SaveAddress:  dq 0
w_TopOfBSS:     dq 0
w_BottomOfBSS:  dq 0

global StdInHandle, StdOutHandle, StdErrHandle
StdInHandle:    dq 0
StdOutHandle:   dq 1
StdErrHandle:   dq 2

WORD_ITEM w_CommandLine, 256

section .bss

; The flat-record buffer with its word header SX in front.  The header's
; first 8 bytes double as the loop-nesting offset into savedRegisters; the
; program's start code sets its Type byte to 'X'.
global SX, w_RecordBuffer
SX:             resb 17
w_RecordBuffer: resb 655356

global savedRegisters
savedRegisters: resb 3072

section .note.GNU-stack noalloc noexec nowrite progbits
