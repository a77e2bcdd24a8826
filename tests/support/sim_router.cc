#include "tests/support/sim_router.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

int ElapsedMs(Clock::time_point since) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

void SleepMs(int ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&ts, nullptr);
}

// Argument and environment vectors for execve; the strings must outlive the call.
std::vector<char*> CVector(const std::vector<std::string>& strings) {
  std::vector<char*> out;
  out.reserve(strings.size() + 1);
  for (const std::string& s : strings) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

int DecodeStatus(int wstatus) {
  if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) return 128 + WTERMSIG(wstatus);
  return -1;
}

int CountOccurrences(const std::string& text, const std::string& substring) {
  if (substring.empty()) return 0;
  int count = 0;
  for (size_t pos = text.find(substring); pos != std::string::npos;
       pos = text.find(substring, pos + substring.size())) {
    ++count;
  }
  return count;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Child side of a fork: own process group, the given descriptors as stdin/stdout/stderr, exec.
// Only async-signal-safe calls here (other threads of the test may hold the allocator's lock), so
// the vectors are built before the fork.
[[noreturn]] void ExecChild(char* const* argv, char* const* env, int out_fd, int err_fd) {
  setpgid(0, 0);
  // A test runner started in the background may ignore these; the program gets the defaults.
  for (int sig : {SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGUSR1, SIGUSR2, SIGHUP}) signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd >= 0) dup2(null_fd, 0);
  dup2(out_fd, 1);
  dup2(err_fd, 2);
  for (int fd = 3; fd < 1024; ++fd) close(fd);
  execve(argv[0], argv, env);
  static const char kFailed[] = "exec failed\n";
  ssize_t ignored = write(2, kFailed, sizeof kFailed - 1);
  (void)ignored;
  _exit(127);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// SimRouter

SimRouter::SimRouter(const std::string& scenario) {
  ProgramResult made = RunProgram(
      {"/bin/sh", std::string(SIM_DIR) + "/make-root.sh", dir_.path(), scenario},
      {"PATH=/usr/bin:/bin"});
  if (made.status != 0) {
    ADD_FAILURE() << "make-root.sh failed (" << made.status << "): " << made.err;
  }
}

std::string SimRouter::Path(const std::string& relative) const {
  return dir_.path() + "/" + relative;
}

void SimRouter::SetScenario(const std::string& name) {
  if (!FileExists(Path("sim/scenarios/" + name))) {
    ADD_FAILURE() << "no scenario " << name;
    return;
  }
  // Replace the file in one step so a client never reads it half written.
  WriteFile(Path("sim/active.new"), name + "\n");
  if (rename(Path("sim/active.new").c_str(), Path("sim/active").c_str()) != 0) {
    ADD_FAILURE() << "cannot switch scenario: " << strerror(errno);
  }
}

std::string SimRouter::Scenario() const {
  std::string text = ReadFile(Path("sim/active"));
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::vector<std::string> SimRouter::Calls() const { return Lines(ReadFile(Path("sim/calls.log"))); }

int SimRouter::CountCalls(const std::string& substring) const {
  int count = 0;
  for (const std::string& line : Calls()) {
    if (line.find(substring) != std::string::npos) ++count;
  }
  return count;
}

void SimRouter::ClearCalls() {
  // Truncate in place: a client appending at this moment keeps a valid descriptor.
  if (truncate(Path("sim/calls.log").c_str(), 0) != 0) {
    ADD_FAILURE() << "cannot clear calls.log: " << strerror(errno);
  }
}

bool SimRouter::WaitForCalls(const std::string& substring, int count, int timeout_ms) const {
  Clock::time_point start = Clock::now();
  for (;;) {
    if (CountCalls(substring) >= count) return true;
    if (ElapsedMs(start) >= timeout_ms) return false;
    SleepMs(20);
  }
}

std::vector<std::string> SimRouter::UnknownCalls() const {
  return Lines(ReadFile(Path("sim/unknown.log")));
}

void SimRouter::MakeScenario(const std::string& name, const std::string& parent) {
  std::string dir = Path("sim/scenarios/" + name);
  std::string command = "rm -rf '" + dir + "'";
  if (system(command.c_str()) != 0) ADD_FAILURE() << "cannot clear " << dir;
  WriteFile(dir + "/parent", parent + "\n");
}

std::string SimRouter::AnswerKey(const std::string& request) {
  std::string key = request;
  for (char& c : key) {
    bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                strchr("@+=.,_-", c) != nullptr;
    if (!keep || c == '\0') c = '_';
  }
  return key;
}

void SimRouter::AddAnswer(const std::string& scenario, const std::string& request,
                          const std::string& out, const std::string& err, int status,
                          const std::string& delay) {
  std::string base = Path("sim/scenarios/" + scenario + "/" + AnswerKey(request));
  for (const char* ext : {".out", ".err", ".rc", ".delay", ".huge", ".then", ".linger"}) {
    unlink((base + ext).c_str());
  }
  if (!out.empty() || err.empty()) WriteFile(base + ".out", out);
  if (!err.empty()) WriteFile(base + ".err", err);
  if (status >= 0) WriteFile(base + ".rc", std::to_string(status) + "\n");
  if (!delay.empty()) WriteFile(base + ".delay", delay + "\n");
}

void SimRouter::WriteRouterFile(const std::string& relative, const std::string& content) const {
  WriteFile(Path(relative), content);
}

std::string SimRouter::ReadRouterFile(const std::string& relative) const {
  return ReadFile(Path(relative));
}

std::vector<std::string> SimRouter::Env() const {
  return {"MODEM_STATUS_ROOT=" + root(), "PATH=" + root() + "/usr/sbin:/usr/bin:/bin"};
}

// ---------------------------------------------------------------------------------------------
// RunProgram

ProgramResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         int timeout_ms) {
  ProgramResult result;
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) return result;
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return result;
  }
  std::vector<char*> cargv = CVector(argv);
  std::vector<char*> cenv = CVector(env);
  pid_t pid = fork();
  if (pid == 0) ExecChild(cargv.data(), cenv.data(), out_pipe[1], err_pipe[1]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (pid < 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    return result;
  }
  setpgid(pid, pid);  // also done by the child; whichever runs first

  Clock::time_point start = Clock::now();
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  char buffer[65536];
  while (open_count > 0) {
    int left = timeout_ms - ElapsedMs(start);
    if (left <= 0) {
      result.timed_out = true;
      break;
    }
    int ready = poll(fds, 2, left);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  for (pollfd& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }

  int wstatus = 0;
  for (;;) {
    pid_t done = waitpid(pid, &wstatus, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return result;
    if (result.timed_out || ElapsedMs(start) >= timeout_ms) {
      result.timed_out = true;
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    SleepMs(2);
  }
  kill(-pid, SIGKILL);  // anything the program left behind in its group
  result.status = DecodeStatus(wstatus);
  return result;
}

// ---------------------------------------------------------------------------------------------
// DaemonProcess

DaemonProcess::DaemonProcess(const SimRouter& sim, const std::vector<std::string>& args,
                             const std::vector<std::string>& extra_env) {
  std::vector<std::string> env = sim.Env();
  env.insert(env.end(), extra_env.begin(), extra_env.end());
  Start(MODEM_STATUSD_BIN, args, env);
}

DaemonProcess::DaemonProcess(const std::string& binary, const std::vector<std::string>& args,
                             const std::vector<std::string>& env) {
  Start(binary, args, env);
}

void DaemonProcess::Start(const std::string& binary, const std::vector<std::string>& args,
                          const std::vector<std::string>& env) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << strerror(errno);
    return;
  }
  std::vector<std::string> argv{binary};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv = CVector(argv);
  std::vector<char*> cenv = CVector(env);
  pid_ = fork();
  if (pid_ == 0) ExecChild(cargv.data(), cenv.data(), fds[1], fds[1]);
  close(fds[1]);
  if (pid_ < 0) {
    ADD_FAILURE() << "fork: " << strerror(errno);
    close(fds[0]);
    return;
  }
  setpgid(pid_, pid_);
  read_fd_ = fds[0];
  reader_ = std::thread([this] { ReadLoop(); });
}

void DaemonProcess::ReadLoop() {
  char buffer[8192];
  pollfd p{read_fd_, POLLIN, 0};
  while (!stop_reader_) {
    int ready = poll(&p, 1, 50);
    if (ready <= 0) continue;
    ssize_t n = read(read_fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (n <= 0) {
      reader_done_ = true;
      changed_.notify_all();
      return;
    }
    output_.append(buffer, static_cast<size_t>(n));
    changed_.notify_all();
  }
}

DaemonProcess::~DaemonProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    int wstatus = 0;
    while (waitpid(pid_, &wstatus, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
  }
  KillGroup();
  stop_reader_ = true;
  if (reader_.joinable()) reader_.join();
  if (read_fd_ >= 0) close(read_fd_);
}

void DaemonProcess::KillGroup() {
  if (pid_ > 0) kill(-pid_, SIGKILL);
}

bool DaemonProcess::Running() {
  if (pid_ <= 0 || reaped_) return false;
  int wstatus = 0;
  if (waitpid(pid_, &wstatus, WNOHANG) == pid_) {
    reaped_ = true;
    exit_status_ = DecodeStatus(wstatus);
    return false;
  }
  return true;
}

std::string DaemonProcess::Output() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_;
}

bool DaemonProcess::WaitForOutput(const std::string& substring, int timeout_ms) const {
  return WaitForOutputCount(substring, 1, timeout_ms);
}

bool DaemonProcess::WaitForOutputCount(const std::string& substring, int count,
                                       int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return CountOccurrences(output_, substring) >= count;
  });
}

int DaemonProcess::CountOutput(const std::string& substring) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return CountOccurrences(output_, substring);
}

void DaemonProcess::Signal(int sig) const {
  if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

int DaemonProcess::Wait(int timeout_ms) {
  if (pid_ <= 0) return -1;
  Clock::time_point start = Clock::now();
  while (Running()) {
    if (ElapsedMs(start) >= timeout_ms) return -1;
    SleepMs(5);
  }
  // Whatever is left of the group would hold the pipe open; then let the reader take in the
  // program's last words.
  KillGroup();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(1000), [this] { return reader_done_; });
  return exit_status_;
}

int DaemonProcess::Stop(int timeout_ms) {
  if (pid_ <= 0) return -1;
  if (reaped_) return exit_status_;
  Signal(SIGINT);
  int status = Wait(timeout_ms);
  if (status == -1 && !reaped_) {
    kill(pid_, SIGKILL);
    int wstatus = 0;
    while (waitpid(pid_, &wstatus, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    exit_status_ = -1;
    KillGroup();
  }
  return status;
}
