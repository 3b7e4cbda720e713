// Data-item layout of the Quillwright runtime.
//
// Every operand a translated program hands to the runtime is the address of
// its data.  The 17 bytes in front of that address are the item header:
//
//   data - 17   8 bytes  Scale   numbers: 10^places (cached); words: 0;
//                                 tables: address of the entry record's label
//   data -  9   1 byte   Type    '9' number, 'X' word, 't' fixed table,
//                                 'T' xtable, 0 end of a record's field list
//   data -  8   8 bytes  Length  numbers: picture length; words: text length;
//                                 tables: total bytes (fixed) or block end (xtable)
//
// Items are packed back to back without alignment.  The views below are the
// only place that knows these offsets; modules never compute them by hand.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace qw {

inline constexpr int kHeaderSize = 17;
inline constexpr char kNumberType = '9';
inline constexpr char kWordType = 'X';
inline constexpr char kTableType = 't';
inline constexpr char kXtableType = 'T';

// Unaligned 8-byte access: items are packed, so plain pointer casts would be
// misaligned loads.  The compiler turns these into single moves.
inline int64_t load64(const void* p) {
  int64_t v;
  __builtin_memcpy(&v, p, 8);
  return v;
}
inline void store64(void* p, int64_t v) { __builtin_memcpy(p, &v, 8); }
// The same for a field of any width (the tables the runtime reads off files).
template <typename T>
inline T load_field(const void* p) {
  T v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

// Item addresses are reached through headers that lie in front of a symbol,
// which the compiler would take for out-of-bounds access of that symbol.
// Hiding the pointer's origin keeps its bounds analysis out of the way.
inline uint8_t* opaque(void* p) {
  asm("" : "+r"(p));
  return static_cast<uint8_t*>(p);
}

// Any item, seen through its header.
class Item {
 public:
  explicit Item(void* data) : p_(opaque(data)) {}
  uint8_t* data() const { return p_; }
  int64_t scale() const { return load64(p_ - 17); }
  void set_scale(int64_t s) const { store64(p_ - 17, s); }
  char type() const { return static_cast<char>(p_[-9]); }
  void set_type(char t) const { p_[-9] = static_cast<uint8_t>(t); }
  uint64_t length() const { return static_cast<uint64_t>(load64(p_ - 8)); }
  void set_length(uint64_t n) const { store64(p_ - 8, static_cast<int64_t>(n)); }
  bool is_number() const { return type() == kNumberType; }
  bool is_word() const { return type() == kWordType; }
  // Bytes of data that follow the header: a number's value plus its picture,
  // or a word's text.
  uint64_t data_size() const { return is_number() ? 8 + length() : length(); }
  // The header of the item packed directly after this one.
  Item next() const { return Item(p_ + data_size() + kHeaderSize); }

 protected:
  uint8_t* p_;
};

// Number: 8-byte signed value followed by its edit picture (Length chars).
class Number : public Item {
 public:
  explicit Number(void* data) : Item(data) {}
  int64_t value() const { return load64(p_); }
  void set_value(int64_t v) const { store64(p_, v); }
  char* picture() const { return reinterpret_cast<char*>(p_ + 8); }
  uint64_t picture_length() const { return length(); }
};

// Word: Length bytes of blank-padded text, positions counted from 1.
class Word : public Item {
 public:
  explicit Word(void* data) : Item(data) {}
  char* text() const { return reinterpret_cast<char*>(p_); }
  // 1-based position, as the language counts.
  char& at(uint64_t pos) const { return text()[pos - 1]; }
};

// Record: 'R', the number _NO, $LENGTH, then the label, which is the header
// of the first field; the fields follow back to back and end with a header
// whose Type is 0 and whose Length slot is _CalcLen.
class Record {
 public:
  explicit Record(void* label) : label_(opaque(label)) {}
  uint8_t* label() const { return label_; }
  Number number() const { return Number(label_ - 25); }       // _NO
  int64_t record_no() const { return load64(label_ - 25); }
  void set_record_no(int64_t n) const { store64(label_ - 25, n); }
  uint64_t flat_length() const { return static_cast<uint64_t>(load64(label_ - 8)); }  // $LENGTH
  void set_flat_length(uint64_t n) const { store64(label_ - 8, static_cast<int64_t>(n)); }
  // The first field; walk with Item::next() until type() == 0.
  Item first_field() const { return Item(label_ + kHeaderSize); }
  static bool is_end(const Item& field) { return field.type() == 0; }

 private:
  uint8_t* label_;
};

// File block, addressed by its name (a 255-character word).
class FileBlock {
 public:
  explicit FileBlock(void* name) : name_(opaque(name)) {}
  Word name() const { return Word(name_); }
  char* path() const { return reinterpret_cast<char*>(name_); }
  int64_t handle() const { return load64(name_ - 25); }
  void set_handle(int64_t fd) const { store64(name_ - 25, fd); }
  uint8_t kind() const { return name_[-26]; }
  void set_kind(uint8_t k) const { name_[-26] = k; }
  Number status() const { return Number(name_ - 36); }
  Number read_length() const { return Number(name_ - 67); }
  Number size() const { return Number(name_ - 104); }

 private:
  uint8_t* name_;
};

// Fixed table, addressed by its label.
class FixedTable {
 public:
  explicit FixedTable(void* label) : label_(opaque(label)) {}
  uint8_t* label() const { return label_; }
  Item header() const { return Item(label_); }
  Number status() const { return Number(label_ - 91); }
  // Dimension slot k (0..7), 8 bytes each from 81 bytes before the label.
  int64_t dimension(int k) const { return load64(label_ - 81 + 8 * k); }
  void set_dimension(int k, int64_t v) const { store64(label_ - 81 + 8 * k, v); }
  Record entry_record() const { return Record(reinterpret_cast<void*>(header().scale())); }
  uint64_t total_bytes() const { return header().length(); }
  uint8_t* entries() const { return label_; }
  // Index slot k (from 1) lies 8 * k bytes past the end of the entries.
  int64_t index(int k) const { return load64(label_ + total_bytes() + 8 * k); }
  void set_index(int k, int64_t v) const { store64(label_ + total_bytes() + 8 * k, v); }

 private:
  uint8_t* label_;
};

// Dynamic table (xtable), addressed by its label.  Its memory block holds
// one slot per position: an 8-byte link (0, or the address of the slot
// whose entry stands at this position), a live flag (1 live, 0 deleted or
// never written), then the flat entry.
class Xtable {
 public:
  static constexpr uint64_t kSlotLink = 0;
  static constexpr uint64_t kSlotLive = 8;
  static constexpr uint64_t kSlotEntry = 9;
  explicit Xtable(void* label) : label_(opaque(label)) {}
  uint8_t* label() const { return label_; }
  Item header() const { return Item(label_); }
  Number ubound() const { return Number(label_ - 61); }
  Number status() const { return Number(label_ - 27); }
  Record entry_record() const { return Record(reinterpret_cast<void*>(header().scale())); }
  uint8_t* block_start() const { return reinterpret_cast<uint8_t*>(load64(label_)); }
  void set_block_start(const void* p) const { store64(label_, reinterpret_cast<int64_t>(p)); }
  uint8_t* block_end() const { return reinterpret_cast<uint8_t*>(header().length()); }

 private:
  uint8_t* label_;
};

// Status values shared by programs and the runtime.
inline constexpr int64_t kGood = 0;
inline constexpr int64_t kEndOfFile = 10;
inline constexpr int64_t kDuplicates = 22;
inline constexpr int64_t kInvalidKey = 23;
inline constexpr int64_t kLocked = 90;

}  // namespace qw

