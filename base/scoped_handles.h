// Owners that close a descriptor or a stdio file when they go out of scope.
#pragma once

#include <unistd.h>

#include <cstdio>

#include "base/unique_resource.h"

struct FdTraits {
  using Handle = int;
  static constexpr int Invalid() { return -1; }
  static int Release(int fd) { return close(fd); }
};

struct StdioFileTraits {
  using Handle = FILE*;
  static constexpr FILE* Invalid() { return nullptr; }
  static int Release(FILE* file) { return fclose(file); }
};

using ScopedFd = UniqueResource<FdTraits>;
using ScopedFile = UniqueResource<StdioFileTraits>;
