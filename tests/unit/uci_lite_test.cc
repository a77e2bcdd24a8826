// The built-in reader of UCI configuration files: lookups in real-looking files and failures on
// malformed ones (random input is the fuzz target's job).
#include "platform/uci_api.h"

#ifndef HAVE_LIBUCI

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

namespace {

const char kNetwork[] =
    "# network configuration\n\n"
    "config interface 'loopback'\n"
    "\toption ifname 'lo'\n"
    "\toption proto 'static'\n"
    "\toption ipaddr '127.0.0.1'\n\n"
    "config interface 'lan'\n"
    "\toption type 'bridge'\n"
    "\toption ipaddr \"192.168.1.1\"   # the router's own address\n"
    "\toption netmask 255.255.255.0\n"
    "\tlist dns '8.8.8.8'\n"
    "\tlist dns '1.1.1.1'\n\n"
    "config interface 'wwan'\n"
    "\toption apn 'internet.example'\n"
    "\toption pincode ''\n"
    "\toption proto 'qmi'\n"
    "\toption proto 'modemmanager'\n";

const char kGpsd[] =
    "config gpsd\n\toption tid 'first'\n"
    "config gpsd 'named'\n\toption tid 'second'\n"
    "config other\n\toption tid 'other'\n"
    "config gpsd\n\toption tid 'third'\n";

const char kQuoting[] =
    "package quoting\n"
    "config test 'q'\n"
    "\toption mixed 'a'\"b\"c\n"
    "\toption escaped \"say \\\"hi\\\" \\\\ok\"\n"
    "\toption literal 'no \\escape'\n"
    "\toption spanning 'line1\nline2'\n"
    "\toption hash_quoted 'a#b'\n"
    "\toption hash_bare x#y\n"
    "\toption continued long\\\n"
    "value\n"
    "\toption crlf 'dos'\r\n"
    "config test 'semi'; option a 1; option b '2;3'\n"
    "config test 'q'\n"
    "\toption merged 'yes'\n";

class UciLiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "network", kNetwork);
    WriteFile(dir_ / "zel_gpsd", kGpsd);
    WriteFile(dir_ / "quoting", kQuoting);
    ctx_ = uci_alloc_context();
    ASSERT_NE(ctx_, nullptr);
    ASSERT_EQ(uci_set_confdir(ctx_, dir_.path().c_str()), UCI_OK);
  }
  void TearDown() override { uci_free_context(ctx_); }

  // Looks `path` up in extended mode; ptr_ keeps the result.
  int Lookup(const std::string& path, bool extended = true) {
    text_ = path;
    return uci_lookup_ptr(ctx_, &ptr_, text_.data(), extended);
  }
  // Writes `text` as package "broken" and looks it up through a fresh context.
  int LookupFresh(const std::string& text) {
    WriteFile(dir_ / "broken", text);
    uci_free_context(ctx_);
    ctx_ = uci_alloc_context();
    uci_set_confdir(ctx_, dir_.path().c_str());
    return Lookup("broken.n.a");
  }
  bool Complete() const { return (ptr_.flags & uci_ptr::UCI_LOOKUP_COMPLETE) != 0; }
  std::string ErrorText() {
    char* text = nullptr;
    uci_get_errorstr(ctx_, &text, "uci");
    std::string result = text != nullptr ? text : "";
    free(text);
    return result;
  }

  TempDir dir_;
  uci_context* ctx_ = nullptr;
  uci_ptr ptr_{};
  std::string text_;
};

