// The line programs of .debug_line (versions 2 to 4, as the assembler
// writes them), run row by row; see debug_lines.h.
#include "debug_lines.h"

#include "item.h"
#include "kernel.h"

namespace qw {

namespace {

// Reads the little-endian and LEB128 fields of a unit, never past `end`;
// a read past it marks the reader spent.
struct Reader {
  const uint8_t* p;
  const uint8_t* end;
  bool spent = false;

  bool more() const { return !spent && p < end; }
  uint64_t fixed(int bytes) {
    if (end - p < bytes) return spend();
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(p[i]) << (8 * i);
    p += bytes;
    return v;
  }
  uint64_t uleb() {
    uint64_t v = 0;
    for (int shift = 0; p < end && shift < 64; shift += 7) {
      const uint8_t b = *p++;
      v |= uint64_t(b & 0x7f) << shift;
      if (!(b & 0x80)) return v;
    }
    return spend();
  }
  int64_t sleb() {
    int64_t v = 0;
    int shift = 0;
    while (p < end && shift < 64) {
      const uint8_t b = *p++;
      v |= int64_t(b & 0x7f) << shift;
      shift += 7;
      if (!(b & 0x80)) {
        if (shift < 64 && (b & 0x40)) v |= -(int64_t(1) << shift);
        return v;
      }
    }
    return int64_t(spend());
  }
  // A terminated string: its start, and its length in `length`.
  const char* text(uint64_t& length) {
    const uint8_t* s = p;
    while (p < end && *p) ++p;
    if (p >= end) return reinterpret_cast<const char*>(spend());
    length = uint64_t(p - s);
    ++p;
    return reinterpret_cast<const char*>(s);
  }
  uint64_t spend() {
    spent = true;
    p = end;
    return 0;
  }
};

bool ends_with(const char* s, uint64_t n, const char* tail) {
  uint64_t k = 0;
  while (tail[k]) ++k;
  if (n < k) return false;
  for (uint64_t i = 0; i < k; ++i) {
    char c = s[n - k + i];
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if (c != tail[i]) return false;
  }
  return true;
}

// A file of the program's source: NAME.QWR, or NAME.ASM assembled as it
// stands (the build's own files begin with a point).
bool is_source(const char* name, uint64_t n) {
  uint64_t base = n;
  while (base > 0 && name[base - 1] != '/') --base;
  if (base < n && name[base] == '.') return false;
  return ends_with(name, n, ".QWR") || ends_with(name, n, ".ASM");
}

struct Row {
  uint64_t address = 0;
  uint64_t file = 1;
  int64_t line = 1;
};

// The file table of a unit: the k-th name (from 1).
struct Files {
  const uint8_t* start;
  const uint8_t* end;
  const char* name(uint64_t k, uint64_t& length) const {
    Reader r{start, end};
    for (uint64_t i = 1; r.more(); ++i) {
      uint64_t n = 0;
      const char* s = r.text(n);
      if (r.spent || n == 0) return nullptr;
      r.uleb(), r.uleb(), r.uleb();
      if (i == k) {
        length = n;
        return s;
      }
    }
    return nullptr;
  }
};

// Runs every line program of `data`: visit(from, to, name, length, line)
// for each stretch [from, to) of code that belongs to a line of a source
// file; a visit that answers true ends the walk.
template <typename Visit>
void walk_units(const uint8_t* data, uint64_t size, Visit visit) {
  Reader unit{data, data + size};
  while (unit.more()) {
    const uint64_t length = unit.fixed(4);
    if (unit.spent || length >= 0xfffffff0u || length > uint64_t(unit.end - unit.p)) return;
    const uint8_t* unit_end = unit.p + length;
    Reader r{unit.p, unit_end};
    unit.p = unit_end;
    const uint64_t version = r.fixed(2);
    const uint64_t header = r.fixed(4);
    if (version < 2 || version > 4 || header > uint64_t(r.end - r.p)) continue;
    const uint8_t* program = r.p + header;
    const uint64_t step = r.fixed(1);
    if (version >= 4) r.fixed(1);
    r.fixed(1);  // default_is_stmt: every row names its line alike here
    const int64_t line_base = int8_t(r.fixed(1));
    const uint64_t line_range = r.fixed(1);
    const uint64_t opcode_base = r.fixed(1);
    const uint8_t* arg_counts = r.p;
    if (r.spent || line_range == 0 || opcode_base == 0 ||
        uint64_t(program - r.p) < opcode_base - 1)
      continue;
    r.p += opcode_base - 1;
    while (r.more() && *r.p) {  // the folders
      uint64_t n;
      r.text(n);
    }
    r.fixed(1);
    const Files files{r.p, program};
    // Which of the first 64 files are sources (the rest are looked at
    // when met).
    uint64_t sources = 0, known = 0;
    auto source_file = [&](uint64_t k) {
      if (k >= 1 && k <= 64 && (known >> (k - 1) & 1)) return bool(sources >> (k - 1) & 1);
      uint64_t n = 0;
      const char* s = files.name(k, n);
      const bool yes = s != nullptr && is_source(s, n);
      if (k >= 1 && k <= 64) {
        known |= uint64_t(1) << (k - 1);
        if (yes) sources |= uint64_t(1) << (k - 1);
      }
      return yes;
    };
    Reader op{program, unit_end};
    Row row, last;
    bool have_last = false;
    auto emit = [&](bool end_of_sequence) {
      if (have_last && row.address > last.address && source_file(last.file)) {
        uint64_t n = 0;
        const char* s = files.name(last.file, n);
        if (s && visit(last.address, row.address, s, n, last.line)) return true;
      }
      last = row;
      have_last = !end_of_sequence;
      return false;
    };
    while (op.more()) {
      const uint8_t code = uint8_t(op.fixed(1));
      bool done = false;
      if (code >= opcode_base) {
        const uint64_t adjusted = code - opcode_base;
        row.address += (adjusted / line_range) * step;
        row.line += line_base + int64_t(adjusted % line_range);
        done = emit(false);
      } else if (code == 0) {
        const uint64_t n = op.uleb();
        if (n == 0 || n > uint64_t(op.end - op.p)) break;
        const uint8_t* next = op.p + n;
        const uint8_t sub = uint8_t(op.fixed(1));
        if (sub == 1) {
          done = emit(true);
          row = Row();
        } else if (sub == 2) {
          row.address = op.fixed(8);
        }
        op.p = next;
      } else if (code == 1) {
        done = emit(false);
      } else if (code == 2) {
        row.address += op.uleb() * step;
      } else if (code == 3) {
        row.line += op.sleb();
      } else if (code == 4) {
        row.file = op.uleb();
      } else if (code == 8) {
        row.address += ((255 - opcode_base) / line_range) * step;
      } else if (code == 9) {
        row.address += op.fixed(2);
      } else {
        for (uint8_t k = 0; k < arg_counts[code - 1]; ++k) op.uleb();
      }
      if (done) return;
    }
  }
}

uint64_t read64(const uint8_t* p) { return load_field<uint64_t>(p); }
uint32_t read32(const uint8_t* p) { return load_field<uint32_t>(p); }
uint16_t read16(const uint8_t* p) { return load_field<uint16_t>(p); }

// The section `wanted` of the ELF file image (base, size): its bytes.
bool find_section(const uint8_t* base, uint64_t size, const char* wanted, const uint8_t*& at,
                  uint64_t& length) {
  constexpr uint64_t kHeader = 64, kSectionHeader = 64;
  if (size < kHeader || read32(base) != 0x464c457f || base[4] != 2) return false;
  const uint64_t table = read64(base + 0x28);
  const uint64_t count = read16(base + 0x3c), names_index = read16(base + 0x3e);
  if (read16(base + 0x3a) != kSectionHeader || table > size ||
      count > (size - table) / kSectionHeader || names_index >= count)
    return false;
  auto header = [&](uint64_t k) { return base + table + k * kSectionHeader; };
  const uint64_t names = read64(header(names_index) + 24);
  const uint64_t names_size = read64(header(names_index) + 32);
  if (names > size || names_size > size - names) return false;
  for (uint64_t k = 0; k < count; ++k) {
    const uint8_t* h = header(k);
    const uint64_t name = read32(h);
    const uint64_t offset = read64(h + 24), bytes = read64(h + 32);
    if (name >= names_size || offset > size || bytes > size - offset) continue;
    const char* s = reinterpret_cast<const char*>(base + names + name);
    uint64_t i = 0;
    while (names + name + i < names + names_size && s[i] && s[i] == wanted[i]) ++i;
    if (s[i] == 0 && wanted[i] == 0) {
      at = base + offset;
      length = bytes;
      return true;
    }
  }
  return false;
}

}  // namespace

bool DebugLines::open() {
  const long fd = sys::open("/proc/self/exe", sys::kOCloexec, 0);
  if (fd < 0) return false;
  uint8_t st[sys::kStatRecordSize];
  const long got = sys::call2(sys::kFstat, fd, reinterpret_cast<long>(st));
  const uint64_t size = got == 0 ? read64(st + sys::kStatSizeAt) : 0;
  long m = -1;
  if (size > 0)
    m = sys::call6(sys::kMmap, 0, static_cast<long>(size), sys::kProtRead, sys::kMapPrivate, fd,
                   0);
  sys::close(fd);
  if (m < 0 && m > -4096) return false;
  if (size == 0) return false;
  return find_section(reinterpret_cast<const uint8_t*>(m), size, ".debug_line", lines_, size_);
}

void DebugLines::source_range(uint64_t& low, uint64_t& high) const {
  low = ~uint64_t(0), high = 0;
  if (lines_ == nullptr) return;
  walk_units(lines_, size_, [&](uint64_t from, uint64_t to, const char*, uint64_t, int64_t) {
    if (from < low) low = from;
    if (to > high) high = to;
    return false;
  });
}

bool DebugLines::line_of_return(uint64_t address, SourcePosition& at) const {
  if (lines_ == nullptr || address == 0) return false;
  const uint64_t call = address - 1;  // a return address lies after its call
  bool found = false;
  walk_units(lines_, size_, [&](uint64_t from, uint64_t to, const char* name, uint64_t n,
                                int64_t line) {
    if (call < from || call >= to || line <= 0) return false;
    at.file = name;
    at.file_length = n;
    at.line = uint64_t(line);
    found = true;
    return true;
  });
  return found;
}

}  // namespace qw
