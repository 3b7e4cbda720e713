// Files module: random, sequential and delimited files, directories, copy,
// rename and remove, record locks, and the register entries.
#include <sys/syscall.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "arena.h"
#include "files.h"
#include "item.h"
#include "numbers.h"

namespace {

using qw::FileBlock;
using qw::Item;
using qw::Number;
using qw::Record;
using qw::Word;
namespace fl = qw::files;

using qwtest::Arena;
using qwtest::set_text;
using qwtest::slurp;
using qwtest::spit;
using qwtest::text;
using qwtest::value;

int64_t status(uint8_t* f) { return FileBlock(f).status().value(); }

// Each test works in its own scratch directory.
class Files : public qwtest::ScratchDirTest {};

// A record of a 5-character key, a quantity with picture 999 and a 4-
// character flag: flat length 12.
struct Item3 {
  Arena a;
  uint8_t *rec, *key, *qty, *flag;
  Item3() {
    rec = a.begin_record();
    key = a.word("", 5);
    qty = a.number(0, "999");
    flag = a.word("", 4);
    a.end_record(rec);
  }
  void set(int64_t no, const std::string& k, int64_t q, const std::string& f) {
    Record(rec).set_record_no(no);
    set_text(key, k);
    Number(qty).set_value(q);
    set_text(flag, f);
  }
  int64_t no() const { return Record(rec).record_no(); }
};

// ---------------------------------------------------------------------------
// Random files.

TEST_F(Files, RandomSlotsDeleteStartAndNext) {
  Item3 r;
  Arena a;
  uint8_t* f = a.file(path("rand.dat"), fl::kRandom);
  fl::open_file(FileBlock(f), 2);
  ASSERT_EQ(status(f), 0);
  for (int i = 1; i <= 5; ++i) {
    r.set(i, "K" + std::to_string(i), 10 * i, "F");
    fl::write_file(FileBlock(f), r.rec);
    ASSERT_EQ(status(f), 0);
  }
  EXPECT_EQ(slurp(path("rand.dat")).size(), 5u * 13);
  EXPECT_EQ(slurp(path("rand.dat")).substr(13, 13), std::string("\x01K2   020F   ", 13));

  fl::delete_record(FileBlock(f), (r.set(1, "", 0, ""), Record(r.rec)));
  EXPECT_EQ(status(f), 0);
  r.set(2, "", 0, "");
  fl::delete_record(FileBlock(f), Record(r.rec));
  fl::delete_record(FileBlock(f), Record(r.rec));
  EXPECT_EQ(status(f), 23) << "deleting twice";

  // A deleted slot reads as 23 and leaves the fields as they were.
  r.set(2, "OLD", 7, "X");
  fl::read_file(FileBlock(f), r.rec);
  EXPECT_EQ(status(f), 23);
  EXPECT_EQ(text(r.key), "OLD  ");
  EXPECT_EQ(value(r.qty), 7);
  r.set(6, "", 0, "");
  fl::read_file(FileBlock(f), r.rec);
  EXPECT_EQ(status(f), 10);

  // Start at 0 skips the two deleted slots; next walks on to the end.
  r.set(0, "", 0, "");
  fl::start_file(FileBlock(f), Record(r.rec));
  EXPECT_EQ(status(f), 0);
  EXPECT_EQ(r.no(), 3);
  EXPECT_EQ(text(r.key), "K3   ");
  EXPECT_EQ(value(r.qty), 30);
  fl::next_record(FileBlock(f), Record(r.rec));
  EXPECT_EQ(r.no(), 4);
  fl::next_record(FileBlock(f), Record(r.rec));
  EXPECT_EQ(r.no(), 5);
  EXPECT_EQ(text(r.key), "K5   ");
  fl::next_record(FileBlock(f), Record(r.rec));
  EXPECT_EQ(status(f), 10);
  fl::close_file(FileBlock(f));
}

TEST_F(Files, RecordFiveOfANewFileLeavesFourEmptySlots) {
  Item3 r;
  Arena a;
  uint8_t* f = a.file(path("new.dat"), fl::kRandom);
  fl::open_file(FileBlock(f), 2);
  r.set(5, "FIVE", 5, "Y");
  fl::write_file(FileBlock(f), r.rec);
  EXPECT_EQ(slurp(path("new.dat")).size(), 5u * 13);
  for (int i = 1; i <= 4; ++i) {
    r.set(i, "KEEP", 1, "K");
    fl::read_file(FileBlock(f), r.rec);
    EXPECT_EQ(status(f), 23) << i;
    EXPECT_EQ(text(r.key), "KEEP ");
  }
  r.set(5, "", 0, "");
  fl::read_file(FileBlock(f), r.rec);
  EXPECT_EQ(status(f), 0);
  EXPECT_EQ(text(r.key), "FIVE ");
  fl::close_file(FileBlock(f));
}

TEST_F(Files, ReservedKindWritesZerosThenTheStatusByte) {
  Item3 r;
  Arena a;
  uint8_t* f = a.file(path("k32.dat"), fl::kRandomReserved);
  fl::open_file(FileBlock(f), 2);
  r.set(2, "AB", 12, "ZZ");
  fl::write_file(FileBlock(f), r.rec);
  const std::string data = slurp(path("k32.dat"));
  ASSERT_EQ(data.size(), 42u);
  EXPECT_EQ(data.substr(21), std::string(8, '\0') + "\x01" + "AB   012ZZ  ");
  r.set(2, "", 0, "");
  fl::read_file(FileBlock(f), r.rec);
  EXPECT_EQ(text(r.key), "AB   ");
  EXPECT_EQ(value(r.qty), 12);
  fl::close_file(FileBlock(f));
}

TEST_F(Files, SequentialRecordsBackToBack) {
  Item3 r;
  Arena a;
  uint8_t* f = a.file(path("seq.dat"), fl::kSequential);
  fl::open_file(FileBlock(f), 1);
  for (int i = 1; i <= 3; ++i) {
    // A record number does not add a prefix to a sequential record.
    r.set(i, "S" + std::to_string(i), i, "Q");
    fl::write_file(FileBlock(f), r.rec);
  }
  // A record with a number its picture cannot show is not written, nor
  // made into the record buffer.
  r.set(4, "S4", -4, "Q");
  fl::write_file(FileBlock(f), r.rec);
  EXPECT_EQ(status(f), 36);
  fl::record_to_buffer(Record(r.rec), fl::kSequential);
  EXPECT_EQ(Word(w_RecordBuffer).length(), 0u);
  EXPECT_EQ(qw::return_code().value(), 36);
  // Nor is one beginning with a zero byte, which would read as a hole.
  r.set(4, std::string("\0S", 2), 4, "Q");
  fl::write_file(FileBlock(f), r.rec);
  EXPECT_EQ(status(f), 37);
  fl::close_file(FileBlock(f));
  EXPECT_EQ(slurp(path("seq.dat")), "S1   001Q   S2   002Q   S3   003Q   ");
  fl::open_file(FileBlock(f), 0);
  for (int i = 1; i <= 3; ++i) {
    fl::read_file(FileBlock(f), r.rec);
    ASSERT_EQ(status(f), 0);
    EXPECT_EQ(value(r.qty), i);
  }
  fl::read_file(FileBlock(f), r.rec);
  EXPECT_EQ(status(f), 10);
  fl::close_file(FileBlock(f));
}

TEST_F(Files, MisuseEndsTheProgramWithTheModulesLine) {
  Item3 r;
  Arena a;
  uint8_t* f = a.file(path("m.dat"), fl::kRandom);
  uint8_t* lines = a.file(path("m.txt"), fl::kLines);
  fl::open_file(FileBlock(f), 2);
  fl::open_file(FileBlock(lines), 2);
  r.set(0, "", 0, "");
  auto on_stderr = [] { dup2(2, 1); };
  EXPECT_EXIT((on_stderr(), fl::read_file(FileBlock(f), r.rec)), ::testing::ExitedWithCode(1),
              "Read Error:You need a record number to read this record");
  EXPECT_EXIT((on_stderr(), fl::write_file(FileBlock(f), r.rec)), ::testing::ExitedWithCode(1),
              "Write Error:You need a record number to write this record");
  EXPECT_EXIT((on_stderr(), fl::delete_record(FileBlock(f), Record(r.rec))),
              ::testing::ExitedWithCode(1), "using a record no");
  EXPECT_EXIT((on_stderr(), fl::delete_record(FileBlock(lines), Record(r.rec))),
              ::testing::ExitedWithCode(1), "Delete Error:You can only delete from a random file");
  EXPECT_EXIT((on_stderr(), fl::start_file(FileBlock(lines), Record(r.rec))),
              ::testing::ExitedWithCode(1), "Start Error:You can only start a random file");
  EXPECT_EXIT((on_stderr(), fl::next_record(FileBlock(lines), Record(r.rec))),
              ::testing::ExitedWithCode(1), "Next Error:You can only use next on a random file");
}

// A write that cannot complete is never reported as good.
TEST_F(Files, FailedWriteIsFatal) {
  Item3 r;
  Arena a;
  uint8_t* f = a.file("/dev/full", fl::kRandom);
  fl::open_file(FileBlock(f), 1);
  r.set(1, "X", 1, "X");
  EXPECT_EXIT((dup2(2, 1), fl::write_file(FileBlock(f), r.rec)), ::testing::ExitedWithCode(1),
              "System Error is 028:No space left on device");
}

TEST_F(Files, OpeningAMissingFileForReadingCreatesItEmpty) {
  Arena a;
  uint8_t* f = a.file(path("fresh.txt"), fl::kLines);
  fl::open_file(FileBlock(f), 0);
  EXPECT_EQ(status(f), 0);
  EXPECT_GT(FileBlock(f).handle(), 2);
  EXPECT_EQ(FileBlock(f).size().value(), 0);
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(status(f), 10);
  fl::close_file(FileBlock(f));
  struct stat st;
  EXPECT_EQ(stat(path("fresh.txt").c_str(), &st), 0);
}

// ---------------------------------------------------------------------------
// Locks.

TEST_F(Files, LocksHeldByAnotherProcessGiveStatus90) {
  Item3 r;
  Arena a;
  uint8_t* f = a.file(path("lock.dat"), fl::kRandom);
  spit(path("lock.dat"), std::string(3 * 13, '\x01'));
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t child = fork();
  if (child == 0) {
    // Holds record 2 and then the whole file until told to stop.
    uint8_t* cf = a.file(path("lock.dat"), fl::kRandom);
    fl::open_file(FileBlock(cf), 2);
    r.set(2, "", 0, "");
    fl::lock_record(FileBlock(cf), Record(r.rec));
    char c = static_cast<char>(status(cf));
    (void)!write(ready[1], &c, 1);
    (void)!read(done[0], &c, 1);
    // Then a shared lock on the whole file, as a reader takes it: refused
    // while the child's other block holds record 2 (a lock is its block's),
    // granted once that block is closed.
    uint8_t* reader = a.file(path("lock.dat"), fl::kRandom);
    fl::open_file(FileBlock(reader), 0 | fl::kModeLockFile);
    c = static_cast<char>(status(reader) == 90 ? 0 : 1);
    fl::close_file(FileBlock(cf));
    fl::open_file(FileBlock(reader), 0 | fl::kModeLockFile);
    c = static_cast<char>(c + status(reader));
    (void)!write(ready[1], &c, 1);
    (void)!read(done[0], &c, 1);
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 0) << "child's lock";
  fl::open_file(FileBlock(f), 2);
  r.set(2, "", 0, "");
  fl::lock_record(FileBlock(f), Record(r.rec));
  EXPECT_EQ(status(f), 90);
  r.set(1, "", 0, "");
  fl::lock_record(FileBlock(f), Record(r.rec));
  EXPECT_EQ(status(f), 0);
  fl::unlock_record(FileBlock(f), Record(r.rec));
  EXPECT_EQ(status(f), 0);

  // The whole-file lock at open is refused too: the file is closed again
  // and its handle can no longer reach another file.
  uint8_t* g = a.file(path("lock.dat"), fl::kRandom);
  fl::open_file(FileBlock(g), 2 | fl::kModeLockFile);
  EXPECT_EQ(status(g), 90);
  EXPECT_EQ(FileBlock(g).handle(), -1);
  fl::close_file(FileBlock(g));
  EXPECT_EQ(status(g), fl::kNotOpen) << "closing a file that did not open touches nothing";

  // Readers share the lock of the whole file; a writer cannot take it.
  (void)!write(done[1], "x", 1);
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 0) << "child's shared lock";
  fl::open_file(FileBlock(g), 0 | fl::kModeLockFile);
  EXPECT_EQ(status(g), 0);
  fl::open_file(FileBlock(g), 2 | fl::kModeLockFile);
  EXPECT_EQ(status(g), 90);
  (void)!write(done[1], "x", 1);
  int ws;
  waitpid(child, &ws, 0);
  fl::open_file(FileBlock(g), 2 | fl::kModeLockFile);
  EXPECT_EQ(status(g), 0);
  fl::close_file(FileBlock(g));
  fl::close_file(FileBlock(f));
}

