// The picture rules (runtime/picture.h), and the macro package's
// assembly-time copy of the scale scan held to them: every picture of the
// table goes through the module and, by NASM's preprocessor, through
// QW_PLACESOF and QW_PICSCAN.  A drift between the two sides would give
// inline arithmetic other places than the runtime's.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "picture.h"

namespace {

namespace pic = qw::picture;

struct Case {
  const char* picture;
  int places;        // the scale scan
  int whole;         // positions in front of the "."
  int check_digits;  // the translator's check: "9" and "#"
  int check_places;  //   and "9" after the "."
  int rescale;       // a declared value's places: "9" and "#" after the "."
};

// Pictures with at most one ".": the macro package reads the places of a
// picture with two from another "." than the runtime does.
const Case kCases[] = {
    {"9", 0, 1, 1, 0, 0},
    {"999", 0, 3, 3, 0, 0},
    {"9999.9999", 4, 4, 8, 4, 4},
    {"#,##9.99", 2, 4, 6, 2, 2},
    {"#,##9.##", 1, 4, 5, 0, 1},  // the last "#" is the sign position
    {"#,##9.##9", 3, 4, 7, 1, 3},
    {"9999.99-", 2, 4, 6, 2, 2},
    {"999+", 0, 3, 3, 0, 0},
    {"-9.99", 2, 1, 3, 2, 2},
    {".9", 1, 0, 1, 1, 1},
    {"9.", 0, 1, 1, 0, 0},
    {".99-", 2, 0, 2, 2, 2},
    {"###,###,##9.99-", 2, 9, 11, 2, 2},
    {"ZZZ9.99", 2, 4, 3, 2, 2},
    {"999.999X", 3, 3, 6, 3, 3},
    {"99.9,9", 2, 2, 4, 2, 2},
    {"9.+9", 1, 1, 2, 1, 1},
    {"X", 0, 0, 0, 0, 0},
    {"999999999999999.9999", 4, 15, 19, 4, 4},
    {"9.999999999999999999", 18, 1, 19, 18, 18},
};

// Runs every picture of the table through QW_PLACESOF and QW_PICSCAN and
// returns, per picture, "places-of picscan-places picscan-digits".
std::vector<std::string> package_answers() {
  char path[] = "/tmp/qw_picture_XXXXXX.asm";
  int fd = mkstemps(path, 4);
  if (fd < 0) return {};
  std::ostringstream src;
  src << "%include \"include/BEGIN.DICTIONARY\"\n%include \"include/BEGIN.MATRIX\"\n"
         "%include \"include/BEGIN.INSTRUCTIONS\"\n";
  for (const Case& c : kCases)
    src << "QW_PLACESOF '" << c.picture << "'\n%assign QWT_OF QW_PICPLACES\n"
        << "QW_PICSCAN '" << c.picture << "'\nQWT_ANSWER QWT_OF QW_PICPLACES QW_PICDIGITS\n";
  std::string text = src.str();
  bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
  close(fd);
  std::vector<std::string> answers;
  std::string command = "nasm -E -I" QW_SOURCE_DIR "/ ";
  FILE* out = written ? popen((command + path).c_str(), "r") : nullptr;
  if (out) {
    char line[256];
    while (fgets(line, sizeof line, out))
      if (std::string(line).rfind("QWT_ANSWER ", 0) == 0) {
        std::string a(line + 11);
        answers.push_back(a.substr(0, a.find_last_not_of(" \n") + 1));
      }
    pclose(out);
  }
  unlink(path);
  return answers;
}

TEST(Pictures, EveryRuleAndTheMacroPackageAgree) {
  std::vector<std::string> package = package_answers();
  ASSERT_EQ(package.size(), sizeof kCases / sizeof kCases[0]) << "nasm -E failed";
  for (size_t i = 0; i < package.size(); ++i) {
    const Case& c = kCases[i];
    const std::string p = c.picture;
    const char* s = p.data();
    EXPECT_EQ(pic::scale_places(s, p.size()), c.places) << p;
    EXPECT_EQ(pic::whole_positions(s, p.size()), c.whole) << p;
    EXPECT_EQ(pic::checked_positions(s, p.size()).digits, c.check_digits) << p;
    EXPECT_EQ(pic::checked_positions(s, p.size()).places, c.check_places) << p;
    EXPECT_EQ(pic::rescale_places(s, p.size()), c.rescale) << p;
    const std::string module = std::to_string(c.places) + " " + std::to_string(c.places) + " " +
                               std::to_string(c.whole + c.places);
    EXPECT_EQ(package[i], module) << p;
  }
}

}  // namespace
