// The register bridge.
//
// Translated programs call runtime entries with operands in registers
// (r8 operation, r9-r11 first operand, r12-r14 second operand, r15 extra).
// QW_ENTRY(name, handler) defines the global entry `name`: it saves every
// general register, aligns the stack, and calls
//     extern "C" void handler(qw::Regs& r)
// with the saved registers.  The handler unpacks them into a call of a plain
// typed C++ function.  Whatever the handler writes into `r` is what the
// caller finds in its registers afterwards; every other register comes back
// as it was.  Results normally travel through shared items, not registers.
#pragma once

#include <stdint.h>

namespace qw {

// Saved registers, in the order the entry stub leaves them on the stack.
struct Regs {
  uint64_t r15, r14, r13, r12, r11, r10, r9, r8;
  uint64_t rbp, rdi, rsi, rdx, rcx, rbx, rax;
};

}  // namespace qw

extern "C" {
// The stack slot just below the return address into the program that
// entered the runtime (see QW_ENTRY); the fatal message's source line is
// looked up from there.  Defined here so that every user of the bridge has
// it.
__attribute__((used)) inline uint64_t* qw_caller_frame = nullptr;
}

#define QW_STR2(x) #x
#define QW_STR(x) QW_STR2(x)

// The stub: keep where the caller's return address lies (qw_caller_frame,
// for the fatal message's source line; its old value is put back on the
// way out), push all, rbp := frame, rdi := &Regs, align, call, restore.
#define QW_ENTRY(name, handler)                                          \
  extern "C" void handler(qw::Regs&);                                    \
  asm(".text\n"                                                          \
      ".globl " #name "\n"                                               \
      ".type " #name ", @function\n" #name ":\n"                         \
      "  push qw_caller_frame(%rip)\n  mov %rsp, qw_caller_frame(%rip)\n" \
      "  push %rax\n  push %rbx\n  push %rcx\n  push %rdx\n"             \
      "  push %rsi\n  push %rdi\n  push %rbp\n"                          \
      "  push %r8\n  push %r9\n  push %r10\n  push %r11\n"               \
      "  push %r12\n  push %r13\n  push %r14\n  push %r15\n"             \
      "  mov %rsp, %rbp\n  mov %rsp, %rdi\n  and $-16, %rsp\n  cld\n"    \
      "  call " #handler "\n"                                            \
      "  mov %rbp, %rsp\n"                                               \
      "  pop %r15\n  pop %r14\n  pop %r13\n  pop %r12\n"                 \
      "  pop %r11\n  pop %r10\n  pop %r9\n  pop %r8\n"                   \
      "  pop %rbp\n  pop %rdi\n  pop %rsi\n  pop %rdx\n"                 \
      "  pop %rcx\n  pop %rbx\n  pop %rax\n"                             \
      "  pop qw_caller_frame(%rip)\n  ret\n"                             \
      ".size " #name ", .-" #name "\n")
