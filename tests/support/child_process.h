// A program run by a test: started with extra environment variables, its standard output and
// error captured together, waited for with time limits.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ChildProcess {
 public:
  // Runs `program` with `args` (after argv[0] = program) and the current environment plus `env`
  // ("NAME=value", replacing variables of the same name).
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& env);
  ~ChildProcess();  // kills the program if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // True once the captured output contains `text`; false after timeout_ms or when the program
  // ended without printing it.
  bool WaitForOutput(const std::string& text, int timeout_ms);
  // Exit status (128 + signal number when killed by a signal), or -1 after timeout_ms.
  int WaitExit(int timeout_ms);
  void Signal(int signo);
  std::string Output();
  bool Running();

 private:
  void ReadLoop(int fd);

  pid_t pid_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  bool eof_ = false;
  std::string output_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread reader_;
};