// ---------------------------------------------------------------------------
// Delimited files.

// Builds one line from words and numbers and writes it.
void write_line(uint8_t* f, std::initializer_list<uint8_t*> fields) {
  uint8_t* at = w_RecordBuffer;
  for (uint8_t* x : fields) {
    const Item it(x);
    at = fl::field_to_line(it, it.is_number() ? 0 : 1, it.is_number() ? 0 : it.length(),
                           FileBlock(f), at);
  }
  fl::end_line(FileBlock(f), at);
  fl::write_file(FileBlock(f), nullptr);
}

std::string delivered(uint8_t* f) {
  return std::string(reinterpret_cast<char*>(w_RecordBuffer),
                     FileBlock(f).read_length().value());
}

// Words are quoted, a quote inside one doubled; words holding commas and
// quotes read back as they were.
TEST_F(Files, CommaSeparatedLinesAndReadBack) {
  Arena a;
  uint8_t* f = a.file(path("x.csv"), fl::kCsv);
  uint8_t* w1 = a.word("AB", 5);
  uint8_t* n = a.number(7, "99");
  uint8_t* w2 = a.word("C", 4);
  fl::open_file(FileBlock(f), 1);
  write_line(f, {w1, n, w2});
  set_text(w1, ",AB");
  set_text(w2, "\"A\"");
  write_line(f, {w1, n, w2});
  fl::close_file(FileBlock(f));
  EXPECT_EQ(slurp(path("x.csv")), "\"AB   \",07,\"C   \"\n\",AB  \",07,\"\"\"A\"\" \"\n");

  fl::open_file(FileBlock(f), 0);
  for (auto [word1, word2] : {std::pair{"AB   ", "C   "}, std::pair{",AB  ", "\"A\" "}}) {
    set_text(w1, "");
    set_text(w2, "");
    Number(n).set_value(0);
    fl::read_file(FileBlock(f), nullptr);
    EXPECT_EQ(status(f), 0);
    const uint8_t* at = fl::line_to_field(Item(w1), 1, 5, FileBlock(f), w_RecordBuffer);
    at = fl::line_to_field(Item(n), 0, 0, FileBlock(f), at);
    fl::line_to_field(Item(w2), 1, 4, FileBlock(f), at);
    EXPECT_EQ(text(w1), word1);
    EXPECT_EQ(value(n), 7);
    EXPECT_EQ(text(w2), word2);
  }
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(status(f), 10);
  fl::close_file(FileBlock(f));
}

