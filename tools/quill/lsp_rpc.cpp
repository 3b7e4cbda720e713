#include "lsp_rpc.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace {

// A body larger than this is dropped unread: no editor sends one.
constexpr std::size_t kLargestBody = std::size_t(256) << 20;

// The value of "Content-Length:" in a header block (letter case does not
// count); -1 when it is missing or no number.
long content_length(const std::string& header) {
  std::string lower(header);
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  std::size_t at = lower.find("content-length:");
  if (at == std::string::npos) return -1;
  const char* start = header.c_str() + at + 15;
  char* end = nullptr;
  long n = std::strtol(start, &end, 10);
  return end == start || n < 0 ? -1 : n;
}

}  // namespace

bool Channel::fill() {
  char chunk[65536];
  for (;;) {
    ssize_t n = read(in_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    std::size_t take = std::size_t(n), dropped = std::min(skip_, take);
    skip_ -= dropped;
    buffer_.append(chunk + dropped, take - dropped);
    return true;
  }
}

bool Channel::next(std::string& body) {
  for (;;) {
    std::size_t end = buffer_.find("\r\n\r\n");
    if (end == std::string::npos) {
      // headers are short: a long run without their end is no header
      if (buffer_.size() > 65536) buffer_.clear();
      return false;
    }
    long length = content_length(buffer_.substr(0, end));
    std::size_t start = end + 4;
    if (length < 0) {  // no length: the block is dropped
      buffer_.erase(0, start);
      continue;
    }
    if (std::size_t(length) > kLargestBody) {
      std::size_t here = std::min(buffer_.size() - start, std::size_t(length));
      skip_ = std::size_t(length) - here;
      buffer_.erase(0, start + here);
      continue;
    }
    if (buffer_.size() - start < std::size_t(length)) return false;
    body = buffer_.substr(start, std::size_t(length));
    buffer_.erase(0, start + std::size_t(length));
    return true;
  }
}

void Channel::send(const nlohmann::json& message) {
  std::string body = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::string out = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n = write(out_, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the editor is gone; its end of input follows
    done += std::size_t(n);
  }
}
