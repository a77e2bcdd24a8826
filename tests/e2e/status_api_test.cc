// modem-status-api run directly (every reply byte for byte) and behind a real lighttpd on
// loopback, including a reader that fetches the snapshot while the writer keeps replacing it.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "report/json_snapshot.h"
#include "status/status_table.h"
#include "tests/support/http_test_server.h"
#include "tests/support/json_validator.h"
#include "tests/support/sim_router.h"
#include "tests/support/test_files.h"

extern char** environ;

namespace {

const std::string kHeaderBlock =
    "Access-Control-Allow-Origin: *\n"
    "Content-type: application/json\n"
    "Cache-Control: no-cache\n"
    "\n";
const std::string kDisabled = "{\"status\":\"Error - Modem Status API disabled\"}";
const std::string kEmptyList = "{\"time\":0,\"status\":[]}";
const std::string kLookupFailed = "Lookup for name: 'zel.api.status' failed\n";

std::string ZelConfig(const std::string& status_line) {
  return "config api 'api'\n" + status_line + "\n\nconfig status_gather 'status_gather'\n"
         "\toption poll '15'\n";
}

// Lays out the configuration (nullptr: none) and the snapshot (nullptr: none) under root.
void Prepare(const TempDir& root, const char* zel, const char* snapshot) {
  unlink((root / "etc/config/zel").c_str());
  unlink((root / "tmp/corvane/modemstatus.json").c_str());
  if (zel != nullptr) WriteFile(root / "etc/config/zel", zel);
  MakeDirs(root / "tmp/corvane");
  if (snapshot != nullptr) WriteFile(root / "tmp/corvane/modemstatus.json", snapshot);
}

TEST(StatusApiCgiTest, EveryReplyByteForByte) {
  const std::string enabled = ZelConfig("\toption status 'enabled'");
  const std::string snap = "{\"time\": 1700000000,\"status\": [{\"name\":\"Sn_s\",\"value\":\"SN\","
                           "\"lastChange\":\"1700000000\",\"lastUpdate\":\"1700000000\"}]}";
  const std::string no_blank = "{\"time\":1700000000,\"status\": []}";
  const std::string after_2038 = "{\"time\": 4102444800,\"status\": []}";
  const std::string big =
      "{\"time\": 1700000000,\"status\": [\"" + std::string(40000, 'x') + "\"]}";
  const std::string capital = ZelConfig("\toption status 'Enabled'");
  const std::string blank = ZelConfig("\toption status 'enabled '");
  const std::string disabled = ZelConfig("\toption status 'disabled'");
  const std::string missing = ZelConfig("\toption other 'enabled'");
  static const char kDirectory[] = "(a directory)";  // the snapshot's place taken by a folder
  struct Case {
    const char* what;
    const char* zel;
    const char* snapshot;
    std::string body;
    std::string err;
  } cases[] = {
      {"enabled: served unchanged", enabled.c_str(), snap.c_str(), snap, ""},
      {"time without the blank", enabled.c_str(), no_blank.c_str(), no_blank, ""},
      {"time past 2038", enabled.c_str(), after_2038.c_str(), after_2038, ""},
      {"cut at 32768 bytes", enabled.c_str(), big.c_str(), big.substr(0, 32768), ""},
      {"capital E", capital.c_str(), snap.c_str(), kDisabled, ""},
      {"trailing blank", blank.c_str(), snap.c_str(), kDisabled, ""},
      {"disabled", disabled.c_str(), snap.c_str(), kDisabled, ""},
      {"option missing", missing.c_str(), snap.c_str(), kDisabled, kLookupFailed},
      {"no configuration", nullptr, snap.c_str(), kDisabled, kLookupFailed},
      // The shared lookup says no more than the failure line on the CGI's standard error.
      {"malformed configuration", "config api 'api'\n\toption status 'enabled\n", snap.c_str(),
       kDisabled, kLookupFailed},
      {"snapshot missing", enabled.c_str(), nullptr, kEmptyList, ""},
      {"snapshot a directory", enabled.c_str(), kDirectory, kEmptyList, ""},
      {"snapshot empty", enabled.c_str(), "", kEmptyList, ""},
      {"no time key", enabled.c_str(), "{\"status\": []}", kEmptyList, ""},
      {"time zero", enabled.c_str(), "{\"time\": 0,\"status\": [{}]}", kEmptyList, ""},
      {"time negative", enabled.c_str(), "{\"time\": -1,\"status\": []}",
       "{\"time\":18446744073709551615,\"status\":[]}", ""},
      {"time -5 without blank", enabled.c_str(), "{\"time\":-5}",
       "{\"time\":18446744073709551611,\"status\":[]}", ""},
      {"time not a number", enabled.c_str(), "{\"time\": \"x\"}", kEmptyList, ""},
  };
  for (const Case& c : cases) {
    TempDir root;
    Prepare(root, c.zel, c.snapshot == kDirectory ? nullptr : c.snapshot);
    if (c.snapshot == kDirectory) MakeDirs(root / "tmp/corvane/modemstatus.json");
    ProgramResult run = RunProgram({MODEM_STATUS_API_BIN},
                                   {"MODEM_STATUS_ROOT=" + root.path(), "PATH=/usr/bin:/bin"});
    EXPECT_EQ(run.status, 0) << c.what;
    EXPECT_EQ(run.out, kHeaderBlock + c.body) << c.what;
    EXPECT_EQ(run.err, c.err) << c.what;
  }
}

// zel.api.allow_origin: unset keeps "*"; "*" or one origin is sent as configured; anything else
// (several origins, blanks, a path, control bytes, "null") sends no header at all, with a line on
// standard error; an empty value sends none quietly.
TEST(StatusApiCgiTest, AllowOriginOption) {
  const std::string snap = "{\"time\": 1700000000,\"status\": []}";
  const std::string rest = "Content-type: application/json\nCache-Control: no-cache\n\n" + snap;
  const std::string refused =
      "zel.api.allow_origin is neither '*' nor one origin (scheme://host[:port]): "
      "no Access-Control-Allow-Origin header is sent\n";
  struct Case {
    const char* what;
    std::string option;  // the option line, "" for none
    std::string header;  // the Access-Control-Allow-Origin value, "" for no header
    std::string err;
  } cases[] = {
      {"unset", "", "*", ""},
      {"star", "*", "*", ""},
      {"one origin", "https://router.example", "https://router.example", ""},
      {"address and port", "http://192.168.8.1:8080", "http://192.168.8.1:8080", ""},
      {"IPv6 address", "http://[fd00::1]:80", "http://[fd00::1]:80", ""},
      {"two origins", "https://a.example, https://b.example", "", refused},
      {"two origins blank-separated", "https://a.example https://b.example", "", refused},
      {"a path", "https://a.example/", "", refused},
      {"no scheme", "a.example", "", refused},
      {"null", "null", "", refused},
      {"port out of range", "http://a.example:65536", "", refused},
      {"empty port", "http://a.example:", "", refused},
      {"user in it", "http://user@a.example", "", refused},
      {"control byte", "http://a.example\tx", "", refused},
      {"too long", "http://" + std::string(400, 'a') + ".example", "", refused},
      {"empty", "''", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir root;
    std::string zel = "\toption status 'enabled'";
    if (!c.option.empty()) {
      zel += "\n\toption allow_origin " + (c.option == "''" ? c.option : "'" + c.option + "'");
    }
    Prepare(root, ZelConfig(zel).c_str(), snap.c_str());
    ProgramResult run = RunProgram({MODEM_STATUS_API_BIN},
                                   {"MODEM_STATUS_ROOT=" + root.path(), "PATH=/usr/bin:/bin"});
    EXPECT_EQ(run.status, 0);
    const std::string header =
        c.header.empty() ? "" : "Access-Control-Allow-Origin: " + c.header + "\n";
    EXPECT_EQ(run.out, header + rest);
    EXPECT_EQ(run.err, c.err);
  }
}

// A snapshot path that is no regular file answers at once with the empty list: a FIFO (which
// would block a reader forever), a directory, a link to a FIFO, and a symbolic or hard link to a
// root file (which must not be published).
TEST(StatusApiCgiTest, NoRegularFileAtTheSnapshotPathAnswersAtOnce) {
  const std::string enabled = ZelConfig("\toption status 'enabled'");
  for (const char* kind : {"fifo", "directory", "link to fifo", "link to file", "hard link"}) {
    SCOPED_TRACE(kind);
    TempDir root;
    Prepare(root, enabled.c_str(), nullptr);
    const std::string snapshot = root / "tmp/corvane/modemstatus.json";
    const std::string fifo = root / "fifo", secret = root / "secret";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    WriteFile(secret, "{\"time\": 1700000000,\"secret\": 1}");
    const std::string k = kind;
    int made = 0;
    if (k == "fifo") made = mkfifo(snapshot.c_str(), 0644);
    if (k == "directory") MakeDirs(snapshot);
    if (k == "link to fifo") made = symlink(fifo.c_str(), snapshot.c_str());
    if (k == "link to file") made = symlink(secret.c_str(), snapshot.c_str());
    if (k == "hard link") made = link(secret.c_str(), snapshot.c_str());
    ASSERT_EQ(made, 0);
    ProgramResult run = RunProgram({MODEM_STATUS_API_BIN},
                                   {"MODEM_STATUS_ROOT=" + root.path(), "PATH=/usr/bin:/bin"},
                                   2000);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, kHeaderBlock + kEmptyList);
  }
}

// lighttpd in the foreground on a free loopback port, running the CGI from cgi-bin.
class Lighttpd {
 public:
  explicit Lighttpd(const TempDir& root) : root_(root) {}
  ~Lighttpd() { Stop(); }