TEST_F(Files, LastLineWithoutLineFeedAndBlanksAfterShortLines) {
  Arena a;
  spit(path("t.txt"), "a much longer first line\nshort\nlast");
  uint8_t* f = a.file(path("t.txt"), fl::kLines);
  uint8_t* w = a.word("x", 20);
  fl::open_file(FileBlock(f), 0);
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(delivered(f), "a much longer first line");
  EXPECT_EQ(w_RecordBuffer[24], ' ') << "the terminator never reaches a field";
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(delivered(f), "short");
  // A field taken past the short line and its terminator comes out blank,
  // not from the line read before it.
  fl::line_to_field(Item(w), 1, 20, FileBlock(f), w_RecordBuffer + 6);
  EXPECT_EQ(text(w), std::string(20, ' '));
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(status(f), 0);
  EXPECT_EQ(delivered(f), "last");
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(status(f), 10);
  EXPECT_EQ(FileBlock(f).read_length().value(), 0);
  fl::close_file(FileBlock(f));
}

// Every kind reads back what it wrote, whatever its terminator.
TEST_F(Files, TerminatorsWrittenAreTheOnesRead) {
  for (uint8_t kind : {uint8_t{1}, uint8_t{2}, uint8_t{3}, uint8_t{9}, uint8_t{12}, uint8_t{13},
                       uint8_t{';'}, uint8_t{200}}) {
    Arena a;
    const std::string name = path("k" + std::to_string(kind));
    uint8_t* f = a.file(name, kind);
    uint8_t* w1 = a.word("one");
    uint8_t* w2 = a.word("two2");
    fl::open_file(FileBlock(f), 1);
    write_line(f, {w1});
    write_line(f, {w2});
    fl::close_file(FileBlock(f));
    const char t = static_cast<char>(fl::line_terminator(kind));
    EXPECT_EQ(slurp(name), std::string("one") + t + "two2" + t) << int(kind);
    fl::open_file(FileBlock(f), 0);
    fl::read_file(FileBlock(f), nullptr);
    EXPECT_EQ(delivered(f), "one") << int(kind);
    fl::read_file(FileBlock(f), nullptr);
    EXPECT_EQ(delivered(f), "two2") << int(kind);
    fl::read_file(FileBlock(f), nullptr);
    EXPECT_EQ(status(f), 10) << int(kind);
    fl::close_file(FileBlock(f));
  }
  EXPECT_EQ(fl::line_terminator(1), 0);
  EXPECT_EQ(fl::line_terminator(4), '\n');
  EXPECT_EQ(fl::line_terminator(12), 12);
}

