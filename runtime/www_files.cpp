// The files the HTML server serves: opened beneath the working directory
// only, and small ones kept open between requests.  Opening and closing a
// file costs the kernel several times what looking its path up does, so a
// file asked for again is read through the descriptor kept for it once a
// look-up of its path shows the very same file, unchanged in kind, owner,
// permissions and status-change time (renaming, linking, chmod and chown all
// change that).  Its bytes are read afresh for every answer.
#include "kernel.h"
#include "www_files.h"

namespace qw::www {

namespace {

using namespace qw::sys;

struct OpenHow {
  uint64_t flags, mode, resolve;
};

// The kernel's stat record.
struct Stat {
  uint64_t st_dev, st_ino, st_nlink;
  uint32_t st_mode, st_uid, st_gid, pad0;
  uint64_t st_rdev;
  int64_t st_size, st_blksize, st_blocks;
  int64_t atime, atime_ns, mtime, mtime_ns, ctime, ctime_ns;
  int64_t reserved[3];
};

constexpr long kFileFlags = long{kONonblock} | kOCloexec;  // a named pipe must not hold the open up

// Opens a relative path for reading without leaving the working directory,
// through symbolic links neither.
long open_beneath(const char* path) {
  OpenHow how = {static_cast<uint64_t>(kFileFlags), 0,
                 static_cast<uint64_t>(kResolveBeneath | kResolveNoMagiclinks)};
  long fd = sys::call4(kOpenat2, kAtFdcwd, reinterpret_cast<long>(path), reinterpret_cast<long>(&how),
                       sizeof how);
  if (fd != kEnosys) return fd;
  // Older kernels: walk the path a part at a time and follow no link.
  long dir = kAtFdcwd;
  char part[kMaxFileName + 1];
  const char* p = path;
  for (;;) {
    uint64_t n = 0;
    while (*p != 0 && *p != '/' && n < kMaxFileName) part[n++] = *p++;
    part[n] = 0;
    if (*p != 0 && *p != '/') {
      if (dir != kAtFdcwd) sys::close(dir);
      return kEnametoolong;
    }
    const bool last = *p == 0;
    while (*p == '/') ++p;
    const long flags = kONofollow | kFileFlags | (last ? 0L : long{kODirectory});
    fd = sys::call4(sys::kOpenat, dir, reinterpret_cast<long>(part), flags, 0);
    if (dir != kAtFdcwd) sys::close(dir);
    if (fd < 0 || last) return fd;
    dir = fd;
  }
}

// A file kept open: its path and what a look-up must find unchanged.
struct Kept {
  long fd;  // -1: the place is free
  uint64_t hash;
  uint32_t length;
  uint64_t dev, ino;
  uint32_t mode, uid, gid;
  int64_t ctime, ctime_ns;
  char path[kMaxPath + kMaxFileName + 2];
};

constexpr uint32_t kKeptFiles = 16;
Kept kept[kKeptFiles];
bool kept_ready = false;  // plain data: the runtime has no static constructors
uint32_t next_place = 0;  // the place the next file takes, round the table

uint64_t path_hash(const char* path, uint32_t length) {
  uint64_t h = 14695981039346656037ull;
  for (uint32_t i = 0; i < length; ++i) h = (h ^ static_cast<uint8_t>(path[i])) * 1099511628211ull;
  return h;
}

bool same_file(const Kept& k, const Stat& st) {
  return k.dev == st.st_dev && k.ino == st.st_ino && k.mode == st.st_mode && k.uid == st.st_uid &&
         k.gid == st.st_gid && k.ctime == st.ctime && k.ctime_ns == st.ctime_ns;
}

void let_go(Kept& k) {
  if (k.fd >= 0) sys::close(k.fd);
  k.fd = -1;
}

Kept* find(const char* path, uint32_t length, uint64_t hash) {
  if (!kept_ready) {
    for (Kept& k : kept) k.fd = -1;
    kept_ready = true;
  }
  for (Kept& k : kept) {
    if (k.fd < 0 || k.hash != hash || k.length != length) continue;
    uint32_t i = 0;
    while (i < length && k.path[i] == path[i]) ++i;
    if (i == length) return &k;
  }
  return nullptr;
}

void keep(long fd, const char* path, uint32_t length, uint64_t hash, const Stat& st) {
  Kept& k = kept[next_place];
  next_place = (next_place + 1) % kKeptFiles;
  let_go(k);
  k = {fd, hash, length, st.st_dev, st.st_ino, st.st_mode, st.st_uid, st.st_gid, st.ctime, st.ctime_ns, {}};
  for (uint32_t i = 0; i < length; ++i) k.path[i] = path[i];
}

}  // namespace

bool open_file(const char* path, uint32_t length, uint64_t keep_up_to, OpenFile& file) {
  const uint64_t hash = path_hash(path, length);
  Stat st;
  Kept* k = find(path, length, hash);
  if (k != nullptr) {
    if (sys::call4(kNewfstatat, kAtFdcwd, reinterpret_cast<long>(path), reinterpret_cast<long>(&st), 0) == 0 &&
        same_file(*k, st)) {
      file.size = static_cast<uint64_t>(st.st_size);
      file.fd = k->fd;
      file.kept = file.size <= keep_up_to;
      if (!file.kept) k->fd = -1;  // grown too large to keep: the answer takes it over
      return true;
    }
    let_go(*k);  // gone or changed: opened anew, with every check
  }
  long fd = open_beneath(path);
  if (fd == kEmfile || fd == kEnfile) {
    forget_files();  // the kept files must not cost a request its file
    fd = open_beneath(path);
  }
  if (fd < 0) return false;
  if (sys::call2(kFstat, fd, reinterpret_cast<long>(&st)) < 0 || (st.st_mode & kSIfmt) != kSIfreg) {
    sys::close(fd);  // only regular files are served
    return false;
  }
  file.fd = fd;
  file.size = static_cast<uint64_t>(st.st_size);
  file.kept = file.size <= keep_up_to;
  if (file.kept) keep(fd, path, length, hash, st);
  return true;
}

void forget_files() {
  if (!kept_ready) return;
  for (Kept& k : kept) let_go(k);
}

}  // namespace qw::www
