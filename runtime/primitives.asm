; Common services of the Quillwright runtime that work below the C++ level:
; the message tables of the fatal exit, the operand helper No_Assist (it
; reads items the caller pushed) and the block primitives _MOVSTR, _PADSTR
; and _CMPSTR (_CMPSTR answers in the processor flags).
;
; Every routine here preserves all general registers except the results it
; documents.

%macro KLINE 1                  ; a 64-character kernel line, blank padded
%strlen %%n %1
        db %1
        times 64 - %%n db ' '
%endmacro

%macro LLINE 2                  ; label, an 80-character library line
%strlen %%n %2
global %1
%1:     db %2
        times 80 - %%n db ' '
%endmacro

section .rodata

global msg1, c_LightRedFG
msg1:           db 'System Error is '
c_LightRedFG:   db 27, '[91m'

; The library's own lines, 80 characters each.  err13 is the division by a
; zero operand, which ends the program like every other misuse; err14 an
; operation code the numbers module does not know.
global QuillwrightErrorMessages
QuillwrightErrorMessages:
LLINE err01, 'NUMBERS[error]:- non numeric field'
LLINE err02, 'NUMBERS[error]:- result has exceeded its range'
LLINE err03, 'NUMBERS[error]:- use WORDS to convert number to text'
LLINE err04, 'NUMBERS[error]:- use $equals to convert a word to a number'
LLINE err05, 'NUMBERS[error]:- Entered field has exceeded its range'
LLINE err06, 'NUMBERS[error]:- Result field must have a defined picture'
LLINE err07, 'WORDS[error]:- use NUMBERS to convert text to number'
LLINE err08, 'DECISIONS[error]:- Error comparing Alpha and Numeric field'
LLINE err09, 'TABLES[error]:- You have not passed a valid table'
LLINE err10, 'TABLES[error]:- Cannot SORT/SEARCH a multiDimensional table'
LLINE err11, 'FILES[error]:- a filename has been found that exceeds the system limit'
LLINE err12, 'NUMBERS[error]:- receiving (ALPHA) too small. Literals default pic is 26'
LLINE err13, 'NUMBERS[error]:- division by zero'
LLINE err14, 'NUMBERS[error]:- unknown operation code'

; 134 kernel error lines of 64 characters, line n at byte 64 * n.
global SysErrorMessages
SysErrorMessages:
        KLINE '000:Quillwright error'
