// Data items of the benchmark drivers, laid out as a translated program
// declares them, and calls of the runtime's register entries as compiled
// statements make them.
#pragma once

#include <stdint.h>
#include <string.h>
#include <time.h>

#include <string>

namespace bench {

class Arena {
 public:
  explicit Arena(uint8_t* buf) : buf_(buf) {}
  uint8_t* number(int64_t value, const std::string& pic) {
    uint8_t* d = header(1, '9', pic.size());
    memcpy(d, &value, 8);
    memcpy(d + 8, pic.data(), pic.size());
    used_ += 8 + pic.size();
    return d;
  }
  uint8_t* word(const std::string& text, size_t len) {
    uint8_t* d = header(0, 'X', len);
    memset(d, ' ', len);
    memcpy(d, text.data(), text.size() < len ? text.size() : len);
    used_ += len;
    return d;
  }
  uint8_t* begin_record() {
    buf_[used_++] = 'R';
    number(0, "999999999");
    used_ += 8;
    return buf_ + used_;
  }
  void end_record(uint8_t* label, uint64_t flat) {
    header(0, 0, flat);
    memcpy(label - 8, &flat, 8);
  }
  uint8_t* file(const std::string& path, uint8_t kind) {
    number(0, "999999999999");
    number(0, "999999");
    number(0, "99");
    buf_[used_++] = kind;
    used_ += 8;
    return word(path, 255);
  }
  // Fixed table: _STATUS, dimension slots (count, 1), header, entries and
  // the index slots.  The entries lie in `entries` (large tables).
  uint8_t* table(int64_t count) {
    number(0, "99");
    int64_t dims[8] = {count, 1, 0, 0, 0, 0, 0, 0};
    memcpy(buf_ + used_, dims, 64);
    used_ += 64;
    return header(0, 0, 0);
  }
  uint8_t* xtable() {
    number(0, "999999999");
    number(0, "99");
    uint8_t* label = header(0, 0, 0);
    used_ += 8;
    return label;
  }

 private:
  uint8_t* header(int64_t scale, char type, uint64_t len) {
    uint8_t* h = buf_ + used_;
    memcpy(h, &scale, 8);
    h[8] = static_cast<uint8_t>(type);
    memcpy(h + 9, &len, 8);
    used_ += 17;
    return h + 17;
  }
  uint8_t* buf_;
  size_t used_ = 0;
};

inline int64_t& value(uint8_t* number) { return *reinterpret_cast<int64_t*>(number); }
inline int64_t status_of_file(uint8_t* name) { return value(name - 36); }

// A call of a runtime entry with r8..r15 loaded; rdi and rsi travel both
// ways (the line entries hand them back advanced).  The entries keep the
// general registers only: the vector registers are the caller's to save.
struct Regs {
  uint64_t r8 = 0, r9 = 0, r10 = 0, r11 = 0, r12 = 0, r13 = 0, r14 = 0, r15 = 0;
  uint64_t rdi = 0, rsi = 0;
};

#define BENCH_CALL(entry)                                                             \
  inline void call_##entry(Regs& r) {                                                 \
    asm volatile(                                                                     \
        "mov 0(%0), %%r8\n mov 8(%0), %%r9\n mov 16(%0), %%r10\n mov 24(%0), %%r11\n" \
        "mov 32(%0), %%r12\n mov 40(%0), %%r13\n mov 48(%0), %%r14\n"               \
        "mov 56(%0), %%r15\n mov 64(%0), %%rdi\n mov 72(%0), %%rsi\n"               \
        "sub $128, %%rsp\n call " #entry "\n add $128, %%rsp\n"                      \
        "mov %%rdi, 64(%0)\n mov %%rsi, 72(%0)\n"                                     \
        :                                                                             \
        : "b"(&r)                                                                     \
        : "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15", "rdi", "rsi",         \
          "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8",       \
          "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "memory");     \
  }

extern "C" void _FILEIO();
extern "C" void _FIELDS();
extern "C" void _DELIMITER();
extern "C" void _LINEFIELDS();
extern "C" void _TABLES();
extern "C" void _XTABLES();
BENCH_CALL(_FILEIO)
BENCH_CALL(_FIELDS)
BENCH_CALL(_DELIMITER)
BENCH_CALL(_LINEFIELDS)
BENCH_CALL(_TABLES)
BENCH_CALL(_XTABLES)

inline double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

}  // namespace bench
