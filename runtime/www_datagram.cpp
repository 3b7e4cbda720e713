// Dotted IPv4 addresses and ports, and single UDP datagrams.
#include "common.h"
#include "kernel.h"
#include "www.h"

namespace qw::www {

using namespace qw::sys;

uint16_t network16(uint64_t v) {
  return static_cast<uint16_t>(((v & 0xff) << 8) | ((v >> 8) & 0xff));
}

void fail(long& socket, long rc) {
  if (socket >= 0) sys::close(socket);
  socket = -1;
  fatal_kernel(rc);
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
    fatal_kernel(kEinval);  // not an address
  return a;
}

}  // namespace

void send_message(Word address, Word port, Word message) {
  const SockAddr a = datagram_address(address, port);
  long sock = sys::call3(sys::kSocket, kAfInet, long{kSockDgram} | kOCloexec, 0);
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
  long sock = sys::call3(sys::kSocket, kAfInet, long{kSockDgram} | kOCloexec, 0);
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
