// The HTTP side of the HTML server: request line, header lines, the path's
// plain form, status lines and answer heads.  No I/O here.
#include "www_http.h"

namespace qw::www {

uint32_t text_length(const char* s) {
  uint32_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// True when the n bytes at s are `word`, letter case aside.
bool same_letters(const char* s, uint32_t n, const char* word) {
  uint32_t i = 0;
  for (; i < n && word[i] != 0; ++i)
    if (lower(s[i]) != lower(word[i])) return false;
  return i == n && word[i] == 0;
}

bool is_token_char(uint8_t c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 32) >= 'a' && (c | 32) <= 'z') return true;
  for (const char* p = "!#$%&'*+-.^_`|~"; *p != 0; ++p)
    if (c == static_cast<uint8_t>(*p)) return true;
  return false;
}

int hex_value(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  c |= 32;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Methods that exist but that this server does not take.
const char* const kOtherMethods[] = {"PUT", "DELETE", "OPTIONS", "PATCH", "TRACE", "CONNECT"};

// The method of the request line's first n bytes; the status for one that
// is not served.
int method_of(const uint8_t* s, uint32_t n, Method& m) {
  const char* t = reinterpret_cast<const char*>(s);
  auto is = [&](const char* name) {
    uint32_t i = 0;
    for (; i < n && name[i] != 0; ++i)
      if (t[i] != name[i]) return false;
    return i == n && name[i] == 0;
  };
  if (is("GET")) return m = Method::kGet, 0;
  if (is("HEAD")) return m = Method::kHead, 0;
  if (is("POST")) return m = Method::kPost, 0;
  for (const char* other : kOtherMethods)
    if (is(other)) return 405;
  return 501;
}

// Decodes the raw path once into out (at most kMaxPath bytes).  Returns 0
// or the status for a path that cannot be served.
int decode_path(const uint8_t* raw, uint32_t n, char* out, uint32_t& out_length) {
  uint32_t k = 0;
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t c = raw[i];
    if (c == '%') {
      if (i + 2 >= n) return 400;
      const int a = hex_value(raw[i + 1]), b = hex_value(raw[i + 2]);
      if (a < 0 || b < 0) return 400;
      c = static_cast<uint8_t>(a * 16 + b);
      i += 2;
    }
    if (c < 0x20 || c == 0x7f) return 400;
    if (k == kMaxPath) return 414;
    out[k++] = static_cast<char>(c);
  }
  out_length = k;
  return 0;
}

// The decoded path's parts joined by single slashes, without "." parts:
// the file's relative path.  404 for a ".." part.
int relative_path(const char* decoded, uint32_t n, Request& req) {
  uint32_t k = 0;
  uint32_t i = 0;
  while (i < n) {
    while (i < n && decoded[i] == '/') ++i;
    const uint32_t start = i;
    while (i < n && decoded[i] != '/') ++i;
    const uint32_t part = i - start;
    if (part == 0 || (part == 1 && decoded[start] == '.')) continue;
    if (part == 2 && decoded[start] == '.' && decoded[start + 1] == '.') return 404;
    if (k > 0) req.path[k++] = '/';
    for (uint32_t j = start; j < i; ++j) req.path[k++] = decoded[j];
  }
  // A path ending in a slash names a folder.
  if (k > 0 && n > 0 && decoded[n - 1] == '/') req.path[k++] = '/';
  req.path[k] = 0;
  req.path_length = k;
  return 0;
}

// The relative path as a routine sees it: "/" in front and the characters
// that would change its meaning escaped.
void plain_target(const Request& req, Text& out) {
  out.add("/", 1);
  for (uint32_t i = 0; i < req.path_length; ++i) {
    const char c = req.path[i];
    if (c == ' ' || c == '%' || c == '?' || c == '#') {
      const char* digits = "0123456789ABCDEF";
      const char escaped[3] = {'%', digits[(c >> 4) & 15], digits[c & 15]};
      out.add(escaped, 3);
    } else {
      out.add(&c, 1);
    }
  }
}

