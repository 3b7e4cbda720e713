// Common services shared by every runtime module: the fatal exit and the
// operand normalisation of the register convention.
#pragma once

#include <stdint.h>

#include "item.h"

namespace qw {

// The library's own 80-character message lines (err01 .. err14).
enum LibraryMessage {
  kErrNonNumeric = 1,      // "NUMBERS[error]:- non numeric field"
  kErrRange = 2,           // "NUMBERS[error]:- result has exceeded its range"
  kErrUseWords = 3,        // "NUMBERS[error]:- use WORDS to convert number to text"
  kErrUseEquals = 4,       // "NUMBERS[error]:- use $equals to convert a word to a number"
  kErrEnteredRange = 5,    // "NUMBERS[error]:- Entered field has exceeded its range"
  kErrNoPicture = 6,       // "NUMBERS[error]:- Result field must have a defined picture"
  kErrUseNumbers = 7,      // "WORDS[error]:- use NUMBERS to convert text to number"
  kErrCompare = 8,         // "DECISIONS[error]:- Error comparing Alpha and Numeric field"
  kErrNotTable = 9,        // "TABLES[error]:- You have not passed a valid table"
  kErrMultiDim = 10,       // "TABLES[error]:- Cannot SORT/SEARCH a multiDimensional table"
  kErrFileName = 11,       // "FILES[error]:- a filename has been found that exceeds the system limit"
  kErrAlphaSmall = 12,     // "NUMBERS[error]:- receiving (ALPHA) too small. Literals default pic is 26"
  kErrDivideByZero = 13,   // "NUMBERS[error]:- division by zero"
  kErrUnknownOperation = 14,  // "NUMBERS[error]:- unknown operation code"
};

inline constexpr int kLibraryLineLength = 80;
inline constexpr int kKernelLineLength = 64;
inline constexpr int kKernelLines = 134;

// _SYSERROR: light red, then "System Error is " + the 64-character kernel
// line (rax < 0), or a line feed + the 80-character line at `line` + a line
// feed (rax == 0).  On a terminal the colour is reset after the message.
// Ends the process with status 1.
[[noreturn]] void sys_error(long rax, const char* line);
// Shorthands for the two forms.
[[noreturn]] void fatal_line(const char* line80);
[[noreturn]] void fatal_library(LibraryMessage m);
[[noreturn]] void fatal_kernel(long negative_errno);
// The same, about a file: the message is followed by the line
// "File: " + `path`.
[[noreturn]] void fatal_kernel_about(long negative_errno, const char* path);
[[noreturn]] void fatal_line_about(const char* line80, const char* path);
// Standard output refused a write: the message goes to standard error.
[[noreturn]] void fatal_output(long negative_errno);

// A failure met while the program is already ending (a write-behind flush
// at the end, which must not start a fatal exit of its own and keep the
// other files from being written): shown, in the kernel form about `path`,
// after the message that ends the run; at the normal end they are the
// messages, and the exit status is 1.  Up to four are kept.
void report_at_end(long negative_errno, const char* path);

// A module that changes process-wide state which must not outlive the
// program (the terminal's input mode) registers a routine here; the fatal
// exit and the signal path run it once before printing, the program end
// before exiting.  nullptr clears it.
void set_fatal_cleanup(void (*cleanup)());

// A module that holds data the kernel has not seen yet (write-behind files)
// registers a routine here.  The program end runs it before exiting; the
// fatal exit and the signal path run it with `quietly` set.  A failing
// write goes to report_at_end in every case.  nullptr clears it.
void set_exit_flush(void (*flush)(bool quietly));

// The signal path: one handler for SIGINT, SIGQUIT, SIGTERM, SIGHUP and SIGPIPE runs
// the exit flush and the fatal cleanup, resets the colour on a terminal and
// ends the program by the same signal with its default action, so that the
// caller sees the usual status (128 + the signal's number).  A signal that
// was ignored when the path was installed stays ignored.  A write beyond the
// file-size limit fails with the kernel's error instead of killing the
// program.  Installed once, by set_fatal_cleanup and set_exit_flush (with a
// routine) and by the first file opened for writing.
void catch_ending_signals();
// A write past the file-size limit fails with "File too large" rather than
// killing the program (taken at the program's start).
void catch_file_size_signal();

// Other signals a module handles itself (the terminal's job control):
// `handler` runs for `sig` with the signals of the mask `blocked` (bit
// sig - 1) held back, and the system call it breaks into goes on after it;
// a signal that is ignored stays ignored.
void catch_signal(int sig, void (*handler)(int), unsigned long blocked);
// Lets `sig` take its default action now, from its own handler too: the
// process ends, or stops and goes on here when continued (the handler
// must catch the signal again then).
void take_default_action(int sig);

// Between hold_signals() and release_signals() an ending signal waits
// (nests): code that changes what the signal path reads (a write-behind
// buffer being written) holds them.  Releasing the last hold ends the
// program if a signal came meanwhile; so does a fatal exit during a hold.
void hold_signals();
void release_signals();

// In a forked child that is about to become another program: the ending
// signals take their default action again (a signal that waited kills the
// child), so that the child never runs the parent's flush.
void default_signals_in_child();

// _ENDPROGRAM: runs the exit flush, then exits with the value of
// ERROR_CODE (a value outside 0 to 255 ends with 255); when the flush
// could not write everything, its messages are shown and the status is 1.
[[noreturn]] void end_program();

// Starts and lengths arrive in 64-bit registers; anything from 65536 up
// (negative values included, seen unsigned) is out of range.
inline constexpr uint64_t kPositionLimit = 65536;

// Substring normalisation of the register convention (_VALIDATE_SRC and
// _VALIDATE_DST).  Numbers are left untouched by the source form.
void validate_source(void* item, uint64_t& start, uint64_t& length);
void validate_destination(void* item, uint64_t& start, uint64_t source_length);

}  // namespace qw

