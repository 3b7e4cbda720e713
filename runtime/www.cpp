// HTML server: a blocking accept-and-serve loop answering each request with
// a file of the working directory or with text of the program's own GET and
// POST routines; single UDP datagrams.
#include "www.h"

#include "bridge.h"
#include "common.h"
#include "item.h"
#include "kernel.h"

// Calls a routine of the translated program.  Translated code keeps no
// register across a call, so every register the C++ side relies on is
// saved here, and the stack is aligned for the call.
asm(R"(
  .text
  .globl qw_www_call_routine
  .type qw_www_call_routine, @function
qw_www_call_routine:
  push %rbx
  push %rbp
  push %r12
  push %r13
  push %r14
  push %r15
  mov %rsp, qw_www_saved_rsp(%rip)
  and $-16, %rsp
  call *%rdi
  mov qw_www_saved_rsp(%rip), %rsp
  cld
  pop %r15
  pop %r14
  pop %r13
  pop %r12
  pop %rbp
  pop %rbx
  ret
  .size qw_www_call_routine, .-qw_www_call_routine
  .local qw_www_saved_rsp
  .comm qw_www_saved_rsp, 8, 8
)");
extern "C" void qw_www_call_routine(uint64_t routine);

namespace qw::www {

namespace {

using namespace qw::sys;  // call numbers, flags and error values

constexpr uint64_t kHeaderLength = 19;
constexpr int64_t kMoreToRead = 23;
constexpr int64_t kStopServing = 99;

const char mess1[] = "[000001]Starting HTML Server\n";
const char noContent[] = "HTTP/1.1 204 OK\r\n\r\n";

struct SockAddr {
  uint16_t sin_family;
  uint16_t sin_port;
  uint32_t sin_addr;
  uint8_t filler[8];
};

struct TimeVal {
  long sec, usec;
};

struct OpenHow {
  uint64_t flags, mode, resolve;
};

struct Stat {
  uint64_t st_dev, st_ino, st_nlink;
  uint32_t st_mode, st_uid, st_gid, pad0;
  uint64_t st_rdev;
  int64_t st_size, st_blksize, st_blocks;
  uint64_t times[6];
  int64_t reserved[3];
};

uint8_t response[65536] = "HTTP/1.1 200 OK\r\n\r\n";
uint8_t inBuffer[kRequestBufferSize];
uint64_t inBuffer_len = 0;
long listen_socket = -1;
long accept_socket = -1;
char file_path[kRequestBufferSize + 256];

uint16_t network16(uint64_t v) {
  return static_cast<uint16_t>(((v & 0xff) << 8) | ((v >> 8) & 0xff));
}

// Fails fatally with the kernel error after closing the socket in hand.
[[noreturn]] void fail(long& socket, long rc) {
  if (socket >= 0) sys::close(socket);
  socket = -1;
  fatal_kernel(rc);
}

void send_all(const void* p, uint64_t n) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  while (n > 0) {
    const long rc = sys::call6(sys::kSendto, accept_socket, reinterpret_cast<long>(b),
                               static_cast<long>(n), kMsgNosignal, 0, 0);
    if (rc == kEintr) continue;
    if (rc <= 0) return;  // the client is gone or does not take the answer
    b += rc;
    n -= static_cast<uint64_t>(rc);
  }
}

// Reads into inBuffer until the header ends, the buffer is full, the client
// stops sending or the connection's time runs out.  Returns the bytes read.
uint64_t read_request() {
  uint64_t n = 0;
  while (n < kRequestBufferSize) {
    const long rc = sys::read(accept_socket, inBuffer + n, static_cast<long>(kRequestBufferSize - n));
    if (rc == kEintr) continue;
    if (rc <= 0) break;
    n += static_cast<uint64_t>(rc);
    // A complete header ends the read; so does any POST data after it.
    bool complete = false;
    for (uint64_t i = 3; i < n && !complete; ++i)
      complete = inBuffer[i - 3] == '\r' && inBuffer[i - 2] == '\n' && inBuffer[i - 1] == '\r' &&
                 inBuffer[i] == '\n';
    if (complete) break;
  }
  inBuffer_len = n;
  return n;
}

// Copies the request into the exchange word (blanked first, zero bytes as
// blanks), cut at the word's Length.
void copy_request(Word exchange) {
  const uint64_t size = exchange.length();
  char* out = exchange.text();
  for (uint64_t i = 0; i < size; ++i) {
    const uint8_t c = i < inBuffer_len ? inBuffer[i] : ' ';
    out[i] = c == 0 ? ' ' : static_cast<char>(c);
  }
}

// Opens a relative path for reading without leaving the working directory,
// through symbolic links neither.
long open_beneath(const char* path) {
  OpenHow how = {static_cast<uint64_t>(kOCloexec), 0,
                 static_cast<uint64_t>(kResolveBeneath | kResolveNoMagiclinks)};
  long fd = sys::call4(kOpenat2, kAtFdcwd, reinterpret_cast<long>(path), reinterpret_cast<long>(&how),
                       sizeof how);
  if (fd != kEnosys) return fd;
  // Older kernels: walk the path a part at a time and follow no link.
  long dir = kAtFdcwd;
  char part[256];
  const char* p = path;
  for (;;) {
    uint64_t n = 0;
    while (*p != 0 && *p != '/' && n < sizeof part - 1) part[n++] = *p++;
    part[n] = 0;
    if (*p != 0 && *p != '/') {
      if (dir != kAtFdcwd) sys::close(dir);
      return -36;  // a part longer than any name
    }
    const bool last = *p == 0;
    while (*p == '/') ++p;
    const long flags = kONofollow | kOCloexec | (last ? 0 : kODirectory);
    fd = sys::call4(sys::kOpenat, dir, reinterpret_cast<long>(part), flags, 0);
    if (dir != kAtFdcwd) sys::close(dir);
    if (fd < 0 || last) return fd;
    dir = fd;
  }
}

// Serves the file; false when there is nothing to serve (204).
bool serve_file(Word default_file) {
  uint64_t start = 0, end = 0;
  if (!request_path(inBuffer, inBuffer_len, start, end)) return false;
  uint64_t n = 0;
  if (end == start) {
    const char* name = default_file.text();
    uint64_t len = default_file.length();
    while (len > 0 && name[len - 1] == ' ') --len;
    if (len > 255) len = 255;
    for (; n < len; ++n) file_path[n] = name[n];
  } else {
    for (uint64_t i = start; i < end; ++i) file_path[n++] = static_cast<char>(inBuffer[i]);
  }
  file_path[n] = 0;
  if (n == 0 || !safe_path(file_path)) return false;
  const long fd = open_beneath(file_path);
  if (fd < 0) return false;
  Stat st;
  if (sys::call2(sys::kFstat, fd, reinterpret_cast<long>(&st)) < 0 ||
      (st.st_mode & 0170000) != 0100000) {
    sys::close(fd);  // only regular files are served
    return false;
  }
  uint64_t body = 0;
  while (body < kMaxBody) {
    const long rc = sys::read(fd, response + kHeaderLength + body, static_cast<long>(kMaxBody - body));
    if (rc == kEintr) continue;
    if (rc <= 0) break;
    body += static_cast<uint64_t>(rc);
  }
  sys::close(fd);
  send_all(response, kHeaderLength + body);
  return true;
}

void answer_text(Word exchange, int64_t count) {
  uint64_t n = static_cast<uint64_t>(count);
  if (n > exchange.length()) n = exchange.length();
  if (n > kMaxBody) n = kMaxBody;
  const char* text = exchange.text();
  for (uint64_t i = 0; i < n; ++i) response[kHeaderLength + i] = static_cast<uint8_t>(text[i]);
  send_all(response, kHeaderLength + n);
}

void end_connection() {
  // Data the client sent beyond what was read would make closing reset the
  // connection, which can destroy the answer before the client reads it.
  if (inBuffer_len == kRequestBufferSize || inBuffer[0] == 'P') {
    sys::call2(sys::kShutdown, accept_socket, 1);
    for (int i = 0; i < 16; ++i) {
      if (sys::call6(sys::kRecvfrom, accept_socket, reinterpret_cast<long>(inBuffer),
                     kRequestBufferSize, kMsgDontwait, 0, 0) <= 0)
        break;
    }
  }
  sys::close(accept_socket);
  accept_socket = -1;
}

// Waits for the next connection; the kernel's error when there can be
// none (the listening socket is gone).
long accept_next() {
  for (;;) {
    const long fd = sys::call3(sys::kAccept, listen_socket, 0, 0);
    if (fd >= 0) {
      accept_socket = fd;
      return 0;
    }
    // A timed-out wait, an interrupted call, a client that gave up before
    // being accepted, or a passing shortage of descriptors or memory: wait
    // again.
    switch (fd) {
      case kEagain: case kEintr: case kEconnaborted: case kEconnreset: case kEproto:
      case kEmfile: case kEnfile: case kEnobufs: case kEnomem:
        if (fd == kEmfile || fd == kEnfile || fd == kEnobufs || fd == kEnomem) {
          const TimeVal pause = {0, 100000};
          sys::call2(sys::kNanosleep, reinterpret_cast<long>(&pause), 0);
        }
        continue;
      default:
        return fd;
    }
  }
}

}  // namespace

