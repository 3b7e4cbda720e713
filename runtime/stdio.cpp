// Terminal module: standard handles, the command line, display, cursor,
// line input and field input.  Also delivered as an object of its own, so it
// needs nothing from the library but numbers, words and the fatal path.
#include "terminal.h"

#include "bridge.h"
#include "common.h"
#include "item.h"
#include "numbers.h"
#include "kernel.h"

// The display words: each a word item (17-byte header, then the sequence),
// so that programs show them with _DISPLAY like any other word.  The box
// characters switch to the DEC special graphics set for one character.
asm(R"(
  .section .data
  .macro QW_SEQ name:req, text:req
    .quad 0
    .byte 'X'
    .quad .Lend_\name - \name
    .globl \name
  \name:
    .ascii "\text"
  .Lend_\name:
  .endm
  .macro QW_BOX name:req, ch:req
    QW_SEQ \name, "\033(0\ch\033(B"
  .endm
  .macro QW_NUM2 name:req
    .quad 1
    .byte '9'
    .quad 2
    .globl \name
  \name:
    .quad 0
    .ascii "99"
  .endm
  .macro QW_BLANKS name:req, n:req
    .quad 0
    .byte 'X'
    .quad \n
    .globl \name
  \name:
    .fill \n, 1, 0x20
  .endm

  QW_SEQ v_ClearScreen, "\033c"
  QW_SEQ v_Cursor, "\033[00;00H"
  QW_BOX v_TopLeft, l
  QW_BOX v_TopRight, k
  QW_BOX v_BottomLeft, m
  QW_BOX v_BottomRight, j
  QW_BOX v_Line, q
  QW_BOX v_Bar, x
  QW_BOX v_Cross, n
  QW_BOX v_MiddleLeft, t
  QW_BOX v_MiddleRight, u
  QW_BOX v_MiddleTop, w
  QW_BOX v_MiddleBottom, v
  QW_SEQ v_DefaultFG, "\033[39m"
  QW_SEQ v_BlackFG, "\033[30m"
  QW_SEQ v_RedFG, "\033[31m"
  QW_SEQ v_GreenFG, "\033[32m"
  QW_SEQ v_YellowFG, "\033[33m"
  QW_SEQ v_BlueFG, "\033[34m"
  QW_SEQ v_MagentaFG, "\033[35m"
  QW_SEQ v_CyanFG, "\033[36m"
  QW_SEQ v_LightGreyFG, "\033[37m"
  QW_SEQ v_DarkGreyFG, "\033[90m"
  QW_SEQ v_LightRedFG, "\033[91m"
  QW_SEQ v_LightGreenFG, "\033[92m"
  QW_SEQ v_LightYellowFG, "\033[93m"
  QW_SEQ v_LightBlueFG, "\033[94m"
  QW_SEQ v_LightMagentaFG, "\033[95m"
  QW_SEQ v_LightCyanFG, "\033[96m"
  QW_SEQ v_WhiteFG, "\033[97m"
  QW_SEQ v_DefaultBG, "\033[49m"
  QW_SEQ v_BlackBG, "\033[40m"
  QW_SEQ v_RedBG, "\033[41m"
  QW_SEQ v_GreenBG, "\033[42m"
  QW_SEQ v_YellowBG, "\033[43m"
  QW_SEQ v_BlueBG, "\033[44m"
  QW_SEQ v_MagentaBG, "\033[45m"
  QW_SEQ v_CyanBG, "\033[46m"
  QW_SEQ v_LightGreyBG, "\033[47m"
  QW_SEQ v_DarkGreyBG, "\033[100m"
  QW_SEQ v_LightRedBG, "\033[101m"
  QW_SEQ v_LightGreenBG, "\033[102m"
  QW_SEQ v_LightYellowBG, "\033[103m"
  QW_SEQ v_LightBlueBG, "\033[104m"
  QW_SEQ v_LightMagentaBG, "\033[105m"
  QW_SEQ v_LightCyanBG, "\033[106m"
  QW_SEQ v_WhiteBG, "\033[107m"
  QW_SEQ v_ResetAll, "\033[0m"
  QW_SEQ v_Bold, "\033[1m"
  QW_SEQ v_Dim, "\033[2m"
  QW_SEQ v_Underlined, "\033[4m"
  QW_SEQ v_Blink, "\033[5m"
  QW_SEQ v_Reverse, "\033[7m"
  QW_SEQ v_Hidden, "\033[8m"
  QW_SEQ v_ResetBold, "\033[21m"
  QW_SEQ v_ResetDim, "\033[22m"
  QW_SEQ v_ResetUnderlined, "\033[24m"
  QW_SEQ v_ResetBlink, "\033[25m"
  QW_SEQ v_ResetReverse, "\033[27m"
  QW_SEQ v_ResetHidden, "\033[28m"
  QW_SEQ v_HideCursor, "\033[?25l"
  QW_SEQ v_ShowCursor, "\033[?25h"

  QW_NUM2 Row9
  QW_NUM2 Col9
  QW_BLANKS RowX, 2
  QW_BLANKS ColX, 2
  QW_BLANKS w_AcceptAt, 128
  QW_BLANKS w_Function, 4

  .purgem QW_SEQ
  .purgem QW_BOX
  .purgem QW_NUM2
  .purgem QW_BLANKS
  .text
)");

