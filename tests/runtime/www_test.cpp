// HTML server on a loopback port and UDP datagrams.  The server runs in a
// child process; every wait of the test is bounded.
#include <sys/syscall.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "arena.h"
#include "item.h"
#include "www.h"

namespace {

using qwtest::TestWord;

TestWord<4096> g_exchange("");
int g_post_calls = 0;

bool exchange_starts(const char* prefix) {
  return g_exchange.str().compare(0, strlen(prefix), prefix) == 0;
}

void set_exchange(const std::string& text) {
  memcpy(g_exchange.raw + 17, text.data(), text.size());
}

// The program's GET routine.
extern "C" void test_get_routine() {
  if (exchange_starts("GET /hello ")) {
    set_exchange("Hello, and more text that is not sent");
    qw::return_code().set_value(5);
  } else if (exchange_starts("GET /stop ")) {
    qw::error_code().set_value(99);
  } else if (exchange_starts("GET /long ")) {
    qw::return_code().set_value(100000);  // more than the word holds
  }
  // Anything else leaves RETURN_CODE 0: the file is served.
}

// The program's POST routine: it wants "part2" before it answers.
extern "C" void test_post_routine() {
  ++g_post_calls;
  const std::string text = g_exchange.str();
  if (text.find("part2") == std::string::npos) {
    qw::return_code().set_value(23);
    return;
  }
  set_exchange("POSTED" + std::to_string(g_post_calls));
  qw::return_code().set_value(7);
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

int connect_to(int port) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{10, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return s;
    close(s);
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return -1;
}

std::string read_all(int s) {
  std::string out;
  char buf[8192];
  ssize_t n;
  while ((n = recv(s, buf, sizeof buf, 0)) > 0) out.append(buf, n);
  return out;
}

const std::string k200 = "HTTP/1.1 200 OK\r\n\r\n";
const std::string k204 = "HTTP/1.1 204 OK\r\n\r\n";

class WwwServer : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = qwtest::make_temp_dir("/tmp/qw_www_XXXXXX");
    mkdir((root_ + "/site").c_str(), 0755);
    mkdir((root_ + "/site/sub").c_str(), 0755);
    write_file("site/index.html", "<h1>home</h1>");
    write_file("site/sub/a.txt", "in a subdirectory");
    write_file("secret", "outside the site");
    write_file("site/big.bin", big_content());
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
      int64_t port = port_;
      TestWord<16> default_file("index.html");
      qw::www::open(port);
      qw::www::process(default_file.word(), g_exchange.word(), reinterpret_cast<uint64_t>(&test_get_routine),
                       reinterpret_cast<uint64_t>(&test_post_routine));
      // process() returns only when told to stop; the socket is closed then.
      _exit(qw::error_code().value() == 99 ? 0 : 4);
    }
    close(out[1]);
    start_message_ = read_all_fd(out[0]);
    close(out[0]);
  }

  void TearDown() override {
    if (pid_ > 0) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
    }
    if (!qwtest::remove_tree(root_)) ADD_FAILURE() << "cleanup";
  }

  static std::string big_content() {
    std::string s(70000, ' ');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
  }

  void write_file(const std::string& rel, const std::string& content) {
    std::ofstream(root_ + "/" + rel, std::ios::binary) << content;
  }

  // One request on its own connection; the server closes after answering.
  std::string request(const std::string& text) {
    int s = connect_to(port_);
    if (s < 0) return "no connection";
    send(s, text.data(), text.size(), MSG_NOSIGNAL);
    std::string out = read_all(s);
    close(s);
    return out;
  }

  std::string get(const std::string& path) { return request("GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n"); }

  // Stops the server and expects it to end by itself.
  void stop() {
    EXPECT_EQ(get("/stop"), k200);
    int status = -1;
    for (int i = 0; i < 500 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    pid_ = -1;
    // The listening socket is closed.
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port_);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_NE(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    close(s);
  }

  static std::string read_all_fd(int fd) {
    // The start message comes before the server listens; read just it.
    std::string out;
    char c;
    pollfd p{fd, POLLIN, 0};
    while (out.size() < 29 && poll(&p, 1, 5000) > 0 && read(fd, &c, 1) == 1) out += c;
    return out;
  }

  std::string root_;
  int port_ = 0;
  pid_t pid_ = -1;
  std::string start_message_;
};

