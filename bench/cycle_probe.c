/* Preloaded into modem-statusd by scripts/bench.sh (LD_PRELOAD); never part of the daemon.
 *
 * A status cycle is the main thread's stretch between two of its sleeps (nanosleep) in which it
 * started at least one child. For each cycle it appends one line to the file named by
 * BENCH_PROBE_LOG:
 *   cycle WALL_NS CHILDREN_WALL_NS CHILDREN CPU_NS CHILDREN_CPU_NS MAIN_ALLOCS ALL_ALLOCS
 * where a child's wall time runs from fork/clone/posix_spawn to the wait that reaps it, CPU_NS is the
 * daemon's own CPU time (all its threads, no children), CHILDREN_CPU_NS what the reaped children
 * used, and the allocation counts are heap calls (malloc, calloc, realloc, aligned forms) of the
 * main thread and of every thread. With BENCH_PROBE_EXECS set, every program the daemon starts
 * adds the lines
 *   exec PID NAME       (NAME: the last part of the path given to execve)
 *   reap PID CPU_NS     (the CPU the child used, when it is reaped with waitpid)
 * before the cycle line of the cycle it ran in. The programs the daemon starts get its environment
 * without LD_PRELOAD: the bench's preloads are not the router's. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdarg.h>
#include <spawn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);
extern void* __libc_memalign(size_t, size_t);
extern void __libc_free(void*);

static __thread unsigned long thread_allocs;
static unsigned long* main_allocs;
static unsigned long all_allocs;

static int trace_fd = -1;  /* BENCH_PROBE_TRACE: backtraces of the main thread's heap calls */
static __thread int tracing;
static int OnMain(void);
static int InCycle(void);

static void Count(void) {
  ++thread_allocs;
  __atomic_fetch_add(&all_allocs, 1, __ATOMIC_RELAXED);
  if (trace_fd >= 0 && !tracing && InCycle() && OnMain()) {
    tracing = 1;
    void* frames[24];
    int n = backtrace(frames, 24);
    backtrace_symbols_fd(frames, n, trace_fd);
    if (write(trace_fd, "--\n", 3) < 0) {
      /* lost */
    }
    tracing = 0;
  }
}

void* malloc(size_t n) { Count(); return __libc_malloc(n); }
void* calloc(size_t n, size_t m) { Count(); return __libc_calloc(n, m); }
void* realloc(void* p, size_t n) { Count(); return __libc_realloc(p, n); }
void free(void* p) { __libc_free(p); }
void* memalign(size_t a, size_t n) { Count(); return __libc_memalign(a, n); }
void* aligned_alloc(size_t a, size_t n) { Count(); return __libc_memalign(a, n); }
int posix_memalign(void** out, size_t a, size_t n) {
  Count();
  void* p = __libc_memalign(a, n);
  if (p == NULL) return 12;
  *out = p;
  return 0;
}

typedef pid_t (*ForkFn)(void);
typedef int (*CloneFn)(int (*)(void*), void*, int, void*, ...);
typedef int (*SpawnFn)(pid_t*, const char*, const posix_spawn_file_actions_t*,
                       const posix_spawnattr_t*, char* const[], char* const[]);
typedef pid_t (*WaitpidFn)(pid_t, int*, int);
typedef int (*NanosleepFn)(const struct timespec*, struct timespec*);
typedef int (*ExecveFn)(const char*, char* const[], char* const[]);

static ForkFn real_fork;
static CloneFn real_clone;
static SpawnFn real_posix_spawn;
static WaitpidFn real_waitpid;
static NanosleepFn real_nanosleep;
static ExecveFn real_execve;
static int log_fd = -1;
static char log_path[4096];
static pid_t main_tid;

#define kSlots 16
static struct { pid_t pid; int64_t start; } running[kSlots];

static struct {
  int active;
  int64_t wall_start, cpu_start, children_cpu_start;
  unsigned long main_allocs_start, all_allocs_start;
  int64_t children_wall;
  long children;
} cycle;

