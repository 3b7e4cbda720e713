// Every line of the two message tables of the fatal exit: the 133 kernel
// lines sit at 64 × their error number under their error names, numbered and
// blank padded, and each library message the runtime raises by its number
// (common.h) finds its exact text, under its label.
#include <sys/syscall.h>

#include <errno.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common.h"

// Each kernel error name in order, with the number the C library gives it.
// The names are passed unexpanded to the label and the text, and expanded
// (to the kernel's number) for the position.
#define KERNEL_NAMES(X)                                                                      \
  X(EPERM) X(ENOENT) X(ESRCH) X(EINTR) X(EIO) X(ENXIO) X(E2BIG) X(ENOEXEC) X(EBADF)         \
  X(ECHILD) X(EAGAIN) X(ENOMEM) X(EACCES) X(EFAULT) X(ENOTBLK) X(EBUSY) X(EEXIST) X(EXDEV)   \
  X(ENODEV) X(ENOTDIR) X(EISDIR) X(EINVAL) X(ENFILE) X(EMFILE) X(ENOTTY) X(ETXTBSY)        \
  X(EFBIG) X(ENOSPC) X(ESPIPE) X(EROFS) X(EMLINK) X(EPIPE) X(EDOM) X(ERANGE) X(EDEADLK)    \
  X(ENAMETOOLONG) X(ENOLCK) X(ENOSYS) X(ENOTEMPTY) X(ELOOP) X(ENOMSG) X(EIDRM) X(ECHRNG)   \
  X(EL2NSYNC) X(EL3HLT) X(EL3RST) X(ELNRNG) X(EUNATCH) X(ENOCSI) X(EL2HLT) X(EBADE)        \
  X(EBADR) X(EXFULL) X(ENOANO) X(EBADRQC) X(EBADSLT) X(EBFONT) X(ENOSTR) X(ENODATA)        \
  X(ETIME) X(ENOSR) X(ENONET) X(ENOPKG) X(EREMOTE) X(ENOLINK) X(EADV) X(ESRMNT) X(ECOMM)   \
  X(EPROTO) X(EMULTIHOP) X(EDOTDOT) X(EBADMSG) X(EOVERFLOW) X(ENOTUNIQ) X(EBADFD)          \
  X(EREMCHG) X(ELIBACC) X(ELIBBAD) X(ELIBSCN) X(ELIBMAX) X(ELIBEXEC) X(EILSEQ) X(ERESTART) \
  X(ESTRPIPE) X(EUSERS) X(ENOTSOCK) X(EDESTADDRREQ) X(EMSGSIZE) X(EPROTOTYPE)              \
  X(ENOPROTOOPT) X(EPROTONOSUPPORT) X(ESOCKTNOSUPPORT) X(EOPNOTSUPP) X(EPFNOSUPPORT)       \
  X(EAFNOSUPPORT) X(EADDRINUSE) X(EADDRNOTAVAIL) X(ENETDOWN) X(ENETUNREACH) X(ENETRESET)   \
  X(ECONNABORTED) X(ECONNRESET) X(ENOBUFS) X(EISCONN) X(ENOTCONN) X(ESHUTDOWN)             \
  X(ETOOMANYREFS) X(ETIMEDOUT) X(ECONNREFUSED) X(EHOSTDOWN) X(EHOSTUNREACH) X(EALREADY)    \
  X(EINPROGRESS) X(ESTALE) X(EUCLEAN) X(ENOTNAM) X(ENAVAIL) X(EISNAM) X(EREMOTEIO)         \
  X(EDQUOT) X(ENOMEDIUM) X(EMEDIUMTYPE) X(ECANCELED) X(ENOKEY) X(EKEYEXPIRED)              \
  X(EKEYREVOKED) X(EKEYREJECTED) X(EOWNERDEAD) X(ENOTRECOVERABLE) X(ERFKILL) X(EHWPOISON)

#define DECLARE_LABEL(name) extern const char k_##name[] asm(#name);
extern "C" {
KERNEL_NAMES(DECLARE_LABEL)
// The two names the C library folds into others have lines of their own.
extern const char k_EWOULDBLOCK[] asm("EWOULDBLOCK");
extern const char k_EDEADLOCK[] asm("EDEADLOCK");
extern const char err01[], err02[], err03[], err04[], err05[], err06[], err07[];
extern const char err08[], err09[], err10[], err11[], err12[], err13[], err14[];
}

