// A strict JSON checker for tests: one value per RFC 8259 (UTF-8 text, escapes, numbers), with
// nothing but white space around it.
#pragma once

#include <string>

// True when `text` is exactly one valid JSON document. On false, `error` (when given) says where.
bool IsValidJson(const std::string& text, std::string* error = nullptr);
