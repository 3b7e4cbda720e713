// Common services: environment lookup, dates, starting programs and waiting
// for them, random numbers.
#include "services.h"

#include "bridge.h"
#include "common.h"
#include "item.h"
#include "syscall.h"

namespace qw::services {

namespace {

// The environment list that follows the argument list at program start:
// argument count, the arguments, a zero, then the environment strings.
const char* const* environment_strings() {
  const uint64_t* stack = reinterpret_cast<const uint64_t*>(w_SaveRSP);
  if (stack == nullptr) return nullptr;
  const uint64_t argc = stack[0];
  return reinterpret_cast<const char* const*>(stack + 1 + argc + 1);
}

}  // namespace

void environment_lookup(const char* name, uint64_t length, Word dest, uint64_t start) {
  while (length > 0 && name[length - 1] == ' ') --length;
  if (length == 0) return;
  const char* const* env = environment_strings();
  if (env == nullptr) return;
  const uint64_t size = dest.length();
  if (start < 1) start = 1;
  for (; *env != nullptr; ++env) {
    const char* entry = *env;
    uint64_t i = 0;
    while (i < length && entry[i] != 0 && entry[i] != '=' && entry[i] == name[i]) ++i;
    if (i != length || entry[i] != '=') continue;
    // The value is cut at the destination's Length: nothing is written
    // past the word.
    const char* value = entry + length + 1;
    for (uint64_t pos = start; *value != 0 && pos <= size; ++pos) dest.at(pos) = *value++;
    return;
  }
}

}  // namespace qw::services

// _ENVIRONMENT: r9, r10, r11 the variable's name (word substring), r12 the
// destination word, filled from its first position.
QW_ENTRY(_ENVIRONMENT, bridge_ENVIRONMENT);
extern "C" void bridge_ENVIRONMENT(qw::Regs& r) {
  qw::Word name(reinterpret_cast<void*>(r.r9));
  uint64_t start = r.r10, length = r.r11;
  const uint64_t size = name.length();
  if (start < 1 || start > size) start = 1;
  if (length == 0 || length > size - start + 1) length = size - start + 1;
  qw::services::environment_lookup(name.text() + start - 1, length,
                                   qw::Word(reinterpret_cast<void*>(r.r12)), 1);
}