// A lighter register entry for the hot routines.  It saves only the
// registers a C++ function may change (rax, rcx, rdx, rsi, rdi, r8 to r11)
// plus r15, and calls
//     extern "C" void handler(qw::LeanRegs& r, uint64_t r12, uint64_t r13,
//                             uint64_t r14, uint64_t rbx)
// What the handler writes into `r` comes back in those registers; rbx, rbp
// and r12 to r14 are preserved by the C++ calling convention itself.  Like
// QW_ENTRY it keeps where the caller's return address lies.
namespace qw {
struct LeanRegs {
  uint64_t rax, rcx, rdx, rsi, rdi, r8, r9, r10, r11, r15;
};
}  // namespace qw

#define QW_LEAN_ENTRY(name, handler)                                                  \
  extern "C" void handler(qw::LeanRegs&, uint64_t, uint64_t, uint64_t, uint64_t);     \
  asm(".pushsection .text\n"                                                          \
      ".globl " #name "\n"                                                            \
      ".type " #name ", @function\n" #name ":\n"                                      \
      "  push qw_caller_frame(%rip)\n  mov %rsp, qw_caller_frame(%rip)\n"             \
      "  push %rbp\n  mov %rsp, %rbp\n"                                               \
      "  push %r15\n  push %r11\n  push %r10\n  push %r9\n  push %r8\n"                \
      "  push %rdi\n  push %rsi\n  push %rdx\n  push %rcx\n  push %rax\n"              \
      "  mov %rsp, %rdi\n  and $-16, %rsp\n  cld\n"                                   \
      "  mov %r12, %rsi\n  mov %r13, %rdx\n  mov %r14, %rcx\n  mov %rbx, %r8\n"        \
      "  call " #handler "\n"                                                         \
      "  lea -80(%rbp), %rsp\n"                                                       \
      "  pop %rax\n  pop %rcx\n  pop %rdx\n  pop %rsi\n  pop %rdi\n"                   \
      "  pop %r8\n  pop %r9\n  pop %r10\n  pop %r11\n  pop %r15\n"                     \
      "  pop %rbp\n  pop qw_caller_frame(%rip)\n  ret\n"                               \
      ".size " #name ", .-" #name "\n"                                                  \
      ".popsection\n")

extern "C" {
extern const char SysErrorMessages[];          // 134 lines of 64 characters
extern const char QuillwrightErrorMessages[];  // 14 lines of 80 characters
}
