// HTML server: one event loop reads and writes every connection at once
// (non-blocking sockets, epoll), while the program's GET and POST routines
// are called one request at a time, in the order the requests became
// complete, on the program's own thread.
#include "www.h"

#include "bridge.h"
#include "common.h"
#include "kernel.h"
#include "www_connection.h"
#include "www_files.h"
#include "www_idle.h"

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

const char mess1[] = "[000001]Starting HTML Server\n";
const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
constexpr int64_t kNever = INT64_MAX;
constexpr int64_t kAcceptRetryMs = 100;  // out of descriptors: the next try
constexpr uint32_t kEventsAtOnce = 64;

struct EpollEvent {
  uint32_t events;
  uint64_t data;
} __attribute__((packed));

long listen_socket = -1;

// A place in the routine's queue: the slot and its use.
struct Turn {
  uint32_t slot, generation;
};

// What one @WWW PROCESS works with; set up by prepare() (plain data: the
// runtime has no static constructors).
struct Server {
  void* default_file;  // the data of the program's words
  void* exchange;
  Routine get, post;
  long epoll;
  int64_t now;         // valid while clock_read
  bool clock_read;
  int64_t next_sweep;  // the earliest deadline
  bool stopping;
  bool accept_paused;
  uint32_t active;
  uint32_t free_count;
  uint32_t free_slots[kMaxConnections];
  Turn queue[kMaxConnections];
  uint32_t queue_head, queue_count;
};

Server server;
Connection* slots = nullptr;  // kMaxConnections, mapped at the first PROCESS

Word exchange() { return Word(server.exchange); }

int64_t clock_ms() { return monotonic_micros() / 1000; }

// The time, read once after each wait: a request that is read and answered
// at once needs no deadline and no look at the clock.
int64_t now() {
  if (!server.clock_read) server.now = clock_ms();
  server.clock_read = true;
  return server.now;
}

uint32_t slot_of(const Connection& c) { return static_cast<uint32_t>(&c - slots); }

void set_deadline(Connection& c, int64_t when) {
  c.deadline = when;
  if (when < server.next_sweep) server.next_sweep = when;
}

// Registers the connection for the events (0: none).
void watch(Connection& c, uint32_t events) {
  if (c.watching == events) return;
  const long op = c.watching == 0 ? kEpollCtlAdd : events == 0 ? kEpollCtlDel : kEpollCtlMod;
  EpollEvent e = {events, slot_of(c) | static_cast<uint64_t>(c.generation) << 32};
  sys::call4(kEpollCtl, server.epoll, op, c.fd, reinterpret_cast<long>(&e));
  c.watching = events;
}

void watch_listener(bool on) {
  EpollEvent e = {static_cast<uint32_t>(kEpollIn), ~uint64_t{0}};
  sys::call4(kEpollCtl, server.epoll, on ? kEpollCtlAdd : kEpollCtlDel, listen_socket, reinterpret_cast<long>(&e));
  server.accept_paused = !on;
}

void close_connection(Connection& c) {
  release_answer(c);
  sys::close(c.fd);  // also takes it out of epoll
  c.phase = Phase::kFree;
  ++c.generation;
  server.free_slots[server.free_count++] = slot_of(c);
  // The last one gone leaves no deadline: the loop need not read the clock
  // until a connection waits again.
  if (--server.active == 0) server.next_sweep = kNever;
  if (server.accept_paused && !server.stopping) watch_listener(true);
}

// True while the client may still be sending: the rest of a body the
// routine did not take (a GET's too), more than its request, or the rest
// of a refused one.  Closing a connection with unread bytes resets it,
// which can destroy the answer on its way, so they are read and dropped
// first.
bool owes_input(const Connection& c) {
  return !c.ended && (c.linger || c.received != c.announced);
}

// Reads and drops what the client has sent so far.  False when it has sent
// its last byte, or the connection failed.
bool drop_input(Connection& c) {
  static uint8_t dropped[65536];
  for (;;) {
    const long rc = sys::read(c.fd, dropped, sizeof dropped);
    if (rc == kEintr) continue;
    if (rc == kEagain) return true;
    if (rc <= 0) {
      c.ended = true;
      return false;
    }
    c.received += static_cast<uint64_t>(rc);
  }
}

