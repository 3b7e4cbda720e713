// The language server's messages: JSON-RPC bodies framed by a
// "Content-Length" header, as editors send and expect them.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

class Channel {
 public:
  Channel(int in, int out) : in_(in), out_(out) {}
  // Reads what the input holds (call when it is ready); false at its end.
  bool fill();
  // The body of the next whole message, when one has arrived.
  bool next(std::string& body);
  void send(const nlohmann::json& message);

 private:
  int in_, out_;
  std::string buffer_;
  std::size_t skip_ = 0;  // bytes of a refused message still to drop
};
