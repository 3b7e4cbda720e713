// Data items for the runtime tests, laid out by hand in the 17-byte header
// form translated programs use (see item.h), plus the small helpers the
// tests share: reading back words and numbers, whole-file reads and writes,
// a scratch directory per test, and the standard output of a fatal exit.
//
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "item.h"

namespace qwtest {

// Items packed back to back in one buffer, as a translated program declares
// them.  Every builder returns the item's data address; its header lies in
// the 17 bytes in front of it.  Bytes never written stay zero.
template <size_t Capacity = 16384>
class BasicArena {
 public:
  // A number: value, then the edit picture.  The stored scale is 1 unless
  // given (0 or -1 ask the runtime to work it out from the picture).
  uint8_t* number(int64_t value, const std::string& pic, int64_t scale = 1) {
    uint8_t* d = header(scale, qw::kNumberType, pic.size());
    qw::store64(d, value);
    std::memcpy(d + 8, pic.data(), pic.size());
    used_ += 8 + pic.size();
    return d;
  }

  // A word of `len` characters (the text's own length when 0), holding the
  // text blank-padded or cut to fit.
  uint8_t* word(const std::string& text, size_t len = 0) {
    if (len == 0) len = text.size();
    uint8_t* d = header(0, qw::kWordType, len);
    std::memset(d, ' ', len);
    std::memcpy(d, text.data(), std::min(len, text.size()));
    used_ += len;
    return d;
  }

  // A record: 'R', _NO, $LENGTH, then the label.  The fields declared next
  // belong to it until end_record().
  uint8_t* begin_record() {
    buf_[used_++] = 'R';
    number(0, "999999999");
    used_ += 8;  // $LENGTH
    return buf_ + used_;
  }

  // Closes the record with the end header, whose Length slot is _CalcLen,
  // and stores the flat length in $LENGTH.  The walk stops at an end header
  // or at the end of what has been declared.
  void end_record(uint8_t* label) {
    uint64_t flat = 0;
    for (qw::Item f(label + 17); f.type() != 0 && f.data() <= buf_ + used_; f = f.next())
      flat += f.length();
    header(0, 0, flat);
    qw::store64(label - 8, static_cast<int64_t>(flat));
  }

  // A file block: _SIZE, _READLENGTH, _STATUS, the kind byte, _HANDLE, then
  // the 255-character name, which is the address returned.
  uint8_t* file(const std::string& path, uint8_t kind) {
    number(0, "999999999999");
    number(0, "999999");
    number(0, "99");
    buf_[used_++] = kind;
    used_ += 8;  // _HANDLE
    return word(path, 255);
  }

  // A fixed table: _STATUS, eight dimension slots, the header (the label),
  // `bytes` of entries and the index slots.  Binding fills in the header.
  uint8_t* table(std::vector<int64_t> dims, uint64_t bytes) {
    number(0, "99");
    for (int k = 0; k < 8; ++k)
      qw::store64(buf_ + used_ + 8 * k, k < static_cast<int>(dims.size()) ? dims[k] : 0);
    used_ += 64;
    uint8_t* label = header(0, 0, 0);
    used_ += bytes + 80;
    return label;
  }

  // An xtable: _UBOUND, _STATUS, the header (the label), the block start.
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
    qw::store64(h, scale);
    h[8] = static_cast<uint8_t>(type);
    qw::store64(h + 9, static_cast<int64_t>(len));
    used_ += 17;
    return h + 17;
  }
  uint8_t buf_[Capacity] = {};
  size_t used_ = 0;
};

using Arena = BasicArena<>;

// Writes a word header and its blank-padded text at `raw`.
inline void lay_word(uint8_t* raw, const std::string& text, uint64_t length) {
  qw::store64(raw, 0);
  raw[8] = qw::kWordType;
  qw::store64(raw + 9, static_cast<int64_t>(length));
  for (uint64_t i = 0; i < length; ++i) raw[17 + i] = i < text.size() ? text[i] : ' ';
}

// A stand-alone word of exactly N characters, followed by a guard byte that
// shows whether anything wrote past its end.
template <int N>
struct TestWord {
  uint8_t raw[17 + N + 1];
  explicit TestWord(const std::string& text) {
    lay_word(raw, text, N);
    raw[17 + N] = '#';
  }
  void* data() { return raw + 17; }
  qw::Word word() { return qw::Word(raw + 17); }
  std::string str() { return std::string(reinterpret_cast<char*>(raw + 17), N); }
  bool guard_intact() const { return raw[17 + N] == '#'; }
};

