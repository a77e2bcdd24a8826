#include "tests/support/json_validator.h"

#include <cctype>
#include <cstring>

namespace {

class Checker {
 public:
  explicit Checker(const std::string& text) : s_(text) {}

  bool Document(std::string* error) {
    SkipSpace();
    bool ok = Value(0);
    SkipSpace();
    if (ok && i_ != s_.size()) ok = Fail("trailing text");
    if (!ok && error != nullptr) *error = what_ + " at offset " + std::to_string(i_);
    return ok;
  }

 private:
  bool Fail(const char* what) {
    if (what_.empty()) what_ = what;
    return false;
  }
  bool AtEnd() const { return i_ >= s_.size(); }
  unsigned char Peek() const { return AtEnd() ? 0 : static_cast<unsigned char>(s_[i_]); }
  void SkipSpace() {
    while (!AtEnd() && strchr(" \t\r\n", s_[i_]) != nullptr && s_[i_] != '\0') ++i_;
  }
  bool Literal(const char* word) {
    size_t n = strlen(word);
    if (s_.compare(i_, n, word) != 0) return Fail("bad literal");
    i_ += n;
    return true;
  }

  bool Value(int depth) {
    if (depth > 64) return Fail("too deep");
    switch (Peek()) {
      case '{': return Object(depth);
      case '[': return Array(depth);
      case '"': return String();
      case 't': return Literal("true");
      case 'f': return Literal("false");
      case 'n': return Literal("null");
      default: return Number();
    }
  }

  bool Object(int depth) {
    ++i_;
    SkipSpace();
    if (Peek() == '}') return ++i_, true;
    for (;;) {
      SkipSpace();
      if (Peek() != '"' || !String()) return Fail("expected a member name");
      SkipSpace();
      if (Peek() != ':') return Fail("expected ':'");
      ++i_;
      SkipSpace();
      if (!Value(depth + 1)) return false;
      SkipSpace();
      if (Peek() == ',') { ++i_; continue; }
      if (Peek() == '}') return ++i_, true;
      return Fail("expected ',' or '}'");
    }
  }

  bool Array(int depth) {
    ++i_;
    SkipSpace();
    if (Peek() == ']') return ++i_, true;
    for (;;) {
      SkipSpace();
      if (!Value(depth + 1)) return false;
      SkipSpace();
      if (Peek() == ',') { ++i_; continue; }
      if (Peek() == ']') return ++i_, true;
      return Fail("expected ',' or ']'");
    }
  }

  static bool IsHex(unsigned char c) { return isxdigit(c) != 0; }

  bool String() {
    ++i_;
    for (;;) {
      if (AtEnd()) return Fail("unterminated string");
      unsigned char c = Peek();
      if (c == '"') return ++i_, true;
      if (c < 0x20) return Fail("control character in string");
      if (c == '\\') {
        ++i_;
        unsigned char e = Peek();
        if (e == 'u') {
          for (int k = 1; k <= 4; ++k) {
            if (i_ + k >= s_.size() || !IsHex(static_cast<unsigned char>(s_[i_ + k]))) {
              return Fail("bad \\u escape");
            }
          }
          i_ += 5;
          continue;
        }
        if (e == 0 || strchr("\"\\/bfnrt", e) == nullptr) return Fail("bad escape");
        ++i_;
        continue;
      }
      if (c < 0x80) { ++i_; continue; }
      if (!Utf8()) return Fail("invalid UTF-8");
    }
  }

  bool Utf8() {
    unsigned char c = Peek();
    size_t n;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c >= 0xE0 && c <= 0xEF) { n = 3; if (c == 0xE0) lo = 0xA0; if (c == 0xED) hi = 0x9F; }
    else if (c >= 0xF0 && c <= 0xF4) { n = 4; if (c == 0xF0) lo = 0x90; if (c == 0xF4) hi = 0x8F; }
    else return false;
    if (i_ + n > s_.size()) return false;
    auto b = [&](size_t k) { return static_cast<unsigned char>(s_[i_ + k]); };
    if (b(1) < lo || b(1) > hi) return false;
    for (size_t k = 2; k < n; ++k) if (b(k) < 0x80 || b(k) > 0xBF) return false;
    i_ += n;
    return true;
  }

  bool Digits() {
    size_t start = i_;
    while (isdigit(Peek())) ++i_;
    return i_ > start;
  }

  bool Number() {
    if (Peek() == '-') ++i_;
    if (Peek() == '0') {
      ++i_;
    } else if (!Digits()) {
      return Fail("expected a value");
    }
    if (Peek() == '.') {
      ++i_;
      if (!Digits()) return Fail("bad fraction");
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++i_;
      if (Peek() == '+' || Peek() == '-') ++i_;
      if (!Digits()) return Fail("bad exponent");
    }
    return true;
  }

  const std::string& s_;
  size_t i_ = 0;
  std::string what_;
};

}  // namespace

bool IsValidJson(const std::string& text, std::string* error) {
  return Checker(text).Document(error);
}