TEST_F(UciLiteTest, OptionValues) {
  struct Case {
    const char* path;
    const char* value;
  };
  const Case cases[] = {
      {"network.lan.ipaddr", "192.168.1.1"}, {"network.lan.netmask", "255.255.255.0"},
      {"network.loopback.ifname", "lo"}, {"network.wwan.pincode", ""},
      {"network.wwan.proto", "modemmanager"},  // a repeated option replaces the earlier one
      {"zel_gpsd.@gpsd[0].tid", "first"},
      {"zel_gpsd.@gpsd[1].tid", "second"},  // named sections count in their file position
      {"zel_gpsd.@gpsd[2].tid", "third"}, {"zel_gpsd.@gpsd[-1].tid", "third"},
      {"zel_gpsd.@gpsd[-3].tid", "first"},
      {"zel_gpsd.@[2].tid", "other"},  // any type
      {"zel_gpsd.named.tid", "second"}, {"quoting.q.mixed", "abc"},
      {"quoting.q.escaped", "say \"hi\" \\ok"}, {"quoting.q.literal", "no \\escape"},
      {"quoting.q.spanning", "line1\nline2"}, {"quoting.q.hash_quoted", "a#b"},
      {"quoting.q.hash_bare", "x"}, {"quoting.q.continued", "longvalue"}, {"quoting.q.crlf", "dos"},
      {"quoting.semi.a", "1"}, {"quoting.semi.b", "2;3"}, {"quoting.q.merged", "yes"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Lookup(c.path), UCI_OK) << c.path;
    ASSERT_TRUE(Complete()) << c.path;
    ASSERT_NE(ptr_.o, nullptr) << c.path;
    EXPECT_EQ(ptr_.o->type, UCI_TYPE_STRING) << c.path;
    EXPECT_STREQ(ptr_.o->v.string, c.value) << c.path;
    EXPECT_EQ(ptr_.last, &ptr_.o->e) << c.path;
    EXPECT_EQ(ptr_.target, UCI_TYPE_OPTION) << c.path;
  }
}

TEST_F(UciLiteTest, PartialPathsAndMissingElements) {
  struct Case {
    int rc;
    bool complete;
    bool section;  // ptr.s set
    std::vector<const char*> paths;
  };
  const Case cases[] = {
      {UCI_OK, true, false, {"network"}},
      {UCI_OK, true, true, {"network.lan"}},
      {UCI_OK, false, true, {"network.lan.missing"}},
      {UCI_OK, false, false, {"network.nosuch.ipaddr", "zel_gpsd.@gpsd[3].tid",
                              "zel_gpsd.@gpsd[-4].tid", "zel_gpsd.@nosuch[0].tid"}},
      {UCI_ERR_NOTFOUND, false, false, {"nosuchpkg.a.b"}},
      {UCI_ERR_INVAL, false, false, {"zel_gpsd.@gpsd[x].tid", "zel_gpsd.@gpsd.tid",
                                     "zel_gpsd.@gpsd[0]x.tid", "zel_gpsd.@gpsd[].tid"}},
      {UCI_ERR_PARSE, false, false, {"network.lan.ipaddr.extra", "../network.lan.ipaddr",
                                     "network.lan.bad-option", ""}},
  };
  for (const Case& c : cases) {
    for (const char* path : c.paths) {
      EXPECT_EQ(Lookup(path), c.rc) << path;
      EXPECT_EQ(Complete(), c.complete) << path;
      EXPECT_EQ(ptr_.s != nullptr, c.section) << path;
      EXPECT_EQ(ptr_.o, nullptr) << path;
    }
  }
}

TEST_F(UciLiteTest, ExtendedSyntaxNeedsExtendedMode) {
  EXPECT_EQ(Lookup("zel_gpsd.@gpsd[0].tid", false), UCI_ERR_INVAL);
  EXPECT_EQ(Lookup("zel_gpsd.@gpsd[0]", true), UCI_OK);
  ASSERT_NE(ptr_.last, nullptr);
  EXPECT_STREQ(ptr_.section, ptr_.last->name);  // the reference resolves to the section's name
  EXPECT_EQ(strncmp(ptr_.section, "cfg01", 5), 0) << ptr_.section;
  EXPECT_EQ(ptr_.last->type, UCI_TYPE_SECTION);
  // The generated name finds the same section.
  std::string name = ptr_.section;
  ASSERT_EQ(Lookup("zel_gpsd." + name + ".tid"), UCI_OK);
  EXPECT_STREQ(ptr_.o->v.string, "first");
}