// A stand-alone word as long as its text, or `length` characters when
// given (at most 256).
struct TextWord {
  uint8_t raw[17 + 256] = {};
  explicit TextWord(const std::string& text, uint64_t length = 0) {
    if (length == 0) length = text.size();
    lay_word(raw, text, std::min<uint64_t>(length, 256));
  }
  void* data() { return raw + 17; }
  qw::Word word() { return qw::Word(data()); }
  std::string str() { return std::string(reinterpret_cast<char*>(raw + 17), word().length()); }
};

// A stand-alone number with its picture (at most 32 characters), scale 1.
struct TestNumber {
  uint8_t raw[17 + 8 + 32];
  TestNumber(int64_t value, const std::string& picture) {
    size_t len = std::min<size_t>(picture.size(), 32);
    qw::store64(raw, 1);
    raw[8] = qw::kNumberType;
    qw::store64(raw + 9, static_cast<int64_t>(len));
    qw::store64(raw + 17, value);
    std::memcpy(raw + 25, picture.data(), len);
  }
  void* data() { return raw + 17; }
  int64_t value() const { return qw::load64(raw + 17); }
};

// A word's whole text.
inline std::string text(const uint8_t* w) {
  qw::Word word(const_cast<uint8_t*>(w));
  return std::string(word.text(), word.length());
}

// Replaces a word's text, blank-padded or cut to its length.
inline void set_text(uint8_t* w, const std::string& s) {
  std::memset(w, ' ', qw::Word(w).length());
  std::memcpy(w, s.data(), std::min<size_t>(s.size(), qw::Word(w).length()));
}

inline int64_t value(uint8_t* n) { return qw::Number(n).value(); }

// A whole file's bytes; empty when it cannot be read.
inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void spit(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

// A fresh directory under /tmp; `pattern` ends in XXXXXX.
inline std::string make_temp_dir(const char* pattern) {
  std::string tmpl = pattern;
  const char* made = mkdtemp(tmpl.data());
  return made ? std::string(made) : std::string();
}

// Removes a directory tree; false when the removal failed.
inline bool remove_tree(const std::string& dir) {
  if (dir.empty()) return true;
  return std::system(("rm -rf '" + dir + "'").c_str()) == 0;
}

// A test fixture with its own scratch directory, removed afterwards.
class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = make_temp_dir("/tmp/qwtestXXXXXX"); }
  void TearDown() override { remove_tree(dir_); }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
};

// Runs `body` in a death-test child with standard output sent to a file,
// expects the child to end with `status`, and returns what it wrote.
template <class F>
std::string fatal_output(F body, int status = 1) {
  std::string path = "/tmp/qw_fatal_output_" + std::to_string(getpid());
  EXPECT_EXIT(
      {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        body();
      },
      testing::ExitedWithCode(status), "");
  std::string out;
  int fd = open(path.c_str(), O_RDONLY);
  char buf[4096];
  for (ssize_t n; fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0;) out.append(buf, n);
  if (fd >= 0) close(fd);
  unlink(path.c_str());
  return out;
}

// Calls the _NUMBERS entry with the registers compiled code loads: r8 the
// operation, r9 the receiving number, r12 the operand, r13/r14 an explicit
// picture (0, 0: the operand's own).
extern "C" void _NUMBERS();
inline void numbers_entry(uint64_t op, uint8_t* target, uint8_t* operand,
                          const char* pic = nullptr) {
  // The length first: a call made while the register variables are being
  // set may change r8 and r9.
  const uint64_t pic_length = pic ? std::strlen(pic) : 0;
  register uint64_t r8 asm("r8") = op;
  register uint8_t* r9 asm("r9") = target;
  register uint8_t* r12 asm("r12") = operand;
  register const char* r13 asm("r13") = pic;
  register uint64_t r14 asm("r14") = pic_length;
  // Past the red zone; the entries keep the general registers only.
  asm volatile("sub $128, %%rsp\n call _NUMBERS\n add $128, %%rsp"
               : "+r"(r8), "+r"(r9), "+r"(r12), "+r"(r13), "+r"(r14)
               :
               : "memory", "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7",
                 "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
}

}  // namespace qwtest
