// Regular-expression and prefix helpers the reply parsers share, and the check whether the modem
// has ever answered an AT command.
#pragma once

#include <regex.h>

#include <cstddef>

struct StatusTable;

constexpr int kPatternAreaSize = 2048;

struct PatternArea {
  char input[kPatternAreaSize];
  char pattern[kPatternAreaSize];
  char output[kPatternAreaSize];
};

int compile_regex(regex_t* regex, const char* expression);     // 0 compiled, 1 failed
int match_regex(regex_t* regex, const char* text, char* destination);  // 1 copied, else 0
int DoRegX(PatternArea* area);
int GetAfterPattern(PatternArea* area);
int GetNumberAfterPattern(PatternArea* area);
int RemoveWhiteSpace(const char* source, char* destination, size_t size);
int validATResponse(StatusTable* table);

// A compiled expression that is freed when it goes out of scope.
class ScopedRegex {
 public:
  ScopedRegex() = default;
  ~ScopedRegex() {
    if (compiled_) regfree(&regex_);
  }
  ScopedRegex(const ScopedRegex&) = delete;
  ScopedRegex& operator=(const ScopedRegex&) = delete;
  // 1 when compiled (through compile_regex, with its messages), else 0.
  int Compile(const char* expression) {
    if (compiled_) regfree(&regex_);
    compiled_ = compile_regex(&regex_, expression) == 0;
    return compiled_ ? 1 : 0;
  }
  regex_t* get() { return compiled_ ? &regex_ : nullptr; }

 private:
  regex_t regex_{};
  bool compiled_ = false;
};
