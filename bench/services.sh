#!/usr/bin/env bash
# Time per call of _RANDOM (8 bytes) and of the date conversions (day
# number to text, text to day number), measured through the register
# entries by a small assembly program.  Usage:
#   bench/services.sh [build-dir] [calls]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
calls=${2:-2000000}
lib=$build/lib/libquillwright.a
[ -f "$lib" ] || { echo "services.sh: $lib not found (build the runtime first)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The program loops the chosen request (first argument: r, t or d) the
# number of times given by the second argument.
cat > "$work/loop.asm" <<'ASM'
        extern _RANDOM, _DATE, _getCommandLine, w_CommandLine
section .data
        dq 1
        db '9'
        dq 1
count:  dq 8
        db '9'
value:  dq 0
day:    dq 0
text:   db '2024/02/29'
section .text
global _start
_start:
        mov rbp, rsp
        call _getCommandLine
        xor rbx, rbx            ; the call count from the second argument
        mov rsi, w_CommandLine + 2
.digit: movzx rcx, byte [rsi]
        sub rcx, '0'
        cmp rcx, 9
        ja .go
        imul rbx, rbx, 10
        add rbx, rcx
        inc rsi
        jmp .digit
.go:    movzx r15, byte [w_CommandLine]
.loop:  test rbx, rbx
        jz .end
        cmp r15, 'r'
        je .random
        cmp r15, 't'
        je .totext
        mov r8, 2               ; text to day number
        mov r9, day
        mov r10, text
        call _DATE
        jmp .next
.totext:
        mov rax, rbx
        and rax, 0xffff
        mov [day], rax
        mov r8, 1
        mov r9, day
        mov r10, text
        call _DATE
        jmp .next
.random:
        mov r9, count
        mov r10, value
        call _RANDOM
.next:  dec rbx
        jmp .loop
.end:   mov rax, 60
        xor rdi, rdi
        syscall
section .note.GNU-stack noalloc noexec nowrite progbits
ASM
nasm -f elf64 -o "$work/loop.o" "$work/loop.asm"
ld -o "$work/loop" "$work/loop.o" "$lib"

per_call() {  # mode -> nanoseconds per call
  local t0 t1
  t0=$(date +%s%N); "$work/loop" "$1" 0; t1=$(date +%s%N)
  local base=$((t1 - t0))
  t0=$(date +%s%N); "$work/loop" "$1" "$calls"; t1=$(date +%s%N)
  awk -v t=$((t1 - t0 - base)) -v n="$calls" 'BEGIN { printf "%.1f", t / n }'
}
echo "$calls calls each, through the register entries"
printf '  _RANDOM, 8 bytes:          %8s ns/call\n' "$(per_call r)"
printf '  _DATE day number to text:  %8s ns/call\n' "$(per_call t)"
printf '  _DATE text to day number:  %8s ns/call\n' "$(per_call d)"
