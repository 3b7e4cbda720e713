// The files module's use of the record buffer.  A read leaves blanks after what it delivers (the
// first 65,536 bytes), so fields taken past a short line come out blank.
// Blanking the whole stretch on every read would dominate line reading, so
// the module remembers how far the buffer may hold anything but blanks:
// its own writes raise the mark, and every other writer sets the buffer's
// Length to what it used.
#include "files_internal.h"

namespace qw::files {

uint64_t g_dirty_end = kBlankedPart;  // nothing is known blank at start

void blank_rest(uint64_t from) {
  uint64_t end = g_dirty_end;
  const uint64_t used = record_buffer().length();
  if (used > end) end = used;
  if (end > kBlankedPart) end = kBlankedPart;
  if (from < end) __builtin_memset(buffer() + from, ' ', end - from);
  g_dirty_end = from;
}

// ---------------------------------------------------------------------------
// The last line read.  One line at a time lies in the record buffer; when
// another statement is about to use the buffer, that line is first kept
// aside in memory of its descriptor's own, and @GETFIELDS brings it back.

int64_t g_buffer_line = -1;
BuiltLine g_built;

void keep_buffer_line() {
  g_built = BuiltLine{};
  const int64_t fd = g_buffer_line;
  if (fd < 0) return;
  g_buffer_line = -1;
  LastLine& l = g_open[fd].line;
  if (l.length > l.room) {
    unmap_memory(l.kept, l.room);
    l.kept = nullptr;
    l.room = (l.length + kBlankedPart - 1) & ~(kBlankedPart - 1);
    l.kept = static_cast<uint8_t*>(map_memory(l.room));
  }
  __builtin_memcpy(l.kept, buffer(), l.length);
  l.state = LineState::kKept;
}

bool last_line_to_buffer(int64_t fd) {
  LastLine& l = g_open[fd].line;
  if (l.state == LineState::kNone) return false;
  if (g_buffer_line == fd) return true;
  keep_buffer_line();
  __builtin_memcpy(buffer(), l.kept, l.length);
  mark_dirty(l.length);
  blank_after(l.length);
  line_in_buffer(fd, l.length);
  return true;
}

void forget_line(int64_t fd) {
  LastLine& l = g_open[fd].line;
  if (g_buffer_line == fd) g_buffer_line = -1;
  unmap_memory(l.kept, l.room);
  l = LastLine{};
}

}  // namespace qw::files