// How long a connection that has its answer may go on sending: a while
// after its last bytes, and no longer than its request's time and that
// (counted from the answer when the request came at once).
void set_linger_deadline(Connection& c) {
  if (!c.heard) {
    c.heard = true;
    c.since = now();
  }
  const int64_t cap = c.since + (kRequestSeconds + kLingerSeconds) * 1000;
  const int64_t when = now() + kLingerSeconds * 1000;
  set_deadline(c, when < cap ? when : cap);
}

// The answer is out: close, or first read what the client still sends.
void finish(Connection& c) {
  release_answer(c);
  if (!owes_input(c)) return close_connection(c);
  sys::call2(kShutdown, c.fd, kShutWr);
  c.phase = Phase::kDraining;
  set_linger_deadline(c);
  watch(c, kEpollIn);
}

// Bytes handed to the kernel that the client has not yet taken.
int64_t unsent(const Connection& c) {
  int n = 0;
  if (sys::call3(kIoctl, c.fd, kSiocoutq, reinterpret_cast<long>(&n)) < 0) return 0;
  return n;
}

// A sending connection has its time for each stretch in which the client
// takes nothing: a slow reader that empties the kernel's queue only a
// little at a time is never cut off.
void set_send_deadline(Connection& c) {
  c.unsent = unsent(c);
  set_deadline(c, now() + kSendSeconds * 1000);
}

void pump(Connection& c) {
  switch (send_answer(c)) {
    case Sent::kAll:
      return finish(c);
    case Sent::kWaiting:
      set_send_deadline(c);
      return watch(c, kEpollOut | (owes_input(c) ? kEpollIn : 0));
    case Sent::kFailed:
      return close_connection(c);
  }
}

// The answer has been composed: send it.
void answer(Connection& c) {
  c.phase = Phase::kSending;
  pump(c);
}

// Answers with the server's own status.  The client may still be sending
// the rest of a request that is refused.
void refuse(Connection& c, int status) {
  c.linger = true;
  answer_status(c, status, server.post != 0);
  answer(c);
}

void enqueue(Connection& c) {
  c.phase = Phase::kQueued;
  c.deadline = kNever;  // it waits for the routine, not for the client
  const uint32_t tail = (server.queue_head + server.queue_count) % kMaxConnections;
  server.queue[tail] = {slot_of(c), c.generation};
  ++server.queue_count;
}

// Answered: the connection closes once the client has sent what it
// announced (a refused request's rest, or more than announced: until it
// stops), or its time is up.
void drain(Connection& c) {
  if (!drop_input(c) || (!c.linger && c.received == c.announced)) return close_connection(c);
  set_linger_deadline(c);
}

// The header is complete: decide what the request needs.
void header_complete(Connection& c, uint32_t end) {
  c.request.header_end = end;
  c.total = end;
  const uint32_t sent = c.length;
  const int status = parse_request(c.buf, c.length, c.request);
  if (status != 0) return refuse(c, status);
  c.received = c.received + c.length - sent;  // counted as the routine sees the request
  c.total = c.request.header_end;
  c.announced = c.total + c.request.body_length;
  c.head_only = c.request.method == Method::kHead;
  if (c.request.method != Method::kPost) {
    if (server.get != 0) return enqueue(c);
    answer_file(c, Word(server.default_file));
    return answer(c);
  }
  if (server.post == 0) return refuse(c, 405);
  c.total += c.request.body_length;
  c.phase = Phase::kBody;
  if (c.request.expects_continue && c.length < c.total)
    sys::call6(kSendto, c.fd, reinterpret_cast<long>(kContinue), sizeof kContinue - 1, kMsgNosignal, 0, 0);
}

// The client will send nothing more.
void client_ended(Connection& c) {
  c.ended = true;
  if (c.phase == Phase::kReading && c.length == 0) return close_connection(c);
  if (c.phase == Phase::kReading || c.phase == Phase::kBody) return refuse(c, 400);
  // kMore: its turn in the queue comes back to it and finds nothing more.
}