  bool Start() {
    MakeDirs(root_ / "www/htdocs");
    MakeDirs(root_ / "www/cgi-bin");
    symlink(MODEM_STATUS_API_BIN, (root_ / "www/cgi-bin/modem-status-api").c_str());
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = FreeLoopbackPort();
      WriteFile(root_ / "www/lighttpd.conf", Config());
      const std::string conf = root_ / "www/lighttpd.conf";
      char* argv[] = {const_cast<char*>("lighttpd"), const_cast<char*>("-D"),
                      const_cast<char*>("-f"), const_cast<char*>(conf.c_str()), nullptr};
      if (posix_spawnp(&pid_, "lighttpd", nullptr, nullptr, argv, environ) != 0) return false;
      for (int i = 0; i < 200; ++i) {
        if (HttpCall(port_, "GET", "/").status != 0) return true;  // up and answering
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) break;  // port taken meanwhile: try another
        usleep(10000);
      }
      Stop();
    }
    return false;
  }

  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  std::string Url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/cgi-bin/modem-status-api";
  }

 private:
  std::string Config() const {
    const std::string www = root_ / "www";
    return "server.modules = ( \"mod_cgi\", \"mod_alias\", \"mod_setenv\" )\n"
           "server.bind = \"127.0.0.1\"\n"
           "server.port = " + std::to_string(port_) + "\n"
           "server.document-root = \"" + www + "/htdocs\"\n"
           "server.errorlog = \"" + www + "/error.log\"\n"
           "alias.url = ( \"/cgi-bin/\" => \"" + www + "/cgi-bin/\" )\n"
           "setenv.add-environment = ( \"MODEM_STATUS_ROOT\" => \"" + root_.path() + "\" )\n"
           "$HTTP[\"url\"] =~ \"^/cgi-bin/\" { cgi.assign = ( \"\" => \"\" ) }\n";
  }

  const TempDir& root_;
  int port_ = 0;
  pid_t pid_ = -1;
};