TEST_F(WwwServer, FilesRoutinesAndStop) {
  EXPECT_EQ(start_message_, "[000001]Starting HTML Server\n");
  EXPECT_EQ(get("/"), k200 + "<h1>home</h1>");
  EXPECT_EQ(get("/index.html"), k200 + "<h1>home</h1>");
  EXPECT_EQ(get("/index.html?x=1"), k200 + "<h1>home</h1>");
  EXPECT_EQ(get("/sub/a.txt"), k200 + "in a subdirectory");
  EXPECT_EQ(get("/inside"), k200 + "<h1>home</h1>");
  EXPECT_EQ(get("/missing.html"), k204);
  EXPECT_EQ(get("/sub"), k204);  // a directory is not a file
  EXPECT_EQ(get("/hello"), k200 + "Hello");
  // A count beyond the word answers the whole word and no more.
  const std::string long_request = "GET /long HTTP/1.1\r\nHost: x\r\n\r\n";
  EXPECT_EQ(get("/long"), k200 + long_request + std::string(4096 - long_request.size(), ' '));
  const std::string big = get("/big.bin");
  ASSERT_EQ(big.size(), k200.size() + qw::www::kMaxBody);
  EXPECT_EQ(big.substr(k200.size()), big_content().substr(0, qw::www::kMaxBody));
  stop();
}

TEST_F(WwwServer, PostRoutineReadsTheRestOfTheRequest) {
  int s = connect_to(port_);
  ASSERT_GE(s, 0);
  const std::string head = "POST /form HTTP/1.1\r\nContent-Length: 10\r\n\r\npart1";
  send(s, head.data(), head.size(), MSG_NOSIGNAL);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  send(s, "part2", 5, MSG_NOSIGNAL);
  EXPECT_EQ(read_all(s), k200 + "POSTED2");
  close(s);
  // A client that stops sending in the middle gets 204, and others are
  // served afterwards.
  s = connect_to(port_);
  send(s, head.data(), head.size(), MSG_NOSIGNAL);
  shutdown(s, SHUT_WR);
  EXPECT_EQ(read_all(s), k204);
  close(s);
  EXPECT_EQ(get("/"), k200 + "<h1>home</h1>");
  stop();
}

TEST_F(WwwServer, NothingOutsideTheWorkingDirectoryIsServed) {
  for (const char* path : {"/../secret", "/sub/../../secret", "/..", "//etc/passwd", "/escape",
                           "/absolute", "/sub/../index.html"}) {
    EXPECT_EQ(get(path), k204) << path;
  }
  stop();
}

TEST_F(WwwServer, MalformedRequestsAreSurvived) {
  for (const std::string& bad :
       {std::string(""), std::string("G"), std::string("GET"), std::string("GET /"),
        std::string("GET /index.html"), std::string("XYZ"), std::string("GET\r\n\r\n"),
        "GET /" + std::string(5000, 'a') + " HTTP/1.1\r\n\r\n", std::string(3000, '\0'),
        "GET /index.html HTTP/1.1\r\n" + std::string(9000, 'h')}) {
    int s = connect_to(port_);
    ASSERT_GE(s, 0);
    send(s, bad.data(), bad.size(), MSG_NOSIGNAL);
    shutdown(s, SHUT_WR);
    const std::string answer = read_all(s);
    close(s);
    EXPECT_TRUE(answer.empty() || answer == k204 || answer == k200 + "<h1>home</h1>")
        << bad.size() << ": " << answer.substr(0, 40);
  }
  EXPECT_EQ(get("/"), k200 + "<h1>home</h1>");
  stop();
}

TEST_F(WwwServer, SilentClientHoldsOthersUpForABoundedTimeOnly) {
  int idle = connect_to(port_);
  ASSERT_GE(idle, 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(get("/"), k200 + "<h1>home</h1>");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_LT(waited, std::chrono::seconds(qw::www::kConnectionTimeout + 3));
  close(idle);
  stop();
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

TEST(WwwAddresses, SafePaths) {
  EXPECT_TRUE(qw::www::safe_path("index.html"));
  EXPECT_TRUE(qw::www::safe_path("a/b..c/d"));
  EXPECT_TRUE(qw::www::safe_path("..hidden"));
  EXPECT_FALSE(qw::www::safe_path("/etc/passwd"));
  EXPECT_FALSE(qw::www::safe_path(".."));
  EXPECT_FALSE(qw::www::safe_path("a/../../b"));
  EXPECT_FALSE(qw::www::safe_path("a/.."));
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

TEST(WwwDatagramsDeathTest, BadAddressIsFatal) {
  TestWord<16> address("300.0.0.1");
  TestWord<8> port_text("9");
  TestWord<5> message("hello");
  EXPECT_EXIT(qw::www::send_message(address.word(), port_text.word(), message.word()),
              ::testing::ExitedWithCode(1), "");
}

TEST(WwwServerDeathTest, ServingBeforeOpeningIsFatal) {
  TestWord<10> default_file("index.html");
  EXPECT_EXIT(qw::www::process(default_file.word(), g_exchange.word(), 0, 0), ::testing::ExitedWithCode(1), "");
}

}  // namespace
