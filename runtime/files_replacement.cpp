// A whole new version of a block's file (an xtable unload), written to a
// temporary file beside it that takes the old file's place when complete.
#include "files_internal.h"

namespace qw::files {
namespace {

// The replacement under way (an unload writing its temporary file), from
// just before the temporary file is created until it takes the old file's
// place or is given up.
const Replacement* g_replacing = nullptr;

}  // namespace

// A program that ends while a replacement is under way (a fatal error, a
// signal) leaves no temporary file behind; the old file stays as it was.
void remove_unfinished_replacement() {
  if (const Replacement* r = g_replacing) {
    g_replacing = nullptr;
    sys::call1(sys::kUnlink, reinterpret_cast<long>(r->temp));
  }
}

namespace {

// The module's descriptors open on the file (directories aside).
template <class Visit>
void each_descriptor_on(const Identity& file, Visit visit) {
  for (int64_t fd = 0; fd < kDescriptors; ++fd) {
    if (g_open[fd].owner == nullptr || find_frame(fd) != nullptr) continue;
    if (same_file(identity_of(fd), file)) visit(fd);
  }
}

// True when another process holds a lock on a part of the file that none
// of the program's blocks holds: the parts the program's blocks hold are
// theirs (no other process can hold a write-locked part), every other part
// is asked of the kernel.  `probe` is a descriptor of the file's own.
bool others_lock(const Identity& file, int64_t probe) {
  uint64_t n = 0;
  each_descriptor_on(file, [&](int64_t fd) { n += g_open[fd].held.count; });
  if (n == 0) return lock_met(probe, 0, 0);
  const uint64_t bytes = n * sizeof(HeldLock);
  auto* own = static_cast<HeldLock*>(map_memory(bytes));
  uint64_t k = 0;
  each_descriptor_on(file, [&](int64_t fd) {
    const HeldLocks& h = g_open[fd].held;
    for (uint64_t i = 0; i < h.count; ++i) own[k++] = h.at[i];
  });
  for (uint64_t gap = n / 2; gap > 0; gap /= 2)  // by start
    for (uint64_t i = gap; i < n; ++i)
      for (uint64_t j = i; j >= gap && own[j - gap].start > own[j].start; j -= gap) {
        const HeldLock x = own[j];
        own[j] = own[j - gap];
        own[j - gap] = x;
      }
  bool met = false;
  int64_t from = 0;  // the parts before `from` are the program's or asked
  for (uint64_t i = 0; i < n && !met && from != INT64_MAX; ++i) {
    if (own[i].start > from) met = lock_met(probe, from, own[i].start - from);
    const int64_t end = range_end(own[i].start, own[i].length);
    if (end > from) from = end;
  }
  if (!met && from != INT64_MAX) met = lock_met(probe, from, 0);
  unmap_memory(own, bytes);
  return met;
}

// The replacement's descriptors: each of the module's descriptors open on
// the old file gets one on the new file, with the same open flags and the
// same locks, taken before the new file has its name.
struct Reopened {
  int64_t fd, nfd;
};
Reopened g_reopened[kDescriptors];
int64_t g_reopened_count = 0;

void open_replacement_for(const Identity& old, const Replacement& r) {
  g_reopened_count = 0;
  each_descriptor_on(old, [&](int64_t fd) {
    const long flags = checked(sys::call2(sys::kFcntl, fd, sys::kFGetfl));
    const long nfd = checked(sys::open(r.temp, flags | sys::kOCloexec, 0));
    g_reopened[g_reopened_count++] = {fd, nfd};
    const HeldLocks& h = g_open[fd].held;
    for (uint64_t i = 0; i < h.count; ++i)
      if (!kernel_lock(nfd, h.at[i].type, h.at[i].start, h.at[i].length)) fail_kernel(sys::kEagain);
  });
}

// The blocks reach the new file at the same place in it, with the locks
// already taken on it (the old description and its locks go).
void move_to_replacement() {
  for (int64_t i = 0; i < g_reopened_count; ++i) {
    const int64_t fd = g_reopened[i].fd, nfd = g_reopened[i].nfd;
    if (ReadAhead* a = find_ahead(fd)) settle(*a);
    const long at = checked(sys::lseek(fd, 0, sys::kSeekCur));
    checked(sys::call3(sys::kDup3, nfd, fd, sys::kOCloexec));
    sys::close(nfd);
    checked(sys::lseek(fd, at, sys::kSeekSet));
    if (WriteBehind* w = find_behind(fd)) w->file = identity_of(fd);
  }
  g_reopened_count = 0;
}

// The temporary file's name: the path with ".unload-" and the process
// number added, beside the file it replaces.
void name_beside(const char* path, char* out) {
  static constexpr char kMark[] = ".unload-";
  uint64_t n = 0;
  for (; path[n] != 0; ++n) out[n] = path[n];
  for (const char* m = kMark; *m != 0; ++m) out[n++] = *m;
  char digits[20];
  int k = 0;
  for (long pid = sys::call0(sys::kGetpid); pid > 0 || k == 0; pid /= 10)
    digits[k++] = static_cast<char>('0' + pid % 10);
  while (k > 0) out[n++] = digits[--k];
  out[n] = 0;
}

// A path that names a symbolic link is followed to the file it names, so
// that the new version replaces that file and the link stays a link.
void follow_links(char* path) {
  char target[kPathBytes];
  for (int hops = 0; hops < 40; ++hops) {
    const long n = sys::call3(sys::kReadlink, reinterpret_cast<long>(path),
                              reinterpret_cast<long>(target), kPathBytes - 1);
    if (n < 0) return;  // not a link, or no file yet
    uint64_t folder = 0;  // a relative target lies in the link's folder
    if (target[0] != '/')
      for (uint64_t i = 0; path[i] != 0; ++i)
        if (path[i] == '/') folder = i + 1;
    if (folder + static_cast<uint64_t>(n) >= kPathBytes) fail_kernel(sys::kEnametoolong);
    __builtin_memcpy(path + folder, target, static_cast<uint64_t>(n));
    path[folder + static_cast<uint64_t>(n)] = 0;
  }
}

}  // namespace

bool begin_replacement(FileBlock f, Replacement& r) {
  working_on(f);
  settle_file(f);
  make_path(f.name(), r.path);
  follow_links(r.path);
  // A write past the file-size limit must fail with its error, not kill.
  catch_ending_signals();
  uint8_t st[sys::kStatRecordSize];
  const bool existed =
      sys::call2(sys::kStat, reinterpret_cast<long>(r.path), reinterpret_cast<long>(st)) >= 0;
  uint32_t mode = 0;
  if (existed) __builtin_memcpy(&mode, st + sys::kStatModeAt, 4);
  // A device, a named pipe or a socket is never replaced by a file of its
  // own name: the unload is written into it as it stands.
  r.direct = existed && (mode & sys::kSIfmt) != sys::kSIfreg;
  if (r.direct) {
    r.temp[0] = 0;
    r.fd = checked(sys::open(r.path, sys::kOWriteOnly | sys::kOCloexec, 0));
    return true;
  }
  // A file another process holds a lock on is not replaced under it.
  if (existed) {
    const long probe = sys::open(r.path, sys::kOCloexec | sys::kONonblock, 0);
    const bool refused = probe >= 0 && others_lock(identity_at(st), probe);
    if (probe >= 0) sys::close(probe);  // (a file it may not read: nobody is asked)
    if (refused) return false;
  }
  uint64_t n = 0;
  while (r.path[n] != 0) ++n;
  if (n + 30 > kPathBytes) fail_kernel(sys::kEnametoolong);
  name_beside(r.path, r.temp);
  g_replacing = &r;
  set_exit_flush(flush_for_exit);
  const long flags = sys::kOWriteOnly | sys::kOCreat | sys::kOExcl | sys::kOCloexec;
  long fd = sys::open(r.temp, flags, 0666);
  if (fd == sys::kEexist) {  // left behind by an earlier process of this number
    sys::call1(sys::kUnlink, reinterpret_cast<long>(r.temp));
    fd = sys::open(r.temp, flags, 0666);
  }
  checked(fd);
  r.fd = fd;
  if (existed) {
    const long c = sys::call2(sys::kFchmod, fd, mode & 07777);
    if (c < 0) fail_replacement(r, c);
  }
  return true;
}

void finish_replacement(FileBlock f, Replacement& r) {
  working_on(f);
  const long c = sys::close(r.fd);
  if (c < 0) fail_replacement(r, c);
  if (r.direct) return;
  uint8_t st[sys::kStatRecordSize];
  const bool existed =
      sys::call2(sys::kStat, reinterpret_cast<long>(r.path), reinterpret_cast<long>(st)) >= 0;
  if (existed) open_replacement_for(identity_at(st), r);
  const long m =
      sys::call2(sys::kRename, reinterpret_cast<long>(r.temp), reinterpret_cast<long>(r.path));
  if (m < 0) fail_replacement(r, m);
  g_replacing = nullptr;
  move_to_replacement();
}

void fail_replacement(Replacement& r, long error) {
  sys::close(r.fd);
  if (!r.direct) remove_unfinished_replacement();
  fatal_kernel_about(error, r.path);
}

}  // namespace qw::files
