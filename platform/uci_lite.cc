// Reader of UCI configuration files with libuci's lookup semantics, for builds without libuci.
#include "platform/uci_api.h"

#ifndef HAVE_LIBUCI

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaxFileSize = 1024 * 1024;

// One option with the storage behind its public record; `items` holds one value for a plain
// option and every value of a list.
struct OptionData {
  uci_option option{};
  std::string name;
  std::vector<std::string> items;
};

bool IsAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Section and option names: letters, digits and '_'.
bool ValidName(const char* s) {
  if (*s == '\0') return false;
  for (; *s != '\0'; ++s) {
    if (!IsAlnum(*s) && *s != '_') return false;
  }
  return true;
}

// Package names (also file names): letters, digits, '_' and '-'.
bool ValidPackage(const char* s) {
  if (*s == '\0') return false;
  for (; *s != '\0'; ++s) {
    if (!IsAlnum(*s) && *s != '_' && *s != '-') return false;
  }
  return true;
}

// Section types: any printable character but the blank.
bool ValidType(const char* s) {
  if (*s == '\0') return false;
  for (; *s != '\0'; ++s) {
    unsigned char c = static_cast<unsigned char>(*s);
    if (c < 33 || c > 126) return false;
  }
  return true;
}

}  // namespace

struct uci_section {
  uci_element e{};
  uci_package* package = nullptr;
  std::string name;
  std::string type;
  bool anonymous = false;
  std::vector<std::unique_ptr<OptionData>> options;
};

struct uci_package {
  uci_element e{};
  std::string name;
  std::vector<std::unique_ptr<uci_section>> sections;
};

struct uci_context {
  std::string confdir = "/etc/config";
  std::vector<std::unique_ptr<uci_package>> packages;
  int err = UCI_OK;
  std::string reason;  // detail of a parse or I/O error
  int line = 0;
  int byte = 0;
};

namespace {

int Fail(uci_context* ctx, int code, const char* reason = "", int line = 0, int byte = 0) {
  ctx->err = code;
  ctx->reason = reason;
  ctx->line = line;
  ctx->byte = byte;
  return code;
}

// Parses the text of one package file into `pkg`, following libuci's file syntax: commands
// separated by newlines or ';', words in single quotes (literal), double quotes (backslash
// escapes) or bare (backslash escapes), '#' outside quotes starts a comment.
class FileParser {
 public:
  FileParser(const std::string& text, uci_package* pkg) : text_(text), pkg_(pkg) {}

  // true when the whole text parsed; otherwise reason(), line() and byte() tell why and where.
  bool Run() {
    std::vector<std::string> words;
    while (pos_ < text_.size()) {
      words.clear();
      if (!ReadCommand(&words)) return false;
      if (!words.empty() && !Execute(words)) return false;
    }
    FinishSections();
    return true;
  }

  const char* reason() const { return reason_; }
  int line() const { return error_line_; }
  int byte() const { return error_byte_; }

 private:
  int Column() const { return static_cast<int>(pos_ - line_start_) + 1; }

  bool Error(const char* reason, int line, int byte) {
    reason_ = reason;
    error_line_ = line;
    error_byte_ = byte;
    return false;
  }

  void NewLine() {
    ++line_;
    line_start_ = pos_;
  }