// One header line "name: value" of the request; 0 or the status that
// refuses the request.
int header_line(const uint8_t* s, uint32_t n, Request& req, bool& has_length) {
  uint32_t colon = 0;
  while (colon < n && s[colon] != ':') {
    if (!is_token_char(s[colon])) return 400;
    ++colon;
  }
  if (colon == 0 || colon == n) return 400;
  uint32_t v = colon + 1, end = n;
  while (v < end && (s[v] == ' ' || s[v] == '\t')) ++v;
  while (end > v && (s[end - 1] == ' ' || s[end - 1] == '\t')) --end;
  const char* name = reinterpret_cast<const char*>(s);
  const char* value = reinterpret_cast<const char*>(s + v);
  if (same_letters(name, colon, "transfer-encoding")) return 501;
  if (same_letters(name, colon, "expect")) {
    req.expects_continue = same_letters(value, end - v, "100-continue");
  } else if (same_letters(name, colon, "content-length")) {
    if (end == v || end - v > 15) return 400;
    uint64_t length = 0;
    for (uint32_t i = v; i < end; ++i) {
      if (s[i] < '0' || s[i] > '9') return 400;
      length = length * 10 + (s[i] - '0');
    }
    if (has_length && length != req.body_length) return 400;
    has_length = true;
    req.body_length = length;
  }
  return 0;
}

// The header lines after the request line, up to the empty line.
int header_lines(const uint8_t* buf, uint32_t from, uint32_t end, Request& req) {
  bool has_length = false;
  uint32_t i = from;
  while (i < end) {
    uint32_t e = i;
    while (e < end && buf[e] != '\n') ++e;
    uint32_t n = e - i;
    if (n > 0 && buf[i + n - 1] == '\r') --n;
    if (n == 0) break;  // the empty line
    const int status = header_line(buf + i, n, req, has_length);
    if (status != 0) return status;
    i = e + 1;
  }
  return 0;
}

}  // namespace

uint32_t header_end(const uint8_t* buf, uint32_t from, uint32_t n) {
  for (uint32_t i = from; i < n; ++i) {
    if (buf[i] != '\n') continue;
    // Line feed, then an empty line: LF LF or LF CR LF.
    if (i + 1 < n && buf[i + 1] == '\n') return i + 2;
    if (i + 2 < n && buf[i + 1] == '\r' && buf[i + 2] == '\n') return i + 3;
  }
  return 0;
}