global EPERM
EPERM: KLINE '001:Operation not permitted'
global ENOENT
ENOENT: KLINE '002:No such file or directory'
global ESRCH
ESRCH: KLINE '003:No such process'
global EINTR
EINTR: KLINE '004:Interrupted system call'
global EIO
EIO: KLINE '005:I/O error'
global ENXIO
ENXIO: KLINE '006:No such device or address'
global E2BIG
E2BIG: KLINE '007:Argument list too long'
global ENOEXEC
ENOEXEC: KLINE '008:Exec format error'
global EBADF
EBADF: KLINE '009:Bad file number'
global ECHILD
ECHILD: KLINE '010:No child processes'
global EAGAIN
EAGAIN: KLINE '011:Try again'
global ENOMEM
ENOMEM: KLINE '012:Out of memory'
global EACCES
EACCES: KLINE '013:Permission denied'
global EFAULT
EFAULT: KLINE '014:Bad address'
global ENOTBLK
ENOTBLK: KLINE '015:Block device required'
global EBUSY
EBUSY: KLINE '016:Device or resource busy'
global EEXIST
EEXIST: KLINE '017:File exists'
global EXDEV
EXDEV: KLINE '018:Cross-device link'
global ENODEV
ENODEV: KLINE '019:No such device'
global ENOTDIR
ENOTDIR: KLINE '020:Not a directory'
global EISDIR
EISDIR: KLINE '021:Is a directory'
global EINVAL
EINVAL: KLINE '022:Invalid argument'
global ENFILE
ENFILE: KLINE '023:File table overflow'
global EMFILE
EMFILE: KLINE '024:Too many open files'
global ENOTTY
ENOTTY: KLINE '025:Not a typewriter'
global ETXTBSY
ETXTBSY: KLINE '026:Text file busy'
global EFBIG
EFBIG: KLINE '027:File too large'
global ENOSPC
ENOSPC: KLINE '028:No space left on device'
global ESPIPE
ESPIPE: KLINE '029:Illegal seek'
global EROFS
EROFS: KLINE '030:Read-only file system'
global EMLINK
EMLINK: KLINE '031:Too many links'
global EPIPE
EPIPE: KLINE '032:Broken pipe'
global EDOM
EDOM: KLINE '033:Math argument out of domain of func'
global ERANGE
ERANGE: KLINE '034:Math result not representable'
global EDEADLK
EDEADLK: KLINE '035:Resource deadlock would occur'
global ENAMETOOLONG
ENAMETOOLONG: KLINE '036:File name too long'
global ENOLCK
ENOLCK: KLINE '037:No record locks available'
global ENOSYS
ENOSYS: KLINE '038:Invalid system call number'
global ENOTEMPTY
ENOTEMPTY: KLINE '039:Directory not empty'
global ELOOP
ELOOP: KLINE '040:Too many symbolic links encountered'
global EWOULDBLOCK
EWOULDBLOCK: KLINE '041:Operation would block'
global ENOMSG
ENOMSG: KLINE '042:No message of desired type'
global EIDRM
EIDRM: KLINE '043:Identifier removed'
global ECHRNG
ECHRNG: KLINE '044:Channel number out of range'
global EL2NSYNC
EL2NSYNC: KLINE '045:Level 2 not synchronized'
global EL3HLT
EL3HLT: KLINE '046:Level 3 halted'
global EL3RST
EL3RST: KLINE '047:Level 3 reset'
global ELNRNG
ELNRNG: KLINE '048:Link number out of range'
global EUNATCH
EUNATCH: KLINE '049:Protocol driver not attached'
global ENOCSI
ENOCSI: KLINE '050:No CSI structure available'
global EL2HLT
EL2HLT: KLINE '051:Level 2 halted'
global EBADE
EBADE: KLINE '052:Invalid exchange'
global EBADR
EBADR: KLINE '053:Invalid request descriptor'
global EXFULL
EXFULL: KLINE '054:Exchange full'
global ENOANO
ENOANO: KLINE '055:No anode'
global EBADRQC
EBADRQC: KLINE '056:Invalid request code'
global EBADSLT
EBADSLT: KLINE '057:Invalid slot'
global EDEADLOCK
EDEADLOCK: KLINE '058:Deadlock'
global EBFONT
EBFONT: KLINE '059:Bad font file format'
global ENOSTR
ENOSTR: KLINE '060:Device not a stream'
global ENODATA
ENODATA: KLINE '061:No data available'
global ETIME
ETIME: KLINE '062:Timer expired'
global ENOSR
ENOSR: KLINE '063:Out of streams resources'
global ENONET
ENONET: KLINE '064:Machine is not on the network'
global ENOPKG
ENOPKG: KLINE '065:Package not installed'
global EREMOTE
EREMOTE: KLINE '066:Object is remote'
global ENOLINK
ENOLINK: KLINE '067:Link has been severed'
global EADV
EADV: KLINE '068:Advertise error'
global ESRMNT
ESRMNT: KLINE '069:Srmount error'
global ECOMM
ECOMM: KLINE '070:Communication error on send'
global EPROTO
EPROTO: KLINE '071:Protocol error'
global EMULTIHOP
EMULTIHOP: KLINE '072:Multihop attempted'
global EDOTDOT
EDOTDOT: KLINE '073:RFS specific error'
global EBADMSG
EBADMSG: KLINE '074:Not a data message'
global EOVERFLOW
EOVERFLOW: KLINE '075:Value too large for defined data type'
global ENOTUNIQ
ENOTUNIQ: KLINE '076:Name not unique on network'
global EBADFD
EBADFD: KLINE '077:File descriptor in bad state'
global EREMCHG
EREMCHG: KLINE '078:Remote address changed'
global ELIBACC
ELIBACC: KLINE '079:Can not access a needed shared library'
global ELIBBAD
ELIBBAD: KLINE '080:Accessing a corrupted shared library'
global ELIBSCN
ELIBSCN: KLINE '081:.lib section in a.out corrupted'
global ELIBMAX
ELIBMAX: KLINE '082:Attempting to link in too many shared libraries'
global ELIBEXEC
ELIBEXEC: KLINE '083:Cannot exec a shared library directly'
global EILSEQ
EILSEQ: KLINE '084:Illegal byte sequence'
global ERESTART
ERESTART: KLINE '085:Interrupted system call should be restarted'
global ESTRPIPE
ESTRPIPE: KLINE '086:Streams pipe error'
global EUSERS
EUSERS: KLINE '087:Too many users'
global ENOTSOCK
ENOTSOCK: KLINE '088:Socket operation on non-socket'
global EDESTADDRREQ
EDESTADDRREQ: KLINE '089:Destination address required'
global EMSGSIZE
EMSGSIZE: KLINE '090:Message too long'
global EPROTOTYPE
EPROTOTYPE: KLINE '091:Protocol wrong type for socket'
global ENOPROTOOPT
ENOPROTOOPT: KLINE '092:Protocol not available'
global EPROTONOSUPPORT
EPROTONOSUPPORT: KLINE '093:Protocol not supported'
global ESOCKTNOSUPPORT
ESOCKTNOSUPPORT: KLINE '094:Socket type not supported'
global EOPNOTSUPP
EOPNOTSUPP: KLINE '095:Operation not supported on transport endpoint'
global EPFNOSUPPORT
EPFNOSUPPORT: KLINE '096:Protocol family not supported'
global EAFNOSUPPORT
EAFNOSUPPORT: KLINE '097:Address family not supported by protocol'
global EADDRINUSE
EADDRINUSE: KLINE '098:Address already in use'
global EADDRNOTAVAIL
EADDRNOTAVAIL: KLINE '099:Cannot assign requested address'
global ENETDOWN
ENETDOWN: KLINE '100:Network is down'
global ENETUNREACH
ENETUNREACH: KLINE '101:Network is unreachable'
global ENETRESET
ENETRESET: KLINE '102:Network dropped connection because of reset'
global ECONNABORTED
ECONNABORTED: KLINE '103:Software caused connection abort'
global ECONNRESET
ECONNRESET: KLINE '104:Connection reset by peer'
global ENOBUFS
ENOBUFS: KLINE '105:No buffer space available'
global EISCONN
EISCONN: KLINE '106:Transport endpoint is already connected'
global ENOTCONN
ENOTCONN: KLINE '107:Transport endpoint is not connected'
global ESHUTDOWN
ESHUTDOWN: KLINE '108:Cannot send after transport endpoint shutdown'
global ETOOMANYREFS
ETOOMANYREFS: KLINE '109:Too many references: cannot splice'
global ETIMEDOUT
ETIMEDOUT: KLINE '110:Connection timed out'
global ECONNREFUSED
ECONNREFUSED: KLINE '111:Connection refused'
global EHOSTDOWN
EHOSTDOWN: KLINE '112:Host is down'
global EHOSTUNREACH
EHOSTUNREACH: KLINE '113:No route to host'
global EALREADY
EALREADY: KLINE '114:Operation already in progress'
global EINPROGRESS
EINPROGRESS: KLINE '115:Operation now in progress'
global ESTALE
ESTALE: KLINE '116:Stale file handle'
global EUCLEAN
EUCLEAN: KLINE '117:Structure needs cleaning'
global ENOTNAM
ENOTNAM: KLINE '118:Not a XENIX named type file'
global ENAVAIL
ENAVAIL: KLINE '119:No XENIX semaphores available'
global EISNAM
EISNAM: KLINE '120:Is a named type file'
global EREMOTEIO
EREMOTEIO: KLINE '121:Remote I/O error'
global EDQUOT
EDQUOT: KLINE '122:Quota exceeded'
global ENOMEDIUM
ENOMEDIUM: KLINE '123:No medium found'
global EMEDIUMTYPE
EMEDIUMTYPE: KLINE '124:Wrong medium type'
global ECANCELED
ECANCELED: KLINE '125:Operation Canceled'
global ENOKEY
ENOKEY: KLINE '126:Required key not available'
global EKEYEXPIRED
EKEYEXPIRED: KLINE '127:Key has expired'
global EKEYREVOKED
EKEYREVOKED: KLINE '128:Key has been revoked'
global EKEYREJECTED
EKEYREJECTED: KLINE '129:Key was rejected by service'
global EOWNERDEAD
EOWNERDEAD: KLINE '130:Owner died'
global ENOTRECOVERABLE
ENOTRECOVERABLE: KLINE '131:State not recoverable'
global ERFKILL
ERFKILL: KLINE '132:Operation not possible due to RF-kill'
global EHWPOISON
EHWPOISON: KLINE '133:Memory page has hardware error'