static int64_t Now(clockid_t clock) {
  struct timespec t;
  clock_gettime(clock, &t);
  return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

static int64_t ChildrenCpu(void) {
  struct rusage u;
  getrusage(RUSAGE_CHILDREN, &u);
  return ((int64_t)u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000000 +
         ((int64_t)u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1000;
}

static int OnMain(void) { return (pid_t)syscall(SYS_gettid) == main_tid; }
static int InCycle(void) { return cycle.active; }

__attribute__((constructor)) static void Init(void) {
  main_tid = (pid_t)syscall(SYS_gettid);
  main_allocs = &thread_allocs;
  real_fork = (ForkFn)dlsym(RTLD_NEXT, "fork");
  real_clone = (CloneFn)dlsym(RTLD_NEXT, "clone");
  real_posix_spawn = (SpawnFn)dlsym(RTLD_NEXT, "posix_spawn");
  real_waitpid = (WaitpidFn)dlsym(RTLD_NEXT, "waitpid");
  real_nanosleep = (NanosleepFn)dlsym(RTLD_NEXT, "nanosleep");
  real_execve = (ExecveFn)dlsym(RTLD_NEXT, "execve");
  const char* path = getenv("BENCH_PROBE_LOG");
  if (path != NULL) {
    log_fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (getenv("BENCH_PROBE_EXECS") != NULL) snprintf(log_path, sizeof log_path, "%s", path);
  }
  const char* trace = getenv("BENCH_PROBE_TRACE");
  if (trace != NULL) {
    void* warm[2];
    tracing = 1;
    backtrace(warm, 2);  /* loads the unwinder now, not inside a counted call */
    tracing = 0;
    trace_fd = open(trace, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
}

static void Started(pid_t pid, int64_t start) {
  if (pid <= 0 || !OnMain()) return;
  for (int i = 0; i < kSlots; ++i) {
    if (running[i].pid == 0) {
      running[i].pid = pid;
      running[i].start = start;
      return;
    }
  }
}

pid_t fork(void) {
  int64_t start = Now(CLOCK_MONOTONIC);
  pid_t pid = real_fork();
  if (pid > 0) Started(pid, start);
  return pid;
}

int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...) {
  va_list more;
  va_start(more, arg);
  pid_t* parent_tid = va_arg(more, pid_t*);
  void* tls = va_arg(more, void*);
  pid_t* child_tid = va_arg(more, pid_t*);
  va_end(more);
  int64_t start = Now(CLOCK_MONOTONIC);
  int pid = real_clone(fn, stack, flags, arg, parent_tid, tls, child_tid);
  if (pid > 0) Started(pid, start);
  return pid;
}

int posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                const posix_spawnattr_t* attr, char* const argv[], char* const envp[]) {
  int64_t start = Now(CLOCK_MONOTONIC);
  int rc = real_posix_spawn(pid, path, actions, attr, argv, envp);
  if (rc == 0 && pid != NULL) Started(*pid, start);
  return rc;
}

/* Called in the child, which may still share the daemon's memory and has its descriptors moved:
 * the log is opened afresh; system calls only, no stdio, no heap. */
/* Appends the decimal digits of `value` at `out`; returns how many. */
static size_t PutNumber(char* out, long long value) {
  char digits[24];
  size_t n = 0;
  if (value < 0) value = 0;
  do {
    digits[n++] = (char)('0' + value % 10);
    value /= 10;
  } while (value > 0);
  for (size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

/* Called in the child, which may still share the daemon's memory and has its descriptors moved:
 * the log is opened afresh; system calls only, no stdio, no heap. */
int execve(const char* path, char* const argv[], char* const envp[]) {
  int fd = log_path[0] != '\0' ? open(log_path, O_WRONLY | O_APPEND | O_CLOEXEC) : -1;
  if (fd >= 0) {
    const char* name = strrchr(path, '/');
    name = name != NULL ? name + 1 : path;
    char line[160];
    size_t n = 0;
    memcpy(line, "exec ", 5);
    n = 5;
    n += PutNumber(line + n, (long long)syscall(SYS_getpid));
    line[n++] = ' ';
    size_t length = strlen(name);
    if (length > sizeof line - n - 1) length = sizeof line - n - 1;
    memcpy(line + n, name, length);
    n += length;
    line[n++] = '\n';
    if (write(fd, line, n) < 0) {
      /* lost */
    }
    close(fd);
  }
  /* The preloads are the bench's instruments (this probe, umockdev): the programs the daemon
   * starts run without them, as on the router. Runs between vfork and execve: no heap. */
  char* bare[256];
  size_t kept = 0;
  int dropped = 0, full = 0;
  for (size_t i = 0; envp != NULL && envp[i] != NULL; ++i) {
    if (strncmp(envp[i], "LD_PRELOAD=", 11) == 0) {
      dropped = 1;
    } else if (kept < sizeof bare / sizeof bare[0] - 1) {
      bare[kept++] = envp[i];
    } else {
      full = 1;
    }
  }
  bare[kept] = NULL;
  return real_execve(path, argv, dropped && !full ? bare : envp);
}

pid_t waitpid(pid_t pid, int* status, int options) {
  int64_t before = log_path[0] != '\0' ? ChildrenCpu() : 0;
  pid_t got = real_waitpid(pid, status, options);
  if (got > 0 && log_path[0] != '\0' && log_fd >= 0) {
    /* What this child used (and whatever it reaped itself). */
    char line[80];
    int n = snprintf(line, sizeof line, "reap %d %lld\n", (int)got,
                     (long long)(ChildrenCpu() - before));
    if (n > 0 && write(log_fd, line, (size_t)n) < 0) {
      /* lost */
    }
  }
  if (got > 0 && OnMain()) {
    for (int i = 0; i < kSlots; ++i) {
      if (running[i].pid == got) {
        running[i].pid = 0;
        cycle.children_wall += Now(CLOCK_MONOTONIC) - running[i].start;
        ++cycle.children;
      }
    }
  }
  return got;
}

int nanosleep(const struct timespec* want, struct timespec* left) {
  if (!OnMain()) return real_nanosleep(want, left);
  if (cycle.active && cycle.children > 0 && log_fd >= 0) {
    char line[256];
    int n = snprintf(line, sizeof line, "cycle %lld %lld %ld %lld %lld %lu %lu\n",
                     (long long)(Now(CLOCK_MONOTONIC) - cycle.wall_start),
                     (long long)cycle.children_wall, cycle.children,
                     (long long)(Now(CLOCK_PROCESS_CPUTIME_ID) - cycle.cpu_start),
                     (long long)(ChildrenCpu() - cycle.children_cpu_start),
                     *main_allocs - cycle.main_allocs_start,
                     __atomic_load_n(&all_allocs, __ATOMIC_RELAXED) - cycle.all_allocs_start);
    if (n > 0 && write(log_fd, line, (size_t)n) < 0) {
      /* nothing to do about a lost line */
    }
  }
  int rc = real_nanosleep(want, left);
  cycle.active = 1;
  cycle.wall_start = Now(CLOCK_MONOTONIC);
  cycle.cpu_start = Now(CLOCK_PROCESS_CPUTIME_ID);
  cycle.children_cpu_start = ChildrenCpu();
  cycle.main_allocs_start = *main_allocs;
  cycle.all_allocs_start = __atomic_load_n(&all_allocs, __ATOMIC_RELAXED);
  cycle.children_wall = 0;
  cycle.children = 0;
  return rc;
}
