// The data-name table: every name the program declares, with its kind,
// length or picture, the record it belongs to and the table that record is
// bound to.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "text.h"

inline constexpr long kDataNameTableCapacity = 1024;

struct DataName {
  char tableType = ' ';  // "X" when the record is bound to an xtable
  qwt::Text<30> table;   // the table or xtable the record is bound to
  qwt::Text<30> record;  // the record the field belongs to
  long no = 0;           // the field's position in its record
  char type = ' ';       // I, N, W, A, s (sub), f (function)
  qwt::Text<30> name;
  long length = 0;
  qwt::Text<30> picture;  // as written, quotation marks included
  long parameters = 0;    // a sub's or function's, by its @USING line
  long line = 0;          // the source line that declares it (0: none)
};

class DataNames {
 public:
  // Appends a name (message 10 at the capacity).  A blank name is not
  // stored: it would answer lookups of blank text.
  void Add(const DataName& d);
  // The first row declaring `name` (letter case counts); null if none.
  const DataName* Find(std::string_view name) const;
  // The kind of `name`, or a blank when it is not declared.
  char TypeOf(std::string_view name) const {
    const DataName* d = Find(name);
    return d ? d->type : ' ';
  }
  // Counts one more parameter of the sub or function `name`.
  void AddParameter(std::string_view name);
  // A name the program declares that holds no data row of its own: a
  // record, a table, an xtable.
  void Declare(std::string_view name);
  // Whether the program declares `name` (letter case counts), of any kind.
  bool Declares(std::string_view name) const {
    return !name.empty() && name.size() <= 30 && declared_.find(name) != declared_.end();
  }
  // Marks every field declared so far for `record` as bound to `table`.
  void Bind(std::string_view record, char tableType, std::string_view table);
  long size() const { return long(rows_.size()); }
  long line = 0;  // the source line of the names being added
  // Calls are held to their @USING lines (positions mode: the output may
  // then depart from the plain rewrite by refusing a call).
  bool checkArgumentCounts = false;
  const DataName& row(long n) const { return rows_[std::size_t(n - 1)]; }

 private:
  std::vector<DataName> rows_;
  std::unordered_map<std::string, long> first_;  // name -> its first row
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_set<std::string, Hash, std::equal_to<>> declared_;  // every declared name
};
