// Helpers of the bad-input tests: scratch directories, whole-file reads and writes, the strings
// of a page or title file, and running quarry-cli as a child process with a time limit.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/MemoryMeasured.h"
#include "support/TestDirectory.h"

namespace quarry::test {

inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) std::abort();
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The NUL-terminated strings after the 32-byte header of a page or title file.
inline std::vector<std::string> StringsOf(const std::string& fileBytes) {
  std::vector<std::string> out;
  std::size_t pos = 32;
  while (pos < fileBytes.size()) {
    std::size_t end = fileBytes.find('\0', pos);
    if (end == std::string::npos) end = fileBytes.size();
    out.push_back(fileBytes.substr(pos, end - pos));
    pos = end + 1;
  }
  return out;
}

struct RunResult {
  int exitCode = -1;  // the exit status, or -1 when the child did not exit normally
  int signal = 0;     // the signal that ended the child, if one did
  bool timedOut = false;
  long maxRssKiB = 0;  // the child's peak resident memory (getrusage's ru_maxrss)
  std::string out;
  std::string err;
};

// Runs argv[0] with argv in directory cwd, stdin from /dev/null, and waits at most `seconds`;
// a child still running then is killed and reported as timed out. Notes the child's peak memory.
inline RunResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd,
                            int seconds = 120) {
  const std::string outPath = cwd + "/.run-stdout";
  const std::string errPath = cwd + "/.run-stderr";
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  RunResult result;
  int status = 0;
  rusage usage{};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (wait4(pid, &status, WNOHANG, &usage) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &usage);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  result.maxRssKiB = usage.ru_maxrss;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  std::filesystem::remove(outPath);
  std::filesystem::remove(errPath);
  return result;
}

}  // namespace quarry::test