// Shared items of the runtime, defined in shared.asm.  Each symbol is the
// item's data address; its header lies in front of it.
extern "C" {
extern int64_t b_Result;
extern uint8_t RETURN_CODE[];
extern uint8_t ERROR_CODE[];
extern uint8_t CHILD_PID[];
extern uint8_t w_One[];
extern uint8_t w_Spaces[];
extern uint8_t w_Temp[];
extern uint8_t x_NULL[];
// EOF is also a C library macro, so C++ names this one qw_EOF.
extern uint8_t qw_EOF[] asm("EOF");
extern uint8_t DUPLICATES[];
extern uint8_t INVALIDKEY[];
extern uint8_t LOCKED[];
extern uint8_t LF[];
extern uint8_t SX[];              // the word header in front of w_RecordBuffer
extern uint8_t w_RecordBuffer[];  // 655,356 bytes
extern uint8_t savedRegisters[];  // 3,072 bytes
extern int64_t w_SaveRSP;
extern int64_t w_SaveAddress;
extern int64_t w_TopOfBSS;
extern int64_t w_BottomOfBSS;
extern int64_t StdInHandle;
extern int64_t StdOutHandle;
extern int64_t StdErrHandle;
extern uint8_t w_CommandLine[];   // word of 256 characters
}

namespace qw {
inline constexpr uint64_t kRecordBufferSize = 655356;
inline Number return_code() { return Number(RETURN_CODE); }
inline Number error_code() { return Number(ERROR_CODE); }
inline Word record_buffer() { return Word(w_RecordBuffer); }
inline Word temp_word() { return Word(w_Temp); }
}  // namespace qw