section .text

; No_Assist: the caller pushed the extra arguments of the second operand
; (first argument first), then the operand, popped the operand into r12 and
; set r15 to the count of items pushed, the operand included.  So the k-th
; extra argument (k from 1) lies at [rsp + 8 * (r15 - k)] on entry, above
; the return address.
;   word operand:   r13 := value of the number at argument 1 (default 1),
;                   r14 := value of the number at argument 2 (default Length)
;   number operand: r13 := address of argument 1 (a word holding a picture),
;                   r14 := its Length; both 0 without an argument
global No_Assist
No_Assist:
        push    rax
        cmp     byte [r12 - 9], '9'
        je      .number
        mov     r13, 1
        mov     r14, [r12 - 8]
        cmp     r15, 2
        jl      .done
        mov     rax, [rsp + 8 * r15]            ; argument 1 (rax saved)
        mov     r13, [rax]
        cmp     r15, 3
        jl      .done
        mov     rax, [rsp + 8 * r15 - 8]        ; argument 2
        mov     r14, [rax]
        jmp     .done
.number:
        xor     r13, r13
        xor     r14, r14
        cmp     r15, 2
        jl      .done
        mov     r13, [rsp + 8 * r15]            ; argument 1 (rax saved)
        mov     r14, [r13 - 8]
