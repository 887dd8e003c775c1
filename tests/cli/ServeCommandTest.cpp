// Runs 'quarry-cli serve --port 0' on a folder made at run time and asks it for files over
// HTTP on 127.0.0.1: content types, and the paths that must never reach outside the folder.
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

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
      {"/app.js", "text/javascript", "export {};"},
      {"/style.CSS", "text/css", "p {}"},
      {"/settings.json", "application/json", "{}"},
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
  };
  for (const std::string& path : rows) {
    const httplib::Result result = Get(path);
    ASSERT_TRUE(result) << path;
    EXPECT_TRUE(result->status == 403 || result->status == 404) << path << " " << result->status;
    EXPECT_EQ(result->body.find(kSecret), std::string::npos) << path;
  }
}

}  // namespace