size_t Collect(char* data, size_t size, size_t count, void* sink) {
  static_cast<std::string*>(sink)->append(data, size * count);
  return size * count;
}

// One HTTP client with keep-alive for many requests.
class HttpClient {
 public:
  HttpClient() : curl_(curl_easy_init()) {}
  ~HttpClient() { curl_easy_cleanup(curl_); }
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // 0 when the request failed, else the HTTP status.
  long Get(const std::string& url, std::string* headers, std::string* body) {
    headers->clear();
    body->clear();
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, body);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, Collect);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, headers);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, 5000L);
    if (curl_easy_perform(curl_) != CURLE_OK) return 0;
    long code = 0;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &code);
    return code;
  }

 private:
  CURL* curl_;
};

TEST(StatusApiLighttpdTest, HeadersAndTheThreeBodiesOverHttp) {
  TempDir root;
  const std::string snap = "{\"time\": 1700000000,\"status\": []}";
  Prepare(root, nullptr, snap.c_str());
  Lighttpd server(root);
  ASSERT_TRUE(server.Start()) << ReadFile(root / "www/error.log");
  struct Case {
    const char* what;
    const char* zel;
    const char* snapshot;
    std::string body;
  } cases[] = {
      {"unconfigured", nullptr, snap.c_str(), kDisabled},
      {"disabled", "config api 'api'\n\toption status 'disabled'\n", snap.c_str(), kDisabled},
      {"enabled", "config api 'api'\n\toption status 'enabled'\n", snap.c_str(), snap},
      {"enabled, no snapshot", "config api 'api'\n\toption status 'enabled'\n", nullptr,
       kEmptyList},
  };
  HttpClient client;
  for (const Case& c : cases) {
    Prepare(root, c.zel, c.snapshot);
    std::string headers, body;
    EXPECT_EQ(client.Get(server.Url(), &headers, &body), 200) << c.what;
    EXPECT_EQ(body, c.body) << c.what;
    for (const char* line : {"Access-Control-Allow-Origin: *\r\n",
                             "Content-type: application/json\r\n", "Cache-Control: no-cache\r\n"}) {
      EXPECT_NE(headers.find(line), std::string::npos) << headers;
    }
  }
}

