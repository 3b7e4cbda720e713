// The files the HTML server serves (www_files.cpp).
#pragma once

#include <stdint.h>

#include "www_http.h"

namespace qw::www {

// An open regular file and its size.  A kept file's descriptor stays with
// the server for later requests: read it at an offset (pread), never
// through its position, and do not close it.  Otherwise the descriptor is
// the caller's to close.
struct OpenFile {
  long fd;
  uint64_t size;
  bool kept;
};

// Opens the file of a relative path (NUL-terminated, `length` bytes)
// beneath the working directory, through symbolic links that stay inside
// it.  A file of at most `keep_up_to` bytes is kept open for the next
// request for it.  False when there is no regular file to serve there
// (none, a folder, a pipe or device, one that cannot be read, a way out).
bool open_file(const char* path, uint32_t length, uint64_t keep_up_to, OpenFile& file);

// Closes the files kept open.
void forget_files();

}  // namespace qw::www
