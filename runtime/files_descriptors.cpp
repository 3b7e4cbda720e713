// The files module's descriptors: the open-file table, the fatal lines
// that name a file, plain kernel transfers, directory frames and paths.
#include "files_internal.h"

namespace qw::files {

// ---------------------------------------------------------------------------
// The module's own fatal lines, 80 characters each.

namespace {

struct Line80 {
  char text[80];
};

constexpr Line80 line80(const char* s) {
  Line80 l{};
  int i = 0;
  for (; s[i] != 0 && i < 80; ++i) l.text[i] = s[i];
  for (; i < 80; ++i) l.text[i] = ' ';
  return l;
}

constexpr Line80 kMessages[] = {
    line80("Read Error:You need a record number to read this record"),
    line80("Write Error:You need a record number to write this record"),
    line80("Delete Error:You can only delete from a random file"),
    line80("Delete Error:You can only delete from a random file using a record no"),
    line80("Start Error:You can only start a random file"),
    line80("Next Error:You can only use next on a random file"),
    line80("Write Error:The line is longer than the record buffer"),
    line80("Record Error:The record is longer than the record buffer"),
    line80("Open Error:Too many directories are open at once"),
    line80("Write Error:The file is open for reading only"),
    line80("Read Error:The file is open for writing only"),
};

}  // namespace

const uint8_t* g_subject = nullptr;

static const char* subject_path(char* out) {
  if (g_subject == nullptr) return nullptr;
  make_path(Word(const_cast<uint8_t*>(g_subject)), out);
  return out;
}

[[noreturn]] void fail(FilesMessage m) {
  char path[kPathBytes];
  fatal_line_about(kMessages[m].text, subject_path(path));
}

[[noreturn]] void fail_kernel(long r) {
  char path[kPathBytes];
  fatal_kernel_about(r, subject_path(path));
}

long checked(long r) {
  if (r < 0) fail_kernel(r);
  return r;
}

// ---------------------------------------------------------------------------
// The open-file table, indexed by descriptor.

OpenFile g_open[kDescriptors];

void take_descriptor(FileBlock f, int64_t fd, uint8_t access) {
  g_open[fd] = OpenFile{};
  g_open[fd].owner = f.name().data();
  g_open[fd].access = access;
  f.set_handle(fd);
}

const char* path_of_descriptor(int64_t fd, char* out) {
  if (fd < 0 || fd >= kDescriptors || g_open[fd].owner == nullptr) return nullptr;
  make_path(Word(const_cast<uint8_t*>(g_open[fd].owner)), out);
  return out;
}

// ---------------------------------------------------------------------------
// Memory from the kernel.

void* map_memory(uint64_t bytes) {
  const long m = sys::call6(sys::kMmap, 0, static_cast<long>(bytes), sys::kProtReadWrite,
                            sys::kMapPrivateAnonymous, -1, 0);
  if (m < 0 && m > -4096) fail_kernel(m);
  return reinterpret_cast<void*>(m);
}

void unmap_memory(void* p, uint64_t bytes) {
  if (p != nullptr) sys::call2(sys::kMunmap, reinterpret_cast<long>(p), static_cast<long>(bytes));
}

// ---------------------------------------------------------------------------
// Plain kernel transfers.

uint64_t read_full(int64_t fd, uint8_t* out, uint64_t n) {
  uint64_t got = 0;
  while (got < n) {
    const long r = checked(sys::read(fd, out + got, static_cast<long>(n - got)));
    if (r == 0) break;
    got += static_cast<uint64_t>(r);
  }
  return got;
}

// A file opened to read and append takes
// the kernel's positioned write, which with the append flag writes at the
// end and leaves the file's position where reading stands (a pipe has no
// position: a plain write).
long write_some(int64_t fd, const uint8_t* p, uint64_t n) {
  if (g_open[fd].reads_apart) {
    const long r = sys::call4(sys::kPwrite64, fd, reinterpret_cast<long>(p),
                              static_cast<long>(n), 0);
    if (r != sys::kEspipe) return r;
  }
  return sys::write(fd, p, static_cast<long>(n));
}

// Writes all n bytes or ends the program: a write is never reported good
// unless every byte reached the kernel.
void write_full(int64_t fd, const uint8_t* p, uint64_t n) {
  while (n > 0) {
    const long r = write_some(fd, p, n);
    if (r == sys::kEintr) continue;
    checked(r);
    if (r == 0) fail_kernel(sys::kEnospc);
    p += r;
    n -= static_cast<uint64_t>(r);
  }
}

Identity identity_at(const uint8_t* st) {
  return Identity{static_cast<uint64_t>(load64(st + sys::kStatDevAt)),
                  static_cast<uint64_t>(load64(st + sys::kStatInoAt)),
                  load64(st + sys::kStatSizeAt)};
}

Identity identity_of(int64_t fd) {
  uint8_t st[sys::kStatRecordSize];
  checked(sys::call2(sys::kFstat, fd, reinterpret_cast<long>(st)));
  return identity_at(st);
}

bool is_regular(const uint8_t* st) {
  uint32_t mode;
  __builtin_memcpy(&mode, st + sys::kStatModeAt, 4);
  return (mode & sys::kSIfmt) == sys::kSIfreg;
}

// ---------------------------------------------------------------------------
// Directory frames: one per open directory, keyed by its descriptor.

constexpr int kFrames = 256;
constexpr uint64_t kFrameBytes = 4096;

struct DirFrame {
  bool used;
  int64_t fd;
  uint64_t count;  // bytes of the last directory read
  uint64_t next;   // offset of the next entry to deliver
  uint8_t data[kFrameBytes];
};

namespace {
DirFrame g_frames[kFrames];
}  // namespace

DirFrame* find_frame(int64_t fd) {
  for (auto& fr : g_frames)
    if (fr.used && fr.fd == fd) return &fr;
  return nullptr;
}

DirFrame& claim_frame(int64_t fd) {
  if (DirFrame* fr = find_frame(fd)) {
    fr->count = fr->next = 0;
    return *fr;
  }
  for (auto& fr : g_frames)
    if (!fr.used) {
      fr.used = true;
      fr.fd = fd;
      fr.count = fr.next = 0;
      return fr;
    }
  fail(kTooManyDirectories);
}

void read_directory_entry(FileBlock f, int64_t fd, Word dest) {
  DirFrame* fr = find_frame(fd);
  if (fr == nullptr) fr = &claim_frame(fd);
  if (fr->next >= fr->count) {
    const long r = checked(sys::call3(sys::kGetdents64, fd, reinterpret_cast<long>(fr->data),
                                      kFrameBytes));
    fr->count = static_cast<uint64_t>(r);
    fr->next = 0;
    if (r == 0) {
      set_status(f, kEndOfFile);
      return;
    }
  }
  const uint8_t* e = fr->data + fr->next;
  uint16_t reclen;
  __builtin_memcpy(&reclen, e + 16, 2);
  fr->next += reclen;
  return_code().set_value(e[18]);  // d_type
  const char* name = reinterpret_cast<const char*>(e + 19);
  char* out = dest.text();
  const uint64_t size = dest.length();
  uint64_t i = 0;
  for (; i < size && name[i] != 0; ++i) out[i] = name[i];
  for (; i < size; ++i) out[i] = ' ';
}

void forget_descriptor(int64_t fd) {
  release_ahead(fd);
  forget_line(fd);
  if (WriteBehind* w = find_behind(fd)) w->used = false;
  if (DirFrame* fr = find_frame(fd)) fr->used = false;
  release_held(g_open[fd].held);
  g_open[fd] = OpenFile{};
}

void close_descriptor(FileBlock f, int64_t fd) {
  settle_descriptor(fd);
  forget_descriptor(fd);
  f.set_handle(kNoHandle);
  checked(sys::close(fd));
}

// ---------------------------------------------------------------------------
// Paths.

void make_path(Word w, char* out) {
  uint64_t n = w.length();
  if (n > 4096) n = 4096;
  const char* t = w.text();
  uint64_t i = 0;
  while (i < n && t[i] != 0) ++i;
  if (i == n)
    while (i > 0 && t[i - 1] == ' ') --i;
  __builtin_memcpy(out, t, i);
  out[i] = 0;
}

}  // namespace qw::files
