// bench_child N: writes N bytes (lines of 63 'x' and a line feed) to standard output in 4 KB
// chunks, as a stdio-buffered client would, and exits.
#include <unistd.h>

#include <cstdlib>

int main(int argc, char* argv[]) {
  long left = argc > 1 ? strtol(argv[1], nullptr, 10) : 0;
  static char chunk[4096];
  for (int i = 0; i < 4096; ++i) chunk[i] = (i % 64 == 63) ? '\n' : 'x';
  while (left > 0) {
    long n = left < 4096 ? left : 4096;
    if (write(1, chunk, static_cast<size_t>(n)) != n) return 1;
    left -= n;
  }
  return 0;
}