TEST(StatusApiLighttpdTest, ReaderAlwaysGetsACompleteDocumentWhileTheWriterReplacesIt) {
  TempDir root;
  Prepare(root, "config api 'api'\n\toption status 'enabled'\n", nullptr);
  Lighttpd server(root);
  ASSERT_TRUE(server.Start()) << ReadFile(root / "www/error.log");

  // The daemon's own writer pass, run as fast as it goes with a clock moving 5 s per pass, and
  // values that change (with quotes and backslashes to escape) so every file differs.
  StatusTable table;
  const std::string snapshot = root / "tmp/corvane/modemstatus.json";
  static JsonWriter writer;
  InitJsonWriter(&writer, &table, snapshot.c_str(), false);
  std::atomic<bool> done{false};
  std::atomic<int> writes{0};
  std::thread writer_thread([&] {
    int64_t now = 1700000000;
    for (int n = 0; !done; ++n) {
      for (uint32_t i = 0; i < kStatusCount; i += 3) {
        std::string value = "v" + std::to_string(n) + " \"q\" \\ " + std::string(n % 90, 'x');
        table.Update(i, value.c_str(), now);
      }
      now += 5;
      writes += SaveJsonPass(&writer, now);
      usleep(200);
    }
  });
  while (writes == 0) usleep(1000);

  // As many fetches as fit in the time, and never fewer than the minimum: each one starts the
  // CGI, which takes many times longer in a sanitized build or on a busy machine.
  const auto fetchTime = std::chrono::seconds(15);
  const int kMinFetches = 150;
  const auto end = std::chrono::steady_clock::now() + fetchTime;
  HttpClient client;
  int invalid = 0;
  int fetches = 0;
  const int writesBefore = writes;
  std::string previous;
  int changed = 0;  // fetches that got a different document than the fetch before
  for (; (fetches < kMinFetches || std::chrono::steady_clock::now() < end) && invalid < 3;
       ++fetches) {
    std::string headers, body, error;
    ASSERT_EQ(client.Get(server.Url(), &headers, &body), 200);
    if (!IsValidJson(body, &error) || body.rfind("{\"time\": 17", 0) != 0) {
      ++invalid;
      ADD_FAILURE() << "fetch " << fetches << ": " << error << "\n" << body.substr(0, 200);
    }
    if (body != previous) ++changed;
    previous.swap(body);
  }
  done = true;
  writer_thread.join();
  EXPECT_EQ(invalid, 0);
  EXPECT_GT(writes - writesBefore, 100) << "the writer must have replaced the file while being read";
  EXPECT_GT(changed, fetches / 2) << "most fetches must meet a newer document: " << fetches;
}

}  // namespace
