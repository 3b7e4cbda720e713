// Common services: environment lookup, dates, starting programs, random
// numbers.
#pragma once

#include <stdint.h>

#include "item.h"

namespace qw::services {

// Copies the value of the environment variable whose name is the substring
// (name, length; trailing blanks ignored) into `dest` from position `start`
// (1-based), cut at the word's Length.  The destination is unchanged when the
// variable is not set.
void environment_lookup(const char* name, uint64_t length, Word dest, uint64_t start);

// A calendar date.
struct Date {
  int64_t year, month, day;
};

// Days since 1970-01-01 (day 0).  Leap years follow the Gregorian rule.
int64_t days_from_date(const Date& d);
Date date_from_days(int64_t days);
// True when the date exists and is not before 1970-01-01.
bool valid_date(const Date& d);

// The 10-character date text "YYYY/MM/DD" of a day number.
void date_text(int64_t days, char* out10);
// Reads "YYYY?MM?DD" (characters 5 and 8 may be any separator).  False when
// a part is not digits or the date does not exist.
bool parse_date_text(const char* text10, int64_t& days);

// The _DATE requests.  Results are raw 8-byte values at `value` (and at
// `second` for the time of day); texts are 10 characters at `text`.
enum DateRequest : int64_t {
  kSeconds = -1, kToday = 0, kDayToText = 1, kTimeOfDay = 3,
};
void date_request(int64_t request, int64_t* value, void* second);

// Starts the program named by the word's text (path and arguments separated
// by blanks).  Interactive children get the environment "DISPLAY=:0"; batch
// children an empty one with their standard output and error sent into a
// pipe whose read end is stored at `read_end`.  The child's process id goes
// to CHILD_PID; a program that cannot be started leaves the negative kernel
// error in ERROR_CODE (and CHILD_PID 0).
void run_program(Word command, bool batch, int64_t* read_end);

// Waits for the child; ERROR_CODE := its exit status and RETURN_CODE := 0.
// A child ended by a signal gives RETURN_CODE := the signal's number and
// ERROR_CODE := 128 + that number.
void wait_child(int64_t pid);

// `count` random bytes (1, 2, 4, otherwise 8) as an unsigned value.
uint64_t random_value(int64_t count);

}  // namespace qw::services