.done:
        pop     rax
        ret

; _MOVSTR: copy rcx bytes from rsi to rdi, 8 bytes at a time, then 4, 2, 1.
global _MOVSTR
_MOVSTR:
        push    rax
        push    rcx
        push    rsi
        push    rdi
.q:     cmp     rcx, 8
        jb      .d
        mov     rax, [rsi]
        mov     [rdi], rax
        add     rsi, 8
        add     rdi, 8
        sub     rcx, 8
        jmp     .q
.d:     test    rcx, 4
        jz      .w
        mov     eax, [rsi]
        mov     [rdi], eax
        add     rsi, 4
        add     rdi, 4
.w:     test    rcx, 2
        jz      .b
        mov     ax, [rsi]
        mov     [rdi], ax
        add     rsi, 2
        add     rdi, 2
.b:     test    rcx, 1
        jz      .out
        mov     al, [rsi]
        mov     [rdi], al
.out:   pop     rdi
        pop     rsi
        pop     rcx
        pop     rax
        ret

; _PADSTR: write rcx blanks at rdi, 8 bytes at a time, then 4, 2, 1.
global _PADSTR
_PADSTR:
        push    rax
        push    rcx
        push    rdi
        mov     rax, 0x2020202020202020
.q:     cmp     rcx, 8
        jb      .d
        mov     [rdi], rax
        add     rdi, 8
        sub     rcx, 8
        jmp     .q
.d:     test    rcx, 4
        jz      .w
        mov     [rdi], eax
        add     rdi, 4
.w:     test    rcx, 2
        jz      .b
        mov     [rdi], ax
        add     rdi, 2
.b:     test    rcx, 1
        jz      .out
        mov     [rdi], al
.out:   pop     rdi
        pop     rcx
        pop     rax
        ret

; _CMPSTR: compare rcx bytes at rsi with rcx bytes at rdi.  Groups of 8, 4
; and 2 bytes are read big-endian, so the unsigned comparison of two groups
; is the byte-wise comparison of the texts; a last odd byte is compared on
; its own.  Returns with the flags of "cmp [rsi-group], [rdi-group]" at the
; first difference (ja/jb/je), or of an equal comparison.
global _CMPSTR
_CMPSTR:
        push    rax
        push    rdx
        push    rcx
        push    rsi
        push    rdi
.q:     cmp     rcx, 8
        jb      .d
        mov     rax, [rsi]
        mov     rdx, [rdi]
        bswap   rax
        bswap   rdx
        add     rsi, 8
        add     rdi, 8
        sub     rcx, 8
        cmp     rax, rdx
        jne     .out
        jmp     .q
.d:     test    rcx, 4
        jz      .w
        mov     eax, [rsi]
        mov     edx, [rdi]
        bswap   eax
        bswap   edx
        add     rsi, 4
        add     rdi, 4
        cmp     eax, edx
        jne     .out
.w:     test    rcx, 2
        jz      .b
        movzx   eax, word [rsi]
        movzx   edx, word [rdi]
        xchg    al, ah
        xchg    dl, dh
        add     rsi, 2
        add     rdi, 2
        cmp     eax, edx
        jne     .out
.b:     test    rcx, 1
        jz      .eq
        mov     al, [rsi]
        cmp     al, [rdi]
        jmp     .out
.eq:    cmp     rax, rax
.out:   pop     rdi
        pop     rsi
        pop     rcx
        pop     rdx
        pop     rax
        ret

section .note.GNU-stack noalloc noexec nowrite progbits
