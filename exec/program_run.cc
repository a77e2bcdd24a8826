#include "exec/program_run.h"

#include <fcntl.h>
#include <sched.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "base/clock.h"
#include "base/scoped_handles.h"
#include "base/signals.h"
#include "base/stop_event.h"

// Sanitizer runtimes keep per-process state that a child sharing the daemon's memory would change
// through their interceptors: instrumented builds start the child with fork.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PROGRAM_RUN_USE_FORK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define PROGRAM_RUN_USE_FORK 1
#endif
#endif

namespace {

constexpr int kScratchSize = 1024;
constexpr int kMaxFdToClose = 65536;
// Stack of the child between its start and execve: a few system calls only.
constexpr size_t kChildStackSize = 16384;
// The child's end of the pipe that reports a failed execve.
constexpr int kErrorFd = 3;

class Pipe {
 public:
  bool Open() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    read_end.Reset(fds[0]);
    write_end.Reset(fds[1]);
    return true;
  }
  ScopedFd read_end;
  ScopedFd write_end;
};

bool Stopped(const StopEvent* stop) { return stop != nullptr && stop->IsSignalled(); }

// The stop event's descriptor for poll; -1 (skipped by poll) when there is none.
int StopFd(const StopEvent* stop) { return stop != nullptr ? stop->fd() : -1; }

// Milliseconds left of `limitMs` since `start`, counting the limit as passed only when the elapsed
// time is strictly larger; 0 when passed.
int64_t MsLeft(int32_t start, int32_t limitMs) {
  int32_t elapsed = TicksBetween(start, GetTicks());
  if (elapsed > limitMs) return 0;
  return static_cast<int64_t>(limitMs) - elapsed + 1;
}

// A poll timeout of `leftMs`.
int PollMs(int64_t leftMs) { return static_cast<int>(leftMs < INT32_MAX ? leftMs : INT32_MAX); }

// Moves `fd` above the standard descriptors so the dup2 calls below cannot clobber it.
int AboveStandard(int fd) {
  if (fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD, 3);
  return moved >= 0 ? moved : fd;
}

// Child side, between the start and execve. The child shares the daemon's memory (the daemon
// waits meanwhile), so only system calls that touch nothing but the child's own stack are made:
// no locks, no stdio, no heap. When execve fails, its errno goes to `error_write` (closed on a
// successful execve).
[[noreturn]] void RunChild(int in_read, int out_write, int error_write, const char* path,
                           char* const argv[], char* const envp[], int max_fd,
                           const sigset_t* empty_mask, pid_t daemon_pid) {
  // Own process group, so the whole tree can be killed at the limit.
  setpgid(0, 0);
  // A client must not outlive a daemon that was killed outright while waiting for it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != daemon_pid) _exit(127);
  // Handlers are reset by execve, ignored signals and the blocked mask are not.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &dfl, nullptr);
  }
  sigprocmask(SIG_SETMASK, empty_mask, nullptr);

  in_read = AboveStandard(in_read);
  out_write = AboveStandard(out_write);
  error_write = AboveStandard(error_write);
  if (dup2(in_read, 0) < 0 || dup2(out_write, 1) < 0 || dup2(out_write, 2) < 0) _exit(127);
  // The error pipe becomes descriptor 3, closed by a successful execve.
  if (error_write != kErrorFd && dup2(error_write, kErrorFd) < 0) _exit(127);
  fcntl(kErrorFd, F_SETFD, FD_CLOEXEC);

  // Only the standard descriptors go to the program, whatever the rest of the daemon opened.
  bool closed = false;
#ifdef SYS_close_range
  closed = syscall(SYS_close_range, kErrorFd + 1u, ~0u, 0u) == 0;
#endif
  if (!closed) {
    for (int fd = kErrorFd + 1; fd < max_fd; ++fd) close(fd);
  }

  execve(path, argv, envp);
  int error = errno;
  ssize_t ignored = write(kErrorFd, &error, sizeof error);
  (void)ignored;
  _exit(127);
}

