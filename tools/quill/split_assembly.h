// A large expansion assembled in pieces while nasm -E is still writing it:
// the expansion runs on one processor and the pieces are assembled on the
// other, so that most of the assembly is done by the time the expansion
// ends.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Cuts the expansion, as it comes, into pieces that assemble alone and are
// then joined with `ld -r`.  A piece ends at a label of the program's code
// once it holds at least `piece_bytes`.  Each piece declares external the
// names it uses and does not define, and global every label of the
// program's own it defines (and the package's labels a piece before it
// used), so that the join links them; the names the program did not make
// global are made local again after the join (joined_only_names).  A name
// used before the piece that defines it is taken on trust; pieces_link()
// says at the end whether every such name was found.
class PieceCutter {
 public:
  explicit PieceCutter(size_t piece_bytes) : piece_bytes_(piece_bytes) {}
  // The file being expanded (as its line markers name it) and its count of
  // lines: from them the cutter judges how much expansion is still to come,
  // and cuts smaller pieces towards the end, so that the pieces left when
  // the expansion ends share the two processors evenly.
  void expect_source(std::string_view file, long lines) {
    source_file_ = file;
    source_lines_ = lines;
  }

  // Takes the next whole lines of the expansion; answers the pieces they
  // completed, ready to assemble.
  std::vector<std::string> take(std::string_view lines);
  // The last piece, once the whole expansion was taken.
  std::string last_piece();
  // How many pieces were answered so far.
  size_t pieces() const { return exported_.size(); }
  // Whether the pieces link with each other: false when a piece used a
  // name that no piece made global (a fault of the program, or a name
  // defined in an earlier piece that did not export it); the expansion is
  // then assembled whole, and its messages are the ones that count.
  bool pieces_link() const;
  // The names made global only for the join, one a line (for objcopy).
  std::string joined_only_names() const;

 private:
  void read_line(std::string_view line);
  std::string close_piece();
  std::string marker_here() const;
  std::string_view keep(std::string_view name);

  size_t piece_bytes_;
  size_t bytes_now() const;
  std::string source_file_;
  long source_lines_ = 0, source_line_ = 0;  // the furthest line of it expanded
  size_t taken_ = 0;                         // bytes of expansion taken
  std::string body_;  // the lines of the piece in hand
  std::string_view section_ = ".text";
  long marker_line_ = 0, marker_step_ = 0;  // the last line marker read
  std::string marker_file_;
  long since_marker_ = 0;        // lines read after it
  std::string marker_at_start_;  // the marker for the piece in hand's first line
  std::string settings_, settings_at_start_;      // [bits 64], [warning ...] ...
  std::string extern_lines_, externs_at_start_;   // the program's external names
  bool note_ = false;    // the piece names the stack's section
  bool broken_ = false;  // a piece uses a name it cannot be given
  // The names, kept here (the lines they were read from do not stay).
  std::deque<std::string> kept_;
  std::unordered_set<std::string_view> names_;  // views of kept_
  std::unordered_set<std::string_view> defined_, used_, globals_here_;  // in the piece in hand
  std::unordered_map<std::string_view, size_t> defined_in_;      // name: its piece
  std::unordered_map<std::string_view, std::string> constants_;  // name equ number: the line
  std::unordered_set<std::string_view> program_externs_, program_globals_;
  std::unordered_set<std::string_view> wanted_ahead_;  // used before their piece
  std::vector<std::unordered_set<std::string_view>> exported_;  // per piece
};
