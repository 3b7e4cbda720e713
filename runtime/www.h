// HTML server and UDP datagrams.
#pragma once

#include <stdint.h>

#include "item.h"

namespace qw::www {

// Operations of _WWW (r8).
enum Operation : int64_t {
  kOpen = 0, kProcess = 1, kClose = 2, kSendMessage = 3, kReceiveMessage = 4,
};

// Largest body of an answer: the response buffer less the 19-byte header.
inline constexpr uint64_t kMaxBody = 65517;
inline constexpr uint64_t kRequestBufferSize = 2048;
// Seconds a connection may stay silent (or refuse to take an answer)
// before the server gives up on it and serves the next one.
inline constexpr int kConnectionTimeout = 5;

// Prints the start message and listens on the TCP port on all addresses.
void open(int64_t port);

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

void send_message(Word address, Word port, Word message);
void receive_message(Word address, Word port, Word message);

// The relative path of a request line ("GET /path HTTP/1.1"): the text
// after the method's blank and the slash, up to the next blank or "?".
// False when the request has no complete path.
bool request_path(const uint8_t* request, uint64_t length, uint64_t& start, uint64_t& end);

// True when a relative path may be served: not absolute, no ".." part.
bool safe_path(const char* path);

}  // namespace qw::www
