// The fatal message's source line: the program's line table looked up for
// the return addresses on the stack.  See include/lines.mac for the table.
#include "positions.h"

#include "bridge.h"
#include "debug_lines.h"
#include "item.h"
#include "kernel.h"

extern "C" {
// Given by the linker when some object holds the section; a program
// without one (an assembly program written by hand) has no table.
extern const uint8_t __start_qw_lines[] __attribute__((weak));
extern const uint8_t __stop_qw_lines[] __attribute__((weak));
extern const uint8_t __start_qw_faults[] __attribute__((weak));
extern const uint8_t __stop_qw_faults[] __attribute__((weak));
}

namespace qw {

namespace {

constexpr uint8_t kBlock = 0xFE;
constexpr uint8_t kAbsoluteLine = 248, kNoLine = 249, kFileAndLine = 250;
constexpr uint64_t kStubSize = 5;  // a call with a 32-bit distance
constexpr uint8_t kCallOpcode = 0xE8, kFileName = 0;
constexpr uint64_t kPage = 4096;
// Without the start's stack pointer, the scan stops after this much.
constexpr uint64_t kFarthest = 1 << 20;

uint32_t load32(const uint8_t* p) { return load_field<uint32_t>(p); }

// Whether the page holding `p` is mapped (mincore fails on a gap).
bool mapped(const void* p) {
  uint8_t in_core;
  const uint64_t page = reinterpret_cast<uint64_t>(p) & ~(kPage - 1);
  return sys::call3(sys::kMincore, static_cast<long>(page), kPage,
                    reinterpret_cast<long>(&in_core)) == 0;
}

// Reads the table from `p` to `end`, stretch by stretch: visit(from, to,
// open, at) for the code (from, to], whose return addresses belong to line
// `at` when `open`.  Stops early when visit answers true (and answers true
// then); a damaged table ends the walk.
template <typename Visit>
bool walk(const uint8_t* p, const uint8_t* end, Visit visit) {
  uint64_t position = 0;
  SourcePosition now;
  bool open = false;
  auto take32 = [&](uint32_t& v) {
    if (end - p < 4) return false;
    v = load32(p);
    p += 4;
    return true;
  };
  while (p < end) {
    if (*p == kBlock) {
      uint32_t base;
      ++p;
      const uint8_t* field = p;
      if (!take32(base)) return false;
      position = reinterpret_cast<uint64_t>(field) + static_cast<int32_t>(base);
      now = SourcePosition();
      open = false;
      continue;
    }
    uint32_t record;
    if (!take32(record)) return false;
    const uint8_t c = record & 0xFF;
    const uint32_t distance = record >> 8;
    if (visit(position, position + distance, open, now)) return true;
    position += distance;
    uint32_t line = 0;
    if (c == kFileAndLine) {
      if (p >= end || end - p < 1 + *p) return false;
      now.file_length = *p;
      now.file = reinterpret_cast<const char*>(p + 1);
      p += 1 + *p;
    }
    if (c == kNoLine) {
      open = false;
    } else if (c == kAbsoluteLine || c == kFileAndLine) {
      if (!take32(line)) return false;
      now.line = line;
      open = true;
    } else {
      now.line += c;
      open = true;
    }
  }
  return false;
}

// The fault stubs of qw_faults (include/lines.mac): a file's name (0,
// length, text), then its stubs, each a call (0xE8 and a 32-bit distance)
// and the line; `address` is looked for among the stubs' return addresses.
bool stub_position(uint64_t address, const uint8_t* p, const uint8_t* end, SourcePosition& at) {
  if (p == nullptr || address <= reinterpret_cast<uint64_t>(p) ||
      address > reinterpret_cast<uint64_t>(end))
    return false;
  SourcePosition file;
  while (p < end) {
    if (*p == kCallOpcode) {
      if (end - p < static_cast<int64_t>(kStubSize + 4)) return false;
      if (reinterpret_cast<uint64_t>(p) + kStubSize == address) {
        at = file;
        at.line = load32(p + kStubSize);
        return true;
      }
      p += kStubSize + 4;
    } else if (*p == kFileName && end - p >= 2 && end - p >= 2 + p[1]) {
      file.file = reinterpret_cast<const char*>(p + 2);
      file.file_length = p[1];
      p += 2 + p[1];
    } else {
      return false;  // damaged
    }
  }
  return false;
}

}  // namespace

bool position_of(uint64_t address, const uint8_t* table, const uint8_t* end, SourcePosition& at) {
  return walk(table, end, [&](uint64_t from, uint64_t to, bool open, const SourcePosition& line) {
    // A return address lies after its call.
    if (!open || address <= from || address > to) return false;
    at = line;
    return true;
  });
}

bool find_source_position(SourcePosition& at) {
  const uint8_t* table = __start_qw_lines;
  const uint8_t* end = __stop_qw_lines;
  uint64_t* frame = qw_caller_frame;
  if (frame == nullptr) return false;
  // The code the lines cover: a word outside it is no return address of
  // the program.  They come from the program's table, else (quill's
  // builds) from the assembler's debug lines.
  const bool table_kept = table != nullptr && end > table;
  DebugLines debug;
  const bool debug_kept = !table_kept && debug.open();
  uint64_t low = ~uint64_t(0), high = 0;
  if (table_kept) {
    walk(table, end, [&](uint64_t from, uint64_t to, bool open, const SourcePosition&) {
      if (open && from < low) low = from;
      if (open && to > high) high = to;
      return false;
    });
  } else if (debug_kept) {
    debug.source_range(low, high);
  }
  auto line_of = [&](uint64_t address) {
    if (address <= low || address > high) return false;
    return table_kept ? position_of(address, table, end, at) : debug.line_of_return(address, at);
  };
  // The program's stack ends where it began; a host that called the
  // program (the ledger's windows) gives no such mark, so pages are
  // checked on the way.
  const uint64_t* top = reinterpret_cast<const uint64_t*>(w_SaveRSP);
  const bool bounded = top > frame;
  if (!bounded) top = frame + kFarthest / 8;
  for (const uint64_t* word = frame + 1; word < top; ++word) {
    if (!bounded && (reinterpret_cast<uint64_t>(word) & (kPage - 1)) == 0 && !mapped(word))
      break;
    if (stub_position(*word, __start_qw_faults, __stop_qw_faults, at)) return true;
    if (line_of(*word)) return true;
  }
  return false;
}

}  // namespace qw
