// HTML server on a loopback port, driven through raw sockets, and UDP
// datagrams.  The server runs in a child process; every wait is bounded.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "arena.h"
#include "bridge.h"
#include "item.h"
#include "www.h"

namespace {

using qwtest::TestWord;

extern "C" void bridge_WWW(qw::Regs&);
using Clock = std::chrono::steady_clock;

// Far beyond the old 65,517-byte limit of answers, and more than the kernel
// takes at once: the server keeps the rest of such an answer itself.
constexpr int kExchange = 4 << 20;
TestWord<kExchange> g_exchange("");

const char* exchange() { return reinterpret_cast<const char*>(g_exchange.raw + 17); }
bool exchange_starts(const char* prefix) { return strncmp(exchange(), prefix, strlen(prefix)) == 0; }
void answer(const std::string& text, int64_t count = -1) {
  memcpy(g_exchange.raw + 17, text.data(), text.size());
  qw::return_code().set_value(count < 0 ? static_cast<int64_t>(text.size()) : count);
}

// The program's GET routine.
extern "C" void test_get_routine() {
  if (exchange_starts("GET /hello ")) {
    answer("Hello, and more text that is not sent", 5);
  } else if (exchange_starts("GET /stop ")) {
    qw::error_code().set_value(99);
  } else if (exchange_starts("GET /private.txt ")) {
    answer("Status: 403 Forbidden\n\nno");
  } else if (exchange_starts("GET /plain ")) {
    answer("Content-Type: text/plain\r\nX-Mine: 1\r\nContent-Length: 99\r\n\r\n<b>x</b>");
  } else if (exchange_starts("GET /bad-head ")) {
    answer("Status: OK\n\nbody");
  } else if (exchange_starts("GET /big-text ")) {
    answer(std::string(kExchange, 'b'), kExchange + 1000);  // more than the word holds
  } else if (exchange_starts("GET /who ")) {
    answer(std::to_string(getpid()));
  } else if (exchange_starts("GET /echo")) {
    answer(std::string(exchange(), strchr(exchange(), '\r')));  // the request line as seen
  }
  // Anything else leaves RETURN_CODE 0: the file is served.
}

// The program's POST routine, written to 2,048-byte parts: /big.bin is
// served at once (its body left unread); otherwise it reads the whole body
// of z's in parts and tells how many parts and z's it got.  A part is full
// unless it is the last, and nothing lies in the word behind it.
extern "C" void test_post_routine() {
  static int parts = 0;
  static size_t zs = 0;
  if (exchange_starts("POST /big.bin ")) return;
  ++parts;
  for (int i = 0; i < 2048; ++i) zs += exchange()[i] == 'z';
  if (exchange()[2048] != ' ') zs = 0;  // more than a part: never counted
  if (exchange()[2047] != ' ') return qw::return_code().set_value(qw::www::kMoreToRead);
  answer(std::to_string(parts) + " parts " + std::to_string(zs));
  parts = 0;
  zs = 0;
}

int free_port() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

int connect_to(int port, const char* address = "127.0.0.1", int attempts = 200, int window = 0) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{20, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (window > 0) setsockopt(s, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address, &a.sin_addr);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return s;
    close(s);
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return -1;
}

std::string read_all(int s) {
  std::string out;
  char buf[65536];
  ssize_t n;
  while ((n = recv(s, buf, sizeof buf, 0)) > 0) out.append(buf, n);
  return out;
}

std::string head_of(const std::string& a) { return a.substr(0, a.find("\r\n\r\n") + 4); }
std::string body_of(const std::string& a) {
  const size_t at = a.find("\r\n\r\n");
  return at == std::string::npos ? "" : a.substr(at + 4);
}

// Checks the status line, the header lines every answer carries and the body.
void expect_answer(const std::string& got, const std::string& status, const std::string& type,
                   const std::string& body, const std::string& what) {
  SCOPED_TRACE(what);
  const std::string head = head_of(got);
  EXPECT_EQ(head.substr(0, head.find("\r\n")), "HTTP/1.1 " + status);
  EXPECT_NE(head.find("\r\nContent-Type: " + type + "\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nX-Content-Type-Options: nosniff\r\n"), std::string::npos);
  EXPECT_NE(head.find("\r\nConnection: close\r\n"), std::string::npos);
  EXPECT_TRUE(body_of(got) == body) << body_of(got).substr(0, 80);
}

// Processor time (user and system, in clock ticks) the process has used.
long cpu_ticks(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(f, line);
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string skipped;
  for (int i = 0; i < 11; ++i) fields >> skipped;  // state .. cmajflt
  long user = 0, system = 0;
  fields >> user >> system;
  return user + system;
}

const std::string kHtml = "text/html; charset=utf-8";
const std::string kPlain = "text/plain; charset=utf-8";

class WwwServer : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = qwtest::make_temp_dir("/tmp/qw_www_XXXXXX");
    for (const char* dir : {"/site", "/site/sub"}) mkdir((root_ + dir).c_str(), 0755);
    write_file("site/index.html", "<h1>home</h1>");
    write_file("site/sub/index.html", "sub home");
    write_file("site/a b.txt", "with a blank");
    write_file("site/style.css", "p{}");
    write_file("site/app.js", "export {}");
    write_file("site/private.txt", "private");
    write_file("site/big.bin", big_content());
    write_file("secret", "outside the site");
    mkfifo((root_ + "/site/pipe").c_str(), 0644);
    symlink("../secret", (root_ + "/site/escape").c_str());
    symlink((root_ + "/secret").c_str(), (root_ + "/site/absolute").c_str());
    symlink("index.html", (root_ + "/site/inside").c_str());
    port_ = free_port();
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_ = fork();
    if (pid_ == 0) {
      close(out[0]);
      StdOutHandle = out[1];
      if (chdir((root_ + "/site").c_str()) != 0) _exit(3);
      TestWord<16> default_file("index.html");
      TestWord<16> address(address_);
      // Opened as compiled code opens: the port's number in r9; the
      // address in r10 for its own operation, while the plain open reads
      // nothing but r9.
      int64_t port_value = port_;
      qw::Regs r{};
      r.r8 = address_[0] != 0 ? qw::www::kOpenAt : qw::www::kOpen;
      r.r9 = reinterpret_cast<uint64_t>(&port_value);
      r.r10 = address_[0] != 0 ? reinterpret_cast<uint64_t>(address.raw + 17) : 0x5a5a5a5a;
      bridge_WWW(r);
      qw::www::process(default_file.word(), g_exchange.word(), reinterpret_cast<uint64_t>(&test_get_routine),
                       reinterpret_cast<uint64_t>(&test_post_routine));
      // process() returns only when told to stop; the socket is closed then.
      _exit(qw::error_code().value() == 99 ? 0 : 4);
    }
    close(out[1]);
    pollfd p{out[0], POLLIN, 0};
    char c;
    while (start_message_.size() < 29 && poll(&p, 1, 5000) > 0 && read(out[0], &c, 1) == 1) start_message_ += c;
    close(out[0]);
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (!qwtest::remove_tree(root_)) ADD_FAILURE() << "cleanup";
  }

  static std::string big_content() {
    std::string s(1 << 20, ' ');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(i * 7 % 251);
    return s;
  }

  void write_file(const std::string& rel, const std::string& content) {
    std::ofstream(root_ + "/" + rel, std::ios::binary) << content;
  }

  // One request on its own connection; the server closes after answering.
  // A small window makes the server keep what the client cannot take yet.
  std::string request(const std::string& text, int window = 0) {
    int s = connect_to(port_, address_[0] != 0 ? address_ : "127.0.0.1", 200, window);
    if (s < 0) return "no connection";
    send(s, text.data(), text.size(), MSG_NOSIGNAL);
    if (window > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::string out = read_all(s);
    close(s);
    return out;
  }

  std::string get(const std::string& path, const std::string& method = "GET") {
    return request(method + " " + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
  }

  // Stops the server and expects it to end by itself and stop listening.
  void stop() {
    expect_answer(get("/stop"), "200 OK", kHtml, "", "stop");
    int status = -1;
    for (int i = 0; i < 500 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    pid_ = -1;
    EXPECT_LT(connect_to(port_, address_[0] != 0 ? address_ : "127.0.0.1", 1), 0);
  }

  const char* address_ = "";
  std::string root_;
  int port_ = 0;
  pid_t pid_ = -1;
  std::string start_message_;
};

TEST_F(WwwServer, FilesHeadersAndMethods) {
  EXPECT_EQ(start_message_, "[000001]Starting HTML Server\n");
  struct Case {
    const char* path;
    const char* status;
    std::string type, body;
  } cases[] = {
      {"/", "200 OK", kHtml, "<h1>home</h1>"},
      {"/index.html?x=1", "200 OK", kHtml, "<h1>home</h1>"},
      {"/sub/", "200 OK", kHtml, "sub home"},
      {"/a%20b.txt", "200 OK", kPlain, "with a blank"},
      {"/style.css", "200 OK", "text/css; charset=utf-8", "p{}"},
      {"/app.js", "200 OK", "text/javascript; charset=utf-8", "export {}"},
      {"/inside", "200 OK", "application/octet-stream", "<h1>home</h1>"},
      {"/missing.html", "404 Not Found", kPlain, "Not Found\n"},
      {"/sub", "404 Not Found", kPlain, "Not Found\n"},   // a folder is not a file
      {"/pipe", "404 Not Found", kPlain, "Not Found\n"},  // nor is a named pipe, and it holds nothing up
  };
  for (const Case& c : cases) expect_answer(get(c.path), c.status, c.type, c.body, c.path);
  expect_answer(request("GET /big.bin HTTP/1.1\r\n\r\n", 4096), "200 OK", "application/octet-stream",
                big_content(), "1 MiB file");
  // HEAD: the GET answer's head alone.
  const std::string head = get("/index.html", "HEAD");
  EXPECT_EQ(head, head_of(get("/index.html")));
  // Other methods never get a file.
  const std::string allow = "Allow: GET, HEAD, POST\r\n";
  for (const char* method : {"DELETE", "OPTIONS", "PUT"}) {
    const std::string a = get("/index.html", method);
    expect_answer(a, "405 Method Not Allowed", kPlain, "Method Not Allowed\n", method);
    EXPECT_NE(a.find(allow), std::string::npos);
  }
  expect_answer(get("/index.html", "get"), "501 Not Implemented", kPlain, "Not Implemented\n", "get");
  // Line ends of a line feed alone are answered at once.
  const auto start = Clock::now();
  expect_answer(request("GET / HTTP/1.0\n\n"), "200 OK", kHtml, "<h1>home</h1>", "LF only");
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  stop();
}

TEST_F(WwwServer, RoutinesSeeThePathThatIsServed) {
  expect_answer(get("/hello"), "200 OK", kHtml, "Hello", "text answer");
  const std::string plain = get("/plain");
  expect_answer(plain, "200 OK", "text/plain", "<b>x</b>", "own type");
  EXPECT_NE(plain.find("\r\nX-Mine: 1\r\n"), std::string::npos);
  expect_answer(request("GET /big-text HTTP/1.1\r\n\r\n", 4096), "200 OK", kHtml, std::string(kExchange, 'b'),
                "the whole word");
  expect_answer(get("/bad-head"), "500 Internal Server Error", kPlain, "Internal Server Error\n", "bad head");
  // Every spelling of the refused path, and HEAD, reaches the routine as it.
  for (const char* path : {"/private.txt", "/%70rivate.txt", "/./private.txt", "//private.txt", "/sub/../private.txt",
                           "/private.txt?", "/private.txt?x=1", "/private.txt#top", "/%70rivate.txt?x#y"}) {
    const std::string a = get(path);
    EXPECT_EQ(a.find("private\n"), std::string::npos) << path;
    EXPECT_EQ(a.substr(0, 12), strstr(path, "..") ? "HTTP/1.1 404" : "HTTP/1.1 403") << path;
  }
  EXPECT_EQ(get("/private.txt?x", "HEAD").substr(0, 12), "HTTP/1.1 403");
  EXPECT_EQ(get("/private.txt%3F").substr(0, 12), "HTTP/1.1 404");  // an encoded "?" is part of the name
  // The query comes after a blank of its own; a fragment is dropped.
  const std::string echo = get("/echo/%41%20b/./c//d/?q=%41#f");
  expect_answer(echo, "200 OK", kHtml, "GET /echo/A%20b/c/d/ ?q=%41 HTTP/1.1", "plain form");
  EXPECT_EQ(get("/echo/%41%20b/./c//d/?q=%41", "HEAD"), head_of(echo));
  expect_answer(get("/echo%3F?"), "200 OK", kHtml, "GET /echo%3F ? HTTP/1.1", "an encoded question mark");
  stop();
}

TEST_F(WwwServer, NothingOutsideTheFolderIsServed) {
  for (const char* path :
       {"/../secret", "/sub/../../secret", "/..", "/%2e%2e/secret", "/%2E%2E%2Fsecret", "/sub/%2e%2e/%2e%2e/secret",
        "/%252e%252e/secret", "//etc/passwd", "/%2fetc/passwd", "/escape", "/absolute", "/index.html%00.txt",
        "/proc/self/environ", "/%", "/%zz"}) {
    const std::string a = get(path);
    EXPECT_EQ(a.find("outside"), std::string::npos) << path;
    EXPECT_TRUE(a.substr(0, 10) == "HTTP/1.1 4") << path << ": " << a.substr(0, 20);
  }
  EXPECT_EQ(request("GET ../secret HTTP/1.1\r\n\r\n").substr(0, 12), "HTTP/1.1 400");
  stop();
}

TEST_F(WwwServer, AFileAskedForAgainIsWhatThePathNamesNow) {
  const std::string css = "text/css; charset=utf-8";
  expect_answer(get("/style.css"), "200 OK", css, "p{}", "first");
  write_file("site/style.css", "p{color:red}");
  expect_answer(get("/style.css"), "200 OK", css, "p{color:red}", "rewritten");
  // Moved out of the folder and reached through a link from inside: not served.
  ASSERT_EQ(rename((root_ + "/site/style.css").c_str(), (root_ + "/moved.css").c_str()), 0);
  ASSERT_EQ(symlink("../moved.css", (root_ + "/site/style.css").c_str()), 0);
  expect_answer(get("/style.css"), "404 Not Found", kPlain, "Not Found\n", "moved out");
  unlink((root_ + "/site/style.css").c_str());
  expect_answer(get("/style.css"), "404 Not Found", kPlain, "Not Found\n", "removed");
  write_file("site/style.css", std::string(20000, 's'));  // too large to keep: sent from the file
  expect_answer(get("/style.css"), "200 OK", css, std::string(20000, 's'), "back, larger");
  expect_answer(get("/style.css"), "200 OK", css, std::string(20000, 's'), "again");
  stop();
}

TEST_F(WwwServer, PostRoutineReadsTheRequestInParts) {
  // The request reaches the routine in full parts of 2,048 bytes (the
  // first with the header lines), however the client pauses.
  int s = connect_to(port_);
  ASSERT_GE(s, 0);
  const size_t length = 10000;
  const std::string head = "POST /form HTTP/1.1\r\nContent-Length: " + std::to_string(length) +
                           "\r\nExpect: 100-continue\r\n\r\n";
  send(s, head.data(), head.size(), MSG_NOSIGNAL);
  char interim[64] = {};
  EXPECT_GT(recv(s, interim, sizeof interim - 1, 0), 0);
  EXPECT_STREQ(interim, "HTTP/1.1 100 Continue\r\n\r\n");
  const std::string body(length, 'z');
  for (size_t at : {size_t{0}, size_t{1000}, size_t{5000}}) {
    send(s, body.data() + at, at == 0 ? 1000 : at == 1000 ? 4000 : length - at, MSG_NOSIGNAL);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
  }
  const std::string parts = read_all(s);
  const size_t count = (head.size() + length + 2047) / 2048;
  expect_answer(parts, "200 OK", kHtml, std::to_string(count) + " parts " + std::to_string(length), "parts");
  close(s);
  // A client that stops sending in the middle gets 400, and others are served.
  s = connect_to(port_);
  const std::string cut = "POST /form HTTP/1.1\r\nContent-Length: 10\r\n\r\nxxxxx";
  send(s, cut.data(), cut.size(), MSG_NOSIGNAL);
  shutdown(s, SHUT_WR);
  EXPECT_EQ(read_all(s).substr(0, 12), "HTTP/1.1 400");
  close(s);
  // Large answers given before a 3 MB body is read reach the client whole.
  const std::string unread = "Content-Length: 3000000\r\n\r\n" + std::string(3000000, 'x');
  expect_answer(request("POST /big.bin HTTP/1.1\r\n" + unread), "200 OK", "application/octet-stream",
                big_content(), "a file after POST");
  expect_answer(request("GET /big-text HTTP/1.1\r\n" + unread), "200 OK", kHtml, std::string(kExchange, 'b'),
                "a text after GET with a body");
  stop();
}

TEST_F(WwwServer, SlowAndSilentClientsHoldNobodyUp) {
  std::vector<int> slow;
  for (int i = 0; i < 50; ++i) slow.push_back(connect_to(port_));
  const std::string trickle = "GET / HTTP/1.1\r\nX: abcdefghijklmnopqrstuvwxyz";
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  for (size_t k = 0; k < 10; ++k) {
    for (int s : slow) send(s, &trickle[k], 1, MSG_NOSIGNAL);
    const auto start = Clock::now();
    expect_answer(get("/"), "200 OK", kHtml, "<h1>home</h1>", "beside slow clients");
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (int s : slow) close(s);
  // Garbage of every kind gets an answer or none, and the server goes on.
  for (const std::string& bad :
       {std::string(""), std::string("G"), std::string("GET /"), std::string("XYZ"), std::string("GET\r\n\r\n"),
        "GET /" + std::string(20000, 'a') + " HTTP/1.1\r\n\r\n", std::string(3000, '\0'),
        "GET /index.html HTTP/1.1\r\n" + std::string(20000, 'h'), std::string("GET / HTTP/2.0\r\n\r\n"),
        std::string("POST / HTTP/1.1\r\nContent-Length: 1x\r\n\r\n")}) {
    int s = connect_to(port_);
    send(s, bad.data(), bad.size(), MSG_NOSIGNAL);
    shutdown(s, SHUT_WR);
    const std::string a = read_all(s);
    close(s);
    EXPECT_TRUE(a.empty() || a.substr(0, 10) == "HTTP/1.1 4" || a.substr(0, 10) == "HTTP/1.1 5") << a.substr(0, 40);
  }
  expect_answer(get("/"), "200 OK", kHtml, "<h1>home</h1>", "after garbage");
  // After its answers an idle server sleeps: it looks ahead for the next
  // connection only for a moment.
  const long before = cpu_ticks(pid_);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_LE(cpu_ticks(pid_) - before, sysconf(_SC_CLK_TCK) / 20) << "busy while idle";
  stop();
}

TEST_F(WwwServer, RequestTimeRunsFromItsFirstByte) {
  // A connection that never says anything is closed its idle time after
  // it was made, however the kernel held it before the server took it.
  const int silent = connect_to(port_);
  const auto made = Clock::now();
  Clock::duration silent_for{};
  std::thread closed([&] {
    EXPECT_EQ(read_all(silent), "");
    silent_for = Clock::now() - made;
  });
  // A POST whose routine waits for the rest of a body that never comes
  // holds the requests behind it up only until its time runs out.
  int post = connect_to(port_);
  const std::string part = "POST /form HTTP/1.1\r\nContent-Length: 30000\r\n\r\n" + std::string(20000, 'a');
  send(post, part.data(), part.size(), MSG_NOSIGNAL);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::string behind;
  std::thread queued([&] { behind = get("/"); });
  // A request trickling in gets 408 when its time is up.
  int s = connect_to(port_);
  const auto start = Clock::now();
  std::string a;
  for (const char* p = "GET / HTTP/1.1\r\nX: trickling on and on and on"; *p != 0 && a.empty(); ++p) {
    send(s, p, 1, MSG_NOSIGNAL);
    pollfd w{s, POLLIN, 0};
    if (poll(&w, 1, 500) > 0) a = read_all(s);
  }
  close(s);
  const auto took = Clock::now() - start;
  EXPECT_EQ(a.substr(0, 12), "HTTP/1.1 408");
  EXPECT_GT(took, std::chrono::seconds(qw::www::kRequestSeconds - 1));
  EXPECT_LT(took, std::chrono::seconds(qw::www::kRequestSeconds + 2));
  queued.join();
  closed.join();
  close(silent);
  EXPECT_GT(silent_for, std::chrono::milliseconds(qw::www::kIdleSeconds * 1000 - 300));
  EXPECT_LT(silent_for, std::chrono::milliseconds(qw::www::kIdleSeconds * 1000 + 700));
  EXPECT_EQ(read_all(post).substr(0, 12), "HTTP/1.1 408");
  close(post);
  expect_answer(behind, "200 OK", kHtml, "<h1>home</h1>", "behind the POST");
  stop();
}

class WwwBoundServer : public WwwServer {
 protected:
  void SetUp() override {
    address_ = "127.0.0.2";
    WwwServer::SetUp();
  }
};

TEST_F(WwwBoundServer, ListensOnTheGivenAddressOnly) {
  expect_answer(get("/"), "200 OK", kHtml, "<h1>home</h1>", "127.0.0.2");
  EXPECT_LT(connect_to(port_, "127.0.0.1", 1), 0);
  stop();
}

// A server in a child process, opened as compiled code opens it, with its
// output (the start message, a fatal line) going into `out`.
pid_t start_server(int port, qw::www::Operation how, int out) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  dup2(out, 1);
  int64_t port_value = port;
  qw::Regs r{};
  r.r8 = how;
  r.r9 = reinterpret_cast<uint64_t>(&port_value);
  r.r10 = how == qw::www::kOpenShared ? 0 : 0x5a5a5a5a;  // shared: 0 for all addresses
  bridge_WWW(r);
  TestWord<16> default_file("index.html");
  qw::www::process(default_file.word(), g_exchange.word(), reinterpret_cast<uint64_t>(&test_get_routine), 0);
  _exit(0);
}

TEST(WwwSharedPort, ProcessesShareAPortOnlyWhenTheyAskForIt) {
  const int port = free_port();
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t servers[2] = {start_server(port, qw::www::kOpenShared, out[1]),
                            start_server(port, qw::www::kOpenShared, out[1])};
  // The kernel spreads the connections over both.
  std::set<std::string> answered_by;
  for (int i = 0; i < 40; ++i) {
    const int s = connect_to(port);
    const std::string get = "GET /who HTTP/1.1\r\n\r\n";
    send(s, get.data(), get.size(), MSG_NOSIGNAL);
    answered_by.insert(body_of(read_all(s)));
    close(s);
  }
  EXPECT_EQ(answered_by, (std::set<std::string>{std::to_string(servers[0]), std::to_string(servers[1])}));
  // A process that does not ask to share finds the port in use.
  const pid_t own = start_server(port, qw::www::kOpen, out[1]);
  int status = -1;
  for (int i = 0; i < 500 && waitpid(own, &status, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  for (pid_t pid : {servers[0], servers[1], own}) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  close(out[1]);
  std::string said;
  char c;
  while (read(out[0], &c, 1) == 1) said += c;
  close(out[0]);
  EXPECT_NE(said.find("098:Address already in use"), std::string::npos) << said;
  EXPECT_EQ(said.substr(0, 58), "[000001]Starting HTML Server\n[000001]Starting HTML Server\n");
}

// A server out of descriptors with no connection to close accepts again
// once descriptors are to be had (it used to wait for ever).
TEST(WwwOutOfDescriptors, AcceptingResumesWhenDescriptorsAreBack) {
  const int port = free_port();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    int64_t port_value = port;
    qw::Regs r{};
    r.r8 = qw::www::kOpen;
    r.r9 = reinterpret_cast<uint64_t>(&port_value);
    bridge_WWW(r);
    close(ready[0]);
    close(ready[1]);
    // room for the server's own descriptor, none for a connection
    const int lowest = dup(0);
    close(lowest);
    rlimit few;
    getrlimit(RLIMIT_NOFILE, &few);
    few.rlim_cur = rlim_t(lowest + 1);
    setrlimit(RLIMIT_NOFILE, &few);
    TestWord<16> default_file("index.html");
    qw::www::process(default_file.word(), g_exchange.word(), reinterpret_cast<uint64_t>(&test_get_routine), 0);
    _exit(0);
  }
  close(ready[1]);
  char c;
  EXPECT_EQ(read(ready[0], &c, 1), 0);  // the child has opened
  close(ready[0]);
  const int s = connect_to(port);
  ASSERT_GE(s, 0);
  const timeval patience = {5, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  const std::string get = "GET /who HTTP/1.1\r\n\r\n";
  send(s, get.data(), get.size(), MSG_NOSIGNAL);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  rlimit more;
  ASSERT_EQ(prlimit(pid, RLIMIT_NOFILE, nullptr, &more), 0);
  more.rlim_cur = more.rlim_max < 256 ? more.rlim_max : 256;
  EXPECT_EQ(prlimit(pid, RLIMIT_NOFILE, &more, nullptr), 0);
  EXPECT_EQ(body_of(read_all(s)), std::to_string(pid));
  close(s);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST(WwwAddresses, DottedTextAndPort) {
  uint32_t a = 0;
  uint16_t p = 0;
  EXPECT_TRUE(qw::www::parse_address("127.0.0.1      ", 15, a));
  EXPECT_EQ(a, htonl(INADDR_LOOPBACK));
  EXPECT_TRUE(qw::www::parse_address("192.168.10.254", 14, a));
  EXPECT_EQ(a, htonl(0xC0A80AFE));
  for (const char* bad : {"", "    ", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "a.b.c.d", "1.2.3.4x", " 1.2.3.4"})
    EXPECT_FALSE(qw::www::parse_address(bad, strlen(bad), a)) << bad;
  EXPECT_TRUE(qw::www::parse_port("8080  ", 6, p));
  EXPECT_EQ(p, htons(8080));
  EXPECT_TRUE(qw::www::parse_port("65535", 5, p));
  for (const char* bad : {"", "65536", "80a", "-1", "123456"})
    EXPECT_FALSE(qw::www::parse_port(bad, strlen(bad), p)) << bad;
}

TEST(WwwDatagrams, SendAndReceiveOnLoopback) {
  const int port = free_port();
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  pid_t pid = fork();
  if (pid == 0) {
    TestWord<10> address("127.0.0.1");
    TestWord<6> port_text(std::to_string(port));
    TestWord<8> message("old text");
    qw::www::receive_message(address.word(), port_text.word(), message.word());
    write(out[1], message.raw + 17, 8);
    _exit(0);
  }
  close(out[1]);
  TestWord<16> address("127.0.0.1");
  TestWord<8> port_text(std::to_string(port));
  TestWord<5> message("hi yo");
  std::string got;
  pollfd p{out[0], POLLIN, 0};
  for (int i = 0; i < 50 && got.empty(); ++i) {
    qw::www::send_message(address.word(), port_text.word(), message.word());
    if (poll(&p, 1, 100) > 0) {
      char buf[16];
      ssize_t n = read(out[0], buf, sizeof buf);
      if (n > 0) got.assign(buf, n);
    }
  }
  close(out[0]);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(got, "hi yo   ");  // the rest of the word is blanked
}

TEST(WwwDeathTest, BadAddressesAndServingBeforeOpeningAreFatal) {
  TestWord<16> address("300.0.0.1");
  TestWord<8> port_text("9");
  TestWord<5> message("hello");
  EXPECT_EXIT(qw::www::send_message(address.word(), port_text.word(), message.word()), ::testing::ExitedWithCode(1),
              "");
  qw::Word bind_to = address.word();
  EXPECT_EXIT(qw::www::open(8080, &bind_to, qw::www::Port::kOwn), ::testing::ExitedWithCode(1), "");
  TestWord<10> default_file("index.html");
  EXPECT_EXIT(qw::www::process(default_file.word(), g_exchange.word(), 0, 0), ::testing::ExitedWithCode(1), "");
}

}  // namespace