  // Reads the words of one command; stops after its newline or ';'.
  bool ReadCommand(std::vector<std::string>* words) {
    for (;;) {
      while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                     text_[pos_] == '\r' || text_[pos_] == '\f' ||
                                     text_[pos_] == '\v')) {
        ++pos_;
      }
      if (pos_ >= text_.size()) return true;
      char c = text_[pos_];
      if (c == '\n') {
        ++pos_;
        NewLine();
        return true;
      }
      if (c == ';') {
        ++pos_;
        return true;
      }
      if (c == '#') {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
        continue;
      }
      if (words->empty()) {
        command_line_ = line_;
        command_byte_ = Column();
      }
      std::string word;
      if (!ReadWord(&word)) return false;
      words->push_back(word);
    }
  }

  // One word; a '#' inside it starts a comment that runs to the end of the line.
  bool ReadWord(std::string* word) {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v' || c == '\n' ||
          c == ';') {
        return true;
      }
      if (c == '\0') return Error("unexpected NUL byte", line_, Column());
      if (c == '#') {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
        return true;
      }
      if (c == '\'') {
        if (!ReadSingleQuoted(word)) return false;
      } else if (c == '"') {
        if (!ReadDoubleQuoted(word)) return false;
      } else if (c == '\\') {
        ReadBackslash(word);
      } else {
        word->push_back(c);
        ++pos_;
      }
    }
    return true;
  }

  bool ReadSingleQuoted(std::string* word) {
    int line = line_;
    int byte = Column();
    ++pos_;
    while (pos_ < text_.size() && text_[pos_] != '\'') {
      if (text_[pos_] == '\0') return Error("unexpected NUL byte", line_, Column());
      word->push_back(text_[pos_++]);
      if (word->back() == '\n') NewLine();
    }
    if (pos_ >= text_.size()) return Error("unterminated '", line, byte);
    ++pos_;
    return true;
  }

  bool ReadDoubleQuoted(std::string* word) {
    int line = line_;
    int byte = Column();
    ++pos_;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      if (text_[pos_] == '\0') return Error("unexpected NUL byte", line_, Column());
      if (text_[pos_] == '\\') {
        ReadBackslash(word);
        continue;
      }
      word->push_back(text_[pos_++]);
      if (word->back() == '\n') NewLine();
    }
    if (pos_ >= text_.size()) return Error("unterminated \"", line, byte);
    ++pos_;
    return true;
  }

  // A backslash takes the next character literally; before a line end it joins the lines.
  void ReadBackslash(std::string* word) {
    ++pos_;
    if (pos_ >= text_.size()) return;
    char c = text_[pos_++];
    if (c == '\n') {
      NewLine();
      return;
    }
    if (c == '\r' && pos_ < text_.size() && text_[pos_] == '\n') {
      ++pos_;
      NewLine();
      return;
    }
    word->push_back(c);
  }

  bool Execute(const std::vector<std::string>& words) {
    const std::string& cmd = words[0];
    const int line = command_line_;
    const int byte = command_byte_;
    const size_t args = words.size() - 1;
    if (cmd == "package" || cmd == "p") {
      if (args != 1) return Error(args == 0 ? "missing package name" : "too many arguments", line, byte);
      if (!ValidPackage(words[1].c_str())) return Error("invalid package name", line, byte);
      return true;
    }
    if (cmd == "config" || cmd == "c") {
      if (args == 0) return Error("missing section type", line, byte);
      if (args > 2) return Error("too many arguments", line, byte);
      if (!ValidType(words[1].c_str())) return Error("invalid section type", line, byte);
      const std::string name = args == 2 ? words[2] : std::string();
      if (!name.empty() && !ValidName(name.c_str())) return Error("invalid section name", line, byte);
      return OpenSection(words[1], name, line, byte);
    }
    if (cmd == "option" || cmd == "o" || cmd == "list" || cmd == "l") {
      const bool list = cmd[0] == 'l';
      if (current_ == nullptr) {
        return Error("option/list command found before the first section", line, byte);
      }
      if (args == 0) return Error("missing option name", line, byte);
      if (args > 2) return Error("too many arguments", line, byte);
      if (!ValidName(words[1].c_str())) return Error("invalid option name", line, byte);
      SetOption(words[1], args == 2 ? words[2] : std::string(), list);
      return true;
    }
    return Error("invalid command", line, byte);
  }

  bool OpenSection(const std::string& type, const std::string& name, int line, int byte) {
    if (!name.empty()) {
      for (auto& s : pkg_->sections) {
        if (!s->anonymous && s->name == name) {
          if (s->type != type) {
            return Error("section of different type overwrites prior section with same name",
                         line, byte);
          }
          current_ = s.get();
          return true;
        }
      }
    }
    auto section = std::make_unique<uci_section>();
    section->package = pkg_;
    section->type = type;
    section->name = name;
    section->anonymous = name.empty();
    current_ = section.get();
    pkg_->sections.push_back(std::move(section));
    return true;
  }

  // An option replaces an earlier option or list of that name; a list item is appended, turning
  // an earlier plain option into a list that starts with its value.
  void SetOption(const std::string& name, const std::string& value, bool list) {
    for (auto& o : current_->options) {
      if (o->name != name) continue;
      if (list) {
        o->option.type = UCI_TYPE_LIST;
        o->items.push_back(value);
      } else {
        o->option.type = UCI_TYPE_STRING;
        o->items.assign(1, value);
      }
      return;
    }
    auto o = std::make_unique<OptionData>();
    o->name = name;
    o->items.push_back(value);
    o->option.type = list ? UCI_TYPE_LIST : UCI_TYPE_STRING;
    current_->options.push_back(std::move(o));
  }

  // Names the anonymous sections as libuci does ("cfg" + position + content hash) and points
  // every public record at its final storage.
  void FinishSections() {
    int anonymous = 0;
    for (auto& s : pkg_->sections) {
      if (s->anonymous) {
        uint32_t hash = 5381;
        auto mix = [&hash](const std::string& text) {
          for (unsigned char c : text) hash = hash * 33 + c;
        };
        mix(s->type);
        for (auto& o : s->options) {
          mix(o->name);
          for (auto& item : o->items) mix(item);
        }
        char buf[16];
        snprintf(buf, sizeof buf, "cfg%02x%04x", static_cast<unsigned>(++anonymous % 256),
                 static_cast<unsigned>(hash % 65536));
        s->name = buf;
      }
      s->e.name = s->name.c_str();
      s->e.type = UCI_TYPE_SECTION;
      for (auto& o : s->options) {
        o->option.e.name = o->name.c_str();
        o->option.e.type = UCI_TYPE_OPTION;
        o->option.section = s.get();
        o->option.v.string = &o->items[0][0];
        o->option.list_count = static_cast<int>(o->items.size());
      }
    }
  }

  const std::string& text_;
  uci_package* pkg_;
  uci_section* current_ = nullptr;
  size_t pos_ = 0;
  size_t line_start_ = 0;
  int line_ = 1;
  int command_line_ = 1;
  int command_byte_ = 0;
  const char* reason_ = "";
  int error_line_ = 0;
  int error_byte_ = 0;
};