// A connection about to wait for its client: the idle limit until its
// first byte, then the request's limit counted from that byte.
void time_input(Connection& c) {
  const bool spoken = c.length > 0 || c.base > 0;
  if (spoken && !c.heard) {
    c.heard = true;
    c.since = now();
    set_deadline(c, c.since + kRequestSeconds * 1000);
  } else if (!spoken && c.deadline == kNever) {
    // Silent when taken: the kernel held it back for its first bytes.
    c.since = now() - kHeldBackSeconds * 1000;
    set_deadline(c, c.since + kIdleSeconds * 1000);
  }
}

// Reads what the client has sent and moves its request on.
void read_request(Connection& c) {
  while (c.length < kRequestBufferSize) {
    const uint32_t space = kRequestBufferSize - c.length;
    const long rc = sys::read(c.fd, c.buf + c.length, space);
    if (rc == kEintr) continue;
    if (rc == kEagain) break;
    if (rc == 0) return client_ended(c);
    if (rc < 0) return close_connection(c);
    c.length += static_cast<uint32_t>(rc);
    c.received += static_cast<uint64_t>(rc);
    if (static_cast<uint32_t>(rc) < space) break;  // the kernel had no more just now
  }
  if (c.phase == Phase::kReading) {
    const uint32_t end = header_end(c.buf, c.scanned, c.length);
    c.scanned = c.length > 2 ? c.length - 2 : 0;
    if (end != 0) {
      header_complete(c, end);
    } else if (c.length >= kRequestBufferSize) {
      // No line end at all: the request line alone is too long.
      bool line_ended = false;
      for (uint32_t i = 0; i < c.length && !line_ended; ++i) line_ended = c.buf[i] == '\n';
      return refuse(c, line_ended ? 431 : 414);
    }
  }
  if (c.phase == Phase::kBody && (c.length >= c.total || c.length >= kRequestBufferSize)) enqueue(c);
  if (c.phase == Phase::kReading || c.phase == Phase::kBody) time_input(c);
  if (c.phase == Phase::kReading || c.phase == Phase::kBody || c.phase == Phase::kMore)
    watch(c, kEpollIn);
}

void start_connection(long fd) {
  Connection& c = slots[server.free_slots[--server.free_count]];
  ++server.active;
  c.fd = fd;
  c.phase = Phase::kReading;
  c.watching = 0;
  c.head_only = c.ended = c.linger = c.heard = c.part_open = false;
  c.since = 0;
  c.deadline = kNever;  // until it has to wait
  c.length = c.scanned = 0;
  c.base = c.delivered = c.total = c.part = c.received = c.announced = 0;
  c.out = c.out_end = 0;
  c.spill = nullptr;
  c.spill_at = c.spill_end = c.spill_size = 0;
  c.file = -1;
  c.file_at = c.file_end = 0;
  read_request(c);
}

// Makes room for a new connection by closing the one that has been sending
// its request the longest.  False when every connection has its request in.
bool evict_slowest() {
  Connection* oldest = nullptr;
  for (uint32_t i = 0; i < kMaxConnections; ++i) {
    Connection& c = slots[i];
    if ((c.phase == Phase::kReading || c.phase == Phase::kBody) && (oldest == nullptr || c.since < oldest->since))
      oldest = &c;
  }
  if (oldest == nullptr) return false;
  close_connection(*oldest);
  return true;
}

// Takes one connection from the kernel's queue, if it holds one.  The
// listener is watched level-triggered, so the next wait reports it again
// while more are queued.  True when a connection was taken.
bool accept_connection() {
  while (!server.stopping && !server.accept_paused) {
    if (server.free_count == 0 && !evict_slowest()) {
      watch_listener(false);
      return false;
    }
    const long fd = sys::call4(kAccept4, listen_socket, 0, 0, kSockNonblock | kSockCloexec);
    if (fd >= 0) {
      start_connection(fd);
      return true;
    }
    switch (fd) {
      case kEagain:
        return false;
      case kEintr: case kEconnaborted: case kEconnreset: case kEproto:
        continue;  // a client that gave up before being accepted
      case kEmfile: case kEnfile: case kEnobufs: case kEnomem:
        // Out of descriptors or memory for now.
        if (!evict_slowest()) {
          watch_listener(false);
          return false;
        }
        continue;
      default:
        fail(listen_socket, fd);
    }
  }
  return false;
}