bool request_path(const uint8_t* r, uint64_t n, uint64_t& start, uint64_t& end) {
  uint64_t i = 0;
  while (i < n && r[i] != ' ' && r[i] != 0) ++i;  // the method
  if (i + 1 >= n || r[i] != ' ' || r[i + 1] != '/') return false;
  start = i + 2;
  uint64_t j = start;
  while (j < n && r[j] != ' ' && r[j] != 0 && r[j] != '\r' && r[j] != '\n') ++j;
  if (j >= n || r[j] != ' ') return false;  // the path is not complete
  end = j;
  for (uint64_t k = start; k < j; ++k)
    if (r[k] == '?' || r[k] == '#') {
      end = k;
      break;
    }
  return true;
}

bool safe_path(const char* path) {
  if (path[0] == '/') return false;
  const char* p = path;
  while (*p != 0) {
    const char* part = p;
    while (*p != 0 && *p != '/') ++p;
    if (p - part == 2 && part[0] == '.' && part[1] == '.') return false;
    if (*p == '/') ++p;
  }
  return true;
}

void close() {
  if (listen_socket >= 0) sys::close(listen_socket);
  listen_socket = -1;
}

void open(int64_t port) {
  sys::write(StdOutHandle, mess1, sizeof mess1 - 1);
  if (port < 0 || port > 65535) fatal_kernel(-22);
  close();  // a second open replaces the first
  listen_socket = sys::call3(sys::kSocket, kAfInet, kSockStream | kOCloexec, 0);
  if (listen_socket < 0) {
    const long rc = listen_socket;
    listen_socket = -1;
    fatal_kernel(rc);
  }
  const int one = 1;
  sys::call5(sys::kSetsockopt, listen_socket, kSolSocket, kSoReuseaddr, reinterpret_cast<long>(&one),
             sizeof one);
  // Accepted connections take these over: a silent client or one that
  // takes no answer holds the server up for a bounded time only.
  const TimeVal limit = {kConnectionTimeout, 0};
  sys::call5(sys::kSetsockopt, listen_socket, kSolSocket, kSoRcvtimeo, reinterpret_cast<long>(&limit),
             sizeof limit);
  sys::call5(sys::kSetsockopt, listen_socket, kSolSocket, kSoSndtimeo, reinterpret_cast<long>(&limit),
             sizeof limit);
  SockAddr addr = {static_cast<uint16_t>(kAfInet), network16(static_cast<uint64_t>(port)), 0, {}};
  long rc = sys::call3(sys::kBind, listen_socket, reinterpret_cast<long>(&addr), sizeof addr);
  if (rc < 0) fail(listen_socket, rc);
  rc = sys::call2(sys::kListen, listen_socket, 100000000);
  if (rc < 0) fail(listen_socket, rc);
}

