#include "exec/pattern.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "base/console_text.h"

namespace {

constexpr size_t kMaxExpression = 2048;
constexpr int kMaxMatch = 2047;
// The input ends at its first NUL or after this many characters.
constexpr size_t kInputLimit = kPatternAreaSize - 1;

// Finds the first occurrence of the area's pattern inside its input (searched no further than the
// input's end). Returns false when there is none; otherwise sets the position just after it.
bool FindPattern(const PatternArea* area, size_t* after_match, size_t* input_end) {
  *input_end = strnlen(area->input, kInputLimit);
  size_t pattern_len = strnlen(area->pattern, kPatternAreaSize - 1);
  const void* match = memmem(area->input, *input_end, area->pattern, pattern_len);
  if (match == nullptr) return false;
  *after_match = static_cast<size_t>(static_cast<const char*>(match) - area->input) + pattern_len;
  return true;
}

}  // namespace

int CompilePattern(regex_t* regex, const char* expression) {
  if (strnlen(expression, kMaxExpression + 1) > kMaxExpression) {
    puts("Regex definition input exceeded len");
    return 1;
  }
  int rc = regcomp(regex, expression, REG_EXTENDED | REG_NEWLINE);
  if (rc != 0) {
    char message[4096];
    regerror(rc, regex, message, sizeof message);
    PrintOutsideText(stdout, "Regcomp error compiling '%s': %s\n", expression, message);
    return 1;
  }
  return 0;
}

int MatchPattern(regex_t* regex, const char* text, char* destination) {
  regmatch_t match[1];
  int rc = regexec(regex, text, 1, match, 0);
  if (rc != 0) {
    char message[1024];
    regerror(rc, regex, message, sizeof message);
    PrintOutsideText(stdout, "No matches RegEx Error: %s\n", message);
    return 0;
  }
  if (match[0].rm_so == -1 || match[0].rm_eo == -1) return 0;
  regoff_t n = match[0].rm_eo - match[0].rm_so;
  if (n >= 1 && n <= kMaxMatch) {
    memcpy(destination, text + match[0].rm_so, static_cast<size_t>(n));
    return 1;
  }
  fputs("Something's wrong with match_regex\n", stderr);
  return 0;
}

int DoRegX(PatternArea* area) {
  ScopedRegex regex;
  if (!regex.Compile(area->pattern)) return 0;
  int found = MatchPattern(regex.get(), area->input, area->output);
  if (!found) {
    PrintOutsideText(stdout, "DoRegX got no match Input: %s\n", area->input);
    PrintOutsideText(stdout, "Regex : %s\n", area->pattern);
  }
  return found;
}

int GetAfterPattern(PatternArea* area) {
  size_t from = 0;
  size_t input_end = 0;
  if (!FindPattern(area, &from, &input_end)) return 0;
  if (from >= input_end) return 0;
  memcpy(area->output, area->input + from, input_end - from);
  return 1;
}

int GetNumberAfterPattern(PatternArea* area) {
  size_t pos = 0;
  size_t input_end = 0;
  if (!FindPattern(area, &pos, &input_end)) return 0;
  memset(area->output, 0, sizeof area->output);
  if (pos >= input_end) return 0;

  bool digit_found = false;
  size_t appended = 0;
  // One byte of the output stays free for the terminator.
  for (; pos < input_end && appended < sizeof area->output - 1; ++pos) {
    char c = area->input[pos];
    if (isdigit(static_cast<unsigned char>(c))) {
      area->output[appended++] = c;
      digit_found = true;
    } else if (c == '-' || c == '.') {
      area->output[appended++] = c;
    } else if (digit_found) {
      break;
    }
  }
  return digit_found ? 1 : 0;
}

int RemoveWhiteSpace(const char* source, char* destination, size_t size) {
  size_t n = strnlen(source, size);
  if (n + 1 >= size) return static_cast<int>(n + 1);
  size_t out = 0;
  for (size_t i = 0; i < n; ++i) {
    if (isalnum(static_cast<unsigned char>(source[i]))) destination[out++] = source[i];
  }
  destination[out] = '\0';
  return 0;
}
