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
  .macro QW_NUM name:req, picture:req
    .quad 1
    .byte '9'
    .quad .Lend_\name - \name - 8
    .globl \name
  \name:
    .quad 0
    .ascii "\picture"
  .Lend_\name:
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
  .fill 2, 1, 0          # room for three-digit rows and columns
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

  QW_NUM Row9, "99"
  QW_NUM Col9, "99"
  QW_BLANKS RowX, 2
  .fill 1, 1, 0x20       # a third digit from row 100 up
  QW_BLANKS ColX, 2
  .fill 1, 1, 0x20
  QW_NUM CHARS_TYPED, "99999"
  QW_BLANKS w_AcceptAt, 128
  QW_BLANKS w_Function, 4

  .purgem QW_SEQ
  .purgem QW_BOX
  .purgem QW_NUM
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

// Line input reads into this buffer; a longer line keeps its first part.
constexpr long kLineBufferSize = 4096;
uint8_t g_line[kLineBufferSize];

// Waits until standard output, handed over non-blocking, takes more.
void wait_writable() {
  struct {
    int fd;
    short events, revents;
  } p = {static_cast<int>(StdOutHandle), sys::kPollOut, 0};
  sys::call3(sys::kPoll, reinterpret_cast<long>(&p), 1, -1);
}

