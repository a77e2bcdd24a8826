// Test support for end-to-end runs: a simulated router root laid out by sim/make-root.sh, a
// program runner with captured streams, and a daemon process with captured output.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_files.h"

// A simulated router in a fresh temporary folder, removed on destruction. The fake clients log
// every call to sim/calls.log and answer from the scenario named in sim/active.
class SimRouter {
 public:
  explicit SimRouter(const std::string& scenario = "default");
  SimRouter(const SimRouter&) = delete;
  SimRouter& operator=(const SimRouter&) = delete;

  const std::string& root() const { return dir_.path(); }
  // root() + "/" + relative.
  std::string Path(const std::string& relative) const;

  // Switches the answers (takes effect on the next client call, also while a daemon runs).
  // Router files stay as they are; files/ of a scenario is applied only by make-root.sh.
  void SetScenario(const std::string& name);
  std::string Scenario() const;

  // Lines of sim/calls.log: the client's short name and its arguments joined by single blanks.
  std::vector<std::string> Calls() const;
  int CountCalls(const std::string& substring) const;
  void ClearCalls();
  // Waits until at least `count` logged calls contain `substring`.
  bool WaitForCalls(const std::string& substring, int count, int timeout_ms) const;
  // Calls that no answer of the scenario matched (sim/unknown.log).
  std::vector<std::string> UnknownCalls() const;

  // Creates (or empties the answers of) scenario `name` inheriting from `parent`, in this root only.
  void MakeScenario(const std::string& name, const std::string& parent = "default");
  // Gives scenario `scenario` an answer for `request`, written as the normalised request: the
  // short name and the arguments joined by blanks, with @ for the current modem index, the QMI
  // device and the home-network argument ("mmcli -m @ --command=AT+CSQ"). status -1 means the
  // default (1 with only stderr, else 0). delay: seconds before answering, "" for none.
  void AddAnswer(const std::string& scenario, const std::string& request, const std::string& out,
                 const std::string& err = "", int status = -1, const std::string& delay = "");
  // The answer file name of a normalised request (every character outside A-Z a-z 0-9 @ + = . , _ -
  // becomes _).
  static std::string AnswerKey(const std::string& request);

  // Writes (or reads) a file under the root, e.g. "tmp/corvane/protocol".
  void WriteRouterFile(const std::string& relative, const std::string& content) const;
  std::string ReadRouterFile(const std::string& relative) const;

  // The environment the daemon runs with: MODEM_STATUS_ROOT and a PATH that finds gpio and
  // i2cset of the root first.
  std::vector<std::string> Env() const;

 private:
  TempDir dir_;
};

struct ProgramResult {
  std::string out;   // standard output
  std::string err;   // standard error
  int status = -1;   // exit status; 128 + signal when killed; -1 when it could not run
  bool timed_out = false;
};

// Runs argv[0] (a path) with exactly `env` as its environment and empty standard input. A program
// still running after timeout_ms is killed with its process group.
ProgramResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         int timeout_ms = 10000);

// A program started in its own process group with standard output and error captured through
// one pipe. On destruction the program and everything left of its group are killed and reaped.
class DaemonProcess {
 public:
  // Starts MODEM_STATUSD_BIN with `args` and sim.Env() plus `extra_env`.
  DaemonProcess(const SimRouter& sim, const std::vector<std::string>& args,
                const std::vector<std::string>& extra_env = {});
  // Starts `binary` with `args` and exactly `env`.
  DaemonProcess(const std::string& binary, const std::vector<std::string>& args,
                const std::vector<std::string>& env);
  ~DaemonProcess();
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool Running();

  // Everything the program has written so far.
  std::string Output() const;
  bool WaitForOutput(const std::string& substring, int timeout_ms) const;
  // Waits until `substring` occurs at least `count` times.
  bool WaitForOutputCount(const std::string& substring, int count, int timeout_ms) const;
  int CountOutput(const std::string& substring) const;

  void Signal(int sig) const;
  // Sends SIGINT and waits for the exit. Returns the exit status (128 + signal when killed by
  // one), or -1 when it did not end within timeout_ms (it is then killed).
  int Stop(int timeout_ms = 5000);
  // Waits for the program to end by itself; the exit status as Stop, -1 on timeout (not killed).
  int Wait(int timeout_ms);

 private:
  void Start(const std::string& binary, const std::vector<std::string>& args,
             const std::vector<std::string>& env);
  void ReadLoop();
  void KillGroup();

  pid_t pid_ = -1;
  int read_fd_ = -1;
  int exit_status_ = -1;
  bool reaped_ = false;
  std::atomic<bool> stop_reader_{false};
  bool reader_done_ = false;  // guarded by mutex_
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string output_;
  std::thread reader_;
};
