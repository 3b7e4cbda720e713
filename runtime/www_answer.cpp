// The HTML server's answers: the server's own statuses, a routine's text and
// files of the working directory, each with its head, and sending them
// without ever waiting for the client.
#include "common.h"
#include "kernel.h"
#include "www_connection.h"
#include "www_files.h"

namespace qw::www {

namespace {

using namespace qw::sys;

// More than the head of a file's answer takes (about 160 bytes with the
// longest type and length).
constexpr uint64_t kFileHeadRoom = 256;

struct IoVec {
  const void* base;
  uint64_t length;
};

// Starts the answer with its head in buf; the body follows.
void begin(Connection& c, int status, const char* type, uint32_t type_length, uint64_t length,
           const char* extra, uint32_t extra_length) {
  Text head = {reinterpret_cast<char*>(c.buf), 0, kRequestBufferSize, false};
  answer_head(head, status, type, type_length, length, extra, extra_length);
  c.out = 0;
  c.out_end = head.length;
}

// Puts the body behind the head: into buf when it fits, otherwise sends
// head and body together at once and keeps what the client did not take.
bool add_body(Connection& c, const char* body, uint64_t n) {
  if (c.head_only || n == 0) return true;
  if (n <= kRequestBufferSize - c.out_end) {
    __builtin_memcpy(c.buf + c.out_end, body, n);
    c.out_end += n;
    return true;
  }
  const IoVec parts[2] = {{c.buf, c.out_end}, {body, n}};
  long sent;
  do {
    sent = sys::call3(kWritev, c.fd, reinterpret_cast<long>(parts), 2);
  } while (sent == kEintr);
  if (sent == kEagain) sent = 0;
  if (sent < 0) return false;
  uint64_t taken = static_cast<uint64_t>(sent);
  const uint64_t from_head = taken < c.out_end ? taken : c.out_end;
  c.out = from_head;
  taken -= from_head;
  const uint64_t rest = n - taken;
  if (rest == 0) return true;
  const uint64_t size = (rest + 4095) & ~uint64_t{4095};
  const long map = sys::call6(kMmap, 0, static_cast<long>(size), kProtReadWrite, kMapPrivateAnonymous, -1, 0);
  if (map < 0) return false;
  c.spill = reinterpret_cast<uint8_t*>(map);
  c.spill_size = size;
  c.spill_at = 0;
  c.spill_end = rest;
  __builtin_memcpy(c.spill, body + taken, rest);
  return true;
}

void not_found(Connection& c) { answer_status(c, 404, false); }

}  // namespace

void answer_status(Connection& c, int status, bool allow_post) {
  const char* text = reason(status);
  char body[64];
  Text b = {body, 0, sizeof body, false};
  b.add(text);
  b.add("\n", 1);
  const char* allow = allow_post ? "Allow: GET, HEAD, POST\r\n" : "Allow: GET, HEAD\r\n";
  const char type[] = "text/plain; charset=utf-8";
  begin(c, status, type, sizeof type - 1, b.length, status == 405 ? allow : "",
        status == 405 ? text_length(allow) : 0);
  add_body(c, body, b.length);
}

void answer_text(Connection& c, const char* text, uint64_t n) {
  char extra[kRequestBufferSize / 2];
  Text lines = {extra, 0, sizeof extra, false};
  RoutineAnswer a;
  if (!routine_answer(text, n, a, lines)) return answer_status(c, 500, false);
  const bool bodiless = a.status == 204 || a.status == 304;
  const uint64_t length = bodiless ? 0 : n - a.body;
  begin(c, a.status, a.type, a.type_length, length, extra, lines.length);
  if (!add_body(c, text + a.body, length)) c.out = c.out_end;  // the client is gone
}

void answer_file(Connection& c, Word default_file) {
  Request& r = c.request;
  uint32_t n = r.path_length;
  if (n == 0 || r.path[n - 1] == '/') {
    // A folder: its default file.
    uint64_t len = default_file.length();
    const char* name = default_file.text();
    while (len > 0 && name[len - 1] == ' ') --len;
    if (len == 0 || len > kMaxFileName) return not_found(c);
    for (uint64_t i = 0; i < len; ++i) r.path[n++] = name[i];
    r.path[n] = 0;
  }
  // A small file goes out with its head in one piece; a larger one follows
  // its head from the file.
  const uint64_t room = kRequestBufferSize - kFileHeadRoom;
  OpenFile f;
  if (!open_file(r.path, n, room, f)) return not_found(c);
  const char* type = content_type(r.path, n);
  begin(c, 200, type, text_length(type), f.size, "", 0);
  if (c.head_only) {
    if (!f.kept) sys::close(f.fd);
  } else if (f.kept) {
    uint64_t got = 0;
    while (got < f.size) {
      const long rc = sys::call4(kPread64, f.fd, reinterpret_cast<long>(c.buf + c.out_end + got),
                                 static_cast<long>(f.size - got), static_cast<long>(got));
      if (rc == kEintr) continue;
      if (rc <= 0) break;  // the file shrank: the client sees the answer end short
      got += static_cast<uint64_t>(rc);
    }
    c.out_end += got;
  } else {
    c.file = f.fd;
    c.file_at = 0;
    c.file_end = f.size;
  }
}

namespace {

// Sends p[at, end).  Always with MSG_MORE: the kernel holds a last short
// segment back until more comes, and what comes after an answer is its end
// (close or shutdown, as soon as the answer is out), whose FIN then leaves
// in the same segment as the answer's last bytes.
Sent send_bytes(long fd, const uint8_t* p, uint64_t& at, uint64_t end) {
  while (at < end) {
    const long rc = sys::call6(kSendto, fd, reinterpret_cast<long>(p + at), static_cast<long>(end - at),
                               kMsgNosignal | kMsgMore, 0, 0);
    if (rc == kEintr) continue;
    if (rc == kEagain) return Sent::kWaiting;
    if (rc < 0) return Sent::kFailed;
    at += static_cast<uint64_t>(rc);
  }
  return Sent::kAll;
}

}  // namespace

Sent send_answer(Connection& c) {
  Sent sent = send_bytes(c.fd, c.buf, c.out, c.out_end);
  if (sent == Sent::kAll) sent = send_bytes(c.fd, c.spill, c.spill_at, c.spill_end);
  if (sent != Sent::kAll) return sent;
  while (c.file_at < c.file_end) {
    uint64_t chunk = c.file_end - c.file_at;
    if (chunk > 0x40000000) chunk = 0x40000000;
    int64_t offset = static_cast<int64_t>(c.file_at);
    const long rc = sys::call4(kSendfile, c.fd, c.file, reinterpret_cast<long>(&offset), static_cast<long>(chunk));
    if (rc == kEintr) continue;
    if (rc == kEagain) return Sent::kWaiting;
    if (rc <= 0) return Sent::kFailed;  // the file shrank, or the client is gone
    c.file_at += static_cast<uint64_t>(rc);
  }
  return Sent::kAll;
}

void release_answer(Connection& c) {
  if (c.file >= 0) sys::close(c.file);
  c.file = -1;
  c.file_at = c.file_end = 0;
  if (c.spill != nullptr) sys::call2(kMunmap, reinterpret_cast<long>(c.spill), static_cast<long>(c.spill_size));
  c.spill = nullptr;
  c.spill_at = c.spill_end = c.spill_size = 0;
  c.out = c.out_end = 0;
}

}  // namespace qw::www