void process(Word default_file, Word exchange, Routine get, Routine post) {
  Number rc = return_code();
  if (listen_socket < 0) fatal_kernel(-9);  // serving before opening
  while (listen_socket >= 0) {
    const long failed = accept_next();
    if (failed < 0) fail(listen_socket, failed);
    read_request();
    // Each request starts from "serve a file"; a value left over from the
    // previous request is not an answer to this one.
    rc.set_value(0);
    bool answered = false;
    if (inBuffer_len > 0) {
      const Routine routine = inBuffer[0] == 'G' ? get : inBuffer[0] == 'P' ? post : 0;
      while (routine != 0) {
        copy_request(exchange);
        qw_www_call_routine(routine);
        if (routine != post || rc.value() != kMoreToRead) break;
        // The POST routine needs more of the request.
        rc.set_value(0);
        inBuffer_len = 0;
        for (;;) {
          const long got = sys::read(accept_socket, inBuffer, kRequestBufferSize);
          if (got == kEintr) continue;
          if (got > 0) inBuffer_len = static_cast<uint64_t>(got);
          break;
        }
        if (inBuffer_len == 0) {
          // The client stopped sending before the routine had it all.
          send_all(noContent, kHeaderLength);
          answered = true;
          break;
        }
      }
    }
    if (!answered) {
      if (error_code().value() == kStopServing) {
        send_all(response, kHeaderLength);
        end_connection();
        close();
        return;
      }
      const int64_t count = rc.value();
      if (count > 0) {
        answer_text(exchange, count);
      } else if (inBuffer_len == 0 || !serve_file(default_file)) {
        if (inBuffer_len > 0) send_all(noContent, kHeaderLength);
      }
    }
    end_connection();
  }
}

