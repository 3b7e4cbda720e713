// Feeds arbitrary sources to the whole translator in-process: a fresh
// Translator per input, messages and the assembly kept in memory, no file
// read or written.  The first byte chooses the debug option, the positions
// mode and the dialect prefix so that every output path is reached.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "translator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto t = std::make_unique<Translator>();
  t->messages.capture = true;
  t->noFiles = true;
  t->useSourceText = true;
  std::uint8_t mode = size ? data[0] : 0;
  if (size) {
    ++data;
    --size;
  }
  std::string args = (mode & 4) ? "-l fuzz" : "fuzz";
  t->commandLine.assign((mode & 1) ? "-d " + args : args);
  std::string source;
  if (mode & 2) source = "WINDOWS\n";
  source.append(reinterpret_cast<const char*>(data), size);
  t->sourceText = std::move(source);
  int status = RunTranslator(*t);
  // A run either writes its output or ends with a non-zero status.
  if (!t->outputComplete && status == 0) __builtin_trap();
  return 0;
}
