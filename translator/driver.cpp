// The translator's spine: start-up checks and file names, the order of the
// passes, the numbered messages and the single way out of a run.
#include <cerrno>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include "pass2.h"
#include "translator.h"

namespace {

// Writes all of `data` to descriptor fd; false on a failed write.
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= std::size_t(n);
  }
  return true;
}

}  // namespace

void Translator::Message(std::string_view line) {
  if (b_CaptureMessages) {
    w_Messages.append(line);
    w_Messages.push_back('\n');
    return;
  }
  std::string out(line);
  out.push_back('\n');
  WriteAll(1, out.data(), out.size());
}

void Translator::Fatal(std::string_view line, int status) {
  Message(line);
  ERROR_CODE = status;
  throw EndRun{};
}

bool Translator::AppendRow() {
  if (ProgramTable_UBOUND() >= kProgramTableCapacity) return false;
  ProgramTable.push_back(PR);
  return true;
}

void SetCommandLine(Translator& t, int argc, const char* const* argv) {
  std::string line;
  for (int i = 1; i < argc && line.size() < std::size_t(kBufferWidth); ++i) {
    if (i > 1) line.push_back(' ');
    line.append(argv[i]);
  }
  t.w_CommandLine.assign(line);  // the first 256 characters, blank-padded
}

void A_Initialise(Translator& t) {
  if (t.w_CommandLine(1) == ' ')
    t.Fatal("01: Quillwright reWriter requires a file name", 1);
  long I = 1;
  // The option stands alone: a name that merely begins with "-d" is a name.
  if ((t.w_CommandLine.at(1, "-D") || t.w_CommandLine.at(1, "-d")) && t.w_CommandLine(3) == ' ') {
    t.b_Debug = 1;
    I = 4;
  } else {
    t.b_Debug = 0;
  }
  long J = I;
  while (J <= kBufferWidth && t.w_CommandLine(J) != ' ') ++J;
  if (J > kBufferWidth) t.Fatal("02: File name is too long", 2);
  // The name is kept whole; the extension goes directly after it.
  std::string name(t.w_CommandLine.sub(I, J - I));
  t.in_File = t.w_Directory + name + ".QWR";
  t.out_File = t.w_Directory + name + ".ASM";

  t.ProgramTable.clear();
  t.SynonymTable.clear();
  t.DataNameTable.clear();
  t.DataNameIndex.clear();
  t.w_ConstantRows.clear();
  t.NewDataTable.clear();
  t.MacroTable.clear();
}

int EndInstructions(Translator& t) {
  if (t.b_OutputComplete && !t.b_NoFiles) {
    int fd = ::open(t.out_File.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == ENAMETOOLONG) {
        t.Message("02: File name is too long");
        t.ERROR_CODE = 2;
      } else {
        t.Message("FILES[error]:- cannot create the output file " + t.out_File);
        t.ERROR_CODE = 1;
      }
      return t.ERROR_CODE;
    }
    bool ok = WriteAll(fd, t.w_Output.data(), t.w_Output.size());
    if (::close(fd) != 0) ok = false;
    if (!ok) {
      // Never leave a cut-off assembly file behind.
      ::unlink(t.out_File.c_str());
      t.Message("FILES[error]:- cannot write the output file " + t.out_File);
      t.ERROR_CODE = 1;
    }
  }
  return t.ERROR_CODE;
}

namespace {

double CpuMs() {
  timespec ts;
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

}  // namespace

int RunTranslator(Translator& t) {
  void (*const phases[4])(Translator&) = {A_Initialise, B_1stPass, C_2ndPass, D_3rdPass};
  try {
    for (int k = 0; k < 4; ++k) {
      double start = CpuMs();
      phases[k](t);
      t.w_PhaseMs[k] = CpuMs() - start;
    }
  } catch (const EndRun&) {
    t.b_OutputComplete = false;
  }
  return EndInstructions(t);
}
