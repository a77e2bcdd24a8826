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
