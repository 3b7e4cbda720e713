#include "declarations.h"

#include <string>

#include "keywords.h"
#include "literal_limits.h"
#include "scan.h"
#include "sizes.h"

using qwt::IsBlankOrTab;

namespace {

// Declaration keywords all begin with "@": they are compared only where
// the statement holds one.  Each is found at its first place.
class Keywords {
 public:
  Keywords(const Line& text, long end) : text_(text.view()), end_(end) {
    for (long p = text.find('@'); p && p <= end && n_ < 8; p = text.find('@', p + 1)) at_[n_++] = p;
  }
  bool any() const { return n_ > 0; }
  long find(std::string_view keyword) const {
    if (n_ == 8) return FindUpper(text_, keyword, end_);
    for (int k = 0; k < n_; ++k)
      if (ReadsUpper(text_, at_[k], keyword)) return at_[k];
    return 0;
  }

 private:
  std::string_view text_;
  long end_;
  long at_[8] = {};
  int n_ = 0;
};

DataName Named(char type, std::string_view name, long length) {
  DataName d;
  d.type = type;
  d.name.assign(name);
  d.length = length;
  return d;
}

// Column just after a keyword found at column p.
long After(long p, std::string_view keyword) { return p + long(keyword.size()); }

}  // namespace

void Declarations::See(DataNames& names, const Line& text, long end, long line) {
  Keywords kw(text, end);
  if (!kw.any()) return;
  CheckDeclaredSizes(text.first(end), line);
  names.line = line;
  std::string_view view = text.view();
  auto word = [&](long from, char sep) { return FirstWord(view, from, end, sep); };
  long p;
  if ((p = kw.find("@INSERTNUMBER"))) {
    bool point = text.first(end).find('.') != std::string_view::npos;
    StoreField(names, text, end, point ? 'N' : 'I', p, 13, line);
  }
  if ((p = kw.find("@INSERTWORD"))) StoreField(names, text, end, 'W', p, 11, line);
  if ((p = kw.find("@INSERTFILE"))) {
    // The file's name field, and its handle.
    long comma = text.find(',');
    if (comma && comma <= end) {
      std::string name(word(comma + 1, ',').in(view));
      if (!name.empty()) {
        names.Add(Named('W', name, 255));
        names.Add(Named('I', qwt::ToUpper(name) + "_HANDLE", 255));
      }
    }
  }
  if ((p = kw.find("@BEGIN_RECORD"))) {
    inRecord_ = true;
    // The record's name is the word after the one passed over, from behind
    // the separator that ended it.
    Word first = word(After(p, "@BEGIN_RECORD"), ',');
    record_.assign(first.start ? word(first.end() + 2, ' ').in(view) : std::string_view());
    names.Declare(record_.view());
  }
  if ((p = kw.find("@END_RECORD"))) {
    inRecord_ = false;
    fields_ = 0;
    std::string name(word(After(p, "@END_RECORD") + 1, ' ').in(view));
    if (!name.empty()) names.Add(Named('I', name + "_NO", 0));
  }
  if ((p = kw.find("@INSERTXTABLE"))) {
    std::string name(word(After(p, "@INSERTXTABLE") + 1, ',').in(view));
    if (!name.empty()) names.Add(Named('I', name + "_UBOUND", 0));
    names.Declare(name);
  }
  if ((p = kw.find("@INSERTTABLE"))) names.Declare(word(After(p, "@INSERTTABLE") + 1, ',').in(view));
  if ((p = kw.find("@INSERTARRAY"))) StoreField(names, text, end, 'A', p, 12, line);
  if ((p = kw.find("@BEGIN_SUB"))) {
    // The rest of the statement after the keyword names the sub.
    long from = After(p, "@BEGIN_SUB") + 1;
    std::string_view rest = text.sub(from, std::min<long>(30, end - from + 1));
    sub_ = qwt::TrimRight(rest);
    names.Add(Named('s', sub_, 0));
  }
  if ((p = kw.find("@BEGIN_FUNCTION"))) {
    // The function, and "d" + its name: the number that carries its result.
    Word name = word(After(p, "@BEGIN_FUNCTION") + 1, ',');
    if (name.start) {
      std::string fn(name.in(view));
      sub_ = fn;
      DataName f = Named('f', fn, long(fn.size()));
      if (end <= name.end() + 1) {
        f.picture.assign("'9'");
      } else {
        f.picture.assign(word(name.end() + 2, ',').in(view));
        CheckPicture(f.picture, line);
      }
      names.Add(f);
      DataName result = Named('N', "d" + fn, long(fn.size()) + 1);
      result.picture = f.picture;
      names.Add(result);
    }
  }
  if ((p = kw.find("@USING"))) {
    // Pairs {name,picture}.
    long i = After(p, "@USING") + 1;
    while (i <= end) {
      long brace = text.find('{', i);
      if (!brace || brace > end) break;
      Word name = word(brace + 1, ',');
      long comma = name.start ? text.find(',', name.end() + 1) : 0;
      if (!comma || comma > end) break;
      DataName d = Named('I', name.in(view), name.length);
      d.picture.assign(word(comma + 1, '}').in(view));
      CheckPicture(d.picture, line);
      if (d.picture.contains(".")) d.type = 'N';
      names.Add(d);
      names.AddParameter(sub_);
      i = comma + 1;
    }
  }
  names.line = 0;
}