TEST_F(UciLiteTest, ListsAndAssignmentPaths) {
  ASSERT_EQ(Lookup("network.lan.dns"), UCI_OK);
  ASSERT_NE(ptr_.o, nullptr);
  EXPECT_EQ(ptr_.o->type, UCI_TYPE_LIST);
  EXPECT_EQ(ptr_.o->list_count, 2);
  EXPECT_STREQ(ptr_.o->v.string, "8.8.8.8");
  // "path=value" is split in place; the lookup still finds the stored value.
  ASSERT_EQ(Lookup("network.lan.ipaddr=10.0.0.1"), UCI_OK);
  EXPECT_STREQ(ptr_.option, "ipaddr");
  EXPECT_STREQ(ptr_.value, "10.0.0.1");
  EXPECT_STREQ(ptr_.o->v.string, "192.168.1.1");
}

TEST_F(UciLiteTest, MalformedFilesFailWithLineAndReason) {
  struct Case {
    const char* text;
    const char* reason;
    int line;
  };
  const Case cases[] = {
      {"option a b\n", "option/list command found before the first section", 1},
      {"config\n", "missing section type", 1},
      {"config t 'bad name'\n", "invalid section name", 1},
      {"config t n extra\n", "too many arguments", 1},
      {"package\n", "missing package name", 1},
      {"config t\n\toption 'bad-name' v\n", "invalid option name", 2},
      {"config t\n\toption\n", "missing option name", 2},
      {"config t\n\toption a b c\n", "too many arguments", 2},
      {"config t\n\n\tvalue a b\n", "invalid command", 3},
      {"config t\n\toption a 'never closed\n\n", "unterminated '", 2},
      {"config t\n\toption a \"never closed\\\"\n", "unterminated \"", 2},
      {"config a 'n'\nconfig b 'n'\n", "section of different type overwrites prior section", 2},
      {"config t\n\toption a 'x\0y'\n", "unexpected NUL byte", 2},
  };
  for (const Case& c : cases) {
    // The NUL case needs the full length of the literal.
    EXPECT_EQ(LookupFresh(std::string(c.text, strlen(c.text) + (strstr(c.reason, "NUL") ? 4 : 0))),
              UCI_ERR_PARSE)
        << c.reason;
    EXPECT_FALSE(Complete());
    const std::string message = ErrorText();
    EXPECT_EQ(message.rfind(std::string("uci: Parse error (") + c.reason, 0), 0u) << message;
    EXPECT_NE(message.find(" at line " + std::to_string(c.line) + ", byte "), std::string::npos)
        << message;
  }
}

TEST_F(UciLiteTest, BrokenPackageIsReadAgainOnceRepaired) {
  WriteFile(dir_ / "zel", "config status_gather 'status_gather'\n\toption poll '10\n");
  EXPECT_EQ(Lookup("zel.status_gather.poll"), UCI_ERR_PARSE);
  EXPECT_EQ(Lookup("network.lan.ipaddr"), UCI_OK);  // other packages are unaffected
  WriteFile(dir_ / "zel", "config status_gather 'status_gather'\n\toption poll '10'\n");
  ASSERT_EQ(Lookup("zel.status_gather.poll"), UCI_OK);
  EXPECT_STREQ(ptr_.o->v.string, "10");
}

TEST_F(UciLiteTest, UnreadablePackageIsAnIoError) {
  MakeDirs(dir_ / "adir");
  EXPECT_EQ(Lookup("adir.a.b"), UCI_ERR_IO);
  EXPECT_EQ(ErrorText().rfind("uci: I/O error", 0), 0u) << ErrorText();
  EXPECT_EQ(uci_set_confdir(ctx_, ""), UCI_ERR_INVAL);
}

}  // namespace

#endif
