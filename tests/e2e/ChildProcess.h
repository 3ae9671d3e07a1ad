// A program run as a child process for end-to-end tests, with its standard output and
// error in files. Every wait is bounded; a child still running at the end is killed.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& out_file, const std::string& err_file,
               const std::map<std::string, std::string>& env = {})
      : out_file_(out_file) {
    pid_ = fork();
    if (pid_ == 0) {
      if (FILE* out = std::freopen(out_file.c_str(), "w", stdout)) (void)out;
      if (FILE* err = std::freopen(err_file.c_str(), "w", stderr)) (void)err;
      if (FILE* in = std::freopen("/dev/null", "r", stdin)) (void)in;
      for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
  }
  ~ChildProcess() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The exit code; -1 when it did not end within `limit` (or died of a signal).
  int Wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (status_ < 0) {
      int status = 0;
      const pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
        break;
      }
      if (std::chrono::steady_clock::now() > end) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_ == 1000 ? -1 : status_;
  }
  void Signal(int signal) { kill(pid_, signal); }

  // The first `n` lines of standard output, waiting (bounded) until they are there.
  std::vector<std::string> Lines(std::size_t n, std::chrono::milliseconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      std::vector<std::string> lines;
      std::ifstream in(out_file_);
      std::string line;
      while (lines.size() < n && std::getline(in, line)) {
        if (in.eof()) break;  // a line not yet finished
        lines.push_back(line);
      }
      if (lines.size() >= n || std::chrono::steady_clock::now() > end) return lines;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string out_file_;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}
