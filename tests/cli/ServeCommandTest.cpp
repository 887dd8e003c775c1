// Runs 'quarry-cli serve --port 0' on a folder made at run time and asks it for files over
// HTTP on 127.0.0.1: content types, the paths that must never reach outside the folder or into
// its dot-named files, ranges, revalidation, the Host rule, and clients that misbehave.
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/MemoryMeasured.h"
#include "support/TestDirectory.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kSecret = "outside the site";

// The folder tree, the server child and its port, shared by the tests of this file.
class ServeCommandTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new quarry::test::TestDirectory("serve");
    const quarry::test::TestDirectory& d = *dir_;
    fs::create_directories(d / "site/sub");
    fs::create_directories(d / "site/empty");
    fs::create_directories(d / "outside");
    d.Write("outside/secret.txt", kSecret);
    d.Write("site/index.html", "<p>home</p>");
    d.Write("site/sub/index.html", "<p>sub</p>");
    d.Write("site/app.js", "export {};");
    d.Write("site/style.CSS", "p {}");
    d.Write("site/settings.json", "{}");
    d.Write("site/qrywDb.dat", std::string("QR01\0\0", 6));
    d.Write("site/module.mjs", "export {};");
    d.Write("site/file22.txt", "0123456789abcdefghijkl");
    d.Write("site/.env", kSecret);
    fs::create_directories(d / "site/.git");
    d.Write("site/.git/config", kSecret);
    d.Write("site/sub/.draft.html", kSecret);
    fs::create_symlink(".env", d / "site/env.txt");  // a link to a dot-named file
    fs::create_directory_symlink("../outside", d / "site/out");
    fs::create_symlink(d / "outside/secret.txt", d / "site/secret.txt");
    fs::create_symlink("index.html", d / "site/inside.html");

    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      const std::string site = d / "site";
      ::execl(QUARRY_CLI, QUARRY_CLI, "serve", site.c_str(), "--port", "0", nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    // The first line names the URL; give the child ten seconds to print it.
    std::string line;
    pollfd ready{out[0], POLLIN, 0};
    char c = 0;
    while (line.find('\n') == std::string::npos && ::poll(&ready, 1, 10000) == 1 &&
           ::read(out[0], &c, 1) == 1) {
      line += c;
    }
    ::close(out[0]);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(line, match, std::regex("http://127\\.0\\.0\\.1:([0-9]+)/")))
        << line;
    port_ = std::stoi(match[1]);
  }

  static void TearDownTestSuite() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    delete dir_;
  }

  static httplib::Result Get(const std::string& path) {
    httplib::Client client("127.0.0.1", port_);
    client.set_url_encode(false);  // send each path byte for byte
    client.set_connection_timeout(5);
    client.set_read_timeout(5);
    return client.Get(path);
  }

  static inline quarry::test::TestDirectory* dir_ = nullptr;
  static inline pid_t pid_ = -1;
  static inline int port_ = 0;
};

TEST_F(ServeCommandTest, ServesFilesWithTheirContentTypes) {
  const struct {
    const char* path;
    const char* type;
    const char* body;
  } rows[] = {
      {"/", "text/html", "<p>home</p>"},
      {"/index.html", "text/html", "<p>home</p>"},
      {"/sub/", "text/html", "<p>sub</p>"},
      {"/inside.html", "text/html", "<p>home</p>"},  // a link that stays inside
      {"/./sub//index.html", "text/html", "<p>sub</p>"},
      {"/app.js", "text/javascript; charset=utf-8", "export {};"},
      {"/module.mjs", "text/javascript; charset=utf-8", "export {};"},
      {"/style.CSS", "text/css; charset=utf-8", "p {}"},
      {"/settings.json", "application/json; charset=utf-8", "{}"},
      {"/file22.txt", "text/plain; charset=utf-8", "0123456789"},
      {"/qrywDb.dat", "application/octet-stream", "QR01"},
  };
  for (const auto& row : rows) {
    const httplib::Result result = Get(row.path);
    ASSERT_TRUE(result) << row.path;
    EXPECT_EQ(result->status, 200) << row.path;
    EXPECT_EQ(result->get_header_value("Content-Type"), row.type) << row.path;
    EXPECT_EQ(result->body.substr(0, std::string_view(row.body).size()), row.body) << row.path;
  }
  for (const char* path : {"/sub", "//sub", "/./sub?x=1"}) {
    const httplib::Result folder = Get(path);
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->status, 301);
    EXPECT_EQ(folder->get_header_value("Location"), "/sub/") << path;
  }
}

