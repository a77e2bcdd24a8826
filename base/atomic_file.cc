#include "base/atomic_file.h"

#include "base/temp_file.h"

int ReplaceFileAtomically(const char* path, const char* text, size_t length) {
  TempFile temp;
  return temp.Create(path) && temp.Write(text, length) && temp.Commit() ? 1 : 0;
}