struct ChildStart {
  int in_read;
  int out_write;
  int error_write;
  const char* path;
  char* const* argv;
  char* const* envp;
  int max_fd;
  const sigset_t* empty_mask;
  pid_t daemon_pid;
};

int ChildMain(void* arg) {
  const auto* start = static_cast<const ChildStart*>(arg);
  RunChild(start->in_read, start->out_write, start->error_write, start->path, start->argv,
           start->envp, start->max_fd, start->empty_mask, start->daemon_pid);
}

// Starts the child without copying the daemon's address space (which fork would do, page table by
// page table, for every client run): the child borrows the memory on a stack of its own and the
// calling thread waits until it has called execve or exited.
pid_t StartChild(ChildStart* start, char* stack, size_t stack_size) {
#ifdef PROGRAM_RUN_USE_FORK
  (void)stack;
  (void)stack_size;
  pid_t pid = fork();
  if (pid == 0) ChildMain(start);
  return pid;
#else
  // The stack grows down on every target of this daemon.
  char* top = stack + stack_size;
  return clone(ChildMain, top, CLONE_VM | CLONE_VFORK | SIGCHLD, start);
#endif
}

// A descriptor that becomes readable when the child ends, or -1 where the kernel has none.
int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

// True once the child has ended; it is left unreaped, so its process id (and group) stays ours.
bool HasEnded(pid_t pid) {
  for (;;) {
    siginfo_t info {};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
      return info.si_pid != 0;
    }
    if (errno != EINTR) return true;  // ECHILD: nothing left to wait for
  }
}

// How the child ended: by itself (with its wait status) or killed by the run.
struct Reaped {
  bool endedByItself;
  int waitStatus;
};

// Gives the child what is left of the total limit to end. A child still running then, or one whose
// output is still held open by processes it started, has its whole process group killed. The child
// is always reaped.
Reaped ReapChild(pid_t pid, int32_t start, int32_t totalLimitMs, bool output_ended,
                 const StopEvent* stop) {
  bool ended = HasEnded(pid);
  if (!ended) {
    ScopedFd pidfd(OpenPidFd(pid));
    int32_t nap_ms = 1;
    while (!Stopped(stop) && !ended) {
      int64_t left = MsLeft(start, totalLimitMs);
      if (left <= 0) break;
      if (pidfd.valid()) {
        struct pollfd pfds[2] = {{pidfd.get(), POLLIN, 0}, {StopFd(stop), POLLIN, 0}};
        poll(pfds, 2, PollMs(left));
      } else {
        // No descriptor tells when the child ends: look again after growing naps.
        struct pollfd pfd {StopFd(stop), POLLIN, 0};
        poll(&pfd, 1, PollMs(nap_ms < left ? nap_ms : left));
        if (nap_ms < 20) nap_ms *= 2;
      }
      ended = HasEnded(pid);
    }
  }
  if (!ended || !output_ended) {
    // The child is not reaped yet, so its group id cannot belong to anyone else.
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return {ended, status};
}

// The exit status of a wait status, or 128 + the signal that ended the process.
int ExitStatus(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return -1;
}

ProgramOutcome NotStarted(const char* path, const char* step, int error) {
  fprintf(stderr, "Could not start %s: %s %s\n", path, step, strerror(error));
  return {};
}

}  // namespace

