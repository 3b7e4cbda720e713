// HTML server and UDP datagrams.
#pragma once

#include <stdint.h>

#include "item.h"

namespace qw::www {

// Operations of _WWW (r8).
// kOpen listens on all addresses (r9 the port's number, nothing else is
// read); kOpenAt on the dotted IPv4 address of the word in r10.
// kOpenShared listens as either (r10 the address word, or 0 for all
// addresses) on a port that other processes opening it the same way share:
// the kernel spreads the connections over them.
enum Operation : int64_t {
  kOpen = 0, kProcess = 1, kClose = 2, kSendMessage = 3, kReceiveMessage = 4, kOpenAt = 5, kOpenShared = 6,
};

// Bytes of a request the server holds at once: the request line and
// header lines must fit (431 otherwise); a POST body beyond them reaches
// the routine in parts.
inline constexpr uint32_t kRequestBufferSize = 16384;
// Bytes of the request one call of the POST routine receives at most: the
// first call the request as read (its header lines included), each call
// after a 23 the next bytes of the body.  Every part but the last is full
// (this size, or the word's Length when that is shorter).
inline constexpr uint64_t kPostPiece = 2048;
// Connections served at once; more wait in the kernel's queue.
inline constexpr uint32_t kMaxConnections = 1000;
// Seconds a connection may stay silent before its first byte, and seconds
// from its first byte until the whole request has come.
inline constexpr int kIdleSeconds = 5;
inline constexpr int kRequestSeconds = 10;
// Seconds the kernel holds a new connection back until its first bytes
// come: one that is still silent then is handed over and has the rest of
// its kIdleSeconds.
inline constexpr int kHeldBackSeconds = 1;
// Seconds an answer may stand still because the client takes nothing.
inline constexpr int kSendSeconds = 10;
// Seconds the server goes on reading and dropping what a client still sends
// after its answer, so that closing does not destroy the answer.
inline constexpr int kLingerSeconds = 2;

// RETURN_CODE values of the routines.
inline constexpr int64_t kMoreToRead = 23;
inline constexpr int64_t kStopServing = 99;  // in ERROR_CODE

// Prints the start message and listens on the TCP port, on the dotted IPv4
// address of the word (all addresses when there is none).  A shared port
// may have other processes listening on it that asked for sharing too.
enum class Port : uint8_t { kOwn, kShared };
void open(int64_t port, const Word* address, Port port_use);

// The program's routine for GET or POST requests; 0 when there is none.
using Routine = uint64_t;

// Serves requests until a routine sets ERROR_CODE 99.
void process(Word default_file, Word exchange, Routine get, Routine post);

void close();

// Parses the dotted IPv4 address and port texts of a word (trailing
// blanks ignored) into network byte order.  False when the text is not an
// address or a port.
bool parse_address(const char* text, uint64_t length, uint32_t& address);
bool parse_port(const char* text, uint64_t length, uint16_t& port);
uint16_t network16(uint64_t v);

// An IPv4 socket address in the kernel's layout.
struct SockAddr {
  uint16_t sin_family;
  uint16_t sin_port;
  uint32_t sin_addr;
  uint8_t filler[8];
};

// Closes the socket in hand and ends the program with the kernel error.
[[noreturn]] void fail(long& socket, long rc);

void send_message(Word address, Word port, Word message);
void receive_message(Word address, Word port, Word message);

}  // namespace qw::www