// Numbers, words and arrays: the name follows the first blank after the
// "@INSERT" keyword; a word's length is its second item, a number's
// picture its third.
void Declarations::StoreField(DataNames& names, const Line& text, long end, char kind,
                              long keyword, long keywordLength, long line) {
  std::string_view view = text.view();
  DataName d;
  d.type = kind;
  if (inRecord_) {
    d.no = ++fields_;
    d.record = record_;
  }
  long gap = FindUpper(view, "@INSERT", end);
  while (gap && gap <= kLineWidth && !IsBlankOrTab(text(gap))) ++gap;
  Word name = FirstWord(view, gap, end, ',');
  if (!name.start) return;
  d.name.assign(name.in(view));
  d.length = name.length;
  if (kind == 'A') {
    names.Add(d);
    return;
  }
  long comma1 = text.find(',', keyword + keywordLength);
  if (comma1 > end) comma1 = 0;
  if (kind == 'W') {
    if (comma1) {
      // The length runs to the next comma (looked for up to column 128),
      // or to the end of the statement.
      long comma2 = text.find(',', comma1 + 1);
      long stop = (comma2 && comma2 <= 128) ? comma2 : end + 1;
      long value = 0;
      bool digits = false;
      for (long i = comma1 + 1; i < stop; ++i) {
        char c = text(i);
        if (IsBlankOrTab(c)) {
          if (digits) break;
          continue;
        }
        if (!qwt::IsDigit(c)) break;
        digits = true;
        value = std::min<long>(value * 10 + (c - '0'), 99999);
      }
      d.length = value;
    }
    names.Add(d);
    return;
  }
  long comma2 = comma1 ? text.find(',', comma1 + 1) : 0;
  if (comma2 > end) comma2 = 0;
  if (comma2) {
    Word picture = FirstWord(view, comma2 + 1, end, ' ');
    d.picture.assign(qwt::ToUpper(picture.in(view)));
    CheckPicture(d.picture, line);
  } else {
    d.picture.assign("'999999'");
  }
  names.Add(d);
}

void SeeBind(DataNames& names, const Line& text, long end) {
  std::string_view view = text.view();
  long p = FindKeyword(names, view, "_BIND", end);
  if (!p) return;
  Word table = FirstWord(view, p + 6, end, ',');
  if (!table.start) return;
  Word record = FirstWord(view, table.end() + 1, end, ',');
  char type = (p > 7 && ReadsUpper(view, p - 7, "XTABLES")) ? 'X' : ' ';
  names.Bind(record.in(view), type, table.in(view));
}
