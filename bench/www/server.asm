; The benchmark's server: listens on 127.0.0.1 at the port given as the
; first argument and serves the working directory with index.html as the
; default file.  Its GET routine answers "/text" with 1 KiB of text and
; leaves every other path to the file.  Assembled with -DSHARED it opens
; the port shared (@WWW OPEN_SHARED), so that several of it serve one port.
        extern _WWW, _getCommandLine, w_CommandLine, RETURN_CODE

section .data
        dq 1
        db '9'
        dq 5
port:   dq 0
        db '99999'
        dq 0
        db 'X'
        dq 9
address: db '127.0.0.1'
        dq 0
        db 'X'
        dq 10
default_file: db 'index.html'
        dq 0
        db 'X'
        dq 2048
exchange: times 2048 db ' '
text:   times 1024 db 'q'

section .text
global _start
_start:
        mov rbp, rsp
        call _getCommandLine
        ; the port digits are the first argument
        xor rax, rax
        mov rsi, w_CommandLine
.digit: movzx rcx, byte [rsi]
        sub rcx, '0'
        cmp rcx, 9
        ja .done
        imul rax, rax, 10
        add rax, rcx
        inc rsi
        jmp .digit
.done:  mov [port], rax
%ifdef SHARED
        mov r8, 6
%else
        mov r8, 0
%endif
        mov r9, port
        mov r10, address
        call _WWW
        mov r8, 1
        mov r9, default_file
        mov r10, exchange
        mov r11, get_routine
        xor r12, r12
        call _WWW
        mov rax, 60
        xor rdi, rdi
        syscall

; "GET /text " gets the text; anything else its file.
get_routine:
        cmp dword [exchange], 'GET '
        jne .file
        cmp dword [exchange + 4], '/tex'
        jne .file
        cmp word [exchange + 8], 't '
        jne .file
        mov rsi, text
        mov rdi, exchange
        mov ecx, 1024
        rep movsb
        mov qword [RETURN_CODE], 1024
.file:  ret

section .note.GNU-stack noalloc noexec nowrite progbits
