// The translator's spine: the command line, the order of the stages, the
// one way out of a run, and writing NAME.ASM.
#include <cerrno>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include "files.h"
#include "translator.h"

namespace {

// An option stands alone as an argument of its own.
bool OptionAt(const qwt::Text<256>& line, long i, std::string_view option) {
  return line.at(i, option) && line(i + long(option.size())) == ' ';
}

double CpuMs() {
  timespec ts;
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Writes NAME.ASM whole; a failed write leaves no cut-off file behind.
void WriteOutputFile(Translator& t) {
  int fd = ::open(t.outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    Msg kind = errno == ENAMETOOLONG ? Msg::kNameTooLong : Msg::kCannotCreateOutput;
    t.messages.Report(kind, MessageLine(kind, 0, t.outFile));
    t.status = StatusOf(kind);
    return;
  }
  bool ok = WriteAll(fd, t.output.data(), t.output.size());
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    ::unlink(t.outFile.c_str());
    t.messages.Report(Msg::kCannotWriteOutput, MessageLine(Msg::kCannotWriteOutput, 0, t.outFile));
    t.status = StatusOf(Msg::kCannotWriteOutput);
  }
}

}  // namespace

void SetCommandLine(Translator& t, int argc, const char* const* argv) {
  std::string line;
  for (int i = 1; i < argc && line.size() < 256; ++i) {
    if (i > 1) line.push_back(' ');
    line.append(argv[i]);
  }
  t.commandLine.assign(line);  // the first 256 characters, blank-padded
}

// The options -d (or -D) and -l come first, each standing alone; the name
// follows and ends at the first blank.
void StartUp(Translator& t) {
  const qwt::Text<256>& line = t.commandLine;
  if (line(1) == ' ') Fatal(Msg::kNoFileName);
  long i = 1;
  for (;;) {
    if (OptionAt(line, i, "-d") || OptionAt(line, i, "-D"))
      t.debug = true;
    else if (OptionAt(line, i, "-l"))
      t.positions = t.names.checkArgumentCounts = t.macros.positions = true;
    else
      break;
    i += 3;
  }
  long end = i;
  while (end <= 256 && line(end) != ' ') ++end;
  if (end > 256) Fatal(Msg::kNameTooLong);
  // The name is kept whole; each extension goes directly after it.
  std::string name(line.sub(i, end - i));
  t.inFile = t.directory + name + ".QWR";
  t.outFile = t.directory + name + ".ASM";
  // Messages are placed in NAME.QWR by the name its %line markers give it.
  if (t.positions) t.messages.source = t.inFile;
}

int RunTranslator(Translator& t) {
  void (*const stages[4])(Translator&) = {StartUp, FirstPass, SecondPass, WriteAssembly};
  try {
    for (int k = 0; k < 4; ++k) {
      double start = CpuMs();
      stages[k](t);
      t.phaseMs[k] = CpuMs() - start;
    }
  } catch (const EndRun& e) {
    t.outputComplete = false;
    t.messages.Report(e.kind, MessageLine(e.kind, e.value), LineOf(e.kind, e.value));
    t.status = StatusOf(e.kind);
  }
  if (t.outputComplete && !t.noFiles) WriteOutputFile(t);
  return t.status;
}
