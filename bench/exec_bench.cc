// What running a client through RunProgram costs beyond the client itself, next to the reference
// read loop that keeps reading until the idle limit has passed after the output has ended.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "base/clock.h"
#include "exec/program_run.h"

namespace {

constexpr int32_t kTotalMs = 2000;
constexpr int32_t kIdleMs = 100;  // the reference loop's idle limit
constexpr int32_t kOutputSize = 32768;
char output[kOutputSize];

std::string child_path;

double ChildrenCpuSeconds() {
  struct rusage usage {};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The read loop as first written: after the child's output has ended it reads again (each read
// returning 0 at once) until more than the idle limit has passed since the last data.
int32_t LiteralExec(const char* path, char* const argv[], int32_t totalLimitMs,
                    int32_t idleLimitMs, char* out, int32_t outputSize) {
  int32_t start = GetTicks();
  int32_t last_data = GetTicks();
  int in[2], from[2];
  if (pipe(in) != 0) return -1;
  if (pipe(from) != 0) {
    close(in[0]);
    close(in[1]);
    return -1;
  }
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(from[1], 1);
    dup2(from[1], 2);
    close(in[1]);
    close(from[0]);
    char* const empty_env[] = {nullptr};
    execve(path, argv, empty_env);
    _exit(127);
  }
  close(in[0]);
  close(from[1]);
  if (pid < 0) {
    close(in[1]);
    close(from[0]);
    return 0;
  }
  char scratch[1024];
  ssize_t got = read(from[0], scratch, 1023);
  int32_t stored = 0;
  int32_t remaining = outputSize - 1;
  while (got >= 0) {
    if (remaining <= 0) break;
    int32_t now = GetTicks();
    if (got > 0) {
      last_data = now;
    } else if (TicksBetween(last_data, now) > idleLimitMs) {
      break;
    }
    int32_t n = static_cast<int32_t>(got) < remaining ? static_cast<int32_t>(got) : remaining;
    strncpy(out + stored, scratch, static_cast<size_t>(n));
    stored += n;
    out[stored] = '\0';
    remaining -= n;
    if (TicksBetween(start, GetTicks()) > totalLimitMs) break;
    got = read(from[0], scratch, 1023);
  }
  close(from[0]);
  close(in[1]);
  waitpid(pid, nullptr, 0);
  return stored;
}

// Only starting the child the cheapest way the C library offers (posix_spawn, which does not copy
// the address space) and waiting for it, its output going to /dev/null: the child's own run time
// as far as a parent can see it.
void SpawnOnly(const char* path, char* const argv[]) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  char* const empty_env[] = {nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, path, &actions, nullptr, argv, empty_env) == 0) waitpid(pid, nullptr, 0);
  posix_spawn_file_actions_destroy(&actions);
}

template <int kWhich>
void BM_Run(benchmark::State& state) {
  std::string bytes = std::to_string(state.range(0));
  char name[] = "bench_child";
  char* argv[] = {name, &bytes[0], nullptr};
  const char* path = child_path.c_str();
  double children_before = ChildrenCpuSeconds();
  for (auto _ : state) {
    if (kWhich == 0) {
      SpawnOnly(path, argv);
    } else if (kWhich == 1) {
      output[0] = '\0';
      int32_t n = RunProgram({path, argv, kTotalMs, nullptr}, output, kOutputSize).length;
      if (n != state.range(0)) state.SkipWithError("short output");
    } else {
      output[0] = '\0';
      int32_t n = LiteralExec(path, argv, kTotalMs, kIdleMs, output, kOutputSize);
      if (n != state.range(0)) state.SkipWithError("short output");
    }
  }
  state.counters["child_cpu_us"] = benchmark::Counter(
      (ChildrenCpuSeconds() - children_before) * 1e6 / static_cast<double>(state.iterations()));
}

void Sizes(benchmark::internal::Benchmark* b) { b->Arg(0)->Arg(1024)->Arg(16384); }

BENCHMARK_TEMPLATE(BM_Run, 0)->Name("spawn_only")->Apply(Sizes)->UseRealTime()
    ->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK_TEMPLATE(BM_Run, 1)->Name("run_program")->Apply(Sizes)->UseRealTime()
    ->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK_TEMPLATE(BM_Run, 2)->Name("literal_loop")->Apply(Sizes)->UseRealTime()
    ->Unit(benchmark::kMicrosecond)->Iterations(4)->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  // The child program sits next to this one.
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = '\0';
  child_path = self;
  child_path = child_path.substr(0, child_path.rfind('/') + 1) + "bench_child";
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
