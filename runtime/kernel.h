// The runtime's only way to the kernel: raw Linux x86-64 system calls and
// every call number, flag and error value the runtime uses.  Results are
// the kernel's: a value >= 0, or minus the error number.
#pragma once

#include <stdint.h>

// The signal return call is also named in the restorer's instructions.
#define QW_NR_RT_SIGRETURN 15

namespace qw::sys {

enum : long {
  kRead = 0, kWrite = 1, kOpen = 2, kClose = 3, kStat = 4, kFstat = 5,
  kLseek = 8, kMmap = 9, kBrk = 12, kIoctl = 16, kPipe = 22, kDup2 = 33,
  kNanosleep = 35, kGetpid = 39, kSendfile = 40, kSocket = 41, kConnect = 42,
  kAccept = 43, kSendto = 44, kRecvfrom = 45, kShutdown = 48, kBind = 49,
  kListen = 50, kSetsockopt = 54, kFork = 57, kExecve = 59, kExit = 60,
  kWait4 = 61, kKill = 62, kFcntl = 72, kFtruncate = 77, kGetcwd = 79,
  kChdir = 80, kRename = 82, kMkdir = 83, kRmdir = 84, kUnlink = 87,
  kReadlink = 89, kGettimeofday = 96, kTime = 201, kGetdents64 = 217,
  kExitGroup = 231, kOpenat = 257, kPoll = 7, kPipe2 = 293, kGetrandom = 318,
  kOpenat2 = 437, kRtSigaction = 13, kRtSigprocmask = 14,
  kRtSigreturn = QW_NR_RT_SIGRETURN,
};

// Errors, as the negative values the calls return.
enum : long {
  kEintr = -4, kEbadf = -9, kEagain = -11, kEnomem = -12, kEacces = -13,
  kEinval = -22, kEmfile = -24, kEfbig = -27, kEnospc = -28, kEspipe = -29,
  kEnosys = -38,
};

// open and openat flags.
enum : long {
  kOWriteOnly = 01, kOAccessMode = 03, kOCreat = 0100, kOTruncate = 01000,
  kOAppend = 02000, kODirectory = 0200000, kONofollow = 0400000,
  kOCloexec = 02000000,
};
constexpr long kAtFdcwd = -100;
// openat2 resolve flags.
enum : long { kResolveNoMagiclinks = 0x02, kResolveBeneath = 0x08 };

// fcntl record locks.
enum : long { kFSetlk = 6 };
enum : short { kFRdlck = 0, kFWrlck = 1, kFUnlck = 2 };

// fstat: where the device, inode and size lie in the kernel's stat record.
constexpr long kStatRecordSize = 144;
constexpr int kStatDevAt = 0, kStatInoAt = 8, kStatSizeAt = 48;

// Signals, and the kernel's sigaction record (handler, flags, restorer,
// one 64-bit mask).
enum : int {
  kSighup = 1, kSigint = 2, kSigpipe = 13, kSigterm = 15, kSigxfsz = 25,
};
enum : unsigned long {
  kSaRestart = 0x10000000, kSaNodefer = 0x40000000, kSaRestorer = 0x04000000,
};
constexpr long kSigIgnore = 1, kSigUnblock = 1;
struct SigAction {
  void (*handler)(int);
  unsigned long flags;
  void (*restorer)();
  unsigned long mask;
};

// mmap.
enum : long { kProtReadWrite = 3, kMapPrivateAnonymous = 0x22 };

// Sockets.
enum : long {
  kAfInet = 2, kSockStream = 1, kSockDgram = 2, kSolSocket = 1,
  kSoReuseaddr = 2, kSoRcvtimeo = 20, kSoSndtimeo = 21,
  kMsgDontwait = 0x40, kMsgNosignal = 0x4000,
};

// getrandom.
enum : long { kGrndNonblock = 1 };

// Terminal settings (ioctl) and the termios fields the runtime touches.
enum : long { kTcgets = 0x5401, kTcsets = 0x5402 };
enum : unsigned { kIcanon = 0x2 };
enum : int { kVtime = 5, kVmin = 6 };

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
[[noreturn]] inline void exit(long status) {
  call1(kExit, status);
  __builtin_unreachable();
}

}  // namespace qw::sys
