// The fatal message's source line: the program's line table looked up for
// the return addresses on the stack.  See include/lines.mac for the table.
#include "positions.h"

#include "bridge.h"
#include "item.h"
#include "kernel.h"

extern "C" {
// Given by the linker when some object holds the section; a program
// without one (an assembly program written by hand) has no table.
extern const uint8_t __start_qw_lines[] __attribute__((weak));
extern const uint8_t __stop_qw_lines[] __attribute__((weak));
}

namespace qw {

namespace {

constexpr uint8_t kBlock = 0xFE;
constexpr uint8_t kAbsoluteLine = 248, kNoLine = 249, kFileAndLine = 250;
constexpr uint64_t kPage = 4096;
// Without the start's stack pointer, the scan stops after this much.
constexpr uint64_t kFarthest = 1 << 20;

uint32_t load32(const uint8_t* p) {
  uint32_t v;
  __builtin_memcpy(&v, p, 4);
  return v;
}

// Whether the page holding `p` is mapped (mincore fails on a gap).
bool mapped(const void* p) {
  uint8_t in_core;
  const uint64_t page = reinterpret_cast<uint64_t>(p) & ~(kPage - 1);
  return sys::call3(sys::kMincore, static_cast<long>(page), kPage,
                    reinterpret_cast<long>(&in_core)) == 0;
}

}  // namespace

bool position_of(uint64_t address, const uint8_t* p, const uint8_t* end, SourcePosition& at) {
  uint64_t position = 0;
  SourcePosition now;  // the line of the stretch from `position` on
  bool open = false;   // (the last one, when no line is open)
  while (p < end) {
    if (*p == kBlock) {
      if (end - p < 5) return false;
      position = reinterpret_cast<uint64_t>(p + 1) + static_cast<int32_t>(load32(p + 1));
      now = SourcePosition();
      open = false;
      p += 5;
      continue;
    }
    if (end - p < 4) return false;
    const uint32_t record = load32(p);
    p += 4;
    const uint64_t next = position + (record >> 8);
    // A return address lies after its call: the stretch (position, next].
    if (open && address > position && address <= next) {
      at = now;
      return true;
    }
    position = next;
    const uint8_t c = record & 0xFF;
    open = c != kNoLine;
    if (c == kAbsoluteLine || c == kFileAndLine) {
      if (c == kFileAndLine) {
        if (p >= end || end - p < 1 + *p) return false;
        now.file_length = *p;
        now.file = reinterpret_cast<const char*>(p + 1);
        p += 1 + *p;
      }
      if (end - p < 4) return false;
      now.line = load32(p);
      p += 4;
    } else if (c != kNoLine) {
      now.line += c;
    }
  }
  return false;
}

namespace {

// The lowest and the highest code position the table names: a word outside
// them is no return address of the program.
void extent(const uint8_t* p, const uint8_t* end, uint64_t& low, uint64_t& high) {
  low = ~uint64_t(0);
  high = 0;
  uint64_t position = 0;
  while (p < end) {
    if (*p == kBlock && end - p >= 5) {
      position = reinterpret_cast<uint64_t>(p + 1) + static_cast<int32_t>(load32(p + 1));
      p += 5;
    } else if (end - p >= 4) {
      const uint32_t record = load32(p);
      p += 4;
      position += record >> 8;
      const uint8_t c = record & 0xFF;
      if (c == kFileAndLine && p < end) p += 1 + *p;
      if (c == kFileAndLine || c == kAbsoluteLine) p += 4;
    } else {
      break;
    }
    if (position < low) low = position;
    if (position > high) high = position;
  }
}

}  // namespace

bool find_source_position(SourcePosition& at) {
  const uint8_t* table = __start_qw_lines;
  const uint8_t* end = __stop_qw_lines;
  uint64_t* frame = qw_caller_frame;
  if (table == nullptr || end <= table || frame == nullptr) return false;
  uint64_t low, high;
  extent(table, end, low, high);
  // The program's stack ends where it began; a host that called the
  // program (the ledger's windows) gives no such mark, so pages are
  // checked on the way.
  const uint64_t* top = reinterpret_cast<const uint64_t*>(w_SaveRSP);
  const bool bounded = top > frame;
  if (!bounded) top = frame + kFarthest / 8;
  for (const uint64_t* word = frame + 1; word < top; ++word) {
    if (!bounded && (reinterpret_cast<uint64_t>(word) & (kPage - 1)) == 0 && !mapped(word))
      break;
    if (*word > low && *word <= high && position_of(*word, table, end, at)) return true;
  }
  return false;
}

}  // namespace qw