int parse_request(uint8_t* buf, uint32_t& length, Request& req) {
  const uint32_t end = req.header_end;
  req.expects_continue = false;
  req.body_length = 0;
  req.path_length = 0;
  req.path[0] = 0;
  // The request line: method, blank, target, blank, version.
  uint32_t line_end = 0;
  while (line_end < end && buf[line_end] != '\n') ++line_end;
  uint32_t i = 0;
  while (i < line_end && is_token_char(buf[i])) ++i;
  if (i == 0 || i == line_end || buf[i] != ' ') return 400;
  const uint32_t method_length = i;
  const uint32_t target = i + 1;
  uint32_t t = target;
  while (t < line_end && buf[t] > ' ' && buf[t] != 0x7f) ++t;
  if (t == target || t == line_end || buf[t] != ' ') return 400;
  const uint32_t version = t + 1;
  uint32_t v = line_end;
  if (v > version && buf[v - 1] == '\r') --v;
  const char* ver = reinterpret_cast<const char*>(buf + version);
  if (v - version != 8 || ver[0] != 'H' || ver[1] != 'T' || ver[2] != 'T' || ver[3] != 'P' ||
      ver[4] != '/' || ver[6] != '.' || ver[5] < '0' || ver[5] > '9' || ver[7] < '0' || ver[7] > '9')
    return 400;
  if (ver[5] != '1') return 505;
  const int method_status = method_of(buf, method_length, req.method);
  if (method_status != 0) return method_status;
  if (buf[target] != '/') return 400;
  // The path ends at the query or a fragment.
  uint32_t path_end = target;
  while (path_end < t && buf[path_end] != '?' && buf[path_end] != '#') ++path_end;
  uint32_t query_end = path_end;
  while (query_end < t && buf[query_end] != '#') ++query_end;

  char decoded[kMaxPath];
  uint32_t decoded_length = 0;
  int status = decode_path(buf + target, path_end - target, decoded, decoded_length);
  if (status == 0) status = relative_path(decoded, decoded_length, req);
  if (status == 0) status = header_lines(buf, line_end + 1, end, req);
  if (status != 0) return status;

  // The plain request line: method, path, and the query after a blank of
  // its own, so that the path always ends at the first blank; a fragment
  // goes.  The plain path is never longer than the one sent, so the line
  // grows by that blank at most (the buffer has room for it).
  char line[kMaxPath * 3 + 8];
  Text plain = {line, 0, sizeof line, false};
  plain.add(req.method == Method::kPost ? "POST " : "GET ");
  plain_target(req, plain);
  const bool has_query = query_end > path_end;
  if (has_query) plain.add(" ", 1);
  if (plain.full) return 414;
  __builtin_memmove(buf + query_end, buf + t, length - t);  // drops the fragment
  length -= t - query_end;
  const uint32_t rest = length - path_end;  // the query, the version and all after
  __builtin_memmove(buf + plain.length, buf + path_end, rest);
  __builtin_memcpy(buf, line, plain.length);
  length = plain.length + rest;
  req.header_end = req.header_end - (t - query_end) - path_end + plain.length;
  return 0;
}

namespace {

struct TypeOf {
  const char* extension;
  const char* type;
};

const TypeOf kTypes[] = {
    {"html", "text/html; charset=utf-8"}, {"htm", "text/html; charset=utf-8"},
    {"css", "text/css; charset=utf-8"},   {"js", "text/javascript; charset=utf-8"},
    {"mjs", "text/javascript; charset=utf-8"}, {"json", "application/json"},
    {"txt", "text/plain; charset=utf-8"}, {"png", "image/png"},
    {"jpg", "image/jpeg"},                {"jpeg", "image/jpeg"},
    {"svg", "image/svg+xml"},             {"ico", "image/x-icon"},
    {"wasm", "application/wasm"},         {"pdf", "application/pdf"},
};

struct ReasonOf {
  int status;
  const char* text;
};

const ReasonOf kReasons[] = {
    {100, "Continue"}, {200, "OK"}, {201, "Created"}, {202, "Accepted"}, {204, "No Content"},
    {301, "Moved Permanently"}, {302, "Found"}, {303, "See Other"}, {304, "Not Modified"},
    {307, "Temporary Redirect"}, {308, "Permanent Redirect"}, {400, "Bad Request"},
    {401, "Unauthorized"}, {403, "Forbidden"}, {404, "Not Found"}, {405, "Method Not Allowed"},
    {408, "Request Timeout"}, {409, "Conflict"}, {410, "Gone"}, {411, "Length Required"},
    {413, "Content Too Large"}, {414, "URI Too Long"}, {415, "Unsupported Media Type"},
    {422, "Unprocessable Content"}, {429, "Too Many Requests"},
    {431, "Request Header Fields Too Large"}, {500, "Internal Server Error"},
    {501, "Not Implemented"}, {503, "Service Unavailable"}, {505, "HTTP Version Not Supported"},
};

}  // namespace

const char* content_type(const char* path, uint32_t length) {
  uint32_t dot = length;
  while (dot > 0 && path[dot - 1] != '.' && path[dot - 1] != '/') --dot;
  if (dot > 1 && path[dot - 1] == '.' && path[dot - 2] != '/') {
    for (const TypeOf& t : kTypes)
      if (same_letters(path + dot, length - dot, t.extension)) return t.type;
  }
  return "application/octet-stream";
}

