#include "tests/support/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

extern char** environ;

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env) {
  // Everything the child needs is built before fork: only async-signal-safe calls follow it.
  std::vector<std::string> environment = env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& extra : env) replaced |= extra.compare(0, name.size() + 1, name + "=") == 0;
    if (!replaced) environment.push_back(entry);
  }
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << strerror(errno);
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fds[1], 1);
    dup2(fds[1], 2);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(fds[1]);
  if (pid_ < 0) {
    ADD_FAILURE() << "fork: " << strerror(errno);
    close(fds[0]);
    return;
  }
  reader_ = std::thread(&ChildProcess::ReadLoop, this, fds[0]);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    WaitExit(5000);
  }
  if (reader_.joinable()) reader_.join();
}

void ChildProcess::ReadLoop(int fd) {
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (n <= 0) {
      eof_ = true;
      changed_.notify_all();
      break;
    }
    output_.append(buf, static_cast<size_t>(n));
    changed_.notify_all();
  }
  close(fd);
}

bool ChildProcess::WaitForOutput(const std::string& text, int timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return output_.find(text) != std::string::npos || eof_;
  }) && output_.find(text) != std::string::npos;
}

int ChildProcess::WaitExit(int timeout_ms) {
  if (pid_ <= 0) return -1;
  if (reaped_) return status_;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      // The reader may not have taken the last output from the pipe yet: give it until the
      // deadline to reach the end, so Output() after an exit holds everything the child wrote.
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait_until(lock, deadline, [&] { return eof_; });
      return status_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    usleep(5000);
  }
}

void ChildProcess::Signal(int signo) {
  if (pid_ > 0 && !reaped_) kill(pid_, signo);
}

std::string ChildProcess::Output() {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_;
}

bool ChildProcess::Running() { return pid_ > 0 && WaitExit(0) == -1; }