namespace qw::terminal {

namespace {

// Terminal settings in the kernel's layout.
struct Termios {
  uint32_t c_iflag, c_oflag, c_cflag, c_lflag;
  uint8_t c_line;
  uint8_t c_cc[19];
};

constexpr uint8_t kEsc = 27;

Termios c_buffer;       // the settings field input found
bool g_raw = false;     // field input has changed them
uint8_t w_Buff[8];      // one read of the keyboard

// Line input reads into this buffer; a longer line keeps its first part.
constexpr long kLineBufferSize = 4096;
uint8_t g_line[kLineBufferSize];

void write_all(const void* p, uint64_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  while (n > 0) {
    const long rc = sys::write(StdOutHandle, b, static_cast<long>(n));
    if (rc == sys::kEintr) continue;
    if (rc <= 0) return;  // failed writes are ignored
    b += rc;
    n -= static_cast<uint64_t>(rc);
  }
}

long read_retrying(void* p, long n) {
  long rc;
  do {
    rc = sys::read(StdInHandle, p, n);
  } while (rc == sys::kEintr);
  return rc;
}

void two_digits(int64_t v, char* out) {
  if (v < 0) v = -v;
  out[0] = static_cast<char>('0' + (v / 10) % 10);
  out[1] = static_cast<char>('0' + v % 10);
}

}  // namespace

void get_stdio_handles() {
  StdInHandle = 0;
  StdOutHandle = 1;
  StdErrHandle = 2;
}

// Copies the program's arguments (after its own name) into w_CommandLine,
// one blank between arguments, keeping at most the word's 256 characters.
void get_command_line(const uint64_t* initial_stack) {
  Word line(w_CommandLine);
  const uint64_t size = line.length();
  char* out = line.text();
  for (uint64_t i = 0; i < size; ++i) out[i] = ' ';
  const uint64_t argc = initial_stack[0];
  uint64_t pos = 0;
  for (uint64_t a = 1; a < argc && pos < size; ++a) {
    const char* arg = reinterpret_cast<const char*>(initial_stack[1 + a]);
    while (*arg && pos < size) out[pos++] = *arg++;
    ++pos;  // the blank between arguments
  }
}

void display(void* item, uint64_t start, uint64_t length) {
  Item it(item);
  if (it.is_number()) {
    Number n(item);
    numbers::Picture own;
    const uint64_t len = numbers::edited_length(n, own);
    Word temp = temp_word();
    if (len <= 128) {
      numbers::to_text(n, own, temp.text());
      temp.set_length(len);
      write_all(temp.text(), len);
    } else {
      // A picture longer than the work word is edited in the line buffer.
      if (len > static_cast<uint64_t>(kLineBufferSize)) return;
      numbers::to_text(n, own, reinterpret_cast<char*>(g_line));
      write_all(g_line, len);
    }
    return;
  }
  validate_source(item, start, length);
  if (length == 0) return;
  write_all(it.data() + start - 1, length);
}

void cursor() {
  const int64_t row = Number(Row9).value();
  const int64_t col = Number(Col9).value();
  char* seq = reinterpret_cast<char*>(v_Cursor);
  two_digits(row, seq + 2);
  two_digits(col, seq + 5);
  two_digits(row, reinterpret_cast<char*>(RowX));
  two_digits(col, reinterpret_cast<char*>(ColX));
  write_all(seq, 8);
}

void accept_line(void* item) {
  Number rc = return_code();
  rc.set_value(0);
  // One line, read up to its line feed so that lines that follow it stay
  // in standard input for the next request; the part of a line beyond the
  // buffer is read and dropped.
  long n = 0;
  bool ended = false, any = false;
  for (;;) {
    uint8_t c;
    const long got = read_retrying(&c, 1);
    if (got <= 0) break;
    any = true;
    if (c == '\n') {
      ended = true;
      break;
    }
    if (n < kLineBufferSize) g_line[n++] = c;
  }
  if (!any) {
    rc.set_value(kEndOfInput);
    return;
  }
  if (n > 0 && g_line[0] == kEsc) {
    rc.set_value(kEscape);
    return;
  }
  uint64_t text_length = static_cast<uint64_t>(n);
  if (ended && n < kLineBufferSize && text_length > 0 && g_line[text_length - 1] == '\r') --text_length;
  if (text_length == 0) return;  // an empty line leaves the item alone
  Item it(item);
  if (it.is_number()) {
    Number num(item);
    num.set_value(0);
    numbers::from_text(num, reinterpret_cast<const char*>(g_line), text_length);
    return;
  }
  Word w(item);
  const uint64_t size = w.length();
  for (uint64_t i = 0; i < size; ++i) w.text()[i] = i < text_length ? g_line[i] : ' ';
}

namespace {

int64_t escape_code(const uint8_t* k, long n) {
  if (n == 2) return kAlt;
  if (n < 3 || k[1] != '[') return -1;
  if (n == 3) {
    switch (k[2]) {
      case 'A': return kUp;
      case 'B': return kDown;
      case 'C': return kRight;
      case 'D': return kLeft;
      case 'F': return kEnd;
      case 'H': return kHome;
      case '2': return kInsert;
      default: return -1;
    }
  }
  if (n == 4) return k[2] == '2' ? int64_t{kInsert} : -1;
  if (n == 5 && k[2] >= '0' && k[2] <= '9' && k[3] >= '0' && k[3] <= '9') {
    switch ((k[2] - '0') * 10 + (k[3] - '0')) {
      case 11: return 1;
      case 12: return 2;
      case 13: return 3;
      case 14: return 4;
      case 15: return 5;
      case 17: return 6;
      case 18: return 7;
      case 19: return 8;
      case 20: return 9;
      case 21: return 10;
      case 23: return 11;
      case 24: return 12;
      default: return -1;
    }
  }
  return -1;
}

}  // namespace

int64_t take_keys(const uint8_t* k, long n, Word field, uint64_t& pos) {
  const uint64_t size = field.length();
  if (n <= 0) return -1;
  if (k[0] == '\t') return kTab;
  if (k[0] == kEsc) {
    if (n == 1) return kEscape;
    if (n == 2) {
      if (pos < size) field.text()[pos] = static_cast<char>(k[1]);
      return kAlt;
    }
    // An escape sequence of no known key is dropped rather than stored in
    // the field as text.
    return escape_code(k, n);
  }
  for (long i = 0; i < n; ++i) {
    const uint8_t c = k[i];
    if (c == '\n' || c == '\r') return kEnter;
    if (c == '\t') return kTab;
    if (c == 127) return kBackspace;
    if (pos >= size) return kFieldFull;
    field.text()[pos++] = static_cast<char>(c);
  }
  return pos >= size ? int64_t{kFieldFull} : -1;
}

namespace {

// True when standard input has a byte to read within 0.1 second.
bool byte_follows() {
  struct {
    int fd;
    short events, revents;
  } p = {static_cast<int>(StdInHandle), 1 /* POLLIN */, 0};
  return sys::call3(sys::kPoll, reinterpret_cast<long>(&p), 1, 100) > 0 && (p.revents & 1);
}

// One key from an input that is not a terminal (a pipe or a file): read a
// byte at a time so that nothing after the key is taken from the input;
// an escape sequence is read as far as it goes.
long read_key(uint8_t* k) {
  if (read_retrying(k, 1) != 1) return 0;
  if (k[0] != kEsc) return 1;
  long n = 1;
  auto next = [&]() { return byte_follows() && read_retrying(k + n, 1) == 1 ? (++n, true) : false; };
  if (!next() || k[1] != '[') return n;            // escape, or Alt with a key
  if (!next()) return n;
  if (k[2] < '0' || k[2] > '9') return n;          // escape "[" and a letter
  if (!next() || k[3] == '~') return n;            // escape "[" digit "~"
  next();                                          // the "~" of two digits
  return n;
}

}  // namespace

void restore_if_raw() {
  if (!g_raw) return;
  g_raw = false;
  sys::call3(sys::kIoctl, StdInHandle, sys::kTcsets, reinterpret_cast<long>(&c_buffer));
}

void accept_at(Word field) {
  Number rc = return_code();
  // Canonical mode off, at most 5 bytes per read, 0.1 s between the bytes
  // of one key; echo stays on.  A standard input that is not a terminal is
  // read as it is.
  Termios raw;
  if (sys::call3(sys::kIoctl, StdInHandle, sys::kTcgets, reinterpret_cast<long>(&c_buffer)) == 0) {
    raw = c_buffer;
    raw.c_lflag &= ~sys::kIcanon;
    raw.c_cc[sys::kVmin] = 5;
    raw.c_cc[sys::kVtime] = 1;
    g_raw = true;
    set_fatal_cleanup(restore_if_raw);
    sys::call3(sys::kIoctl, StdInHandle, sys::kTcsets, reinterpret_cast<long>(&raw));
  }
  uint64_t pos = 0;
  int64_t code = -1;
  if (field.length() == 0) code = kFieldFull;
  uint8_t* buff = w_Buff;
  while (code < 0) {
    for (int i = 0; i < 8; ++i) buff[i] = ' ';
    const long n = g_raw ? read_retrying(buff, 5) : read_key(buff);
    if (n <= 0) {
      code = kEscape;  // end of input: nothing more can be typed
      break;
    }
    code = take_keys(buff, n, field, pos);
  }
  if (g_raw) {
    restore_if_raw();
    set_fatal_cleanup(nullptr);
  }
  rc.set_value(code);
}

}  // namespace qw::terminal