// Bytes one call of the routine receives: a POST routine at most
// kPostPiece, as the request comes in reads of that size; a GET routine
// as much as the word holds.
uint64_t piece_size(const Connection& c) {
  const uint64_t size = exchange().length();
  return c.request.method == Method::kPost && size > kPostPiece ? kPostPiece : size;
}

// Places the request's next bytes into the exchange word, behind what the
// part holds so far (a part begins with the word blanked; zero bytes become
// blanks).  True when the part is complete: it has its full size, or the
// request has no more.  So a part shorter than that is the last.
bool fill_part(Connection& c) {
  const Word w = exchange();
  const uint64_t size = piece_size(c);
  char* out = w.text();
  if (!c.part_open) {
    __builtin_memset(out, ' ', w.length());
    c.part = 0;
    c.part_open = true;
  }
  const uint64_t held = c.base + c.length < c.total ? c.base + c.length : c.total;
  uint64_t n = held - c.delivered;
  if (n > size - c.part) n = size - c.part;
  const uint8_t* from = c.buf + (c.delivered - c.base);
  for (uint64_t i = 0; i < n; ++i) out[c.part + i] = from[i] == 0 ? ' ' : static_cast<char>(from[i]);
  c.part += n;
  c.delivered += n;
  return c.part == size || c.delivered == c.total;
}

// The part is not complete and the client has not sent the rest yet: make
// room and read on for it, within the request's time.
void wait_for_more(Connection& c) {
  const uint64_t used = c.delivered - c.base;
  __builtin_memmove(c.buf, c.buf + used, c.length - used);
  c.length -= static_cast<uint32_t>(used);
  c.base = c.delivered;
  c.phase = Phase::kMore;
  if (!c.heard) {
    c.heard = true;
    c.since = now();
  }
  set_deadline(c, c.since + kRequestSeconds * 1000);
  watch(c, kEpollIn);
}

void begin_stop() {
  server.stopping = true;
  close();  // no more connections; the kernel drops the listener from epoll
  for (uint32_t i = 0; i < kMaxConnections; ++i) {
    Connection& c = slots[i];
    if (c.phase == Phase::kReading || c.phase == Phase::kBody) close_connection(c);
  }
}

// The request's turn with the routine.  False while the routine waits for
// more of the request.
bool take_turn(Connection& c) {
  const bool post = c.request.method == Method::kPost;
  const Routine routine = post ? server.post : server.get;
  Number rc = return_code();
  for (;;) {
    if (!fill_part(c)) {
      if (c.ended) {
        refuse(c, 400);  // the client stopped before the end of its body
        return true;
      }
      wait_for_more(c);
      return false;
    }
    c.part_open = false;
    const bool last = c.part < piece_size(c);
    // Each call starts from "serve the file"; a value left over from the
    // previous request is not an answer to this one.
    rc.set_value(0);
    qw_www_call_routine(routine);
    server.clock_read = false;  // the routine may have taken its time
    if (error_code().value() == kStopServing) {
      begin_stop();
      answer_text(c, "", 0);
      answer(c);
      return true;
    }
    if (!post || rc.value() != kMoreToRead) break;
    if (last) {
      refuse(c, 400);  // the routine asked for more than the request holds
      return true;
    }
  }
  if (listen_socket < 0 && !server.stopping) begin_stop();  // the routine closed the server
  const int64_t count = rc.value();
  if (count > 0) {
    const uint64_t size = exchange().length();
    const uint64_t n = static_cast<uint64_t>(count) < size ? static_cast<uint64_t>(count) : size;
    answer_text(c, exchange().text(), n);
  } else {
    answer_file(c, Word(server.default_file));
  }
  answer(c);
  return true;
}