ProgramOutcome RunProgram(const ProgramRun& run, char* output, size_t size) {
  const StopEvent* stop = run.stop;
  ProgramOutcome outcome;
  if (Stopped(stop)) {
    outcome.end = RunEnd::kStopped;
    return outcome;
  }
  int32_t start = GetTicks();

  Pipe to_child;
  if (!to_child.Open()) return NotStarted(run.path, "(input pipe)", errno);
  Pipe from_child;
  if (!from_child.Open()) return NotStarted(run.path, "(output pipe)", errno);
  Pipe exec_error;
  if (!exec_error.Open()) return NotStarted(run.path, "(error pipe)", errno);

  // Everything the child needs is prepared before it starts.
  // Upper bound for closing descriptors one by one where the kernel cannot close a range.
  struct rlimit files {};
  int max_fd = kMaxFdToClose;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < kMaxFdToClose) {
    max_fd = static_cast<int>(files.rlim_cur);
  }
  sigset_t all, empty, previous;
  sigfillset(&all);
  sigemptyset(&empty);
  char* const empty_env[] = {nullptr};

  ChildStart child{to_child.read_end.get(),
                   from_child.write_end.get(),
                   exec_error.write_end.get(),
                   run.path,
                   run.argv,
                   run.environment != nullptr ? run.environment : empty_env,
                   max_fd,
                   &empty,
                   getpid()};
  alignas(16) char child_stack[kChildStackSize];

  // No signal handler may run in the child before its dispositions are reset: it would run on
  // the daemon's memory.
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  pid_t pid = StartChild(&child, child_stack, sizeof child_stack);
  int fork_errno = errno;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (pid < 0) return NotStarted(run.path, "(fork)", fork_errno);
  // The child has set its own group before execve; this call only covers a kernel that let the
  // daemon run on early.
  setpgid(pid, pid);

  to_child.read_end.Close();
  from_child.write_end.Close();
  exec_error.write_end.Close();

  // Empty once execve succeeded (the child's end closed with it); the errno when it failed.
  int exec_errno = 0;
  ssize_t error_got;
  do {
    error_got = read(exec_error.read_end.get(), &exec_errno, sizeof exec_errno);
  } while (error_got < 0 && errno == EINTR);
  if (error_got == static_cast<ssize_t>(sizeof exec_errno)) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return NotStarted(run.path, "", exec_errno);
  }

  char scratch[kScratchSize];
  size_t stored = 0;
  size_t remaining = size > 0 ? size - 1 : 0;
  bool first_read = true;
  bool output_ended = false;
  bool read_failed = false;
  while (!Stopped(stop)) {
    // Wait for output or the stop event, never past the total limit.
    int64_t left = MsLeft(start, run.totalLimitMs);
    if (left <= 0) break;
    struct pollfd pfds[2] = {{from_child.read_end.get(), POLLIN, 0}, {StopFd(stop), POLLIN, 0}};
    int ready = poll(pfds, 2, PollMs(left));
    if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
    if (ready > 0 && pfds[0].revents == 0) continue;  // the stop event: seen at the loop head
    ssize_t got = -1;
    if (ready > 0) {
      do {
        got = read(from_child.read_end.get(), scratch, kScratchSize - 1);
      } while (got < 0 && errno == EINTR);
    }
    if (got < 0) {
      fprintf(stderr, first_read ? "Could not read the output of %s\n"
                                 : "Could not read the output of %s again\n",
              run.path);
      read_failed = true;
      break;
    }
    first_read = false;
    if (got == 0) {  // every writer has closed: nothing more can arrive
      output_ended = true;
      break;
    }
    if (remaining == 0) {
      outcome.truncated = true;
      break;
    }
    size_t n = static_cast<size_t>(got);
    if (n > remaining) {
      n = remaining;
      outcome.truncated = true;
    }
    // A NUL inside the chunk ends the text; the chunk still counts whole.
    strncpy(output + stored, scratch, n);
    stored += n;
    output[stored] = '\0';
    remaining -= n;
    // Once the buffer is full the rest would only be read and dropped.
    if (remaining == 0) {
      outcome.truncated = true;
      break;
    }
    if (TicksBetween(start, GetTicks()) > run.totalLimitMs) break;
  }

  from_child.read_end.Close();
  to_child.write_end.Close();
  Reaped reaped = ReapChild(pid, start, run.totalLimitMs, output_ended, stop);
  outcome.length = static_cast<int32_t>(stored);
  if (reaped.endedByItself && (output_ended || outcome.truncated || read_failed)) {
    outcome.end = RunEnd::kExited;
    outcome.status = ExitStatus(reaped.waitStatus);
  } else if (Stopped(stop)) {
    outcome.end = RunEnd::kStopped;
  } else {
    outcome.end = RunEnd::kTimedOut;
  }
  return outcome;
}
