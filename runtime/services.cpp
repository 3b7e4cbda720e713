// Common services: environment lookup, dates, starting programs and waiting
// for them, random numbers.
#include "services.h"

#include "bridge.h"
#include "common.h"
#include "files.h"
#include "item.h"
#include "kernel.h"

namespace qw::services {

namespace {

// The environment list that follows the argument list at program start:
// argument count, the arguments, a zero, then the environment strings.
const char* const* environment_strings() {
  const uint64_t* stack = reinterpret_cast<const uint64_t*>(w_SaveRSP);
  if (stack == nullptr) return nullptr;
  const uint64_t argc = stack[0];
  return reinterpret_cast<const char* const*>(stack + 1 + argc + 1);
}

}  // namespace

void environment_lookup(const char* name, uint64_t length, Word dest, uint64_t start) {
  while (length > 0 && name[length - 1] == ' ') --length;
  if (length == 0) return;
  const char* const* env = environment_strings();
  if (env == nullptr) return;
  const uint64_t size = dest.length();
  if (start < 1) start = 1;
  for (; *env != nullptr; ++env) {
    const char* entry = *env;
    uint64_t i = 0;
    while (i < length && entry[i] != 0 && entry[i] != '=' && entry[i] == name[i]) ++i;
    if (i != length || entry[i] != '=') continue;
    // The value is cut at the destination's Length: nothing is written
    // past the word.
    const char* value = entry + length + 1;
    for (uint64_t pos = start; *value != 0 && pos <= size; ++pos) dest.at(pos) = *value++;
    return;
  }
}

// ---------------------------------------------------------------- dates

namespace {

constexpr uint8_t kMonthTable[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool leap_year(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int64_t month_length(int64_t y, int64_t m) {
  return m == 2 && leap_year(y) ? 29 : kMonthTable[m - 1];
}

// Days from 1970-01-01 to 0000-03-01 based day counting (civil calendar,
// years starting in March so that the leap day is the year's last).
constexpr int64_t kEpochShift = 719468;

// Digits of a fixed-width field; blanks and other characters reject it.
bool digits(const char* p, int n, int64_t& out) {
  int64_t v = 0;
  for (int i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    v = v * 10 + (p[i] - '0');
  }
  out = v;
  return true;
}

void put_digits(char* p, int n, int64_t v) {
  for (int i = n - 1; i >= 0; --i) {
    p[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
}

}  // namespace

int64_t days_from_date(const Date& d) {
  const int64_t y = d.month <= 2 ? d.year - 1 : d.year;
  const int64_t era = y / 400;
  const int64_t yoe = y - era * 400;
  const int64_t mp = d.month > 2 ? d.month - 3 : d.month + 9;
  const int64_t doy = (153 * mp + 2) / 5 + d.day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - kEpochShift;
}

Date date_from_days(int64_t days) {
  const int64_t z = days + kEpochShift;
  const int64_t era = z / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  Date d;
  d.day = doy - (153 * mp + 2) / 5 + 1;
  d.month = mp < 10 ? mp + 3 : mp - 9;
  d.year = yoe + era * 400 + (d.month <= 2 ? 1 : 0);
  return d;
}

bool valid_date(const Date& d) {
  if (d.year < 1970 || d.year > 9999 || d.month < 1 || d.month > 12) return false;
  return d.day >= 1 && d.day <= month_length(d.year, d.month);
}

void date_text(int64_t days, char* out) {
  const Date d = date_from_days(days);
  put_digits(out, 4, d.year);
  out[4] = '/';
  put_digits(out + 5, 2, d.month);
  out[7] = '/';
  put_digits(out + 8, 2, d.day);
}

bool parse_date_text(const char* text, int64_t& days) {
  Date d;
  if (!digits(text, 4, d.year) || !digits(text + 5, 2, d.month) || !digits(text + 8, 2, d.day))
    return false;
  if (!valid_date(d)) return false;
  days = days_from_date(d);
  return true;
}

// The last day number whose text still has a four-digit year (9999/12/31).
constexpr int64_t kLastDay = 2932896;

namespace {

void reject_date() { error_code().set_value(1); }

}  // namespace

void date_request(int64_t request, int64_t* value, void* second) {
  switch (request) {
    case kSeconds:
      store64(value, sys::call1(sys::kTime, 0));
      return;
    case kTimeOfDay: {
      int64_t tv[2] = {0, 0};
      sys::call2(sys::kGettimeofday, reinterpret_cast<long>(tv), 0);
      store64(value, tv[0]);
      store64(second, tv[1]);
      return;
    }
    case kToday: {
      const int64_t days = sys::call1(sys::kTime, 0) / 86400;
      store64(value, days);
      date_text(days, static_cast<char*>(second));
      return;
    }
    case kDayToText: {
      // A day number outside 1970/01/01 .. 9999/12/31 has no date text.
      const int64_t days = load64(value);
      if (days < 0 || days > kLastDay) return reject_date();
      date_text(days, static_cast<char*>(second));
      return;
    }
    default: {
      int64_t days;
      if (!parse_date_text(static_cast<const char*>(second), days)) return reject_date();
      store64(value, days);
      return;
    }
  }
}

// ---------------------------------------------------------------- programs

namespace {

constexpr int kMaxArguments = 64;

// The child's argument list, built in the child's own copy of memory.
char w_ProgramName[2048];
const char* program_arguments[kMaxArguments + 1];

const char env_displayNo[] = "DISPLAY=:0";
const char* const interactive_environment[] = {env_displayNo, nullptr};
const char* const empty_environment[] = {nullptr};

// Splits the command text (up to its last non-blank) at blanks into
// w_ProgramName; false when there is no program name.
bool build_arguments(Word command) {
  uint64_t n = command.length();
  const char* text = command.text();
  while (n > 0 && text[n - 1] == ' ') --n;
  if (n >= sizeof(w_ProgramName)) n = sizeof(w_ProgramName) - 1;
  int argc = 0;
  uint64_t out = 0;
  for (uint64_t i = 0; i < n;) {
    while (i < n && text[i] == ' ') ++i;
    if (i >= n) break;
    if (argc == kMaxArguments) break;
    program_arguments[argc++] = w_ProgramName + out;
    while (i < n && text[i] != ' ') w_ProgramName[out++] = text[i++];
    w_ProgramName[out++] = 0;
  }
  program_arguments[argc] = nullptr;
  return argc > 0;
}

}  // namespace

void run_program(Word command, bool batch, int64_t* read_end) {
  Number child = Number(CHILD_PID);
  child.set_value(0);
  if (batch) store64(read_end, -1);
  if (!build_arguments(command)) {
    error_code().set_value(-2);  // no such file
    return;
  }
  int out_pipe[2] = {-1, -1};
  if (batch) {
    // Neither end is handed on to other programs the caller starts later.
    const long rc = sys::call2(sys::kPipe2, reinterpret_cast<long>(out_pipe), sys::kOCloexec);
    if (rc < 0) {
      error_code().set_value(rc);
      return;
    }
  }
  // The child reports a failed start through this pipe; it closes by
  // itself when the program has replaced the child.
  int status_pipe[2];
  long rc = sys::call2(sys::kPipe2, reinterpret_cast<long>(status_pipe), sys::kOCloexec);
  if (rc < 0) {
    if (batch) {
      sys::close(out_pipe[0]);
      sys::close(out_pipe[1]);
    }
    error_code().set_value(rc);
    return;
  }
  // A signal that comes while the process is copied waits: the child must
  // never run the parent's signal path (it would write the parent's
  // buffered lines a second time).
  hold_signals();
  const long pid = sys::call0(sys::kFork);
  if (pid == 0) {
    default_signals_in_child();
    sys::close(status_pipe[0]);
    if (batch) {
      sys::close(out_pipe[0]);
      sys::call2(sys::kDup2, out_pipe[1], 1);
      sys::call2(sys::kDup2, out_pipe[1], 2);
      if (out_pipe[1] > 2) sys::close(out_pipe[1]);
      else sys::call3(sys::kFcntl, out_pipe[1], sys::kFSetfd, 0);  // it is 1 or 2 itself
    }
    const char* const* env = batch ? empty_environment : interactive_environment;
    long err = sys::call3(sys::kExecve, reinterpret_cast<long>(program_arguments[0]),
                          reinterpret_cast<long>(program_arguments), reinterpret_cast<long>(env));
    // Not started: tell the parent and end here, never run on as a copy of
    // the calling program.
    sys::write(status_pipe[1], &err, sizeof err);
    sys::call1(sys::kExitGroup, 127);
    __builtin_unreachable();
  }
  release_signals();
  sys::close(status_pipe[1]);
  if (batch) sys::close(out_pipe[1]);
  if (pid < 0) {
    sys::close(status_pipe[0]);
    if (batch) sys::close(out_pipe[0]);
    error_code().set_value(pid);
    return;
  }
  long err = 0;
  long got;
  do {
    got = sys::read(status_pipe[0], &err, sizeof err);
  } while (got == sys::kEintr);
  sys::close(status_pipe[0]);
  if (got == sizeof err) {
    // The child has ended; collect it so that it leaves no zombie.
    int status;
    sys::call4(sys::kWait4, pid, reinterpret_cast<long>(&status), 0, 0);
    if (batch) sys::close(out_pipe[0]);
    error_code().set_value(err);
    return;
  }
  child.set_value(pid);
  if (batch) store64(read_end, out_pipe[0]);
}

void wait_child(int64_t pid) {
  if (pid <= 0) {
    // No started program: waiting for "any child" here could block on a
    // process this program never asked about.
    error_code().set_value(-10);
    return;
  }
  int status = 0;
  long rc;
  do {
    rc = sys::call4(sys::kWait4, pid, reinterpret_cast<long>(&status), 0, 0);
  } while (rc == sys::kEintr);
  if (rc < 0) {
    error_code().set_value(rc);
    return;
  }
  // Ended by a signal: RETURN_CODE names it and ERROR_CODE holds the
  // status a shell reports for it, 128 + its number.
  const int signal = status & 0x7f;
  return_code().set_value(signal);
  error_code().set_value(signal != 0 ? 128 + signal : (status >> 8) & 0xff);
}

// ---------------------------------------------------------------- random

namespace {

constexpr uint64_t kRandomBufferSize = 4096;
uint8_t w_RandomNoBuffer[kRandomBufferSize];
uint64_t w_RandomNoIdx = kRandomBufferSize;

void refill_random() {
  uint64_t have = 0;
  while (have < kRandomBufferSize) {
    const long rc = sys::call3(sys::kGetrandom, reinterpret_cast<long>(w_RandomNoBuffer + have),
                               static_cast<long>(kRandomBufferSize - have), sys::kGrndNonblock);
    if (rc == sys::kEintr) continue;
    if (rc < 0) fatal_kernel(rc);
    have += static_cast<uint64_t>(rc);
  }
  w_RandomNoIdx = 0;
}

}  // namespace

uint64_t random_value(int64_t count) {
  const uint64_t n = count == 1 || count == 2 || count == 4 ? static_cast<uint64_t>(count) : 8;
  if (w_RandomNoIdx + n > kRandomBufferSize) refill_random();
  const uint8_t* p = w_RandomNoBuffer + w_RandomNoIdx;
  w_RandomNoIdx += n;
  uint64_t v = 0;
  for (uint64_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

}  // namespace qw::services

// _ENVIRONMENT: r9, r10, r11 the variable's name (word substring), r12 the
// destination word, filled from its first position.
QW_ENTRY(_ENVIRONMENT, bridge_ENVIRONMENT);
extern "C" void bridge_ENVIRONMENT(qw::Regs& r) {
  qw::Word name(reinterpret_cast<void*>(r.r9));
  uint64_t start = r.r10, length = r.r11;
  const uint64_t size = name.length();
  if (start < 1 || start > size) start = 1;
  if (length == 0 || length > size - start + 1) length = size - start + 1;
  qw::services::environment_lookup(name.text() + start - 1, length,
                                   qw::Word(reinterpret_cast<void*>(r.r12)), 1);
}

// _DATE: r8 request, r9 address of a number's value, r10 the date text or
// the second value.
QW_ENTRY(_DATE, bridge_DATE);
extern "C" void bridge_DATE(qw::Regs& r) {
  qw::services::date_request(static_cast<int64_t>(r.r8), reinterpret_cast<int64_t*>(r.r9),
                             reinterpret_cast<void*>(r.r10));
}

QW_ENTRY(_RUN_INTERACTIVE, bridge_RUN_INTERACTIVE);
extern "C" void bridge_RUN_INTERACTIVE(qw::Regs& r) {
  qw::services::run_program(qw::Word(reinterpret_cast<void*>(r.r9)), false, nullptr);
}

// _RUN_BATCH: r9 the command word, r10 the handle of the file block
// (its name - 25) whose descriptor becomes the pipe's read end; any other
// address just receives the descriptor.
QW_ENTRY(_RUN_BATCH, bridge_RUN_BATCH);
extern "C" void bridge_RUN_BATCH(qw::Regs& r) {
  constexpr uint64_t kHandleToName = 25;
  void* const name = reinterpret_cast<void*>(r.r10 + kHandleToName);
  int64_t read_end = -1;
  qw::services::run_program(qw::Word(reinterpret_cast<void*>(r.r9)), true, &read_end);
  if (qw::files::is_file_block(name))
    qw::files::take_pipe(qw::FileBlock(name), read_end);
  else
    qw::store64(reinterpret_cast<void*>(r.r10), read_end);
}

// _WAIT: r9 address of the child's process id (a number's value).
QW_ENTRY(_WAIT, bridge_WAIT);
extern "C" void bridge_WAIT(qw::Regs& r) {
  qw::services::wait_child(qw::load64(reinterpret_cast<void*>(r.r9)));
}

// _RANDOM: r9 a number holding the byte count, r10 receives the value.
QW_ENTRY(_RANDOM, bridge_RANDOM);
extern "C" void bridge_RANDOM(qw::Regs& r) {
  const int64_t count = qw::Number(reinterpret_cast<void*>(r.r9)).value();
  qw::store64(reinterpret_cast<void*>(r.r10),
              static_cast<int64_t>(qw::services::random_value(count)));
}