TEST_F(Files, LinesLongerThanTheBufferArriveInPieces) {
  Arena a;
  const std::string exact(fl::kMaxLine, 'e');
  const std::string longer = std::string(fl::kMaxLine, 'x') + "tail";
  spit(path("long.txt"), exact + "\n" + longer + "\nend\n");
  uint8_t* f = a.file(path("long.txt"), fl::kLines);
  fl::open_file(FileBlock(f), 0);
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(status(f), 0) << "a line that just fits";
  EXPECT_EQ(FileBlock(f).read_length().value(), static_cast<int64_t>(fl::kMaxLine));
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(status(f), fl::kLineTruncated);
  EXPECT_EQ(FileBlock(f).read_length().value(), static_cast<int64_t>(fl::kMaxLine));
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(status(f), 0);
  EXPECT_EQ(delivered(f), "tail") << "nothing of the line is lost";
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(delivered(f), "end");
  fl::close_file(FileBlock(f));

  // Building a line past the buffer ends the program instead of writing
  // beyond it.
  uint8_t* big = a.word("");
  EXPECT_EXIT(
      {
        dup2(2, 1);
        uint8_t* at = w_RecordBuffer;
        std::string chunk(1000, 'c');
        Arena b;
        uint8_t* w = b.word(chunk);
        for (int i = 0; i < 700; ++i) at = fl::field_to_line(Item(w), 1, 1000, FileBlock(f), at);
        (void)big;
      },
      ::testing::ExitedWithCode(1), "Write Error:The line is longer than the record buffer");
}

// The read-ahead is invisible: a write after a read lands right after the
// line read, and the position the kernel reports is the program's.
TEST_F(Files, ReadAheadGivesBackUnreadBytesBeforeOtherOperations) {
  Arena a;
  spit(path("rw.txt"), "aaa\nbbb\nccc\nddd\n");
  uint8_t* f = a.file(path("rw.txt"), fl::kLines);
  uint8_t* w = a.word("XYZ");
  fl::open_file(FileBlock(f), 2);
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(delivered(f), "aaa");
  EXPECT_EQ(lseek(FileBlock(f).handle(), 0, SEEK_CUR), 16) << "read ahead";
  write_line(f, {w});
  EXPECT_EQ(lseek(FileBlock(f).handle(), 0, SEEK_CUR), 8);
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(delivered(f), "ccc");
  fl::close_file(FileBlock(f));
  EXPECT_EQ(slurp(path("rw.txt")), "aaa\nXYZ\nccc\nddd\n");

  // A copy after a partial read still sends the whole file.
  uint8_t* g = a.file(path("copy.txt"), fl::kLines);
  fl::open_file(FileBlock(f), 0);
  fl::read_file(FileBlock(f), nullptr);
  fl::open_file(FileBlock(g), 1 | fl::kModeTruncate);
  fl::copy_file(FileBlock(f), FileBlock(g));
  EXPECT_EQ(FileBlock(f).read_length().value(), 16);
  EXPECT_EQ(qw::return_code().value(), 0);
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(delivered(f), "XYZ") << "the copy leaves the reading position alone";
  fl::close_file(FileBlock(f));
  fl::close_file(FileBlock(g));
  EXPECT_EQ(slurp(path("copy.txt")), "aaa\nXYZ\nccc\nddd\n");
}

