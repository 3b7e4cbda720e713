// One client connection of the HTML server: where its request stands and
// what of its answer is still to be sent.  Shared by the event loop
// (www.cpp) and the answers (www_answer.cpp).
#pragma once

#include <stdint.h>

#include "item.h"
#include "www.h"
#include "www_http.h"

namespace qw::www {

enum class Phase : uint8_t {
  kFree,      // the slot is unused
  kReading,   // reading the request line and header lines
  kBody,      // a POST: reading its body before the routine sees it
  kQueued,    // complete, waiting for its turn with the program's routine
  kMore,      // its turn: the routine's next part waits for the client's bytes
  kSending,   // the answer is going out; what the client still sends is dropped
  kDraining,  // answered; reading and dropping what the client still sends
};

struct Connection {
  long fd;
  uint32_t generation;  // counts the slot's uses, so a late event finds no stranger
  Phase phase;
  uint32_t watching;    // the events registered with epoll, 0 when none
  bool head_only;       // a HEAD request: the answer has no body
  bool part_open;       // the exchange word holds the beginning of a part
  bool ended;           // the client has sent its last byte
  bool linger;          // the request was refused: its rest may still be on the way
  bool heard;           // its request's time runs: `since` is when its first byte came
  int64_t since;        // when it began to wait for its client
  int64_t deadline;     // when its time in its phase runs out; none before it first waits
  int64_t unsent;       // sending: bytes the client had not taken when the deadline was set
  // The request: buf holds its bytes from position `base` on.
  uint32_t length;      // bytes in buf
  uint32_t scanned;     // bytes searched for the end of the header
  uint64_t base;
  uint64_t delivered;   // bytes the routine has been given, or placed in the word for it
  uint64_t total;       // bytes the routine may be given: the header, and a POST's body
  uint64_t part;        // bytes of the part in the word so far
  uint64_t received;    // bytes read from the client, dropped ones too
  uint64_t announced;   // bytes the client says it sends: the header and Content-Length
  Request request;
  // The answer still to send: buf[out, out_end), then the spill, then the file.
  uint64_t out, out_end;
  uint8_t* spill;
  uint64_t spill_at, spill_end, spill_size;
  long file;
  uint64_t file_at, file_end;
  // One byte more than a request may fill: the plain request line may be
  // one longer than the one sent.
  uint8_t buf[kRequestBufferSize + 1];
};

// Answers, composed into the connection and sent by send_answer.
void answer_status(Connection& c, int status, bool allow_post);
void answer_text(Connection& c, const char* text, uint64_t n);
void answer_file(Connection& c, Word default_file);

enum class Sent { kAll, kWaiting, kFailed };
// Sends what the client takes now.
Sent send_answer(Connection& c);
// Closes the file and frees the spill of an answer.
void release_answer(Connection& c);

}  // namespace qw::www