TEST_F(ServeCommandTest, NeverServesAFileOutsideTheSite) {
  const std::string outside = (*dir_) / "outside/secret.txt";
  const std::string rows[] = {
      "/../outside/secret.txt",
      "/sub/../../outside/secret.txt",
      "/%2e%2e/outside/secret.txt",
      "/%2E%2E%2Foutside%2Fsecret.txt",
      "/..%2f..%2f..%2f..%2f..%2f..%2f..%2f..%2f" + outside.substr(1),
      "/" + outside,
      "//" + outside,
      "/%2F" + outside.substr(1),
      "/out/secret.txt",  // a link to a folder outside
      "/secret.txt",      // a link to a file outside
      "/index.html%00.txt",
      "/empty/",  // a folder without index.html
      "/missing.html",
      "/.env",  // dot-named files and folders are no part of the site
      "/.git/config",
      "/%2egit/config",
      "/sub/.draft.html",
      "/env.txt",  // a link to one
  };
  for (const std::string& path : rows) {
    const httplib::Result result = Get(path);
    ASSERT_TRUE(result) << path;
    EXPECT_TRUE(result->status == 403 || result->status == 404) << path << " " << result->status;
    EXPECT_EQ(result->body.find(kSecret), std::string::npos) << path;
  }
}

}  // namespace

namespace {

// A raw connection to the server, for requests no well-behaved client would send.
class Raw {
 public:
  explicit Raw(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Raw() { ::close(fd_); }
  Raw(const Raw&) = delete;
  Raw& operator=(const Raw&) = delete;

  // Sends bytes; false once the server has closed the connection.
  bool Send(const std::string& bytes) {
    return connected_ && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                             static_cast<ssize_t>(bytes.size());
  }
  // Everything the server sends until it closes, or until seconds have passed.
  std::string Receive(int seconds = 5) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    char buffer[65536];
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd ready{fd_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) != 1) break;
      const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
  }

 private:
  int fd_;
  bool connected_ = false;
};

std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find('\r')); }

// The server's peak resident memory, in KiB.
long PeakMemoryKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace

TEST_F(ServeCommandTest, RangesRevalidationAndTheHostRule) {
  const httplib::Result plain = Get("/file22.txt");
  ASSERT_TRUE(plain);
  const std::string etag = plain->get_header_value("ETag");
  const std::string modified = plain->get_header_value("Last-Modified");
  EXPECT_FALSE(etag.empty());
  EXPECT_NE(modified.find(" GMT"), std::string::npos) << modified;
  const struct {
    std::string header;
    const char* status;
    const char* range;  // Content-Range, or "" for none
    const char* body;   // the start of the body
  } rows[] = {
      {"Range: bytes=2-5", "206", "bytes 2-5/22", "2345"},
      {"Range: bytes=20-100", "206", "bytes 20-21/22", "kl"},
      {"Range: bytes=-3", "206", "bytes 19-21/22", "jkl"},
      {"Range: bytes=100-200", "416", "bytes */22", ""},
      {"Range: bytes=0-1,5-6", "416", "bytes */22", ""},
      {"Range: bytes=0-0,0-0,0-0,0-0", "416", "bytes */22", ""},
      {"Range: bytes=0-1,5-2", "416", "bytes */22", ""},  // refused by the library's parser
      {"If-None-Match: " + etag, "304", "", ""},
      {"If-None-Match: \"other\"", "200", "", "0123"},
      {"If-Modified-Since: " + modified, "304", "", ""},
  };
  for (const auto& row : rows) {
    Raw raw(port_);
    ASSERT_TRUE(
        raw.Send("GET /file22.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n" + row.header + "\r\n\r\n"));
    const std::string answer = raw.Receive();
    EXPECT_EQ(StatusLine(answer).substr(9, 3), row.status) << row.header << "\n" << answer;
    const std::size_t range = answer.find("Content-Range: ");
    EXPECT_EQ(range == std::string::npos
                  ? ""
                  : answer.substr(range + 15, answer.find('\r', range) - range - 15),
              row.range)
        << row.header;
    EXPECT_EQ(answer.substr(answer.find("\r\n\r\n") + 4, std::string_view(row.body).size()),
              row.body)
        << row.header;
  }
  const struct {
    const char* host;  // nullptr: no Host header
    const char* status;
  } hosts[] = {
      {"localhost", "200"},
      {"LOCALHOST:8000", "200"},
      {"preview.localhost", "200"},
      {"127.0.0.1:1", "200"},
      {"127.1.2.3", "200"},
      {"[::1]:8000", "200"},
      {"evil.example", "403"},
      {"127.0.0.1.evil.example", "403"},
      {"localhost.evil", "403"},
      {"128.0.0.1", "403"},
      {"[::2]", "403"},
      {"localhost:x", "403"},
      {nullptr, "400"},
  };
  for (const auto& row : hosts) {
    Raw raw(port_);
    ASSERT_TRUE(raw.Send(std::string("GET /index.html HTTP/1.1\r\n") +
                         (row.host ? std::string("Host: ") + row.host + "\r\n" : "") + "\r\n"));
    EXPECT_EQ(StatusLine(raw.Receive()).substr(9, 3), row.status) << (row.host ? row.host : "none");
  }
}

