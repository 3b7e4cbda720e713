// The ways a program ends (the fatal exit, the signal path, the normal end)
// and the operand normalisation of the register convention.  The message
// tables and the block primitives are in primitives.asm.
#include "common.h"

#include "bridge.h"
#include "kernel.h"
#include "positions.h"

extern "C" {
extern const char msg1[];          // "System Error is "
extern const char c_LightRedFG[];  // escape "[91m"
}

namespace qw {

namespace {

// Fatal messages go to standard output, or to standard error once standard
// output has refused one.
int g_message_fd = 1;

void (*g_fatal_cleanup)() = nullptr;
void (*g_exit_flush)(bool quietly) = nullptr;

// Runs the registered cleanup once; a fault inside it must not loop back.
void run_fatal_cleanup() {
  if (auto cleanup = g_fatal_cleanup) {
    g_fatal_cleanup = nullptr;
    cleanup();
  }
}

// Runs the registered flush once; a fault inside it must not loop back here.
void run_exit_flush(bool quietly) {
  if (auto flush = g_exit_flush) {
    g_exit_flush = nullptr;
    flush(quietly);
  }
}

// ---------------------------------------------------------------------------
// Messages.

constexpr char kResetColour[] = "\x1b[0m";
constexpr char kAboutFile[] = "File: ";

uint64_t text_length(const char* s) {
  uint64_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

// One message is put together here and written at once, so that it can go
// whole to standard error when standard output does not take it.
struct MessageText {
  char text[1024];
  uint64_t length = 0;
  void add(const void* from, uint64_t n) {
    const char* p = static_cast<const char*>(from);
    for (uint64_t i = 0; i < n && length < sizeof text; ++i) text[length++] = p[i];
  }
};

// "NAME.QWR:57: " when the program carries its line table and the failing
// call is found in it; nothing otherwise.
void add_source_position(MessageText& m) {
  SourcePosition at;
  if (!find_source_position(at)) return;
  char digits[24];
  int n = sizeof digits;
  digits[--n] = ' ';
  digits[--n] = ':';
  uint64_t line = at.line;
  do {
    digits[--n] = static_cast<char>('0' + line % 10);
    line /= 10;
  } while (line != 0);
  digits[--n] = ':';
  m.add(at.file, at.file_length);
  m.add(digits + n, sizeof digits - n);
}

bool is_terminal(int fd) {
  uint8_t settings[64];
  return sys::call3(sys::kIoctl, fd, sys::kTcgets, reinterpret_cast<long>(settings)) >= 0;
}

bool write_whole(int fd, const char* p, uint64_t n) {
  while (n > 0) {
    const long rc = sys::write(fd, p, static_cast<long>(n));
    if (rc == sys::kEintr) continue;
    if (rc <= 0) return false;
    p += rc;
    n -= static_cast<uint64_t>(rc);
  }
  return true;
}

// The message goes to standard output; when that refuses it (a full disk, a
// reader that has gone), to standard error.  On a terminal the colour is
// reset after it.
void deliver(const MessageText& m) {
  int fd = g_message_fd;
  if (!write_whole(fd, m.text, m.length) && fd == 1) {
    g_message_fd = fd = 2;
    write_whole(fd, m.text, m.length);
  }
  if (is_terminal(fd)) write_whole(fd, kResetColour, sizeof kResetColour - 1);
}

// One fatal message: light red, the kernel line (rax != 0) or the library
// line, the file it is about.  The message that ends the run is preceded
// by its source line when the program knows it.
void show_message(long rax, const char* line, const char* about, bool at_line) {
  MessageText m;
  m.add(c_LightRedFG, 5);
  if (rax != 0) {
    if (at_line) add_source_position(m);
    // A kernel error number passed without its minus sign is still one.
    long n = rax < 0 ? -rax : rax;
    // A number outside the table still ends the program; line 000 stands in.
    if (n >= kKernelLines) n = 0;
    m.add(msg1, 16);
    m.add(SysErrorMessages + kKernelLineLength * n, kKernelLineLength);
    m.add(LF, 1);
  } else if (line != nullptr) {
    m.add(LF, 1);
    if (at_line) add_source_position(m);
    m.add(line, kLibraryLineLength);
    m.add(LF, 1);
  }
  if (about != nullptr) {
    m.add(kAboutFile, sizeof kAboutFile - 1);
    m.add(about, text_length(about));
    m.add(LF, 1);
  }
  deliver(m);
}

struct EndReport {
  long error;
  char path[256];
};
constexpr int kEndReports = 4;
EndReport g_end_reports[kEndReports];
int g_end_report_count = 0;

void show_end_reports() {
  for (int i = 0; i < g_end_report_count; ++i)
    show_message(g_end_reports[i].error, nullptr, g_end_reports[i].path, false);
  g_end_report_count = 0;
}

// ---------------------------------------------------------------------------
// The signal path.

constexpr int kEndingSignals[] = {sys::kSighup, sys::kSigint, sys::kSigquit, sys::kSigpipe, sys::kSigterm};
constexpr long kMaskBytes = 8;

bool g_signals_caught = false;
volatile int g_hold = 0;        // > 0: an ending signal waits
volatile int g_pending = 0;     // the signal that waits
volatile bool g_ending = false; // the signal path has begun

unsigned long signal_bit(int sig) { return 1UL << (sig - 1); }

void set_action(int sig, const sys::SigAction& a) {
  sys::call4(sys::kRtSigaction, sig, reinterpret_cast<long>(&a), 0, kMaskBytes);
}

// Ends the process by `sig` with its default action: the caller sees the
// signal, as if no handler had been there.
[[noreturn]] void die_by(int sig) {
  take_default_action(sig);
  sys::call1(sys::kExitGroup, 128 + sig);
  sys::exit(128 + sig);
}

[[noreturn]] void end_by_signal(int sig) {
  g_ending = true;
  run_fatal_cleanup();
  run_exit_flush(true);
  show_end_reports();
  if (is_terminal(g_message_fd)) write_whole(g_message_fd, kResetColour, sizeof kResetColour - 1);
  die_by(sig);
}

void on_ending_signal(int sig) {
  if (g_ending) die_by(sig);  // a second signal while ending: no more waiting
  if (g_hold > 0) {
    g_pending = sig;
    return;
  }
  end_by_signal(sig);
}

// The write that passed the limit fails with its error instead.
void on_file_size_signal(int) {}

}  // namespace

// The kernel returns from a handler through this routine.
extern "C" void qw_signal_restorer();
asm(".text\n"
    ".type qw_signal_restorer, @function\n"
    "qw_signal_restorer:\n"
    "  mov $" QW_STR(QW_NR_RT_SIGRETURN) ", %eax\n"
    "  syscall\n"
    ".size qw_signal_restorer, .-qw_signal_restorer\n");

void take_default_action(int sig) {
  set_action(sig, sys::SigAction{});
  const unsigned long bit = signal_bit(sig);
  sys::call4(sys::kRtSigprocmask, sys::kSigUnblock, reinterpret_cast<long>(&bit), 0, kMaskBytes);
  sys::call2(sys::kKill, sys::call0(sys::kGetpid), sig);
}

void catch_signal(int sig, void (*handler)(int), unsigned long blocked) {
  sys::SigAction old{};
  sys::call4(sys::kRtSigaction, sig, 0, reinterpret_cast<long>(&old), kMaskBytes);
  if (reinterpret_cast<long>(old.handler) == sys::kSigIgnore) return;
  set_action(sig, sys::SigAction{handler, sys::kSaRestorer | sys::kSaRestart, qw_signal_restorer, blocked});
}

void catch_ending_signals() {
  if (g_signals_caught) return;
  g_signals_caught = true;
  const sys::SigAction ending{on_ending_signal, sys::kSaRestorer | sys::kSaNodefer,
                              qw_signal_restorer, 0};
  for (int sig : kEndingSignals) {
    sys::SigAction old{};
    sys::call4(sys::kRtSigaction, sig, 0, reinterpret_cast<long>(&old), kMaskBytes);
    if (reinterpret_cast<long>(old.handler) != sys::kSigIgnore) set_action(sig, ending);
  }
  catch_file_size_signal();
}

void catch_file_size_signal() {
  set_action(sys::kSigxfsz, sys::SigAction{on_file_size_signal,
                                           sys::kSaRestorer | sys::kSaRestart,
                                           qw_signal_restorer, 0});
}

void hold_signals() { g_hold = g_hold + 1; }

void release_signals() {
  g_hold = g_hold - 1;
  if (g_hold == 0 && g_pending != 0) end_by_signal(g_pending);
}

void default_signals_in_child() {
  set_action(sys::kSigxfsz, sys::SigAction{});
  if (!g_signals_caught) return;
  for (int sig : kEndingSignals) set_action(sig, sys::SigAction{});
  if (g_pending != 0) die_by(g_pending);
}

void set_fatal_cleanup(void (*cleanup)()) {
  g_fatal_cleanup = cleanup;
  if (cleanup != nullptr) catch_ending_signals();
}

void set_exit_flush(void (*flush)(bool quietly)) {
  g_exit_flush = flush;
  if (flush != nullptr) catch_ending_signals();
}

void report_at_end(long negative_errno, const char* path) {
  if (g_end_report_count == kEndReports) return;
  EndReport& r = g_end_reports[g_end_report_count++];
  r.error = negative_errno;
  uint64_t n = 0;
  for (; path != nullptr && path[n] != 0 && n + 1 < sizeof r.path; ++n) r.path[n] = path[n];
  r.path[n] = 0;
}

// ---------------------------------------------------------------------------
// The fatal exit and the program end.

namespace {

[[noreturn]] void fatal_exit(long rax, const char* line, const char* about) {
  // The signal came first and the failure is its effect (a write into a
  // pipe whose reader has gone): the program ends by the signal.
  if (g_pending != 0 && !g_ending) end_by_signal(g_pending);
  hold_signals();  // from here on signals wait: the messages come out whole
  run_fatal_cleanup();
  run_exit_flush(true);
  show_message(rax, line, about, true);
  show_end_reports();
  sys::call1(sys::kExitGroup, 1);
  sys::exit(1);
}

}  // namespace

void sys_error(long rax, const char* line) { fatal_exit(rax, line, nullptr); }

void fatal_line(const char* line80) { fatal_exit(0, line80, nullptr); }

void fatal_library(LibraryMessage m) {
  fatal_exit(0, QuillwrightErrorMessages + kLibraryLineLength * (m - 1), nullptr);
}

void fatal_kernel(long negative_errno) {
  fatal_exit(negative_errno < 0 ? negative_errno : -negative_errno, nullptr, nullptr);
}

void fatal_kernel_about(long negative_errno, const char* path) {
  fatal_exit(negative_errno < 0 ? negative_errno : -negative_errno, nullptr, path);
}

void fatal_line_about(const char* line80, const char* path) { fatal_exit(0, line80, path); }

void fatal_output(long negative_errno) {
  g_message_fd = 2;
  fatal_kernel_about(negative_errno, "standard output");
}

void end_program() {
  // Signals wait while the held lines are written.  One that came
  // meanwhile then ends the program by that signal (after the messages of
  // writes that failed); otherwise a failed write ends it with status 1
  // and its message, as a fatal error would.
  hold_signals();
  run_fatal_cleanup();  // the terminal as the program found it
  run_exit_flush(false);
  if (g_pending == 0 && g_end_report_count > 0) {
    show_end_reports();
    sys::call1(sys::kExitGroup, 1);
    sys::exit(1);
  }
  release_signals();
  const int64_t value = load64(ERROR_CODE);
  // The kernel keeps only the low 8 bits: 256 would read as success.
  const long status = value >= 0 && value <= 255 ? value : 255;
  sys::call1(sys::kExitGroup, status);
  sys::exit(status);
}

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
