#include "exec/shell_command.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <initializer_list>

extern char** environ;

namespace {

// Owns a posix_spawnattr_t for the duration of one start.
class SpawnAttributes {
 public:
  SpawnAttributes() { ok_ = posix_spawnattr_init(&attr_) == 0; }
  ~SpawnAttributes() {
    if (ok_) posix_spawnattr_destroy(&attr_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  bool ok() const { return ok_; }
  posix_spawnattr_t* get() { return &attr_; }

 private:
  posix_spawnattr_t attr_;
  bool ok_ = false;
};

ShellCommandRunner replacementRunner = nullptr;

}  // namespace

void SetShellCommandRunner(ShellCommandRunner runner) { replacementRunner = runner; }

int RunShellCommand(const char* command) {
  if (replacementRunner != nullptr) return replacementRunner(command);
  SpawnAttributes attr;
  if (!attr.ok()) return -1;
  sigset_t empty, defaults;
  sigemptyset(&empty);
  sigemptyset(&defaults);
  for (int signo : {SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGPIPE, SIGCHLD}) sigaddset(&defaults, signo);
  if (posix_spawnattr_setsigmask(attr.get(), &empty) != 0 ||
      posix_spawnattr_setsigdefault(attr.get(), &defaults) != 0 ||
      posix_spawnattr_setflags(attr.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) != 0) {
    return -1;
  }
  char shell_name[] = "sh";
  char dash_c[] = "-c";
  char* argv[] = {shell_name, dash_c, const_cast<char*>(command), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, attr.get(), argv, environ) != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}