QW_ENTRY(_getSTDIOhandles, bridge_getSTDIOhandles);
extern "C" void bridge_getSTDIOhandles(qw::Regs&) { qw::terminal::get_stdio_handles(); }

QW_ENTRY(_getCommandLine, bridge_getCommandLine);
extern "C" void bridge_getCommandLine(qw::Regs& r) {
  qw::terminal::get_command_line(reinterpret_cast<const uint64_t*>(r.rbp));
}

// _DISPLAY: r9, r10, r11 the item, start and length.
QW_ENTRY(_DISPLAY, bridge_DISPLAY);
extern "C" void bridge_DISPLAY(qw::Regs& r) {
  qw::terminal::display(reinterpret_cast<void*>(r.r9), r.r10, r.r11);
}

QW_ENTRY(_CURSOR, bridge_CURSOR);
extern "C" void bridge_CURSOR(qw::Regs&) { qw::terminal::cursor(); }

// _ACCEPTLINE: r9 the receiving word or number.
QW_ENTRY(_ACCEPTLINE, bridge_ACCEPTLINE);
extern "C" void bridge_ACCEPTLINE(qw::Regs& r) {
  qw::terminal::accept_line(reinterpret_cast<void*>(r.r9));
}

// _ACCEPT_AT: r9 the receiving word.
QW_ENTRY(_ACCEPT_AT, bridge_ACCEPT_AT);
extern "C" void bridge_ACCEPT_AT(qw::Regs& r) {
  qw::terminal::accept_at(qw::Word(reinterpret_cast<void*>(r.r9)));
}
