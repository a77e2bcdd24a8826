// Replaces a file that other programs read in one step: write a fresh temporary file beside it,
// then rename it over the path, so a reader sees the old content or the new, never a part.
#pragma once

#include <cstddef>

// 1 on success; 0 with errno set when the temporary file could not be written or renamed (the
// temporary file is removed then, and the old file stays).
int ReplaceFileAtomically(const char* path, const char* text, size_t length);
