// The preview server's answer to whatever bytes a client sends: cpp-httplib's parser reads them
// from memory (no socket) and the server's handler answers from a small folder. No input may
// crash it, every answer is one status line and headers, and nothing outside the folder or in
// its dot-named files is ever sent. The library is Debian's compiled one, so the fuzzer's
// coverage sees our handler only; the parser is driven blind (the sanitizers still watch the
// memory it gets from us).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "cli/PreviewServer.h"

namespace {

constexpr std::string_view kSecret = "SECRET-e81c0d";

// The folder served (site/) beside one that must stay out of reach, made once.
const std::string& Site() {
  static const std::string site = [] {
    const std::string root = quarry::fuzz::MakeScratchDir("serve");
    std::filesystem::create_directories(root + "/site/sub");
    std::filesystem::create_directories(root + "/site/.git");
    quarry::fuzz::WriteFile(root + "/site/index.html", "<p>home</p>");
    quarry::fuzz::WriteFile(root + "/site/sub/index.html", "<p>sub</p>");
    quarry::fuzz::WriteFile(root + "/site/a.txt", "0123456789abcdefghijkl");
    quarry::fuzz::WriteFile(root + "/site/.env", std::string(kSecret));
    quarry::fuzz::WriteFile(root + "/site/.git/config", std::string(kSecret));
    quarry::fuzz::WriteFile(root + "/secret.txt", std::string(kSecret));
    std::filesystem::create_symlink("../secret.txt", root + "/site/out.txt");
    std::filesystem::create_symlink(".env", root + "/site/env.txt");
    return std::filesystem::canonical(root + "/site").string();
  }();
  return site;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static quarry::PreviewServer server(Site(), true);
  const std::string_view request(reinterpret_cast<const char*>(data), size);
  const std::string answer = server.AnswerBytes(request);
  FUZZ_CHECK(answer.empty() || answer.rfind("HTTP/1.1 ", 0) == 0);
  FUZZ_CHECK(answer.empty() || answer.find("\r\n\r\n") != std::string::npos);
  FUZZ_CHECK(answer.find(kSecret) == std::string::npos ||
             request.find(kSecret) != std::string_view::npos);
  return 0;
}
