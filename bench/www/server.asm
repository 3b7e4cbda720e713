; A static-file server for the benchmark: listens on the port given as
; the first argument and serves the working directory with index.html as
; the default file, without GET or POST routines.
        extern _WWW, _getCommandLine

section .data
        dq 1
        db '9'
        dq 5
port:   dq 0
        db '99999'
        dq 0
        db 'X'
        dq 10
default_file: db 'index.html'
        dq 0
        db 'X'
        dq 2048
exchange: times 2048 db ' '

section .text
global _start
_start:
        mov rbp, rsp
        call _getCommandLine
        ; the port digits are the first argument
        extern w_CommandLine
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
        mov r8, 0
        mov r9, port
        call _WWW
        mov r8, 1
        mov r9, default_file
        mov r10, exchange
        xor r11, r11
        xor r12, r12
        call _WWW
        mov rax, 60
        xor rdi, rdi
        syscall

section .note.GNU-stack noalloc noexec nowrite progbits
