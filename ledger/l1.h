// The ledger's request bridge, shared by the windows and the program logic.
//
// The windows own one block of 15 signed 64-bit slots, `l1_Params`.  A
// request is made by storing its code in slot 0 and its data in slot 1 and
// calling the logic's entry `l1_Process` with the block's address in rax;
// the logic saves and restores every general register and leaves its status
// in slot 0 (0 done, 23 no such row or no move possible).
//
// The initial request hands back, in slots 2-13, the addresses of twelve
// fields inside the logic's records.  From then on the windows read and
// write those fields in place.  Every field is a data item: the 17 bytes in
// front of the address are its header (Scale 8 bytes, Type 1 byte, Length 8
// bytes).  Words are Length bytes of blank-padded text without terminator;
// numbers are an 8-byte value counted in units of 1/Scale, followed by their
// edit picture.  Items are packed; they are read and written through the
// runtime's item views, never through an int64_t pointer.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "../runtime/item.h"
#include "../runtime/picture.h"

// Request codes.
inline constexpr int64_t c_Initial = 0;
inline constexpr int64_t c_A01_Read = 1;
inline constexpr int64_t c_B01_Read = 2;
inline constexpr int64_t c_B01_Write = 3;

// Statuses the logic leaves in slot 0.
inline constexpr int64_t l1_StatusDone = 0;
inline constexpr int64_t l1_StatusNoRow = 23;

inline constexpr int l1_ParamSlots = 15;
inline constexpr int l1_FieldSlots = 12;  // slots 2-13

// The logic's entry: block address in rax, every general register kept.
extern "C" void l1_Process();

inline int64_t l1_Params[l1_ParamSlots];
inline int64_t* const l1_Params_Addr = l1_Params;

// Field handles, filled from slots 2-13 by l1_HouseKeeping.
inline char* a01_no;            // number "99"
inline char* a01_name;          // word 30
inline char* b01_acctno;        // word 5
inline char* b01_description;   // word 30
inline char* b01_flag1;         // word 2
inline char* b01_flag2;         // number "9"
inline char* b01_flag3;         // number "9"
inline char* b01_flag4;         // number "9"
inline char* b01_balid;         // word 2
inline char* b01_cntlacctno;    // word 5
inline char* b01_depreciation;  // number "999"
inline char* b01_unitprice;     // number "9999.9999"

// Widths of the word fields.
inline constexpr size_t l1_NameWidth = 30;
inline constexpr size_t l1_AcctNoWidth = 5;
inline constexpr size_t l1_DescriptionWidth = 30;
inline constexpr size_t l1_CodeWidth = 2;

// ---- item access -------------------------------------------------------
// Through the runtime's item views (runtime/item.h), the one place that
// knows the header's offsets.

inline qw::Item l1_Item(const char* item) { return qw::Item(const_cast<char*>(item)); }
inline qw::Number l1_Number(const char* number) { return qw::Number(const_cast<char*>(number)); }

inline int64_t l1_NumberValue(const char* number) { return l1_Number(number).value(); }
inline void l1_SetNumberValue(char* number, int64_t v) { l1_Number(number).set_value(v); }
inline int64_t l1_ItemScale(const char* item) { return l1_Item(item).scale(); }
inline char l1_ItemType(const char* item) { return l1_Item(item).type(); }
inline uint64_t l1_ItemLength(const char* item) { return l1_Item(item).length(); }
inline std::string l1_Picture(const char* number) {
  qw::Number n = l1_Number(number);
  return std::string(n.picture(), n.picture_length());
}

// A word's text, `width` characters.
inline std::string l1_WordText(const char* word, size_t width) { return std::string(word, width); }
// The text without trailing blanks.
inline std::string l1_Trimmed(const std::string& s) {
  size_t n = s.find_last_not_of(' ');
  return n == std::string::npos ? std::string() : s.substr(0, n + 1);
}
// Store `text` into a word of `width` characters: cut to the width, blank
// padded.
inline void l1_PutWord(char* word, size_t width, const std::string& text) {
  size_t n = text.size() < width ? text.size() : width;
  memcpy(word, text.data(), n);
  memset(word + n, ' ', width - n);
}

// Decimal places of a number, read from its picture as the runtime reads
// them (runtime/picture.h).
inline int l1_PicturePlaces(const char* number) {
  qw::Number n = l1_Number(number);
  return qw::picture::scale_places(n.picture(), n.picture_length());
}

