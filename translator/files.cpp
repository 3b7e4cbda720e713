#include "files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "text.h"

FileText ReadWholeFile(const std::string& name) {
  FileText r;
  // Opened without waiting, so that a named pipe cannot hold the run up:
  // only a regular file is read.
  int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    r.err = errno;
    return r;
  }
  struct stat st;
  bool known = ::fstat(fd, &st) == 0;
  if (!known || !S_ISREG(st.st_mode)) {
    r.err = known && S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return r;
  }
  if (st.st_size > 0) {
    r.text.reserve(std::size_t(st.st_size));
    qwt::AdviseHuge(r.text.data(), r.text.capacity());
  }
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      r.err = errno;
      ::close(fd);
      return r;
    }
    if (n == 0) break;
    r.text.append(buf, std::size_t(n));
  }
  ::close(fd);
  r.ok = true;
  return r;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= std::size_t(n);
  }
  return true;
}
