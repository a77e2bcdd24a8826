// A reader of UCI configuration files with the subset of libuci's API that the programs call:
// context allocation and release, the configuration directory, and uci_lookup_ptr with the
// extended section syntax ("pkg.@type[index].option"). Names and layout follow libuci.
#pragma once

#include <stdbool.h>

enum uci_type {
  UCI_TYPE_UNSPEC = 0,
  UCI_TYPE_DELTA = 1,
  UCI_TYPE_PACKAGE = 2,
  UCI_TYPE_SECTION = 3,
  UCI_TYPE_OPTION = 4,
  UCI_TYPE_PATH = 5,
  UCI_TYPE_BACKEND = 6,
  UCI_TYPE_ITEM = 7,
  UCI_TYPE_HOOK = 8,
};

enum uci_option_type {
  UCI_TYPE_STRING = 0,
  UCI_TYPE_LIST = 1,
};

enum {
  UCI_OK = 0,
  UCI_ERR_MEM,
  UCI_ERR_INVAL,
  UCI_ERR_NOTFOUND,
  UCI_ERR_IO,
  UCI_ERR_PARSE,
  UCI_ERR_DUPLICATE,
  UCI_ERR_UNKNOWN,
  UCI_ERR_LAST
};

struct uci_context;
struct uci_package;
struct uci_section;

struct uci_element {
  const char* name;
  enum uci_type type;
};

// One option. For a list option, `v.string` holds the first item and `list_count` the number of
// items (libuci keeps a list; no caller here reads list options).
struct uci_option {
  struct uci_element e;
  struct uci_section* section;
  enum uci_option_type type;
  union {
    char* string;
  } v;
  int list_count;
};

struct uci_ptr {
  enum uci_type target;
  enum {
    UCI_LOOKUP_DONE = (1 << 0),
    UCI_LOOKUP_COMPLETE = (1 << 1),
    UCI_LOOKUP_EXTENDED = (1 << 2),
  } flags;
  struct uci_package* p;
  struct uci_section* s;
  struct uci_option* o;
  struct uci_element* last;
  const char* package;
  const char* section;
  const char* option;
  const char* value;
};

// A context starts with the configuration directory "/etc/config" and no package loaded. Packages
// are read once, on first use, and kept until the context is freed.
struct uci_context* uci_alloc_context(void);
void uci_free_context(struct uci_context* ctx);
// Copies `dir`; packages already loaded stay. UCI_OK, or UCI_ERR_INVAL for an empty directory.
int uci_set_confdir(struct uci_context* ctx, const char* dir);
// Parses `str` in place ("package.section.option"; "@type[n]" sections with `extended`), loading
// the package file from the configuration directory on first use. Returns UCI_OK or an error;
// ptr->flags gets UCI_LOOKUP_COMPLETE when the path named an existing element.
// A path that names a missing package gives UCI_ERR_NOTFOUND, a malformed path UCI_ERR_PARSE, a
// package file that cannot be parsed UCI_ERR_PARSE (uci_perror then tells the line and byte); a
// missing section or option gives UCI_OK without UCI_LOOKUP_COMPLETE.
int uci_lookup_ptr(struct uci_context* ctx, struct uci_ptr* ptr, char* str, bool extended);

// The last error of `ctx` as "<str>: <error>[ (<reason>) at line <n>, byte <m>]": printed to
// standard error, or stored in a malloc'd text in *dest that the caller frees.
void uci_perror(struct uci_context* ctx, const char* str);
void uci_get_errorstr(struct uci_context* ctx, char** dest, const char* str);
