// Regular-expression and prefix helpers the reply parsers share.
#pragma once

#include <regex.h>

#include <cstddef>

constexpr int kPatternAreaSize = 2048;

struct PatternArea {
  char input[kPatternAreaSize];
  char pattern[kPatternAreaSize];
  char output[kPatternAreaSize];
};

int CompilePattern(regex_t* regex, const char* expression);             // 0 compiled, 1 failed
int MatchPattern(regex_t* regex, const char* text, char* destination);  // 1 copied, else 0
// 1 when the expression in area.pattern matches area.input; the match goes to area.output.
int DoRegX(PatternArea* area);
// 1 when text follows the first occurrence of area.pattern; that text goes to area.output.
int GetAfterPattern(PatternArea* area);
// 1 when a number follows the first occurrence of area.pattern: its digits, '-' and '.' go to
// area.output.
int GetNumberAfterPattern(PatternArea* area);
// Copies only the letters and digits of source and returns 0; when source and its terminator do
// not fit in size, returns its length (counted up to size) + 1 and leaves destination untouched.
int RemoveWhiteSpace(const char* source, char* destination, size_t size);

// A compiled expression that is freed when it goes out of scope.
class ScopedRegex {
 public:
  ScopedRegex() = default;
  ~ScopedRegex() {
    if (compiled_) regfree(&regex_);
  }
  ScopedRegex(const ScopedRegex&) = delete;
  ScopedRegex& operator=(const ScopedRegex&) = delete;
  // 1 when compiled (through CompilePattern, with its messages), else 0.
  int Compile(const char* expression) {
    if (compiled_) regfree(&regex_);
    compiled_ = CompilePattern(&regex_, expression) == 0;
    return compiled_ ? 1 : 0;
  }
  regex_t* get() { return compiled_ ? &regex_ : nullptr; }

 private:
  regex_t regex_{};
  bool compiled_ = false;
};
