// The runtime's only way to the kernel: raw Linux x86-64 system calls and
// every call number, flag and error value the runtime uses.  Results are
// the kernel's: a value >= 0, or minus the error number.
#pragma once

#include <stdint.h>

// The signal return call is also named in the restorer's instructions.
#define QW_NR_RT_SIGRETURN 15

namespace qw::sys {

// System call numbers.
constexpr long kRead = 0, kWrite = 1, kOpen = 2, kClose = 3, kStat = 4, kFstat = 5,
               kPoll = 7, kLseek = 8, kMmap = 9, kMunmap = 11, kBrk = 12, kRtSigaction = 13,
               kRtSigprocmask = 14, kRtSigreturn = QW_NR_RT_SIGRETURN, kIoctl = 16,
               kPread64 = 17, kPwrite64 = 18, kWritev = 20, kPipe = 22, kSchedYield = 24, kMincore = 27,
               kMadvise = 28, kDup2 = 33, kNanosleep = 35,
               kGetpid = 39, kSendfile = 40, kSocket = 41, kConnect = 42, kAccept = 43,
               kSendto = 44, kRecvfrom = 45, kShutdown = 48, kBind = 49, kListen = 50,
               kSetsockopt = 54, kFork = 57, kExecve = 59, kExit = 60, kWait4 = 61,
               kKill = 62, kFcntl = 72, kFtruncate = 77, kGetcwd = 79, kChdir = 80,
               kRename = 82, kMkdir = 83, kRmdir = 84, kUnlink = 87, kReadlink = 89,
               kFchmod = 91, kGettimeofday = 96, kGetpgrp = 111, kTime = 201, kGetdents64 = 217, kClockGettime = 228,
               kExitGroup = 231, kEpollWait = 232, kEpollCtl = 233, kOpenat = 257,
               kAccept4 = 288, kEpollCreate1 = 291, kDup3 = 292, kPipe2 = 293, kGetrandom = 318,
               kOpenat2 = 437;
constexpr long kNewfstatat = 262;  // stat of a path relative to a directory

// Errors, as the negative values the calls return.
constexpr long kEnoent = -2, kEintr = -4, kEnxio = -6, kEbadf = -9, kEagain = -11,
               kEnomem = -12, kEacces = -13, kEexist = -17, kEinval = -22, kEnfile = -23,
               kEmfile = -24, kEfbig = -27, kEnospc = -28, kEspipe = -29, kEnametoolong = -36,
               kEnosys = -38, kEproto = -71, kEconnaborted = -103, kEconnreset = -104, kEnobufs = -105;

// open and openat flags; openat2's resolve flags.
constexpr long kOWriteOnly = 01, kOAccessMode = 03, kOCreat = 0100, kOExcl = 0200,
               kOTruncate = 01000, kOAppend = 02000, kONonblock = 04000, kODirectory = 0200000,
               kONofollow = 0400000, kOCloexec = 02000000;
constexpr long kAtFdcwd = -100;
constexpr long kResolveNoMagiclinks = 0x02, kResolveBeneath = 0x08;

// lseek: from the start, from the position, to the next data at or after
// an offset (the holes of a sparse file are passed over).
constexpr long kSeekSet = 0, kSeekCur = 1, kSeekData = 3;

// fstat: where the device, inode and size lie in the kernel's stat record,
// and the file kinds of its mode.
constexpr long kStatRecordSize = 144;
constexpr int kStatDevAt = 0, kStatInoAt = 8, kStatModeAt = 24, kStatSizeAt = 48;
constexpr unsigned kSIfmt = 0170000, kSIfreg = 0100000, kSIflnk = 0120000;

// fcntl: a descriptor's open flags; record locks of an open file
// description (held by the description, not the process: closing another
// descriptor of the same file leaves them alone).
constexpr long kFSetfd = 2, kFGetfl = 3, kFOfdGetlk = 36, kFOfdSetlk = 37;
constexpr short kFRdlck = 0, kFWrlck = 1, kFUnlck = 2;

// Signals, and the kernel's sigaction record (handler, flags, restorer,
// one 64-bit mask).
constexpr int kSighup = 1, kSigint = 2, kSigquit = 3, kSigpipe = 13, kSigterm = 15, kSigcont = 18,
              kSigtstp = 20, kSigttin = 21, kSigttou = 22, kSigxfsz = 25;
constexpr unsigned long kSaRestart = 0x10000000, kSaNodefer = 0x40000000,
                        kSaRestorer = 0x04000000;
constexpr long kSigIgnore = 1, kSigUnblock = 1;
struct SigAction {
  void (*handler)(int);
  unsigned long flags;
  void (*restorer)();
  unsigned long mask;
};

// mmap and madvise.
constexpr long kProtRead = 1, kProtReadWrite = 3, kMapPrivate = 0x02, kMapPrivateAnonymous = 0x22,
               kMadvHugepage = 14;

// Sockets, epoll and the monotonic clock.
constexpr long kAfInet = 2, kSockStream = 1, kSockDgram = 2, kSockNonblock = 04000,
               kSockCloexec = 02000000, kSolSocket = 1, kSoReuseaddr = 2, kSoReuseport = 15, kSoRcvtimeo = 20,
               kSoSndtimeo = 21, kIpprotoTcp = 6, kTcpDeferAccept = 9, kMsgDontwait = 0x40,
               kMsgNosignal = 0x4000, kMsgMore = 0x8000, kShutWr = 1;
constexpr long kEpollCloexec = 02000000, kEpollCtlAdd = 1, kEpollCtlDel = 2, kEpollCtlMod = 3,
               kEpollIn = 0x1, kEpollOut = 0x4, kEpollErr = 0x8, kEpollHup = 0x10;
constexpr long kClockMonotonic = 1;

// getrandom; poll.
constexpr long kGrndNonblock = 1;
constexpr short kPollIn = 1, kPollOut = 4;

// Terminal settings (ioctl) and the termios fields the runtime touches.
constexpr long kTcgets = 0x5401, kTcsets = 0x5402, kTiocgpgrp = 0x540f;
// A socket's bytes not yet taken by its peer (the same request as a terminal's).
constexpr long kSiocoutq = 0x5411;
constexpr unsigned kIcanon = 0x2, kEcho = 0x8, kIcrnl = 0x100;
constexpr int kVtime = 5, kVmin = 6;

inline long call0(long n) {
  long r;
  asm volatile("syscall" : "=a"(r) : "a"(n) : "rcx", "r11", "memory");
  return r;
}
inline long call1(long n, long a) {
  long r;
  asm volatile("syscall" : "=a"(r) : "a"(n), "D"(a) : "rcx", "r11", "memory");
  return r;
}
inline long call2(long n, long a, long b) {
  long r;
  asm volatile("syscall" : "=a"(r) : "a"(n), "D"(a), "S"(b) : "rcx", "r11", "memory");
  return r;
}
inline long call3(long n, long a, long b, long c) {
  long r;
  asm volatile("syscall" : "=a"(r) : "a"(n), "D"(a), "S"(b), "d"(c) : "rcx", "r11", "memory");
  return r;
}
inline long call4(long n, long a, long b, long c, long d) {
  long r;
  register long r10 asm("r10") = d;
  asm volatile("syscall" : "=a"(r) : "a"(n), "D"(a), "S"(b), "d"(c), "r"(r10) : "rcx", "r11", "memory");
  return r;
}
inline long call5(long n, long a, long b, long c, long d, long e) {
  long r;
  register long r10 asm("r10") = d;
  register long r8 asm("r8") = e;
  asm volatile("syscall" : "=a"(r) : "a"(n), "D"(a), "S"(b), "d"(c), "r"(r10), "r"(r8)
               : "rcx", "r11", "memory");
  return r;
}
inline long call6(long n, long a, long b, long c, long d, long e, long f) {
  long r;
  register long r10 asm("r10") = d;
  register long r8 asm("r8") = e;
  register long r9 asm("r9") = f;
  asm volatile("syscall" : "=a"(r) : "a"(n), "D"(a), "S"(b), "d"(c), "r"(r10), "r"(r8), "r"(r9)
               : "rcx", "r11", "memory");
  return r;
}

inline long write(long fd, const void* buf, long n) { return call3(kWrite, fd, (long)buf, n); }
inline long read(long fd, void* buf, long n) { return call3(kRead, fd, (long)buf, n); }
inline long open(const char* path, long flags, long mode) { return call3(kOpen, (long)path, flags, mode); }
inline long close(long fd) { return call1(kClose, fd); }
inline long lseek(long fd, long off, long whence) { return call3(kLseek, fd, off, whence); }
// Asks for huge pages over the whole 2 MiB pages inside [begin, end), when
// there is one: a hint, taken for the memory not touched yet.  Contents
// stay as they are; memory backed by a file just does not get them.
inline void advise_huge_pages(const void* begin, const void* end) {
  constexpr long kHuge = 2L << 20;
  const long from = (reinterpret_cast<long>(begin) + kHuge - 1) & -kHuge;
  const long to = reinterpret_cast<long>(end) & -kHuge;
  if (to > from) call3(kMadvise, from, to - from, kMadvHugepage);
}

[[noreturn]] inline void exit(long status) {
  call1(kExit, status);
  __builtin_unreachable();
}

}  // namespace qw::sys