namespace {

struct Label {
  const char* address;
  int number;
  const char* name;
};

#define LABEL_ENTRY(name) {k_##name, name, #name},
const Label kLabels[] = {KERNEL_NAMES(LABEL_ENTRY)};

std::string line64(int n) { return std::string(SysErrorMessages + 64 * n, 64); }

TEST(KernelLines, EveryLabelSitsAtItsNumbersLine) {
  ASSERT_EQ(sizeof kLabels / sizeof kLabels[0], 131u);
  for (const Label& l : kLabels)
    EXPECT_EQ(l.address - SysErrorMessages, 64 * l.number) << l.name;
  EXPECT_EQ(k_EWOULDBLOCK - SysErrorMessages, 64 * 41);
  EXPECT_EQ(k_EDEADLOCK - SysErrorMessages, 64 * 58);
  // The names come in number order, 1 to 133, with 41 and 58 between them.
  int expected = 1;
  for (const Label& l : kLabels) {
    if (expected == 41 || expected == 58) ++expected;
    EXPECT_EQ(l.number, expected++) << l.name;
  }
  EXPECT_EQ(expected, 134);
}

TEST(KernelLines, NumberedColonTextThenBlanksOnly) {
  for (int n = 0; n <= 133; ++n) {
    std::string line = line64(n);
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%03d:", n);
    EXPECT_EQ(line.substr(0, 4), prefix) << n;
    size_t end = line.find_last_not_of(' ');
    ASSERT_NE(end, std::string::npos);
    EXPECT_GT(end, 4u) << n;  // a text follows the colon
    for (size_t i = 0; i <= end; ++i) {
      EXPECT_GE(line[i], ' ') << n;  // no zero bytes or control bytes inside
      EXPECT_LE(line[i], '~') << n;
    }
  }
  EXPECT_EQ(line64(37), "037:No record locks available" + std::string(35, ' '));
  EXPECT_EQ(line64(85), "085:Interrupted system call should be restarted" + std::string(17, ' '));
  EXPECT_EQ(line64(125), "125:Operation Canceled" + std::string(42, ' '));
}

TEST(KernelLines, LineZeroAndTheFoldedNames) {
  EXPECT_EQ(line64(0), "000:Quillwright error" + std::string(43, ' '));
  EXPECT_EQ(line64(41), "041:Operation would block" + std::string(39, ' '));
  EXPECT_EQ(line64(58), "058:Deadlock" + std::string(52, ' '));
}

TEST(LibraryLines, EveryMessageNumberFindsItsTextPaddedTo80) {
  const struct {
    qw::LibraryMessage number;
    const char* label;
    const char* text;
  } lines[] = {
      {qw::kErrNonNumeric, err01, "NUMBERS[error]:- non numeric field"},
      {qw::kErrRange, err02, "NUMBERS[error]:- result has exceeded its range"},
      {qw::kErrUseWords, err03, "NUMBERS[error]:- use WORDS to convert number to text"},
      {qw::kErrUseEquals, err04, "NUMBERS[error]:- use $equals to convert a word to a number"},
      {qw::kErrEnteredRange, err05, "NUMBERS[error]:- Entered field has exceeded its range"},
      {qw::kErrNoPicture, err06, "NUMBERS[error]:- Result field must have a defined picture"},
      {qw::kErrUseNumbers, err07, "WORDS[error]:- use NUMBERS to convert text to number"},
      {qw::kErrCompare, err08, "DECISIONS[error]:- Error comparing Alpha and Numeric field"},
      {qw::kErrNotTable, err09, "TABLES[error]:- You have not passed a valid table"},
      {qw::kErrMultiDim, err10, "TABLES[error]:- Cannot SORT/SEARCH a multiDimensional table"},
      {qw::kErrFileName, err11,
       "FILES[error]:- a filename has been found that exceeds the system limit"},
      {qw::kErrAlphaSmall, err12,
       "NUMBERS[error]:- receiving (ALPHA) too small. Literals default pic is 26"},
      {qw::kErrDivideByZero, err13, "NUMBERS[error]:- division by zero"},
      {qw::kErrUnknownOperation, err14, "NUMBERS[error]:- unknown operation code"},
  };
  for (const auto& l : lines) {
    std::string want = l.text;
    want.resize(80, ' ');
    const char* line = QuillwrightErrorMessages + qw::kLibraryLineLength * (l.number - 1);
    EXPECT_EQ(l.label, line) << l.text;
    EXPECT_EQ(std::string(line, 80), want) << l.number;
  }
}

}  // namespace
