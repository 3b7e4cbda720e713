// Delimited lines: lines ended by the kind's terminator byte, and
// comma-separated lines (kind 4), built and taken apart field by field in
// the record buffer, read through the read-ahead and written through the
// write-behind.
#include "files_internal.h"

#include "digits.h"
#include "numbers.h"

namespace qw::files {
namespace {

// A line feed line whose last field ends in a carriage return.
bool ends_in_carriage_return(const uint8_t* line, uint64_t n, uint8_t term) {
  return term == '\n' && n >= 2 && line[n - 1] == '\n' && line[n - 2] == '\r';
}

// A line that holds its terminator anywhere but at its end would read back
// as two lines (a field held the byte); a line feed line whose last field
// ends in a carriage return would read back without it.
bool reads_back_otherwise(const uint8_t* line, uint64_t n, uint8_t term) {
  if (n < 2) return false;
  if (find_byte(line, n - 1, term) < n - 1) return true;
  return ends_in_carriage_return(line, n, term);
}

// Copies a line of 16 bytes or more and answers whether byte b occurs
// before its last byte: one pass, sixteen bytes at a time, for both.
inline bool copy_finding(uint8_t* d, const uint8_t* s, uint64_t n, uint8_t b) {
  const Bytes16 pattern = sixteen(b);
  auto move = [&](uint64_t at) {
    Bytes16 v;
    __builtin_memcpy(&v, s + at, 16);
    __builtin_memcpy(d + at, &v, 16);
    return static_cast<uint32_t>(__builtin_ia32_pmovmskb128(v == pattern));
  };
  uint32_t seen = 0;
  for (uint64_t i = 0; i + 16 < n; i += 16) seen |= move(i);
  return (seen | (move(n - 16) & 0x7fff)) != 0;
}

// A line that does not fit in the write-behind block, or a file without
// one: checked, then written.
__attribute__((noinline)) void put_line_through(FileBlock f, WriteBehind* w, int64_t fd,
                                                const uint8_t* line, uint64_t n, uint8_t term) {
  if (reads_back_otherwise(line, n, term)) set_status(f, kFieldHoldsTerminator);
  else put_bytes(w, fd, line, n);
}

// A line to the file unless it would read back otherwise (status 35, and
// nothing written).  Into the write-behind block, while it has room, the
// line is checked as it is copied.
__attribute__((always_inline)) inline void put_line(FileBlock f, WriteBehind* w, int64_t fd,
                                                    const uint8_t* line, uint64_t n, uint8_t term) {
  if (w != nullptr && n >= 16 && w->len + n <= kBehindSize) {
    if (copy_finding(w->data + w->len, line, n, term) || ends_in_carriage_return(line, n, term))
      set_status(f, kFieldHoldsTerminator);
    else
      w->len += n;
    return;
  }
  put_line_through(f, w, fd, line, n, term);
}

// The part of a word field a statement names, normalised as _VALIDATE_SRC
// does; the whole word, as a field mostly is, needs no call.
inline void word_part(Item field, uint64_t& start, uint64_t& length) {
  if (start == 1 && length == field.length() && length - 1 < kPositionLimit - 1) return;
  validate_source(field.data(), start, length);
}

// A comma-separated word between double quotes, each quote inside doubled.
__attribute__((noinline)) uint8_t* put_quoted(uint8_t* at, const uint8_t* text, uint64_t n, const uint8_t* limit) {
  uint64_t quotes = 0;
  for (uint64_t i = 0; i < n; ++i) quotes += text[i] == '"';
  if (at + n + quotes + 3 > limit) fail(kLineTooLong);  // quotes and comma
  *at++ = '"';
  if (quotes == 0) {
    __builtin_memcpy(at, text, n);
    at += n;
  } else {
    for (uint64_t i = 0; i < n; ++i) {
      *at++ = text[i];
      if (text[i] == '"') *at++ = '"';
    }
  }
  *at++ = '"';
  return at;
}

// Where the line last read ends (its blanks follow); the buffer's end when
// `at` lies beyond it.
const uint8_t* line_end(FileBlock f, const uint8_t* at) {
  const int64_t n = f.read_length().value();
  if (n >= 0 && static_cast<uint64_t>(n) <= kMaxLine && at <= buffer() + n) return buffer() + n;
  return buffer_end();
}

// A quoted comma-separated word into the field: a doubled quote is one
// quote, the closing quote ends it; the word is cut or blank-padded to the
// field.  Returns the position after the closing quote.
__attribute__((noinline)) const uint8_t* quoted_to_word(Item field, uint64_t start, uint64_t length, const uint8_t* at,
                              const uint8_t* stop) {
  validate_source(field.data(), start, length);
  uint8_t* dest = field.data() + start - 1;
  uint64_t k = 0;
  for (++at; at < stop;) {
    const uint8_t c = *at++;
    if (c == '"') {
      if (at == stop || *at != '"') break;
      ++at;
    }
    if (k < length) dest[k] = c;
    ++k;
  }
  if (k < length) __builtin_memset(dest + k, ' ', length - k);
  return at;
}

// A number field of the line last read.  RETURN_CODE tells about the
// line's number fields so far, as a record read tells about the record's:
// 0 when each held exactly its edited form, else the worst of 9 and 99
// (numbers::from_field).
void take_number(Number n, const uint8_t* at, uint64_t len) {
  const int code = numbers::from_field(n, reinterpret_cast<const char*>(at), len);
  if (code > return_code().value()) return_code().set_value(code);
}

// A comma-separated number in double quotes: the text up to the closing
// quote, whatever its width.  Returns the position after the quote.
const uint8_t* quoted_to_number(Number n, const uint8_t* at, const uint8_t* stop) {
  const uint8_t* text = ++at;
  while (at < stop && *at != '"') ++at;
  take_number(n, text, static_cast<uint64_t>(at - text));
  return at < stop ? at + 1 : at;
}

// A number of n characters whose picture is nines alone (1 to 16) from a
// text of as many digits at `at`: its value, read as numbers::from_field
// reads it (whole, RETURN_CODE untouched).  False for any other number or
// text, nothing changed.
inline bool nines_from_line(Number num, const uint8_t* at, uint64_t n, const uint8_t* end) {
  if (n - 1 >= 16 || end - at < 8 ||
      !digits::all_nines(num.picture(), n))
    return false;
  const int64_t v = digits::value_of(at, n);
  if (v < 0) return false;
  num.set_scale(1);
  num.set_value(v);
  return true;
}

// Before the first field of @GETFIELDS: the block's last line must be in
// the buffer (it is brought back when another statement has used the
// buffer since).  False when there is none: the block is not open
// (status 31), or its last read delivered no line (status 10, unless the
// status already tells why).
bool line_ready(FileBlock f) {
  const int64_t fd = descriptor_of(f);
  if (fd < 0) {
    set_status(f, kNotOpen);
    return false;
  }
  if (last_line_to_buffer(fd)) return true;
  const int64_t s = f.status().value();
  if (s == kGood || s == kLineTruncated) set_status(f, kEndOfFile);
  return false;
}

// Any field into the line at `at`; a new line begins at the buffer's
// start.
__attribute__((noinline)) uint8_t* put_field(Item field, uint64_t start, uint64_t length,
                                             FileBlock f, uint8_t* at) {
  const bool csv = f.kind() == kCsv;
  if (at < buffer() || at > buffer_end()) at = buffer();
  if (at == buffer()) use_buffer();  // a new line
  const uint8_t* limit = buffer() + kMaxLine;  // room for the terminator
  if (field.length() == 0) return at;
  if (field.is_number()) {
    const Number n(field.data());
    numbers::Picture pic;
    if (start != 0) pic = {reinterpret_cast<const char*>(start), length};
    const uint64_t len = pic.text ? pic.length : n.picture_length();
    if (at + len + (csv ? 1 : 0) > limit) fail(kLineTooLong);
    numbers::to_text(n, pic, reinterpret_cast<char*>(at));
    at += len;
  } else {
    word_part(field, start, length);
    const uint8_t* text = field.data() + start - 1;
    if (csv) {
      at = put_quoted(at, text, length, limit);
    } else {
      if (at + length > limit) fail(kLineTooLong);
      copy_bytes(at, text, length);
      at += length;
    }
  }
  if (csv) *at++ = ',';
  mark_dirty(static_cast<uint64_t>(at - buffer()));
  return at;
}

// A number through its own picture of n characters at `at`: a picture of
// nines alone shows a value it can hold as its digits.
__attribute__((always_inline)) inline void number_to_line(Number num, uint64_t n, uint8_t* at) {
  const int64_t v = num.value();
  const uint8_t* pic = reinterpret_cast<const uint8_t*>(num.picture());
  if (n - 1 < 16 && v >= 0 && static_cast<uint64_t>(v) < digits::kPowers[n] &&
      digits::all_nines(pic, n)) {
    digits::write(static_cast<uint64_t>(v), n, at);
    return;
  }
  numbers::to_text(num, {}, reinterpret_cast<char*>(at));
}

// The usual field of a file that is not comma-separated: a whole word, or
// a number through its own picture, at `at` inside the buffer.  The
// position after it, or null when the field takes the general path.
__attribute__((always_inline)) inline uint8_t* usual_field_to_line(Item field, uint64_t start,
                                                                   uint64_t length, uint8_t* at) {
  const uint64_t n = field.length();
  uint8_t* const end = at + n;
  if (end > buffer() + kMaxLine || n - 1 >= kPositionLimit - 1) return nullptr;
  if (field.is_word() && start == 1 && length == n) {
    copy_bytes(at, field.data(), n);
    return end;
  }
  if (field.is_number() && start == 0) {
    number_to_line(Number(field.data()), n, at);
    return end;
  }
  return nullptr;
}

}  // namespace

uint8_t* field_to_line(Item field, uint64_t start, uint64_t length, FileBlock f, uint8_t* at) {
  if (at >= buffer() && f.kind() != kCsv) {
    if (at == buffer()) use_buffer();  // a new line
    if (uint8_t* end = usual_field_to_line(field, start, length, at)) {
      mark_dirty(static_cast<uint64_t>(end - buffer()));
      return end;
    }
  }
  return put_field(field, start, length, f, at);
}

namespace {

// The line's end: a comma-separated line's last comma dropped, the
// terminator added, the buffer's Length set.
__attribute__((always_inline)) inline uint8_t* ended_line(FileBlock f, uint8_t* at) {
  if (at < buffer() || at > buffer() + kMaxLine) at = buffer() + kMaxLine;
  if (at == buffer()) use_buffer();  // a line without fields
  if (f.kind() == kCsv && at > buffer() && at[-1] == ',') --at;
  *at++ = line_terminator(f.kind());
  const uint64_t n = static_cast<uint64_t>(at - buffer());
  record_buffer().set_length(n);
  mark_dirty(n);
  g_built = {n, at[-1]};
  record::set_buffer_keeper(keep_buffer_line);
  return at;
}

// The buffer is taken for the new line once; the line's end marks how far
// it is written.
__attribute__((always_inline)) inline uint8_t* build_line(FileBlock f, const ListedField* fields,
                                                          uint64_t count) {
  uint8_t* at = use_buffer();
  if (f.kind() == kCsv) {
    for (uint64_t i = 0; i < count; ++i)
      at = put_field(Item(reinterpret_cast<void*>(fields[i].item)), fields[i].start,
                     fields[i].length, f, at);
    return ended_line(f, at);
  }
  for (uint64_t i = 0; i < count; ++i) {
    const Item field(reinterpret_cast<void*>(fields[i].item));
    uint8_t* end = usual_field_to_line(field, fields[i].start, fields[i].length, at);
    at = end ? end : put_field(field, fields[i].start, fields[i].length, f, at);
  }
  return ended_line(f, at);
}

}  // namespace

uint8_t* fields_to_line(FileBlock f, const ListedField* fields, uint64_t count) {
  return build_line(f, fields, count);
}

// @WRITELINE.  A line file that collects its lines behind and reads
// nothing ahead takes the line straight into its block; any other file
// takes it as @WRITE does.
uint8_t* write_fields(FileBlock f, const ListedField* fields, uint64_t count) {
  const int64_t fd = descriptor_of(f);
  WriteBehind* const w = fd < 0 ? nullptr : find_behind(fd);
  const uint8_t kind = f.kind();
  const bool behind = w != nullptr && find_ahead(fd) == nullptr &&
                      g_open[fd].access != kAccessRead && is_delimited(kind);
  uint8_t* const end = build_line(f, fields, count);
  if (!behind) {
    write_file(f, nullptr);
    return end;
  }
  working_on(f);
  set_status(f, kGood);
  put_line(f, w, fd, buffer(), static_cast<uint64_t>(end - buffer()), line_terminator(kind));
  return end;
}

namespace {

// Before the first field: the buffer holds the block's last line, read
// just now; RETURN_CODE begins at 0.  False leaves the rest to line_ready.
inline bool line_in_place(FileBlock f) {
  const int64_t fd = descriptor_of(f);
  if (fd < 0 || fd != g_buffer_line || g_open[fd].line.state == LineState::kNone) return false;
  return_code().set_value(0);
  return true;
}

// Any field from the line at `at`; the line's first field at the
// buffer's start.
__attribute__((noinline)) const uint8_t* take_field(Item field, uint64_t start, uint64_t length,
                                                    FileBlock f, const uint8_t* at) {
  const uint8_t* end = buffer_end();
  if (at < buffer() || at > end) at = end;
  if (at == buffer()) {  // the line's first field
    if (!line_ready(f)) return at;
    return_code().set_value(0);
  }
  if (f.kind() == kCsv) {
    while (at < end && *at == ',') ++at;
    if (at < end && *at == '"') {
      if (field.is_number()) return quoted_to_number(Number(field.data()), at, line_end(f, at));
      return quoted_to_word(field, start, length, at, line_end(f, at));
    }
  }
  const uint64_t avail = static_cast<uint64_t>(end - at);
  if (field.is_number()) {
    uint64_t len = field.length();
    if (len > avail) len = avail;
    take_number(Number(field.data()), at, len);
    return at + len;
  }
  word_part(field, start, length);
  uint8_t* dest = field.data() + start - 1;
  const uint64_t take = length < avail ? length : avail;
  copy_bytes(dest, at, take);
  if (take < length) __builtin_memset(dest + take, ' ', length - take);
  return at + take;
}

// The usual field of a file that is not comma-separated, from the line
// the buffer holds: a whole word, or a number as wide as its picture;
// any other field takes the general path.
inline const uint8_t* field_from_line(Item field, uint64_t start, uint64_t length, FileBlock f,
                                      const uint8_t* at) {
  const uint64_t n = field.length();
  if (at >= buffer() && at + n <= buffer_end() && n - 1 < kPositionLimit - 1 &&
      f.kind() != kCsv && (at > buffer() || line_in_place(f))) {
    if (field.is_word() && start == 1 && length == n) {
      copy_bytes(field.data(), at, n);
      return at + n;
    }
    if (field.is_number()) {
      take_number(Number(field.data()), at, n);
      return at + n;
    }
  }
  return take_field(field, start, length, f, at);
}

}  // namespace

const uint8_t* line_to_field(Item field, uint64_t start, uint64_t length, FileBlock f,
                             const uint8_t* at) {
  return field_from_line(field, start, length, f, at);
}

// field_from_line for each field in turn, the file's kind looked at once.
const uint8_t* line_to_fields(FileBlock f, const ListedField* fields, uint64_t count) {
  const uint8_t* at = buffer();
  if (f.kind() == kCsv) {
    for (uint64_t i = 0; i < count; ++i)
      at = take_field(Item(reinterpret_cast<void*>(fields[i].item)), fields[i].start,
                      fields[i].length, f, at);
    return at;
  }
  const uint8_t* const end = buffer_end();
  for (uint64_t i = 0; i < count; ++i) {
    const ListedField& listed = fields[i];
    const Item field(reinterpret_cast<void*>(listed.item));
    const uint64_t n = field.length();
    if (n - 1 < kPositionLimit - 1 && n <= static_cast<uint64_t>(end - at) &&
        (at > buffer() || line_in_place(f))) {
      const char type = field.type();
      if (type == kWordType && listed.start == 1 && listed.length == n) {
        copy_bytes(field.data(), at, n);
        at += n;
        continue;
      }
      if (type == kNumberType) {
        if (!nines_from_line(Number(field.data()), at, n, end))
          take_number(Number(field.data()), at, n);
        at += n;
        continue;
      }
    }
    at = take_field(field, listed.start, listed.length, f, at);
  }
  return at;
}

uint8_t* end_line(FileBlock f, uint8_t* at) { return ended_line(f, at); }

namespace {

// Lines up to this long are looked for in one pass over the read-ahead.
constexpr uint64_t kQuickLine = 4096;

// The usual line: ended within the bytes ahead and not longer than
// kQuickLine.  Copied into the buffer sixteen bytes at a time while its
// terminator is looked for; the bytes of the last sixteen after the line
// become blanks.  Its length (the terminator taken) in n; false when the
// line is not such a one, the bytes copied marked dirty.
inline bool quick_line(ReadAhead& a, uint8_t* out, uint8_t term, uint64_t& n) {
  const Bytes16 pattern = sixteen(term);
  const uint8_t* s = a.data + a.pos;
  uint64_t avail = a.end - a.pos;
  if (avail > kQuickLine) avail = kQuickLine;
  if (a.pos + avail + 16 > kAheadSize) {  // chunks would pass the block's end
    if (a.end - a.pos < 16) return false;
    avail = kAheadSize - 16 - a.pos;
  }
  for (uint64_t i = 0; i < avail; i += 16) {
    Bytes16 v;
    __builtin_memcpy(&v, s + i, 16);
    __builtin_memcpy(out + i, &v, 16);
    const uint32_t m = static_cast<uint32_t>(__builtin_ia32_pmovmskb128(v == pattern));
    if (m != 0) {
      const uint64_t k = i + static_cast<uint64_t>(__builtin_ctz(m));
      if (k >= avail) break;  // a byte beyond those read ahead
      const Bytes16 blanks = sixteen(' ');
      __builtin_memcpy(out + k, &blanks, 16);
      a.pos += k + 1;
      n = k;
      return true;
    }
  }
  mark_dirty(avail + 16);
  return false;
}

}  // namespace

// Reads the next line into the buffer; the terminator never reaches it
// (blanks follow the line), and for line-feed files neither does a
// carriage return before the line feed.
void read_line(FileBlock f, int64_t fd) {
  f.read_length().set_value(0);
  const uint8_t term = line_terminator(f.kind());
  ReadAhead& a = claim_ahead(fd);
  if (g_buffer_line != fd) keep_buffer_line();
  g_buffer_line = -1;
  g_open[fd].line.state = LineState::kNone;
  uint8_t* out = buffer();
  uint64_t n = 0;
  if (quick_line(a, out, term, n)) {  // what the general way below does with such a line
    mark_dirty(n);
    if (term == '\n' && n > 0 && out[n - 1] == '\r') --n;
    blank_after(n);
    f.read_length().set_value(static_cast<int64_t>(n));
    line_in_buffer(fd, n);
    g_open[fd].line.whole = true;
    return;
  }
  bool ended = false, eof = false, cr_taken = false;
  for (;;) {
    if (a.pos == a.end && !refill(a)) {
      eof = true;
      break;
    }
    const uint8_t* s = a.data + a.pos;
    uint64_t lim = a.end - a.pos;
    if (lim > kMaxLine - n) lim = kMaxLine - n;
    const uint64_t k = find_byte(s, lim, term);
    copy_bytes(out + n, s, k);
    n += k;
    a.pos += k;
    if (k < lim) {  // the terminator
      ++a.pos;
      ended = true;
      break;
    }
    if (n == kMaxLine) {  // full: the line may still end right here
      if (!have_ahead(a, 1)) {
        eof = true;
      } else if (a.data[a.pos] == term) {
        ++a.pos;
        ended = true;
      } else if (term == '\n' && a.data[a.pos] == '\r' && have_ahead(a, 2) &&
                 a.data[a.pos + 1] == '\n') {
        a.pos += 2;
        ended = cr_taken = true;
      }
      break;
    }
  }
  const bool empty = n == 0 && !ended;
  mark_dirty(n);
  if (ended && !cr_taken && term == '\n' && n > 0 && out[n - 1] == '\r') --n;
  blank_after(n);
  f.read_length().set_value(static_cast<int64_t>(n));
  if (empty) {
    set_status(f, kEndOfFile);
    return;
  }
  if (!ended && !eof) set_status(f, kLineTruncated);
  line_in_buffer(fd, n);
  g_open[fd].line.whole = ended || eof;
}

// @WRITE of a line read (@READ f_In, then @WRITE f_Out): the line as it
// came, ended by this file's own terminator (a part of a line longer than
// the buffer without one, so that the parts join again).  A line the file
// could not give back as it is gives 35 and is not written.
void write_line_read(FileBlock f, int64_t fd, WriteBehind* behind, uint8_t term) {
  const LastLine& read = g_open[g_buffer_line].line;
  uint8_t* line = buffer();
  const uint64_t n = read.length + (read.whole ? 1 : 0);
  const uint8_t after = line[read.length];
  line[read.length] = term;
  put_line(f, behind, fd, line, n, term);
  line[read.length] = after;
}

// @WRITE of a line built for another file (@PUTFIELDS f_A or @WRITELINE
// f_A, then @WRITE f_B): re-ended with this file's own terminator, as a
// line read is.  Anything else in the buffer is written as it stands.
void write_line_built(FileBlock f, int64_t fd, WriteBehind* behind, uint8_t term) {
  uint8_t* line = buffer();
  uint64_t n = record_buffer().length();
  if (n > kRecordBufferSize) n = kRecordBufferSize;
  const bool built = n > 0 && n == g_built.length && line[n - 1] == g_built.term;
  if (built) line[n - 1] = term;
  put_line(f, behind, fd, line, n, term);
  if (built) line[n - 1] = g_built.term;
}

}  // namespace qw::files
