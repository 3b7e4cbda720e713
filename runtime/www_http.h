// The HTTP side of the HTML server, without any I/O: where a request's
// header ends, what its request line and header lines say, the path in its
// plain form, the answer's status line and header lines.
#pragma once

#include <stdint.h>

namespace qw::www {

enum class Method : uint8_t { kGet, kHead, kPost };

// Longest decoded path of a request (longer ones are answered 414), with
// room behind it for the default file's name.
inline constexpr uint32_t kMaxPath = 1024;
inline constexpr uint32_t kMaxFileName = 255;

struct Request {
  Method method;
  bool expects_continue;  // "Expect: 100-continue"
  uint32_t header_end;    // bytes of the request line and header lines with the blank line
  uint64_t body_length;   // Content-Length, 0 without one
  // The file the path names, relative, without "." parts or doubled
  // slashes and NUL-terminated; empty or ending in "/" for a folder.
  uint32_t path_length;
  char path[kMaxPath + kMaxFileName + 2];
};

// Offset just past the empty line ending the header among the first n bytes
// (the line ends may be CR LF or LF alone), or 0 while it has not come.
// `from` is where the previous search stopped.
uint32_t header_end(const uint8_t* buf, uint32_t from, uint32_t n);

// Reads the request in buf[0, header_end), header_end given in req.  The
// request line is written back in its plain form, so that a routine sees
// the path the server serves: the method HEAD as GET, the path
// percent-decoded once, "." parts and doubled slashes removed, and blank,
// "%", "?" and "#" written as %20, %25, %3F and %23; the query, as sent,
// after a blank of its own; no fragment.  The line may grow by that blank
// (buf has a byte of room behind the request for it) or shrink: `length`
// and req.header_end follow.
// Returns 0, or the status that answers the request: 400 malformed or a
// control character or NUL in the path, 404 a ".." part, 405 a method
// other than GET, HEAD and POST, 501 an unknown method or a
// Transfer-Encoding, 414 a path longer than kMaxPath, 505 an HTTP version
// other than 1.x.
int parse_request(uint8_t* buf, uint32_t& length, Request& req);

// The Content-Type of a file, from its name's extension.
const char* content_type(const char* path, uint32_t length);

// The reason phrase of a status ("Not Found"); "" for a status it does not know.
const char* reason(int status);

// A growing text with a fixed capacity; `full` once something did not fit.
struct Text {
  char* at;
  uint32_t length, capacity;
  bool full;
  void add(const char* s, uint32_t n);
  void add(const char* s);
  void add_number(uint64_t v);
};

// The head of an answer: status line, Content-Type, Content-Length (not
// for 204 and 304), nosniff, Connection: close, the extra header lines
// (each ending in CR LF) and the empty line.
void answer_head(Text& out, int status, const char* type, uint32_t type_length, uint64_t length,
                 const char* extra, uint32_t extra_length);
// The length of a NUL-terminated text.
uint32_t text_length(const char* s);

// A routine's answer may start with header lines (below).  Splits the
// answer text: status, Content-Type and the other header lines written
// into `extra` as CR LF lines, the body's offset.  False when a header
// line is malformed.
struct RoutineAnswer {
  int status;
  const char* type;  // points into the answer text or at the default
  uint32_t type_length;
  uint64_t body;  // offset of the body in the answer text
};
bool routine_answer(const char* text, uint64_t n, RoutineAnswer& answer, Text& extra);

inline constexpr char kDefaultRoutineType[] = "text/html; charset=utf-8";

}  // namespace qw::www