bool parse_address(const char* text, uint64_t length, uint32_t& address) {
  while (length > 0 && text[length - 1] == ' ') --length;
  if (length == 0) return false;
  uint32_t parts[4] = {0, 0, 0, 0};
  int part = 3, digits = 0;
  uint32_t scale = 1;
  for (uint64_t i = length; i-- > 0;) {
    const char c = text[i];
    if (c == '.') {
      if (digits == 0 || part == 0) return false;
      --part;
      digits = 0;
      scale = 1;
    } else if (c >= '0' && c <= '9') {
      if (++digits > 3) return false;
      parts[part] += static_cast<uint32_t>(c - '0') * scale;
      scale *= 10;
      if (parts[part] > 255) return false;
    } else {
      return false;
    }
  }
  if (digits == 0 || part != 0) return false;
  address = parts[0] | parts[1] << 8 | parts[2] << 16 | parts[3] << 24;
  return true;
}

bool parse_port(const char* text, uint64_t length, uint16_t& port) {
  while (length > 0 && text[length - 1] == ' ') --length;
  if (length == 0 || length > 5) return false;
  uint64_t v = 0;
  for (uint64_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  if (v > 65535) return false;
  port = network16(v);
  return true;
}

namespace {

SockAddr datagram_address(Word address, Word port) {
  SockAddr a = {static_cast<uint16_t>(kAfInet), 0, 0, {}};
  if (!parse_address(address.text(), address.length(), a.sin_addr) ||
      !parse_port(port.text(), port.length(), a.sin_port))
    fatal_kernel(-22);  // not an address: invalid argument
  return a;
}

}  // namespace

void send_message(Word address, Word port, Word message) {
  const SockAddr a = datagram_address(address, port);
  long sock = sys::call3(sys::kSocket, kAfInet, kSockDgram | kOCloexec, 0);
  if (sock < 0) fatal_kernel(sock);
  long rc = sys::call3(sys::kConnect, sock, reinterpret_cast<long>(&a), sizeof a);
  if (rc < 0) fail(sock, rc);
  do {
    rc = sys::call6(sys::kSendto, sock, reinterpret_cast<long>(message.text()),
                    static_cast<long>(message.length()), kMsgNosignal, 0, 0);
  } while (rc == kEintr);
  if (rc < 0) fail(sock, rc);
  sys::close(sock);
}

void receive_message(Word address, Word port, Word message) {
  const SockAddr a = datagram_address(address, port);
  long sock = sys::call3(sys::kSocket, kAfInet, kSockDgram | kOCloexec, 0);
  if (sock < 0) fatal_kernel(sock);
  const int one = 1;
  sys::call5(sys::kSetsockopt, sock, kSolSocket, kSoReuseaddr, reinterpret_cast<long>(&one), sizeof one);
  long rc = sys::call3(sys::kBind, sock, reinterpret_cast<long>(&a), sizeof a);
  if (rc < 0) fail(sock, rc);
  do {
    rc = sys::call6(sys::kRecvfrom, sock, reinterpret_cast<long>(message.text()),
                    static_cast<long>(message.length()), 0, 0, 0);
  } while (rc == kEintr);
  if (rc < 0) fail(sock, rc);
  // A shorter message than the last one leaves no old text behind it.
  for (uint64_t i = static_cast<uint64_t>(rc); i < message.length(); ++i) message.text()[i] = ' ';
  sys::close(sock);
}

}  // namespace qw::www

// _WWW: r8 operation; registers per operation.
QW_ENTRY(_WWW, bridge_WWW);
extern "C" void bridge_WWW(qw::Regs& r) {
  auto word = [](uint64_t a) { return qw::Word(reinterpret_cast<void*>(a)); };
  switch (static_cast<int64_t>(r.r8)) {
    case qw::www::kOpen:
      qw::www::open(qw::load64(reinterpret_cast<void*>(r.r9)));
      break;
    case qw::www::kProcess:
      qw::www::process(word(r.r9), word(r.r10), r.r11, r.r12);
      break;
    case qw::www::kClose:
      qw::www::close();
      break;
    case qw::www::kSendMessage:
      qw::www::send_message(word(r.r9), word(r.r10), word(r.r11));
      break;
    case qw::www::kReceiveMessage:
      qw::www::receive_message(word(r.r9), word(r.r10), word(r.r11));
      break;
    default:
      qw::fatal_kernel(-22);  // no such operation
  }
}
