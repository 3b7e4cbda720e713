// Feeds arbitrary sources - half-typed programs above all - to what the
// language server does with a buffer: the translation in memory, the
// outline, and hover, definition, references and completion at a position
// the input chooses (its first two bytes: line and column).  The assembler
// is not run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "lsp_analysis.h"
#include "lsp_features.h"

namespace {

// The folder the translations are written into, removed when the run ends.
char folder[] = "/tmp/fuzz-lsp.XXXXXX";

const Place& work_place() {
  static Place place = [] {
    if (!mkdtemp(folder)) std::abort();
    std::atexit([] { std::filesystem::remove_all(folder); });
    return Place{folder, folder, "fuzz"};
  }();
  return place;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Vocabulary words = load_vocabulary(QW_INCLUDE_DIR);
  if (size < 2) return 0;
  long line = data[0] % 64 + 1, col = data[1];
  SourceText source(std::string(reinterpret_cast<const char*>(data + 2), size - 2));
  Analysis analysis = analyse(source, work_place());
  const std::string uri = "file:///fuzz.QWR";
  View view{uri, source, analysis, words};
  json answers = json::array({symbols_of(view)});
  for (long n : {line, line % std::max(1L, source.lines()) + 1}) {
    answers.push_back(hover_at(view, n, col));
    answers.push_back(definition_at(view, n, col));
    answers.push_back(references_at(view, n, col, true));
    answers.push_back(completion_at(view, n, col));
  }
  // Every answer becomes JSON as the server sends it (bytes that are no
  // UTF-8, as in a source written in Latin-1, replaced).
  answers.dump(-1, ' ', false, json::error_handler_t::replace);
  return 0;
}