// Gives the complete requests their turns, in order.
void serve_queue() {
  while (server.queue_count > 0) {
    const Turn t = server.queue[server.queue_head];
    Connection& c = slots[t.slot];
    const bool waiting = c.generation == t.generation && (c.phase == Phase::kQueued || c.phase == Phase::kMore);
    if (waiting) {
      if (server.stopping) {
        refuse(c, 503);
      } else if (!take_turn(c)) {
        return;
      }
    }
    server.queue_head = (server.queue_head + 1) % kMaxConnections;
    --server.queue_count;
  }
}

// A connection whose time in its phase ran out.
void expire(Connection& c) {
  switch (c.phase) {
    case Phase::kReading:
      if (c.length == 0 && c.base == 0) return close_connection(c);  // never said anything
      return refuse(c, 408);
    case Phase::kBody: case Phase::kMore:
      return refuse(c, 408);
    case Phase::kSending:
      if (unsent(c) < c.unsent) return set_send_deadline(c);  // it is still taking bytes
      return close_connection(c);
    default:
      return close_connection(c);  // it takes no answer, or will not stop sending
  }
}

void sweep() {
  server.next_sweep = kNever;
  for (uint32_t i = 0; i < kMaxConnections; ++i) {
    Connection& c = slots[i];
    if (c.phase == Phase::kFree || c.phase == Phase::kQueued) continue;
    if (c.deadline <= now()) expire(c);
    if (c.phase != Phase::kFree && c.phase != Phase::kQueued && c.deadline < server.next_sweep)
      server.next_sweep = c.deadline;
  }
}

void on_event(const EpollEvent& e) {
  if (e.data == ~uint64_t{0}) {
    accept_connection();
    return;
  }
  Connection& c = slots[e.data & 0xffffffff];
  if (c.generation != (e.data >> 32) || c.phase == Phase::kFree) return;  // an event of the slot's last use
  switch (c.phase) {
    case Phase::kReading: case Phase::kBody: case Phase::kMore:
      return read_request(c);
    case Phase::kSending:
      if ((e.events & kEpollIn) != 0) drop_input(c);
      return pump(c);
    case Phase::kDraining:
      return drain(c);
    default:
      return watch(c, 0);  // queued: its turn comes without the client
  }
}

void prepare(Word default_file, Word exchange, Routine get, Routine post) {
  server.default_file = default_file.data();
  server.exchange = exchange.data();
  server.get = get;
  server.post = post;
  server.stopping = server.accept_paused = server.clock_read = false;
  server.next_sweep = kNever;
  server.epoll = sys::call1(kEpollCreate1, kEpollCloexec);
  if (server.epoll < 0) fatal_kernel(server.epoll);
  if (slots == nullptr) {
    const long bytes = static_cast<long>(sizeof(Connection)) * kMaxConnections;
    const long map = sys::call6(kMmap, 0, bytes, kProtReadWrite, kMapPrivateAnonymous, -1, 0);
    if (map < 0) fatal_kernel(map);
    slots = reinterpret_cast<Connection*>(map);
  }
  server.free_count = 0;
  for (uint32_t i = kMaxConnections; i-- > 0;) {
    slots[i].phase = Phase::kFree;
    server.free_slots[server.free_count++] = i;
  }
  server.active = 0;
  server.queue_head = server.queue_count = 0;
}

}  // namespace

void close() {
  if (listen_socket >= 0) sys::close(listen_socket);
  listen_socket = -1;
}