// Reads and parses <confdir>/<name>; on success the package joins the context.
int LoadPackage(uci_context* ctx, const char* name, uci_package** out) {
  std::string path = ctx->confdir + "/" + name;
  FILE* f = fopen(path.c_str(), "re");
  if (f == nullptr) {
    return errno == ENOENT ? Fail(ctx, UCI_ERR_NOTFOUND) : Fail(ctx, UCI_ERR_IO, strerror(errno));
  }
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
    text.append(buf, n);
    if (text.size() > kMaxFileSize) {
      fclose(f);
      return Fail(ctx, UCI_ERR_IO, "file too large");
    }
  }
  const bool read_error = ferror(f) != 0;
  const int saved = errno;
  fclose(f);
  if (read_error) return Fail(ctx, UCI_ERR_IO, strerror(saved));

  auto pkg = std::make_unique<uci_package>();
  pkg->name = name;
  FileParser parser(text, pkg.get());
  if (!parser.Run()) return Fail(ctx, UCI_ERR_PARSE, parser.reason(), parser.line(), parser.byte());
  pkg->e.name = pkg->name.c_str();
  pkg->e.type = UCI_TYPE_PACKAGE;
  *out = pkg.get();
  ctx->packages.push_back(std::move(pkg));
  return UCI_OK;
}

// Splits "package[.section[.option]][=value]" in place, as libuci does.
bool ParsePtr(uci_ptr* ptr, char* str) {
  memset(ptr, 0, sizeof *ptr);
  char* value = strchr(str, '=');
  if (value != nullptr) {
    *value++ = '\0';
    ptr->value = value;
  }
  char* rest = str;
  ptr->package = strsep(&rest, ".");
  ptr->target = UCI_TYPE_PACKAGE;
  if (rest != nullptr) {
    ptr->section = strsep(&rest, ".");
    ptr->target = UCI_TYPE_SECTION;
  }
  if (rest != nullptr) {
    ptr->option = strsep(&rest, ".");
    ptr->target = UCI_TYPE_OPTION;
  }
  if (rest != nullptr) return false;
  if (!ValidPackage(ptr->package)) return false;
  if (ptr->section != nullptr && !ValidName(ptr->section)) ptr->flags = uci_ptr::UCI_LOOKUP_EXTENDED;
  if (ptr->option != nullptr && !ValidName(ptr->option)) return false;
  return true;
}

// "@type[index]" (or "@[index]" for any type); a negative index counts from the end. Returns
// UCI_OK with *found null when there is no such section.
int LookupExtendedSection(uci_context* ctx, uci_package* pkg, const char* ref, uci_section** found) {
  *found = nullptr;
  if (ref[0] != '@') return Fail(ctx, UCI_ERR_INVAL);
  const char* open = strchr(ref + 1, '[');
  if (open == nullptr) return Fail(ctx, UCI_ERR_INVAL);
  std::string type(ref + 1, open);
  const char* close = strchr(open + 1, ']');
  if (close == nullptr || close[1] != '\0' || close == open + 1) return Fail(ctx, UCI_ERR_INVAL);
  std::string digits(open + 1, close);
  char* end = nullptr;
  errno = 0;
  long index = strtol(digits.c_str(), &end, 10);
  if (*end != '\0' || errno != 0) return Fail(ctx, UCI_ERR_INVAL);
  if (!type.empty() && !ValidType(type.c_str())) return Fail(ctx, UCI_ERR_INVAL);

  auto matches = [&type](const uci_section& s) { return type.empty() || s.type == type; };
  if (index < 0) {
    long count = 0;
    for (auto& s : pkg->sections) count += matches(*s) ? 1 : 0;
    index += count;
    if (index < 0) return UCI_OK;
  }
  long seen = 0;
  for (auto& s : pkg->sections) {
    if (!matches(*s)) continue;
    if (seen++ == index) {
      *found = s.get();
      return UCI_OK;
    }
  }
  return UCI_OK;
}

}  // namespace