// Output that cannot be written (a full disk, a reader that has gone while
// the pipe signal is ignored) ends the program with the kernel's message:
// a program whose output was cut short never ends as if it succeeded.
void write_all(const void* p, uint64_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  while (n > 0) {
    const long rc = sys::write(StdOutHandle, b, static_cast<long>(n));
    if (rc == sys::kEintr) continue;
    if (rc == sys::kEagain) {
      wait_writable();
      continue;
    }
    if (rc < 0) qw::fatal_output(rc);
    if (rc == 0) return;
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

bool read_settings(Termios& t) {
  return sys::call3(sys::kIoctl, StdInHandle, sys::kTcgets, reinterpret_cast<long>(&t)) == 0;
}

bool is_terminal() {
  Termios t;
  return read_settings(t);
}

// ---------------------------------------------------------------------------
// Cursor positions: two digits each, three from 100 up, at most 999.

constexpr int64_t kLastPosition = 999;

char* put_position(int64_t v, char* out) {
  if (v < 0) v = 0;
  if (v > kLastPosition) v = kLastPosition;
  if (v >= 100) *out++ = static_cast<char>('0' + v / 100);
  *out++ = static_cast<char>('0' + (v / 10) % 10);
  *out++ = static_cast<char>('0' + v % 10);
  return out;
}

// Escape "[row;colH" into `out` (room for 10 characters); its length.
uint64_t position_sequence(int64_t row, int64_t col, char* out) {
  char* p = out;
  *p++ = static_cast<char>(kEsc);
  *p++ = '[';
  p = put_position(row, p);
  *p++ = ';';
  p = put_position(col, p);
  *p++ = 'H';
  return static_cast<uint64_t>(p - out);
}

void move_to(int64_t row, int64_t col) {
  char seq[10];
  write_all(seq, position_sequence(row, col, seq));
}

// ---------------------------------------------------------------------------
// Bytes read from standard input and not taken yet: keys typed ahead or
// pasted, and the first part of an escape sequence, wait here for the next
// field or line read.

constexpr long kPendingSize = 4096;
uint8_t g_pending[kPendingSize];
long g_head = 0, g_tail = 0;

long pending_count() { return g_tail - g_head; }
const uint8_t* pending_bytes() { return g_pending + g_head; }

void drop_pending(long n) {
  g_head += n;
  if (g_head == g_tail) g_head = g_tail = 0;
}

// True when standard input has something to read within `ms` milliseconds.
bool input_within(long ms) {
  struct {
    int fd;
    short events, revents;
  } p = {static_cast<int>(StdInHandle), sys::kPollIn, 0};
  return sys::call3(sys::kPoll, reinterpret_cast<long>(&p), 1, ms) > 0 && p.revents != 0;
}

// Reads more input behind what is pending, waiting at most `wait_ms`
// (always, when negative).  A terminal gives what it has ready; a pipe or a
// file is read a byte at a time, so that nothing beyond the key or line
// asked for is taken from it.  False at the end of the input, or when
// nothing came in time.
bool read_more(bool terminal, long wait_ms) {
  if (wait_ms >= 0 && !input_within(wait_ms)) return false;
  if (g_tail == kPendingSize && g_head > 0) {
    const long n = pending_count();
    for (long i = 0; i < n; ++i) g_pending[i] = g_pending[g_head + i];
    g_head = 0;
    g_tail = n;
  }
  const long room = kPendingSize - g_tail;
  if (room == 0) return false;
  const long got = read_retrying(g_pending + g_tail, terminal ? room : 1);
  if (got <= 0) return false;
  g_tail += got;
  return true;
}

// One byte of line input: a pending one first, then standard input.
bool take_byte(uint8_t& c) {
  if (pending_count() == 0 && !read_more(false, -1)) return false;
  c = pending_bytes()[0];
  drop_pending(1);
  return true;
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

// The sequence is built in v_Cursor itself, and RowX/ColX get the digits,
// so that a program may show any of them again.
void cursor() {
  const int64_t row = Number(Row9).value();
  const int64_t col = Number(Col9).value();
  Word seq(v_Cursor);
  seq.set_length(position_sequence(row, col, seq.text()));
  Word row_text(RowX), col_text(ColX);
  row_text.set_length(static_cast<uint64_t>(put_position(row, row_text.text()) - row_text.text()));
  col_text.set_length(static_cast<uint64_t>(put_position(col, col_text.text()) - col_text.text()));
  write_all(seq.text(), seq.length());
}

// ---------------------------------------------------------------------------
// Keys.  Every key that is not a character, as xterm, the Linux console,
// tmux, screen, rxvt and VT220 terminals send it.  Sequences of no key here
// (Page Up, keys with Shift or Control ...) are read whole and ignored.

namespace {

// A key read from the keyboard: a code of KeyCode, a character (kCharacter,
// or kAlt with the key's character), or one of these.
enum : int64_t { kCharacter = -2, kIgnored = -3, kNoMoreInput = -4, kDelete = -5 };

struct KeySequence {
  const char* bytes;
  int64_t code;
};

// F1-F4: "O" and a letter (xterm, tmux, screen, VT220), "[11~" ... (rxvt),
// "[[" and a letter (Linux console, also F5).  Cursor keys and Home/End:
// "[" and a letter, or "O" and a letter in the terminal's application mode;
// "[1~"/"[4~" (Linux console, tmux, screen, VT220 Find and Select) and
// "[7~"/"[8~" (rxvt) for Home and End.  "OM" is Enter of the keypad.
constexpr KeySequence kKeySequences[] = {
    {"\033OP", 1},      {"\033[11~", 1},    {"\033[[A", 1},
    {"\033OQ", 2},      {"\033[12~", 2},    {"\033[[B", 2},
    {"\033OR", 3},      {"\033[13~", 3},    {"\033[[C", 3},
    {"\033OS", 4},      {"\033[14~", 4},    {"\033[[D", 4},
    {"\033[15~", 5},    {"\033[[E", 5},
    {"\033[17~", 6},    {"\033[18~", 7},    {"\033[19~", 8},    {"\033[20~", 9},
    {"\033[21~", 10},   {"\033[23~", 11},   {"\033[24~", 12},
    {"\033[A", kUp},    {"\033OA", kUp},
    {"\033[B", kDown},  {"\033OB", kDown},
    {"\033[C", kRight}, {"\033OC", kRight},
    {"\033[D", kLeft},  {"\033OD", kLeft},
    {"\033[H", kHome},  {"\033OH", kHome},  {"\033[1~", kHome}, {"\033[7~", kHome},
    {"\033[F", kEnd},   {"\033OF", kEnd},   {"\033[4~", kEnd},  {"\033[8~", kEnd},
    {"\033[2~", kInsert},
    {"\033[3~", kDelete},
    {"\033OM", kEnter},
};

struct Key {
  int64_t code;
  uint8_t ch;
};

int64_t sequence_code(const uint8_t* b, long n) {
  for (const KeySequence& k : kKeySequences) {
    long i = 0;
    while (i < n && k.bytes[i] == static_cast<char>(b[i])) ++i;
    if (i == n && k.bytes[n] == 0) return k.code;
  }
  return kIgnored;
}

// The length of the escape sequence at b[0..n), or 0 while it may go on.
// `complete`: no more bytes will come, so what is there is the whole key.
long escape_length(const uint8_t* b, long n, bool complete) {
  constexpr long kLongest = 16;  // longer: not a key, dropped
  if (n < 2) return complete ? 1 : 0;
  if (b[1] == 'O' || (b[1] == '[' && n > 2 && b[2] == '[')) {
    // SS3 and the Linux console's F1-F5: one letter ends them.
    const long whole = b[1] == 'O' ? 3 : 4;
    if (n >= whole) return whole;
    return complete ? n : 0;
  }
  if (b[1] != '[') return 2;
  long i = 2;
  while (i < n && i < kLongest && b[i] >= 0x20 && b[i] <= 0x3f) ++i;  // parameters
  if (i < n && b[i] >= 0x40 && b[i] <= 0x7e) return i + 1;              // the final byte
  if (i < n) return i;  // broken off by another key, or too long
  return complete ? n : 0;
}

// Decodes the key at the front of b[0..n); its length in bytes, or 0 when
// more bytes are needed to tell.
long decode_key(const uint8_t* b, long n, bool complete, Key& key) {
  if (n <= 0) return 0;
  key = {kCharacter, b[0]};
  const uint8_t c = b[0];
  if (c == kEsc) {
    const long len = escape_length(b, n, complete);
    if (len == 0) return 0;
    if (len == 1) {
      key.code = kEscape;
    } else if (len == 2 && b[1] >= ' ' && b[1] != 127) {
      key = {kAlt, b[1]};  // Alt with a key, or escape typed just before it
    } else if (len == 2) {
      key.code = kEscape;  // escape, then a key of its own
      return 1;
    } else {
      key.code = sequence_code(b, len);
    }
    return len;
  }
  if (c == '\r') {
    // A carriage return and line feed from a file are one Enter.
    if (n == 1 && !complete) return 0;
    key.code = kEnter;
    return n > 1 && b[1] == '\n' ? 2 : 1;
  }
  if (c == '\n') key.code = kEnter;
  else if (c == '\t') key.code = kTab;
  else if (c == 127 || c == 8) key.code = kBackspace;
  else if (c < ' ') key.code = kIgnored;  // other control characters
  return 1;
}

// How long the rest of a key's sequence may take to arrive.
constexpr long kSequenceWaitMs = 100;

Key next_key(bool terminal) {
  for (;;) {
    Key key;
    long used = decode_key(pending_bytes(), pending_count(), false, key);
    if (used == 0) {
      if (read_more(terminal, pending_count() == 0 ? -1 : kSequenceWaitMs)) continue;
      if (pending_count() == 0) return {kNoMoreInput, 0};
      used = decode_key(pending_bytes(), pending_count(), true, key);
    }
    drop_pending(used);
    if (key.code != kIgnored) return key;
  }
}

// Keys typed ahead during a field were not echoed; a line read from the
// terminal shows the characters of its start before the person types the
// rest.
void show_typed_ahead() {
  const uint8_t* b = pending_bytes();
  const long n = pending_count();
  Key key;
  for (long i = 0; i < n;) {
    i += decode_key(b + i, n - i, true, key);
    if (key.code == kEnter) {
      write_all(LF, 1);
      return;
    }
    if (key.code == kCharacter) write_all(&key.ch, 1);
  }
}

}  // namespace

void accept_line(void* item) {
  Number rc = return_code();
  rc.set_value(0);
  if (pending_count() > 0 && is_terminal()) show_typed_ahead();
  // One line, read up to its line feed so that lines that follow it stay
  // in standard input for the next request; the part of a line beyond the
  // buffer is read and dropped.
  long n = 0;
  bool ended = false, any = false;
  uint8_t c;
  while (take_byte(c)) {
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

// ---------------------------------------------------------------------------
// Key mode: the terminal delivers every key as it is typed, without echo,
// for as long as a field is open.

Termios c_buffer;           // the settings field input found
volatile bool g_raw = false;  // field input has changed them

bool enter_key_mode() {
  if (!read_settings(c_buffer)) return false;
  Termios keys = c_buffer;
  keys.c_lflag &= ~(sys::kIcanon | sys::kEcho);
  keys.c_cc[sys::kVmin] = 1;
  keys.c_cc[sys::kVtime] = 0;
  g_raw = true;
  set_fatal_cleanup(restore_if_raw);
  sys::call3(sys::kIoctl, StdInHandle, sys::kTcsets, reinterpret_cast<long>(&keys));
  return true;
}

void leave_key_mode() {
  restore_if_raw();
  set_fatal_cleanup(nullptr);
}

// ---------------------------------------------------------------------------
// The field and its place on the screen.  `pos` counts from 0; the
// terminal's cursor is kept at it.  Keys that come from a pipe or a file
// draw nothing, as they were never echoed.

constexpr int64_t kContinue = -1;

struct Field {
  char* text;
  uint64_t size;
  int64_t row, col;
  bool drawn;
  uint64_t pos;
  int64_t typed;
};

void place_cursor(const Field& f) {
  if (f.drawn) move_to(f.row, f.col + static_cast<int64_t>(f.pos));
}

// Draws the field from position `from` to its end; control characters show
// as blanks.
void draw_from(const Field& f, uint64_t from) {
  if (!f.drawn) return;
  move_to(f.row, f.col + static_cast<int64_t>(from));
  char chunk[128];
  uint64_t n = 0;
  for (uint64_t i = from; i < f.size; ++i) {
    const uint8_t c = static_cast<uint8_t>(f.text[i]);
    chunk[n++] = c < ' ' || c == 127 ? ' ' : static_cast<char>(c);
    if (n == sizeof chunk) {
      write_all(chunk, n);
      n = 0;
    }
  }
  write_all(chunk, n);
  place_cursor(f);
}

// A character goes where the cursor is, replacing what was there.
void store_character(Field& f, uint8_t c) {
  f.text[f.pos++] = static_cast<char>(c);
  ++f.typed;
  if (f.drawn) write_all(&c, 1);
}

// The character at `at` goes; the rest moves up and a blank comes in last.
void remove_at(Field& f, uint64_t at) {
  for (uint64_t i = at; i + 1 < f.size; ++i) f.text[i] = f.text[i + 1];
  f.text[f.size - 1] = ' ';
  draw_from(f, at);
}

// Entry: characters are stored from the first position on; every key that
// is not a character ends the field (Delete is ignored).
int64_t entry_key(Field& f, Key key) {
  switch (key.code) {
    case kCharacter:
      store_character(f, key.ch);
      return f.pos >= f.size ? int64_t{kFieldFull} : kContinue;
    case kAlt:
      if (f.pos < f.size) store_character(f, key.ch);
      return kAlt;
    case kDelete:
      return kContinue;
    case kNoMoreInput:
      return kEscape;  // nothing more can be typed
    default:
      return key.code;
  }
}

// Editing: the cursor keys move inside the field (an arrow that would
// leave it ends the field), Backspace and Delete remove characters.
int64_t editing_key(Field& f, Key key) {
  switch (key.code) {
    case kLeft:
      if (f.pos == 0) return kLeft;
      --f.pos;
      break;
    case kRight:
      if (f.pos + 1 >= f.size) return kRight;
      ++f.pos;
      break;
    case kHome:
      f.pos = 0;
      break;
    case kEnd: {
      uint64_t end = f.size;
      while (end > 0 && f.text[end - 1] == ' ') --end;
      f.pos = end < f.size ? end : f.size - 1;
      break;
    }
    case kBackspace:
      if (f.pos == 0) return kContinue;
      --f.pos;
      remove_at(f, f.pos);
      return kContinue;
    case kDelete:
      remove_at(f, f.pos);
      return kContinue;
    default:
      return entry_key(f, key);
  }
  place_cursor(f);
  return kContinue;
}

}  // namespace

void restore_if_raw() {
  if (!g_raw) return;
  g_raw = false;
  sys::call3(sys::kIoctl, StdInHandle, sys::kTcsets, reinterpret_cast<long>(&c_buffer));
}

void accept_field(Word word, uint64_t start, uint64_t length, bool editing) {
  int64_t code = length == 0 ? int64_t{kFieldFull} : kContinue;
  const bool terminal = code == kContinue && enter_key_mode();
  Field f = {word.text() + start - 1, length, Number(Row9).value(), Number(Col9).value(), terminal, 0, 0};
  if (editing) draw_from(f, 0);
  while (code == kContinue) {
    const Key key = next_key(terminal);
    code = editing ? editing_key(f, key) : entry_key(f, key);
  }
  if (terminal) leave_key_mode();
  return_code().set_value(code);
  Number(CHARS_TYPED).set_value(f.typed);
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

namespace {
// The receiving item of field input: a number would have its value and
// picture overwritten by the typed characters.
qw::Word field_word(uint64_t item) {
  qw::Item it(reinterpret_cast<void*>(item));
  if (!it.is_word()) qw::fatal_library(qw::kErrUseNumbers);
  return qw::Word(it.data());
}
}  // namespace

// _ACCEPT_AT: r9 the receiving word, entered from its first position.
QW_ENTRY(_ACCEPT_AT, bridge_ACCEPT_AT);
extern "C" void bridge_ACCEPT_AT(qw::Regs& r) {
  const qw::Word w = field_word(r.r9);
  qw::terminal::accept_field(w, 1, w.length(), false);
}

// _ACCEPT_EDIT: r9, r10, r11 the word, start and length of the field that
// is edited in place.
QW_ENTRY(_ACCEPT_EDIT, bridge_ACCEPT_EDIT);
extern "C" void bridge_ACCEPT_EDIT(qw::Regs& r) {
  const qw::Word w = field_word(r.r9);
  uint64_t start = r.r10, length = r.r11;
  qw::validate_source(w.data(), start, length);
  qw::terminal::accept_field(w, start, length, true);
}
