// Terminal module: standard handles, the command line, display, cursor,
// line input and field input.
#include "bridge.h"
#include "item.h"

namespace qw::terminal {

void get_stdio_handles() {
  StdInHandle = 0;
  StdOutHandle = 1;
  StdErrHandle = 2;
}

// Copies the program's arguments (after its own name) into w_CommandLine,
// one blank between arguments, keeping at most the word's 256 characters.
void get_command_line(const uint64_t* initial_stack) {
  Word line(w_CommandLine);
  const uint64_t size = line.length();
  char* out = line.text();
  for (uint64_t i = 0; i < size; ++i) out[i] = ' ';
  const uint64_t argc = initial_stack[0];
  uint64_t pos = 0;
  for (uint64_t a = 1; a < argc && pos < size; ++a) {
    const char* arg = reinterpret_cast<const char*>(initial_stack[1 + a]);
    while (*arg && pos < size) out[pos++] = *arg++;
    ++pos;  // the blank between arguments
  }
}

}  // namespace qw::terminal

QW_ENTRY(_getSTDIOhandles, bridge_getSTDIOhandles);
extern "C" void bridge_getSTDIOhandles(qw::Regs&) { qw::terminal::get_stdio_handles(); }

QW_ENTRY(_getCommandLine, bridge_getCommandLine);
extern "C" void bridge_getCommandLine(qw::Regs& r) {
  qw::terminal::get_command_line(reinterpret_cast<const uint64_t*>(r.rbp));
}