struct uci_context* uci_alloc_context(void) { return new (std::nothrow) uci_context(); }

void uci_free_context(struct uci_context* ctx) { delete ctx; }

int uci_set_confdir(struct uci_context* ctx, const char* dir) {
  if (ctx == nullptr || dir == nullptr || dir[0] == '\0') {
    return ctx != nullptr ? Fail(ctx, UCI_ERR_INVAL) : UCI_ERR_INVAL;
  }
  ctx->confdir = dir;
  return UCI_OK;
}

int uci_lookup_ptr(struct uci_context* ctx, struct uci_ptr* ptr, char* str, bool extended) {
  if (ctx == nullptr) return UCI_ERR_INVAL;
  ctx->err = UCI_OK;
  if (ptr == nullptr) return Fail(ctx, UCI_ERR_INVAL);
  if (str != nullptr && !ParsePtr(ptr, str)) {
    memset(ptr, 0, sizeof *ptr);
    return Fail(ctx, UCI_ERR_PARSE, "invalid path");
  }
  if (ptr->package == nullptr) return Fail(ctx, UCI_ERR_INVAL);
  ptr->flags = static_cast<decltype(ptr->flags)>(ptr->flags | uci_ptr::UCI_LOOKUP_DONE);

  uci_package* pkg = ptr->p;
  if (pkg == nullptr) {
    for (auto& p : ctx->packages) {
      if (p->name == ptr->package) pkg = p.get();
    }
  }
  if (pkg == nullptr) {
    int rc = LoadPackage(ctx, ptr->package, &pkg);
    if (rc != UCI_OK) return rc;
  }
  ptr->p = pkg;
  ptr->last = &pkg->e;

  if (ptr->section != nullptr || ptr->s != nullptr) {
    uci_section* section = ptr->s;
    if (ptr->flags & uci_ptr::UCI_LOOKUP_EXTENDED) {
      if (!extended) return Fail(ctx, UCI_ERR_INVAL);
      int rc = LookupExtendedSection(ctx, pkg, ptr->section, &section);
      if (rc != UCI_OK) return rc;
      if (section != nullptr) ptr->section = section->e.name;
    } else if (section == nullptr) {
      for (auto& s : pkg->sections) {
        if (s->name == ptr->section) section = s.get();
      }
    }
    if (section == nullptr) return UCI_OK;
    ptr->s = section;
    ptr->last = &section->e;

    if (ptr->option != nullptr) {
      uci_option* option = nullptr;
      for (auto& o : section->options) {
        if (o->name == ptr->option) option = &o->option;
      }
      if (option == nullptr) return UCI_OK;
      ptr->o = option;
      ptr->last = &option->e;
    }
  }
  ptr->flags = static_cast<decltype(ptr->flags)>(ptr->flags | uci_ptr::UCI_LOOKUP_COMPLETE);
  return UCI_OK;
}

namespace {

std::string ErrorText(const uci_context* ctx, const char* str) {
  static const char* const kErrors[] = {"Success",   "Out of memory", "Invalid argument",
                                        "Entry not found", "I/O error", "Parse error",
                                        "Duplicate entry", "Unknown error"};
  int err = ctx->err;
  if (err < 0 || err >= UCI_ERR_LAST) err = UCI_ERR_UNKNOWN;
  std::string text;
  if (str != nullptr && str[0] != '\0') text = std::string(str) + ": ";
  text += kErrors[err];
  if (!ctx->reason.empty()) text += " (" + ctx->reason + ")";
  if (err == UCI_ERR_PARSE && ctx->line > 0) {
    text += " at line " + std::to_string(ctx->line) + ", byte " + std::to_string(ctx->byte);
  }
  return text;
}

}  // namespace

void uci_perror(struct uci_context* ctx, const char* str) {
  if (ctx == nullptr) return;
  fprintf(stderr, "%s\n", ErrorText(ctx, str).c_str());
}

void uci_get_errorstr(struct uci_context* ctx, char** dest, const char* str) {
  if (ctx == nullptr || dest == nullptr) return;
  *dest = strdup(ErrorText(ctx, str).c_str());
}

#endif