TEST_F(ServeCommandTest, MisbehavingClientsDoNotHoldTheServer) {
  // Sixteen clients that send a request a byte every 2 s; a seventeenth is answered at once.
  std::vector<std::unique_ptr<Raw>> slow;
  for (int i = 0; i < 16; ++i) {
    slow.push_back(std::make_unique<Raw>(port_));
    ASSERT_TRUE(slow.back()->Send("G"));
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  for (const auto& client : slow) ASSERT_TRUE(client->Send("E"));
  const auto start = std::chrono::steady_clock::now();
  const httplib::Result answered = Get("/index.html");
  EXPECT_TRUE(answered && answered->status == 200);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  slow.clear();

  // A burst of 200 connections, each with its request, is answered in full and soon.
  const auto burst = std::chrono::steady_clock::now();
  std::vector<std::unique_ptr<Raw>> many;
  for (int i = 0; i < 200; ++i) {
    many.push_back(std::make_unique<Raw>(port_));
    ASSERT_TRUE(
        many.back()->Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"));
  }
  int ok = 0;
  for (const auto& client : many) ok += StatusLine(client->Receive()) == "HTTP/1.1 200 OK";
  EXPECT_EQ(ok, 200);
  EXPECT_LT(std::chrono::steady_clock::now() - burst, std::chrono::seconds(5));
  many.clear();

  // A body left unread after the 405 is never read as a request of its own, however long (the
  // library's buffer holds the first 4 KiB): one answer, then the connection ends.
  Raw put(port_);
  const std::string body =
      std::string(8000, 'x') + "\r\nGET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  ASSERT_TRUE(put.Send("PUT / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                       std::to_string(body.size()) + "\r\n\r\n" + body));
  const std::string answer = put.Receive();
  EXPECT_EQ(StatusLine(answer), "HTTP/1.1 405 Method Not Allowed");
  EXPECT_EQ(answer.find("HTTP/1.1", 1), std::string::npos) << answer;

  // A flood of header lines is cut off after 64 KiB: the server stops reading and closes.
  Raw flood(port_);
  ASSERT_TRUE(flood.Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
  const std::string line = "X-Flood: " + std::string(1000, 'a') + "\r\n";
  std::size_t sent = 0;
  while (sent < (std::size_t{64} << 20) && flood.Send(line)) sent += line.size();
  EXPECT_LT(sent, std::size_t{16} << 20);  // closed long before 64 MB
  EXPECT_LT(quarry::test::kMemoryMeasured ? PeakMemoryKiB(pid_) : 0, 64 << 10);
  EXPECT_TRUE(Get("/index.html"));
}