void open(int64_t port, const Word* address, Port port_use) {
  sys::write(StdOutHandle, mess1, sizeof mess1 - 1);
  if (port < 0 || port > 65535) fatal_kernel(kEinval);
  SockAddr addr = {static_cast<uint16_t>(kAfInet), network16(static_cast<uint64_t>(port)), 0, {}};
  if (address != nullptr && !parse_address(address->text(), address->length(), addr.sin_addr))
    fatal_kernel(kEinval);  // not a dotted IPv4 address
  close();  // a second open replaces the first
  listen_socket = sys::call3(kSocket, kAfInet, long{kSockStream} | kSockNonblock | kSockCloexec, 0);
  if (listen_socket < 0) {
    const long rc = listen_socket;
    listen_socket = -1;
    fatal_kernel(rc);
  }
  const int one = 1;
  sys::call5(kSetsockopt, listen_socket, kSolSocket, kSoReuseaddr, reinterpret_cast<long>(&one), sizeof one);
  // Without it, a port another process listens on is "Address already in use".
  if (port_use == Port::kShared)
    sys::call5(kSetsockopt, listen_socket, kSolSocket, kSoReuseport, reinterpret_cast<long>(&one), sizeof one);
  // The kernel hands a connection over once its first bytes are in (or it
  // has been silent for kHeldBackSeconds), so that one wake-up of the
  // server takes and reads it: a request is answered without waiting
  // for it in between.
  const int held_back = kHeldBackSeconds;
  sys::call5(kSetsockopt, listen_socket, kIpprotoTcp, kTcpDeferAccept, reinterpret_cast<long>(&held_back),
             sizeof held_back);
  long rc = sys::call3(kBind, listen_socket, reinterpret_cast<long>(&addr), sizeof addr);
  if (rc < 0) fail(listen_socket, rc);
  rc = sys::call2(kListen, listen_socket, 100000000);
  if (rc < 0) fail(listen_socket, rc);
}

void process(Word default_file, Word exchange, Routine get, Routine post) {
  if (listen_socket < 0) fatal_kernel(kEbadf);  // serving before opening
  prepare(default_file, exchange, get, post);
  watch_listener(true);
  EpollEvent events[kEventsAtOnce];
  while (!server.stopping || server.active > 0) {
    if (server.active == 0 && !server.accept_paused) {
      // No connection, so no deadline: only a new connection can need the
      // server.  One already queued is taken at once; otherwise the server
      // waits for one on the listener alone.
      server.clock_read = false;
      if (!accept_connection() && !server.stopping && !server.accept_paused) {
        wait_for_connection(listen_socket);
        accept_connection();
      }
      serve_queue();
      continue;
    }
    int64_t wait = -1;  // nothing to wait for but new connections
    if (server.active > 0 && server.next_sweep != kNever) {
      wait = server.next_sweep - now();
      if (wait < 0) wait = 0;
    } else if (server.active == 0 && server.accept_paused) {
      // Out of descriptors with no connection to give one back: accepting
      // is tried again after a while rather than never.
      wait = kAcceptRetryMs;
    }
    const long n = sys::call4(kEpollWait, server.epoll, reinterpret_cast<long>(events), kEventsAtOnce, wait);
    if (n < 0 && n != kEintr) fatal_kernel(n);
    server.clock_read = false;
    for (long i = 0; i < n; ++i) on_event(events[i]);
    if (server.next_sweep != kNever && now() >= server.next_sweep) sweep();
    serve_queue();  // after the sweep, which may have ended the request holding the queue up
    if (server.active == 0 && server.accept_paused && !server.stopping) watch_listener(true);
  }
  sys::close(server.epoll);
  server.epoll = -1;
  forget_files();
}

}  // namespace qw::www

// _WWW: r8 operation; registers per operation.
QW_ENTRY(_WWW, bridge_WWW);
extern "C" void bridge_WWW(qw::Regs& r) {
  auto word = [](uint64_t a) { return qw::Word(reinterpret_cast<void*>(a)); };
  switch (static_cast<int64_t>(r.r8)) {
    case qw::www::kOpen:
      qw::www::open(qw::load64(reinterpret_cast<void*>(r.r9)), nullptr, qw::www::Port::kOwn);
      break;
    case qw::www::kOpenAt: {
      const qw::Word address = word(r.r10);
      qw::www::open(qw::load64(reinterpret_cast<void*>(r.r9)), &address, qw::www::Port::kOwn);
      break;
    }
    case qw::www::kOpenShared: {
      const qw::Word address = word(r.r10);
      qw::www::open(qw::load64(reinterpret_cast<void*>(r.r9)), r.r10 != 0 ? &address : nullptr,
                    qw::www::Port::kShared);
      break;
    }
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
      qw::fatal_kernel(qw::sys::kEinval);  // no such operation
  }
}
