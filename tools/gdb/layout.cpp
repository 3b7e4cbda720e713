// Writes the data-item layout, as runtime/item.h defines it, as a Python
// module for the gdb extension (quillwright_layout.py).  Every offset is
// measured through the header's own views over a buffer, so the extension
// follows the header whenever it changes and nothing is copied by hand.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "item.h"

namespace {

// A zeroed buffer with the item address in the middle.
struct Probe {
  uint8_t bytes[4096] = {};
  uint8_t* at() { return bytes + 2048; }
  // Where `store` put its marker, relative to the item address.
  template <typename Store>
  long offset_of(Store store) {
    std::memset(bytes, 0, sizeof bytes);
    store(at());
    for (size_t i = 0; i < sizeof bytes; ++i)
      if (bytes[i] != 0) return long(i) - 2048;
    return 0;
  }
};

// Stored by a view's setter; its first byte is the only one not zero, so
// the first changed byte is where the field begins.
constexpr int64_t kMark = 0x5a;

void line(const char* name, long value) { std::printf("%s = %ld\n", name, value); }
void text(const char* name, char value) { std::printf("%s = %c%c%c\n", name, '\'', value, '\''); }

}  // namespace

int main() {
  using namespace qw;
  Probe p;
  std::printf("# Written at build time from runtime/item.h by tools/gdb/layout.cpp.\n");
  line("HEADER_SIZE", kHeaderSize);
  line("SCALE", p.offset_of([](uint8_t* a) { Item(a).set_scale(kMark); }));
  line("TYPE", p.offset_of([](uint8_t* a) { Item(a).set_type('9'); }));
  line("LENGTH", p.offset_of([](uint8_t* a) { Item(a).set_length(kMark); }));
  text("NUMBER_TYPE", kNumberType);
  text("WORD_TYPE", kWordType);
  text("TABLE_TYPE", kTableType);
  text("XTABLE_TYPE", kXtableType);
  line("NUMBER_PICTURE", Number(p.at()).picture() - reinterpret_cast<char*>(p.at()));
  line("RECORD_NO", p.offset_of([](uint8_t* a) { Record(a).set_record_no(kMark); }));
  line("RECORD_FLAT_LENGTH", p.offset_of([](uint8_t* a) { Record(a).set_flat_length(kMark); }));
  line("RECORD_FIRST_FIELD", Record(p.at()).first_field().data() - p.at());
  line("FILE_HANDLE", p.offset_of([](uint8_t* a) { FileBlock(a).set_handle(kMark); }));
  line("FILE_KIND", p.offset_of([](uint8_t* a) { FileBlock(a).set_kind(kMark); }));
  line("FILE_STATUS", FileBlock(p.at()).status().data() - p.at());
  line("FILE_READ_LENGTH", FileBlock(p.at()).read_length().data() - p.at());
  line("FILE_SIZE", FileBlock(p.at()).size().data() - p.at());
  line("TABLE_STATUS", FixedTable(p.at()).status().data() - p.at());
  line("TABLE_DIMENSIONS", p.offset_of([](uint8_t* a) { FixedTable(a).set_dimension(0, kMark); }));
  line("XTABLE_UBOUND", Xtable(p.at()).ubound().data() - p.at());
  line("XTABLE_STATUS", Xtable(p.at()).status().data() - p.at());
  line("XTABLE_BLOCK_START", p.offset_of([](uint8_t* a) {
         Xtable(a).set_block_start(reinterpret_cast<void*>(uintptr_t(kMark)));
       }));
  line("SLOT_LINK", Xtable::kSlotLink);
  line("SLOT_LIVE", Xtable::kSlotLive);
  line("SLOT_ENTRY", Xtable::kSlotEntry);
  line("GOOD", kGood);
  line("END_OF_FILE", kEndOfFile);
  line("DUPLICATES", kDuplicates);
  line("INVALID_KEY", kInvalidKey);
  line("LOCKED", kLocked);
  return 0;
}