// 10^places of a number.  The Scale field caches it once the runtime has
// worked it out; a field the runtime has not used yet still holds 0, 1 or -1
// there, so the picture is consulted instead of taking the value as whole
// units.
inline int64_t l1_NumberScale(const char* number) {
  int64_t s = l1_ItemScale(number);
  if (s > 1) return s;
  int places = l1_PicturePlaces(number);
  if (places > 18) places = 18;
  int64_t r = 1;
  for (int i = 0; i < places; ++i) r *= 10;
  return r;
}

// Digits left of the point that the picture can show, and whether it
// carries a sign position.
inline int l1_PictureIntegerDigits(const char* number) {
  qw::Number n = l1_Number(number);
  return qw::picture::whole_positions(n.picture(), n.picture_length());
}
inline bool l1_PictureSigned(const char* number) {
  qw::Number n = l1_Number(number);
  return qw::picture::has_sign_position(n.picture(), n.picture_length());
}

// ---- requests ----------------------------------------------------------

// Run one request; returns the status left in slot 0.  The call is made
// from an aligned stack below the red zone, and the logic may use vector
// registers, so those are declared clobbered.
inline int64_t l1_Call(int64_t request, int64_t data) {
  l1_Params[0] = request;
  l1_Params[1] = data;
  asm volatile(
      "mov %%rsp, %%rbx\n\t"
      "sub $128, %%rsp\n\t"
      "and $-16, %%rsp\n\t"
      "call l1_Process\n\t"
      "mov %%rbx, %%rsp"
      :
      : "a"(l1_Params_Addr)
      : "rbx", "memory", "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6",
        "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15");
  return l1_Params[0];
}

// Initialise the logic and take the twelve field addresses.
inline int64_t l1_HouseKeeping() {
  int64_t status = l1_Call(c_Initial, 0);
  char** handles[l1_FieldSlots] = {&a01_no,         &a01_name,         &b01_acctno,
                                   &b01_description, &b01_flag1,        &b01_flag2,
                                   &b01_flag3,       &b01_flag4,        &b01_balid,
                                   &b01_cntlacctno,  &b01_depreciation, &b01_unitprice};
  for (int i = 0; i < l1_FieldSlots; ++i)
    *handles[i] = reinterpret_cast<char*>(l1_Params[2 + i]);
  return status;
}

// ---- fixed-point text --------------------------------------------------

// The number as text with as many decimals as its scale has places (six
// when it has none).
inline std::string l1_GetRational(const char* number) {
  int64_t scale = l1_NumberScale(number);
  double v = static_cast<double>(l1_NumberValue(number)) / static_cast<double>(scale);
  char buf[64];
  snprintf(buf, sizeof buf, "%.6f", v);
  std::string text(buf);
  int k = 0;
  for (int64_t s = scale; s > 1 && k < 17; s /= 10) ++k;
  if (k > 0 && k < 6) {
    size_t dot = text.find('.');
    if (dot != std::string::npos) text.resize(dot + 1 + k);
  }
  return text;
}

// Parse `text` as a decimal number for `number`: optional blanks, an
// optional sign, digits with at most one '.', optional blanks.  Digits
// beyond the number's places are cut, not rounded.  The value is exact (no
// binary floating point on the way), so 0.29 stays 0.29.  Returns false,
// leaving `out` alone, when the text is not a number or does not fit the
// number's picture.
inline bool l1_PutRational(const char* number, const std::string& text, int64_t* out) {
  size_t i = 0, n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t scale = l1_NumberScale(number);
  int places = 0;
  for (int64_t s = scale; s > 1; s /= 10) ++places;
  int maxDigits = l1_PictureIntegerDigits(number);
  if (maxDigits > 18 - places) maxDigits = 18 - places;
  int64_t whole = 0, frac = 0;
  int wholeDigits = 0, fracDigits = 0, anyDigits = 0;
  bool point = false;
  for (; i < n; ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      ++anyDigits;
      if (!point) {
        if (whole == 0 && c == '0') continue;  // leading zeros
        if (++wholeDigits > maxDigits) return false;
        whole = whole * 10 + (c - '0');
      } else if (fracDigits < places) {
        frac = frac * 10 + (c - '0');
        ++fracDigits;
      }
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i != n || anyDigits == 0) return false;
  if (negative && !l1_PictureSigned(number) && (whole != 0 || frac != 0)) return false;
  for (; fracDigits < places; ++fracDigits) frac *= 10;
  int64_t value = whole * scale + frac;
  *out = negative ? -value : value;
  return true;
}