const char* reason(int status) {
  for (const ReasonOf& r : kReasons)
    if (r.status == status) return r.text;
  return "";
}

void Text::add(const char* s, uint32_t n) {
  if (n > capacity - length) {
    full = true;
    return;
  }
  __builtin_memcpy(at + length, s, n);
  length += n;
}

void Text::add(const char* s) { add(s, text_length(s)); }

void Text::add_number(uint64_t v) {
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) add(&digits[--n], 1);
}

void answer_head(Text& out, int status, const char* type, uint32_t type_length, uint64_t length,
                 const char* extra, uint32_t extra_length) {
  out.add("HTTP/1.1 ");
  out.add_number(static_cast<uint64_t>(status));
  out.add(" ");
  out.add(reason(status));
  out.add("\r\nContent-Type: ");
  out.add(type, type_length);
  if (status != 204 && status != 304) {
    out.add("\r\nContent-Length: ");
    out.add_number(length);
  }
  out.add("\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n");
  out.add(extra, extra_length);
  out.add("\r\n");
}

namespace {

// Header lines the server writes itself; a routine's own are dropped.
bool server_header(const char* name, uint32_t n) {
  return same_letters(name, n, "content-length") || same_letters(name, n, "connection") ||
         same_letters(name, n, "transfer-encoding") ||
         same_letters(name, n, "x-content-type-options");
}

bool starts_header_block(const char* text, uint64_t n) {
  auto starts = [&](const char* name) {
    const uint32_t k = text_length(name);
    return n >= k && same_letters(text, k, name);
  };
  return starts("content-type:") || starts("status:");
}

// "Status: 303 See Other": the number, and the reason when one is given.
bool status_line(const char* v, uint32_t n, int& status) {
  if (n < 3) return false;
  status = 0;
  for (int i = 0; i < 3; ++i) {
    if (v[i] < '0' || v[i] > '9') return false;
    status = status * 10 + (v[i] - '0');
  }
  return status >= 200 && status <= 599 && (n == 3 || v[3] == ' ');
}

}  // namespace

bool routine_answer(const char* text, uint64_t n, RoutineAnswer& answer, Text& extra) {
  answer.status = 200;
  answer.type = kDefaultRoutineType;
  answer.type_length = sizeof kDefaultRoutineType - 1;
  answer.body = 0;
  if (!starts_header_block(text, n)) return true;
  uint64_t i = 0;
  while (i < n) {
    uint64_t e = i;
    while (e < n && text[e] != '\n') ++e;
    uint64_t len = e - i;
    if (len > 0 && text[i + len - 1] == '\r') --len;
    const uint64_t next = e < n ? e + 1 : n;
    if (len == 0) {
      answer.body = next;
      return true;
    }
    const char* line = text + i;
    uint32_t colon = 0;
    while (colon < len && line[colon] != ':') {
      if (!is_token_char(static_cast<uint8_t>(line[colon]))) return false;
      ++colon;
    }
    if (colon == 0 || colon == len || len > 8192) return false;
    uint32_t v = colon + 1;
    while (v < len && line[v] == ' ') ++v;
    for (uint64_t k = v; k < len; ++k)
      if (static_cast<uint8_t>(line[k]) < 0x20 && line[k] != '\t') return false;
    const uint32_t value_length = static_cast<uint32_t>(len - v);
    if (same_letters(line, colon, "status")) {
      if (!status_line(line + v, value_length, answer.status)) return false;
    } else if (same_letters(line, colon, "content-type")) {
      answer.type = line + v;
      answer.type_length = value_length;
    } else if (!server_header(line, colon)) {
      extra.add(line, static_cast<uint32_t>(len));
      extra.add("\r\n", 2);
    }
    i = next;
  }
  answer.body = n;  // header lines only, no body
  return !extra.full;
}

}  // namespace qw::www