TEST_F(Files, ManyFilesReadInTurnKeepTheirLines) {
  Arena a;
  constexpr int kFiles = 11;  // more than the read-ahead slots
  uint8_t* fs[kFiles];
  for (int i = 0; i < kFiles; ++i) {
    std::string body;
    for (int l = 0; l < 5; ++l) body += std::to_string(i) + ":" + std::to_string(l) + "\n";
    spit(path("m" + std::to_string(i)), body);
    fs[i] = a.file(path("m" + std::to_string(i)), fl::kLines);
    fl::open_file(FileBlock(fs[i]), 0);
  }
  for (int l = 0; l < 5; ++l)
    for (int i = 0; i < kFiles; ++i) {
      fl::read_file(FileBlock(fs[i]), nullptr);
      EXPECT_EQ(delivered(fs[i]), std::to_string(i) + ":" + std::to_string(l));
    }
  for (auto* f : fs) fl::close_file(FileBlock(f));
}

// Write-behind files reach the disk before anything else touches them, at
// close, and when the program ends without closing them.
extern "C" void _ENDPROGRAM();

TEST_F(Files, WriteBehindLinesArriveInOrderAndAtTheEnd) {
  Arena a;
  spit(path("wb.txt"), "aaa\nbbb\nccc\n");
  uint8_t* f = a.file(path("wb.txt"), fl::kLines);
  uint8_t* w = a.word("XYZ");
  fl::open_file(FileBlock(f), 2 | fl::kModeWriteBehind);
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(delivered(f), "aaa");
  write_line(f, {w});
  EXPECT_EQ(slurp(path("wb.txt")), "aaa\nbbb\nccc\n") << "held behind";
  // The next read of the same file first writes what is held back, where
  // the program had reached.
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(delivered(f), "ccc");
  EXPECT_EQ(slurp(path("wb.txt")), "aaa\nXYZ\nccc\n");
  write_line(f, {w});
  fl::close_file(FileBlock(f));
  EXPECT_EQ(slurp(path("wb.txt")), "aaa\nXYZ\nccc\nXYZ\n");

  uint8_t* g = a.file(path("end.txt"), fl::kSequential);
  Arena r;
  uint8_t* rec = r.begin_record();
  r.word("REC", 4);
  r.end_record(rec);
  EXPECT_EXIT(
      {
        fl::open_file(FileBlock(g), 1 | fl::kModeWriteBehind);
        for (int i = 0; i < 20000; ++i) fl::write_file(FileBlock(g), rec);  // 80,000 bytes
        asm volatile("sub $128, %%rsp\n call _ENDPROGRAM" ::: "memory");
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(slurp(path("end.txt")).size(), 80000u);
  EXPECT_EQ(slurp(path("end.txt")).substr(79996), "REC ");
}

TEST_F(Files, WriteBehindFailureIsFatalAtTheFlush) {
  Arena a;
  uint8_t* f = a.file("/dev/full", fl::kLines);
  uint8_t* w = a.word("x");
  fl::open_file(FileBlock(f), 1 | fl::kModeWriteBehind);
  write_line(f, {w});
  EXPECT_EQ(status(f), 0);
  EXPECT_EXIT((dup2(2, 1), fl::close_file(FileBlock(f))), ::testing::ExitedWithCode(1),
              "No space left on device");
}

// A file that ends inside a record delivers the part read with status 34.
TEST_F(Files, RecordsCutOffAtTheEndOfTheFile) {
  Item3 r;
  Arena a;
  spit(path("seq.dat"), "S1   001Q   S2   0");
  uint8_t* s = a.file(path("seq.dat"), fl::kSequential);
  fl::open_file(FileBlock(s), 0);
  fl::read_file(FileBlock(s), r.rec);
  EXPECT_EQ(status(s), 0);
  fl::read_file(FileBlock(s), r.rec);
  EXPECT_EQ(status(s), fl::kRecordCutOff);
  EXPECT_EQ(text(r.key), "S2   ");
  EXPECT_EQ(text(r.flag), "    ");
  fl::read_file(FileBlock(s), r.rec);
  EXPECT_EQ(status(s), 10);

  spit(path("r.dat"), std::string("\x01K1   001F   \x01K2   0", 20));
  uint8_t* f = a.file(path("r.dat"), fl::kRandom);
  fl::open_file(FileBlock(f), 0);
  r.set(2, "", 0, "");
  fl::read_file(FileBlock(f), r.rec);
  EXPECT_EQ(status(f), fl::kRecordCutOff);
  EXPECT_EQ(text(r.key), "K2   ");
  r.set(0, "", 0, "");
  fl::start_file(FileBlock(f), Record(r.rec));
  EXPECT_EQ(status(f), 0);
  fl::next_record(FileBlock(f), Record(r.rec));
  EXPECT_EQ(status(f), fl::kRecordCutOff);
  EXPECT_EQ(r.no(), 2);
  fl::next_record(FileBlock(f), Record(r.rec));
  EXPECT_EQ(status(f), 10);
}

std::vector<std::string> first_words(uint8_t* f, uint8_t* w) {
  std::vector<std::string> got;
  fl::open_file(FileBlock(f), 0);
  for (fl::read_file(FileBlock(f), nullptr); status(f) != 10; fl::read_file(FileBlock(f), nullptr)) {
    fl::line_to_field(Item(w), 1, Word(w).length(), FileBlock(f), w_RecordBuffer);
    got.push_back(text(w));
  }
  fl::close_file(FileBlock(f));
  return got;
}

TEST_F(Files, FieldsNeverCollideWithTheLineFormat) {
  using Words = std::vector<std::string>;
  Arena a;
  // The terminator never reaches a field, nor a carriage return before a
  // line feed: "AB" read into five characters is "AB   ".
  uint8_t* w = a.word("", 5);
  spit(path("t.txt"), "AB\nAB\r\nAB");
  spit(path("t.semi"), "AB;CD;");
  EXPECT_EQ(first_words(a.file(path("t.txt"), fl::kLines), w), (Words{"AB   ", "AB   ", "AB   "}));
  EXPECT_EQ(first_words(a.file(path("t.semi"), ';'), w), (Words{"AB   ", "CD   "}));

  // A field holding the terminator is refused and nothing is written.
  uint8_t* f = a.file(path("two.txt"), fl::kLines);
  uint8_t* split = a.word("a\nb");
  fl::open_file(FileBlock(f), 1);
  write_line(f, {w});
  write_line(f, {w, split});
  EXPECT_EQ(status(f), fl::kFieldHoldsTerminator);
  write_line(f, {w});
  EXPECT_EQ(status(f), 0);
  fl::close_file(FileBlock(f));
  EXPECT_EQ(slurp(path("two.txt")), "CD   \nCD   \n");
}

// Through write-behind, a number and then a word of every length from 1 to
// 70 holding a line feed at every position, or a carriage return last:
// those lines are refused with 35 and nothing of them is written.  The
// others, written many times over (past the write-behind and read-ahead
// blocks), read back field by field as they were.
TEST_F(Files, EveryLengthAndTerminatorPositionRoundTrips) {
  Arena a;
  uint8_t* f = a.file(path("lens.txt"), fl::kLines);
  uint8_t* n = a.number(0, "9999999");
  std::vector<uint8_t*> words;
  for (int len = 1; len <= 70; ++len) words.push_back(a.word(std::string(len, ' ')));
  auto line_text = [](int len) {
    std::string t;
    for (int i = 0; i < len; ++i) t += static_cast<char>('A' + (7 * i + len) % 26);
    return t;
  };
  fl::open_file(FileBlock(f), 1 | fl::kModeTruncate | fl::kModeWriteBehind);
  std::string want;
  int64_t count = 0;
  for (int round = 0; round < 100; ++round)
    for (int len = 1; len <= 70; ++len)
      for (int p = round == 0 ? -2 : -1; p < len; ++p) {  // -2: a carriage return last
        std::string t = line_text(len);
        if (p == -2) t.back() = '\r';
        if (p >= 0) t[p] = '\n';
        set_text(words[len - 1], t);
        Number(n).set_value(++count);
        write_line(f, {n, words[len - 1]});
        const bool refused = p != -1;
        ASSERT_EQ(status(f), refused ? fl::kFieldHoldsTerminator : 0) << len << " " << p;
        if (refused) continue;
        char digits[24];
        snprintf(digits, sizeof digits, "%07lld", static_cast<long long>(count));
        want += digits + t + "\n";
        if (round > 0) break;
      }
  fl::close_file(FileBlock(f));
  ASSERT_EQ(slurp(path("lens.txt")), want);

  fl::open_file(FileBlock(f), 0);
  std::istringstream lines(want);
  for (std::string line; std::getline(lines, line);) {
    fl::read_file(FileBlock(f), nullptr);
    ASSERT_EQ(status(f), 0);
    uint8_t* w = words[line.size() - 8];
    const uint8_t* at = fl::line_to_field(Item(n), 0, 0, FileBlock(f), w_RecordBuffer);
    fl::line_to_field(Item(w), 1, Word(w).length(), FileBlock(f), at);
    ASSERT_EQ(value(n), std::stoll(line.substr(0, 7)));
    ASSERT_EQ(text(w), line.substr(7));
  }
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(status(f), 10);
  fl::close_file(FileBlock(f));
}

// Lines built and taken apart a statement at a time (_LINEFIELDS, through
// write-behind) show and read their numbers exactly as the numbers module
// edits and reads them: pictures of nines of every width and two of other
// forms, values that fit, that do not and that are negative, and texts
// that are no plain digits.  The words beside them keep their places.
TEST_F(Files, LineNumbersShowAndReadAsTheNumbersModuleHasThem) {
  Arena a;
  uint8_t* f = a.file(path("n.txt"), fl::kLines);
  uint8_t* w = a.word("", 3);
  std::vector<std::string> pictures{"999.99", "##9-"};
  for (int width = 1; width <= 18; ++width) pictures.push_back(std::string(width, '9'));
  struct Case {
    uint8_t *number, *twin;  // the field, and the number the module reads alone
    std::string shown;       // a text the line holds for the field
  };
  std::vector<Case> cases;
  for (const std::string& pic : pictures) {
    const uint64_t width = pic.size();
    for (int64_t v : {int64_t{0}, int64_t{7}, int64_t{-5}, int64_t{123456789012345678},
                      width < 19 ? static_cast<int64_t>(std::stoull("1" + std::string(width, '0'))) - 1
                                 : int64_t{0}}) {
      Case c{a.number(v, pic), a.number(0, pic), std::string(width, ' ')};
      qw::numbers::to_text(Number(c.number), {}, c.shown.data());
      cases.push_back(c);
    }
    for (std::string t : {std::string(" 12"), std::string("1 2"), std::string("-12"),
                          std::string("12+"), std::string("1.2")}) {
      t.resize(width, '3');
      cases.push_back(Case{nullptr, a.number(0, pic), t.substr(0, width)});
    }
  }
  fl::open_file(FileBlock(f), 1 | fl::kModeTruncate | fl::kModeWriteBehind);
  std::string want;
  int k = 0;
  for (const Case& c : cases) {
    set_text(w, std::to_string(++k % 1000));
    uint8_t* shown = c.number ? c.number : a.word(c.shown);
    const fl::ListedField fields[2] = {
        {reinterpret_cast<uint64_t>(w), 1, 3},
        {reinterpret_cast<uint64_t>(shown), c.number ? 0u : 1u, c.number ? 0u : c.shown.size()}};
    fl::write_fields(FileBlock(f), fields, 2);
    ASSERT_EQ(status(f), 0);
    want += text(w) + c.shown + "\n";
  }
  fl::close_file(FileBlock(f));
  ASSERT_EQ(slurp(path("n.txt")), want);

  fl::open_file(FileBlock(f), 0);
  k = 0;
  for (const Case& c : cases) {
    fl::read_file(FileBlock(f), nullptr);
    const fl::ListedField fields[2] = {{reinterpret_cast<uint64_t>(w), 1, 3},
                                       {reinterpret_cast<uint64_t>(c.twin), 0, 0}};
    fl::line_to_fields(FileBlock(f), fields, 2);
    const int64_t code = qw::return_code().value();
    const int64_t got = value(c.twin), scale = Item(c.twin).scale();
    Number(c.twin).set_value(-1);
    Item(c.twin).set_scale(-1);
    const int want_code = qw::numbers::from_field(Number(c.twin), c.shown.data(), c.shown.size());
    std::string key = std::to_string(++k % 1000);
    key.resize(3, ' ');
    EXPECT_EQ(text(w), key);
    EXPECT_EQ(got, value(c.twin)) << "[" << c.shown << "] " << Number(c.twin).picture_length();
    EXPECT_EQ(scale, Item(c.twin).scale()) << "[" << c.shown << "]";
    EXPECT_EQ(code, want_code) << "[" << c.shown << "]";
  }
  fl::read_file(FileBlock(f), nullptr);
  EXPECT_EQ(status(f), 10);
  fl::close_file(FileBlock(f));
}

TEST_F(Files, OpenModesAndWhatTheyAllow) {
  Arena a;
  uint8_t* w = a.word("new");
  uint8_t* f = a.file(path("log.txt"), fl::kLines);
  uint8_t* g = a.file(path("log.txt"), fl::kLines);
  spit(path("log.txt"), "entry of the log\n");
  // Appending grows the log; plain writing starts over the old text.
  // Opening an open block closes it first.
  fl::open_file(FileBlock(f), 1 | fl::kModeAppend);
  write_line(f, {w});
  fl::open_file(FileBlock(f), 1 | fl::kModeAppend);
  write_line(f, {w});
  fl::open_file(FileBlock(f), 1);
  write_line(f, {w});
  fl::close_file(FileBlock(f));
  EXPECT_EQ(slurp(path("log.txt")), "new\ny of the log\nnew\nnew\n");
  // A second block opening the path sees the lines held behind.
  fl::open_file(FileBlock(f), 1 | fl::kModeAppend | fl::kModeWriteBehind);
  write_line(f, {w});
  fl::open_file(FileBlock(g), 0);
  EXPECT_EQ(FileBlock(g).size().value(), 29);
  fl::close_file(FileBlock(f));

  // Writing to a file opened for reading, or reading one opened for
  // writing, ends the program naming the file.
  EXPECT_EXIT((dup2(2, 1), write_line(g, {w})), ::testing::ExitedWithCode(1),
              "Write Error:The file is open for reading only *\nFile: .*/log.txt\n");
  fl::open_file(FileBlock(f), 1);
  EXPECT_EXIT((dup2(2, 1), fl::read_file(FileBlock(f), nullptr)), ::testing::ExitedWithCode(1),
              "Read Error:The file is open for writing only");
  fl::close_file(FileBlock(f));
}

// ---------------------------------------------------------------------------
// Directories, rename, remove.

TEST_F(Files, DirectoryEntriesAndWorkingDirectory) {
  spit(path("one"), "1");
  mkdir(path("sub").c_str(), 0755);
  Arena a;
  uint8_t* d = a.file(dir_, fl::kDirectory);
  uint8_t* name = a.word("", 40);
  fl::open_file(FileBlock(d), 0);
  ASSERT_EQ(status(d), 0);
  std::set<std::string> seen;
  for (;;) {
    fl::read_file(FileBlock(d), name);
    if (status(d) == 10) break;
    std::string n = text(name);
    n.erase(n.find_last_not_of(' ') + 1);
    const int64_t type = qw::return_code().value();
    if (n == "one") { EXPECT_EQ(type, 8); }
    if (n == "sub") { EXPECT_EQ(type, 4); }
    seen.insert(n);
  }
  EXPECT_EQ(seen, (std::set<std::string>{".", "..", "one", "sub"}));
  fl::close_file(FileBlock(d));

  char before[4096];
  ASSERT_NE(getcwd(before, sizeof before), nullptr);
  uint8_t* target = a.word(path("sub"));
  fl::change_directory(Word(target));
  EXPECT_EQ(qw::return_code().value(), 0);
  uint8_t* cwd = a.word("", 300);
  fl::query_directory(Word(cwd));
  const std::string got = text(cwd);
  EXPECT_EQ(got.substr(0, got.find('\0')), path("sub"));
  EXPECT_EQ(got.back(), ' ');
  uint8_t* missing = a.word(path("nowhere"));
  fl::change_directory(Word(missing));
  EXPECT_EQ(qw::return_code().value(), -2);
  EXPECT_EQ(chdir(before), 0);
}

TEST_F(Files, RenameAndRemoveReportFailuresInReturnCode) {
  spit(path("a"), "A");
  Arena a;
  uint8_t* from = a.file(path("a"), fl::kLines);
  uint8_t* to = a.word(path("b"), 255);
  fl::rename_path(Word(from), Word(to), FileBlock(from));
  EXPECT_EQ(qw::return_code().value(), 0);
  EXPECT_EQ(slurp(path("b")), "A");
  fl::rename_path(Word(from), Word(to), FileBlock(from));
  EXPECT_EQ(qw::return_code().value(), -2);
  EXPECT_EQ(FileBlock(from).read_length().value(), -2);
  fl::remove_path(Word(to));
  EXPECT_EQ(qw::return_code().value(), 0);
  fl::remove_path(Word(to));
  EXPECT_EQ(qw::return_code().value(), -2);

  // A plain word as the old path: nothing is written in front of it.
  spit(path("c"), "C");
  uint8_t* guard = a.word(std::string(100, 'g'));
  uint8_t* plain = a.word(path("c"));
  fl::rename_path(Word(plain), Word(to), FileBlock(plain));
  EXPECT_EQ(qw::return_code().value(), 0);
  EXPECT_EQ(text(guard), std::string(100, 'g'));
  EXPECT_EQ(slurp(path("b")), "C");

  // A name ended by a zero byte inside the word stops there.
  uint8_t* z = a.word(path("z") + std::string(1, '\0') + "junk", 255);
  spit(path("z"), "Z");
  fl::remove_path(Word(z));
  EXPECT_EQ(qw::return_code().value(), 0);
}

// ---------------------------------------------------------------------------
// The register entries, as compiled code calls them.

extern "C" void _FILEIO();
extern "C" void _FIELDS();
extern "C" void _DELIMITER();

void call_fileio(uint64_t op, void* block, void* r10) {
  asm volatile(
      "mov %0, %%r8\n mov %1, %%r9\n mov %2, %%r10\n sub $128, %%rsp\n call _FILEIO\n add $128, %%rsp"
      :
      : "r"(op), "r"(block), "r"(r10)
      : "r8", "r9", "r10", "memory");
}

uint8_t* call_fields_out(uint8_t* field, uint64_t start, uint64_t len, uint8_t* block,
                         uint8_t* rdi) {
  asm volatile(
      "mov $1, %%r8\n mov %1, %%r9\n mov %2, %%r10\n mov %3, %%r11\n mov %4, %%r15\n"
      "sub $128, %%rsp\n call _FIELDS\n add $128, %%rsp"
      : "+D"(rdi)
      : "r"(field), "r"(start), "r"(len), "r"(block)
      : "r8", "r9", "r10", "r11", "r15", "memory");
  return rdi;
}

const uint8_t* call_fields_in(uint8_t* field, uint64_t start, uint64_t len, uint8_t* block,
                              const uint8_t* rsi) {
  asm volatile(
      "xor %%r8, %%r8\n mov %1, %%r9\n mov %2, %%r10\n mov %3, %%r11\n mov %4, %%r15\n"
      "sub $128, %%rsp\n call _FIELDS\n add $128, %%rsp"
      : "+S"(rsi)
      : "r"(field), "r"(start), "r"(len), "r"(block)
      : "r8", "r9", "r10", "r11", "r15", "memory");
  return rsi;
}

uint8_t* call_delimiter(uint8_t* block, uint8_t* rdi) {
  asm volatile("mov %1, %%r15\n sub $128, %%rsp\n call _DELIMITER\n add $128, %%rsp" : "+D"(rdi) : "r"(block) : "r15", "memory");
  return rdi;
}

TEST_F(Files, RegisterEntriesHandBackTheAdvancedPositions) {
  Arena a;
  uint8_t* f = a.file(path("e.txt"), fl::kLines);
  uint8_t* w = a.word("hello", 8);
  uint8_t* n = a.number(-42, "999-");
  call_fileio(fl::kOpen, f, reinterpret_cast<void*>(1));
  uint8_t* at = call_fields_out(w, 1, 5, f, w_RecordBuffer);
  EXPECT_EQ(at, w_RecordBuffer + 5);
  at = call_fields_out(n, 0, 0, f, at);
  EXPECT_EQ(at, w_RecordBuffer + 9);
  at = call_delimiter(f, at);
  EXPECT_EQ(at, w_RecordBuffer + 10);
  EXPECT_EQ(Word(w_RecordBuffer).length(), 10u);
  call_fileio(fl::kWrite, f, nullptr);
  call_fileio(fl::kClose, f, nullptr);
  EXPECT_EQ(slurp(path("e.txt")), "hello042-\n");

  set_text(w, "");
  Number(n).set_value(0);
  call_fileio(fl::kOpen, f, nullptr);
  call_fileio(fl::kRead, f, nullptr);
  const uint8_t* in = call_fields_in(w, 1, 5, f, w_RecordBuffer);
  EXPECT_EQ(in, w_RecordBuffer + 5);
  in = call_fields_in(n, 0, 0, f, in);
  EXPECT_EQ(in, w_RecordBuffer + 9);
  EXPECT_EQ(text(w), "hello   ");
  EXPECT_EQ(value(n), -42);
  call_fileio(fl::kClose, f, nullptr);
}

}  // namespace
