// The fatal exit, the program end and the operand normalisation of the
// register convention.  The message tables and the block primitives are in
// primitives.asm.
#include "common.h"

#include "bridge.h"
#include "kernel.h"

extern "C" {
extern const char msg1[];          // "System Error is "
extern const char c_LightRedFG[];  // escape "[91m"
}

namespace qw {

namespace {
void (*g_fatal_cleanup)() = nullptr;
void (*g_exit_flush)(bool quietly) = nullptr;

// Runs the registered flush once; a fault inside it must not loop back here.
void run_exit_flush(bool quietly) {
  if (auto flush = g_exit_flush) {
    g_exit_flush = nullptr;
    flush(quietly);
  }
}
}  // namespace

void set_fatal_cleanup(void (*cleanup)()) { g_fatal_cleanup = cleanup; }
void set_exit_flush(void (*flush)(bool quietly)) { g_exit_flush = flush; }

void sys_error(long rax, const char* line) {
  if (auto cleanup = g_fatal_cleanup) {
    g_fatal_cleanup = nullptr;  // a fault inside the cleanup must not loop
    cleanup();
  }
  run_exit_flush(true);
  sys::write(1, c_LightRedFG, 5);
  if (rax != 0) {
    // A kernel error number passed without its minus sign is still one.
    long n = rax < 0 ? -rax : rax;
    // A number outside the table still ends the program; line 000 stands in.
    if (n >= kKernelLines) n = 0;
    sys::write(1, msg1, 16);
    sys::write(1, SysErrorMessages + kKernelLineLength * n, kKernelLineLength);
    sys::write(1, LF, 1);
  } else if (line != nullptr) {
    sys::write(1, LF, 1);
    sys::write(1, line, kLibraryLineLength);
    sys::write(1, LF, 1);
  }
  sys::call1(sys::kExitGroup, 1);
  sys::exit(1);
}

void fatal_line(const char* line80) { sys_error(0, line80); }

void fatal_library(LibraryMessage m) {
  sys_error(0, QuillwrightErrorMessages + kLibraryLineLength * (m - 1));
}

void fatal_kernel(long negative_errno) {
  sys_error(negative_errno < 0 ? negative_errno : -negative_errno, nullptr);
}

void end_program() {
  run_exit_flush(false);
  long status = load64(ERROR_CODE);
  sys::call1(sys::kExitGroup, status);
  sys::exit(status);
}

// Starts and lengths arrive in 64-bit registers; anything from 65536 up
// (negative values included, seen unsigned) is out of range.
static constexpr uint64_t kPositionLimit = 65536;

void validate_source(void* item, uint64_t& start, uint64_t& length) {
  Item it(item);
  if (it.is_number()) return;
  uint64_t len = it.length();
  if (start == 0 || start >= kPositionLimit) start = 1;
  if (start > len) start = len;
  if (len == 0) start = 1;
  if (static_cast<int64_t>(length) <= 0) {
    length = len - start + 1;
  } else if (length >= kPositionLimit) {
    length = 1;
  }
  if (start + length - 1 > len) length = len >= start ? len - start + 1 : 0;
}

void validate_destination(void* item, uint64_t& start, uint64_t source_length) {
  uint64_t len = Item(item).length();
  if (static_cast<int64_t>(start) <= 0 || start >= kPositionLimit) start = 1;
  if (start > len) {
    // Place the source so that it ends at the last position; a source longer
    // than the word starts at the first.
    start = source_length < len ? len - source_length + 1 : 1;
  }
}

}  // namespace qw

// Register entries.
extern "C" void qw_entry_syserror(qw::Regs& r) {
  qw::sys_error(static_cast<long>(r.rax), reinterpret_cast<const char*>(r.r14));
}
extern "C" void qw_entry_endprogram(qw::Regs&) { qw::end_program(); }
extern "C" void qw_entry_validate_src(qw::Regs& r) {
  qw::validate_source(reinterpret_cast<void*>(r.r9), r.r10, r.r11);
}
extern "C" void qw_entry_validate_dst(qw::Regs& r) {
  qw::validate_destination(reinterpret_cast<void*>(r.r12), r.r13, r.r11);
}

QW_ENTRY(_SYSERROR, qw_entry_syserror);
QW_ENTRY(_ENDPROGRAM, qw_entry_endprogram);
QW_ENTRY(_VALIDATE_SRC, qw_entry_validate_src);
QW_ENTRY(_VALIDATE_DST, qw_entry_validate_dst);
