// Faults injected into a running daemon: modem clients that hang or print garbage, binary data or
// megabytes, the modem leaving and returning under a new index, InfluxDB failing in every way,
// the snapshot and post state folders missing or read-only, link signal storms and GPS floods.
// Through all of them the daemon must keep polling, stay stoppable, keep its snapshot valid and
// end each phase with the descriptors, child processes and memory it started with.
// MODEM_STATUS_SOAK_ROUNDS=N repeats the modem fault sequence N times (scripts/soak.sh).
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/http_test_server.h"
#include "tests/support/json_validator.h"
#include "tests/support/sim_router.h"

namespace {

using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Sanitized builds run several times slower and their allocators hold freed memory back.
constexpr int kSlow = kSanitized ? 3 : 1;
constexpr long kRssGrowthLimitKb = kSanitized ? 65536 : 2048;
constexpr const char* kWait = "Calling sleep for ";

long MillisSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

int SoakRounds() {
  const char* text = getenv("MODEM_STATUS_SOAK_ROUNDS");
  const int rounds = text != nullptr ? atoi(text) : 1;
  return rounds > 0 ? rounds : 1;
}

// What a process holds: open descriptors, live child processes and resident memory.
struct Holdings {
  int fds = -1;
  int children = -1;
  long rss_kb = -1;
};

Holdings Sample(pid_t pid) {
  Holdings held;
  const std::string proc = "/proc/" + std::to_string(pid);
  if (DIR* dir = opendir((proc + "/fd").c_str())) {
    held.fds = 0;
    while (struct dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') ++held.fds;
    }
    closedir(dir);
  }
  if (DIR* dir = opendir("/proc")) {
    held.children = 0;
    while (struct dirent* entry = readdir(dir)) {
      if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
      std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
      std::string line;
      if (!std::getline(stat, line)) continue;
      const size_t close = line.rfind(')');
      if (close == std::string::npos) continue;
      char state = 0;
      int parent = 0;
      if (sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == pid) {
        ++held.children;
      }
    }
    closedir(dir);
  }
  std::ifstream status(proc + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, 6, "VmRSS:") == 0) held.rss_kb = atol(line.c_str() + 6);
  }
  return held;
}

std::string ZelConfig(const std::string& influx_url) {
  std::string config =
      "\nconfig status_gather 'status_gather'\n\toption poll '1'\n\toption period '1'\n";
  if (!influx_url.empty()) {
    config += "\toption influx_url '" + influx_url +
              "'\n\toption database 'routerdb'\n\toption userid 'writer'\n"
              "\toption password 's3cret-Pw'\n\toption schema 'lte_status'\n";
  }
  return config + "\nconfig api 'api'\n\toption status '1'\n";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The value of `name` in the snapshot ("" when absent).
std::string SnapshotValue(const std::string& json, const std::string& name) {
  const std::string head = "{\"name\":\"" + name + "\",\"value\":\"";
  size_t at = json.find(head);
  if (at == std::string::npos) return "";
  at += head.size();
  return json.substr(at, json.find("\",\"", at) - at);
}

// Unescaped blanks outside string fields in one line of line protocol (a well-formed line has
// one between the tags and the fields and may have one before the time stamp), or -1 when a
// string is left open or the line holds a line break.
int LineProtocolSections(const std::string& line) {
  int blanks = 0;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\') {
      ++i;
    } else if (c == '\n' || c == '\r') {
      return -1;
    } else if (c == '"' && blanks == 1) {  // quotes delimit strings among the fields only
      quoted = !quoted;
    } else if (c == ' ' && !quoted) {
      ++blanks;
    }
  }
  return quoted ? -1 : blanks;
}

// Fields of one CSV record (RFC 4180), -1 when a quote is left open.
int CsvFieldCount(const std::string& record) {
  int fields = 1;
  bool quoted = false;
  for (char c : record) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) ++fields;
  }
  return quoted ? -1 : fields;
}

class FaultE2E : public ::testing::Test {
 protected:
  // The snapshot goes to its router path unless `args` name another.
  void Start(const std::string& influx_url = "", std::vector<std::string> args = {}) {
    sim_.WriteRouterFile("etc/config/zel", ZelConfig(influx_url));
    if (args.empty()) args = {"-j", sim_.Path("tmp/corvane/modemstatus.json")};
    daemon_ = std::make_unique<DaemonProcess>(sim_, args);
    ASSERT_TRUE(WaitCycles(1, 20000)) << daemon_->Output();
  }

  // Waits until `count` more passes have ended (each ends by announcing its wait).
  bool WaitCycles(int count, int timeout_ms) {
    const int target = daemon_->CountOutput(kWait) + count;
    return daemon_->WaitForOutputCount(kWait, target, timeout_ms * kSlow);
  }

  // Holdings taken just after a pass ended, when no client may be left running.
  Holdings SampleBetweenPasses() {
    EXPECT_TRUE(WaitCycles(1, 20000)) << daemon_->Output();
    usleep(50 * 1000);
    return Sample(daemon_->pid());
  }

  void ExpectSameHoldings(const Holdings& before, const Holdings& after, const std::string& what) {
    EXPECT_EQ(before.fds, after.fds) << what;
    EXPECT_EQ(0, after.children) << what;
    EXPECT_LE(after.rss_kb - before.rss_kb, kRssGrowthLimitKb) << what;
  }

  std::string Snapshot() const { return ReadFile(sim_.Path("tmp/corvane/modemstatus.json")); }

  void ExpectValidSnapshot(const std::string& what) {
    const std::string json = Snapshot();
    std::string error;
    EXPECT_TRUE(IsValidJson(json, &error)) << what << ": " << error << "\n" << json.substr(0, 2000);
  }

  void StopCleanly() {
    EXPECT_EQ(0, daemon_->Stop(5000 * kSlow)) << daemon_->Output().substr(0, 20000);
  }

  SimRouter sim_;
  std::unique_ptr<DaemonProcess> daemon_;
};

// Every faulty client answer in turn, then the healthy router again: polling goes on at its pace,
// the snapshot stays a valid document, the identity survives, nothing leaks.
TEST_F(FaultE2E, ModemFaultsKeepTheCadenceTheValuesAndTheHoldings) {
  sim_.MakeScenario("hang-csq");  // one command never answers: the pass waits out its limit only
  sim_.AddAnswer("hang-csq", "mmcli -m @ --command=AT+CSQ", "", "", 0, "forever");
  struct Fault {
    const char* scenario;
    int passes;
    int pass_limit_ms;  // a pass under the fault ends within this
  };
  const Fault faults[] = {
      {"garbage", 2, 15000},
      {"huge", 2, 30000},
      {"hang-csq", 2, 30000},
      {"no-modem", 2, 15000},
      {"reset-new-index-after", 2, 15000},  // the modem back as index 1
      {"no-modemmanager", 2, 15000},
      {"at-timeout", 2, 15000},
  };

  Start();
  ASSERT_TRUE(WaitCycles(2, 20000)) << daemon_->Output();
  std::string imei;
  for (int i = 0; i < 150 * kSlow && imei.empty(); ++i) {
    imei = SnapshotValue(Snapshot(), "IMEI_s");
    if (imei.empty()) usleep(100 * 1000);
  }
  ASSERT_NE("", imei) << Snapshot();
  const Holdings before = SampleBetweenPasses();
  ASSERT_GT(before.fds, 0);
  if (SoakRounds() > 1) {
    printf("start  fds %d  children %d  VmRSS %ld kB\n", before.fds, before.children,
           before.rss_kb);
  }

  for (int round = 0; round < SoakRounds(); ++round) {
    for (const Fault& fault : faults) {
      SCOPED_TRACE(fault.scenario);
      sim_.SetScenario(fault.scenario);
      for (int pass = 0; pass < fault.passes; ++pass) {
        const auto start = Clock::now();
        ASSERT_TRUE(WaitCycles(1, fault.pass_limit_ms)) << daemon_->Output().substr(0, 20000);
        EXPECT_LT(MillisSince(start), fault.pass_limit_ms * kSlow);
      }
      ExpectValidSnapshot(fault.scenario);
      sim_.SetScenario("default");
      ASSERT_TRUE(WaitCycles(1, 20000)) << daemon_->Output().substr(0, 20000);
      const Holdings after = SampleBetweenPasses();
      ExpectSameHoldings(before, after, fault.scenario);
      if (SoakRounds() > 1) {
        printf("round %d %-22s passes %d  fds %d  children %d  VmRSS %ld kB\n", round + 1,
               fault.scenario, daemon_->CountOutput(kWait), after.fds, after.children,
               after.rss_kb);
        fflush(stdout);
      }
    }
  }
  EXPECT_GT(sim_.CountCalls("mmcli -m 1 "), 0);  // the new index was found and polled
  // Back on the healthy router the values are whole again.
  ASSERT_TRUE(WaitCycles(6, 20000));
  EXPECT_EQ(imei, SnapshotValue(Snapshot(), "IMEI_s"));
  ExpectValidSnapshot("after the faults");
  StopCleanly();
}

// InfluxDB unreachable, refusing or failing: every pass still posts once and goes on.
TEST_F(FaultE2E, InfluxFailuresKeepTheCadenceAndTheHoldings) {
  struct Case {
    const char* what;
    int status;          // of the test server; -1: nothing listens
    const char* logged;  // what the daemon says about the post
  };
  const Case cases[] = {
      {"down", -1, "Status Post to Influx got Curl Error: "},
      {"500", 500, "Status Post to Influx got HTTP Response Code: 500"},
      {"401", 401, "Status Post to Influx got HTTP Response Code: 401"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<HttpTestServer> server;
    std::string url = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort());
    if (c.status > 0) {
      server = std::make_unique<HttpTestServer>(c.status);
      url = server->BaseUrl();
    }
    Start(url);
    ASSERT_TRUE(daemon_->WaitForOutput(c.logged, 20000 * kSlow)) << daemon_->Output();
    const Holdings before = SampleBetweenPasses();
    const int failures = daemon_->CountOutput(c.logged);
    const auto start = Clock::now();
    ASSERT_TRUE(WaitCycles(5, 20000)) << daemon_->Output();
    EXPECT_LT(MillisSince(start), 5 * 2500 * kSlow);  // one second of wait plus a quick pass
    EXPECT_GE(daemon_->CountOutput(c.logged), failures + 4);
    ExpectSameHoldings(before, SampleBetweenPasses(), c.what);
    EXPECT_NE(std::string::npos,
              sim_.ReadRouterFile("tmp/corvane/post_state.json").find("\"state\": \"Failure\""));
    StopCleanly();
    EXPECT_EQ(std::string::npos, daemon_->Output().find("s3cret")) << daemon_->Output();
    if (server) {
      EXPECT_GE(server->Requests().size(), 5u);
    }
  }
}

// A server that takes the request and never answers holds only the poster: the passes keep their
// cadence, SIGINT ends the post in progress and the process at once, and the records are kept.
TEST_F(FaultE2E, InfluxThatNeverAnswersHoldsNeitherThePassesNorTheStop) {
  HttpTestServer silent(0);
  sim_.WriteRouterFile("etc/config/zel", ZelConfig(silent.BaseUrl()));
  daemon_ = std::make_unique<DaemonProcess>(sim_, std::vector<std::string>{});
  for (int i = 0; i < 200 * kSlow && silent.Connections() == 0; ++i) usleep(50 * 1000);
  ASSERT_GT(silent.Connections(), 0) << daemon_->Output();
  const auto start = Clock::now();
  ASSERT_TRUE(WaitCycles(4, 20000)) << daemon_->Output();
  EXPECT_LT(MillisSince(start), 4 * 2500 * kSlow);  // one second of wait plus a quick pass
  EXPECT_EQ(1, silent.Connections());  // still the first post
  const auto stop = Clock::now();
  EXPECT_EQ(0, daemon_->Stop(5000 * kSlow)) << daemon_->Output();
  EXPECT_LT(MillisSince(stop), 2000 * kSlow);
  // The unsent records (the one in flight and those built since) wait in the backlog file.
  const std::string backlog = sim_.ReadRouterFile("tmp/corvane/influx_backlog.lp");
  EXPECT_GE(std::count(backlog.begin(), backlog.end(), '\n'), 4) << backlog;
  EXPECT_EQ(0u, backlog.find("lte_status,")) << backlog;
  EXPECT_EQ(std::string::npos, daemon_->Output().find("s3cret"));
}

// The snapshot and CSV folder missing, then there, then read-only, then writable again. A CSV
// failure is reported once per run of failed writes, and the last good record stays.
TEST_F(FaultE2E, SnapshotFolderMissingOrReadOnlyIsReportedAndRecovered) {
  const std::string folder = sim_.Path("snap");
  const std::string snapshot = folder + "/modemstatus.json", csv = folder + "/status.csv";
  const char kCsvFailed[] = "Failed to write to CSV file '";
  Start("", {"-j", snapshot, "-f", csv});
  ASSERT_TRUE(daemon_->WaitForOutput("Failed to write to JSON file", 15000 * kSlow))
      << daemon_->Output();
  ASSERT_TRUE(WaitCycles(2, 20000));
  EXPECT_EQ(daemon_->CountOutput(kCsvFailed), 1) << daemon_->Output();
  const Holdings before = SampleBetweenPasses();

  ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
  for (int i = 0; i < 150 * kSlow && (access(snapshot.c_str(), F_OK) != 0 ||
                                      access(csv.c_str(), F_OK) != 0);
       ++i) {
    usleep(100 * 1000);
  }
  std::string error;
  EXPECT_TRUE(IsValidJson(ReadFile(snapshot), &error)) << error;

  // Root ignores permission bits; an immutable folder refuses even root.
  const std::string lock = "chattr +i '" + folder + "' 2>/dev/null";
  if (system(lock.c_str()) == 0) {
    const std::string kept = ReadFile(snapshot);
    const int failures = daemon_->CountOutput("Failed to write to JSON file");
    ASSERT_TRUE(daemon_->WaitForOutputCount("Failed to write to JSON file", failures + 1,
                                            15000 * kSlow))
        << daemon_->Output();
    const std::string kept_csv = ReadFile(csv);
    EXPECT_TRUE(WaitCycles(2, 20000));
    EXPECT_EQ(kept, ReadFile(snapshot));  // the last good snapshot stays
    EXPECT_EQ(kept_csv, ReadFile(csv));
    EXPECT_EQ(daemon_->CountOutput(kCsvFailed), 2) << daemon_->Output();
    EXPECT_EQ(0, system(("chattr -i '" + folder + "'").c_str()));
    ASSERT_TRUE(WaitCycles(1, 20000));
  } else {
    ADD_FAILURE() << "chattr is not available: the read-only case was not run";
  }
  ExpectSameHoldings(before, SampleBetweenPasses(), "snapshot folder");
  StopCleanly();
}

// The folder of the post state (and of the router's own files) goes away while posts succeed.
TEST_F(FaultE2E, PostStateFolderMissingDoesNotStopPolling) {
  HttpTestServer influx(204);
  Start(influx.BaseUrl());
  ASSERT_TRUE(daemon_->WaitForOutput("Post to Influx database successful", 20000 * kSlow));
  const Holdings before = SampleBetweenPasses();
  const std::string folder = sim_.Path("tmp/corvane");
  ASSERT_EQ(0, rename(folder.c_str(), (folder + ".gone").c_str()));
  ASSERT_TRUE(daemon_->WaitForOutput("Failed to open post status", 20000 * kSlow))
      << daemon_->Output();
  const size_t posts = influx.Requests().size();
  ASSERT_TRUE(WaitCycles(3, 20000)) << daemon_->Output();
  EXPECT_GE(influx.Requests().size(), posts + 2);
  ASSERT_EQ(0, rename((folder + ".gone").c_str(), folder.c_str()));
  unlink((folder + "/post_state.json").c_str());
  ASSERT_TRUE(WaitCycles(2, 20000));
  EXPECT_NE(std::string::npos,
            sim_.ReadRouterFile("tmp/corvane/post_state.json").find("\"state\": \"Success\""));
  ExpectSameHoldings(before, SampleBetweenPasses(), "post state folder");
  StopCleanly();
}

// Link signals every few milliseconds and a flood of GPS datagrams, both while passes run: the
// daemon neither deadlocks nor loses its way; the last signal decides whether it polls.
TEST_F(FaultE2E, SignalStormAndGpsFloodDuringPasses) {
  sim_.SetScenario("slow");  // passes last long enough for signals to land inside them
  Start();
  ASSERT_TRUE(daemon_->WaitForOutput("GPS socket created: ", 5000));
  const Holdings before = SampleBetweenPasses();

  std::atomic<bool> done{false};
  std::atomic<int> sent_datagrams{0};
  std::thread flood([&] {
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s",
             sim_.Path("tmp/corvane/gps.socket").c_str());
    const std::string sentence = "$GPGGA,120000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";
    std::string junk(300, '\0');
    for (int i = 0; !done; ++i) {
      const std::string& datagram = i % 7 == 0 ? junk : sentence;
      if (sendto(fd, datagram.data(), datagram.size(), MSG_DONTWAIT,
                 reinterpret_cast<struct sockaddr*>(&address), sizeof address) > 0) {
        ++sent_datagrams;
      }
      usleep(200);
    }
    close(fd);
  });
  const auto storm_end = Clock::now() + std::chrono::seconds(6);
  int sent = 0;
  while (Clock::now() < storm_end) {
    daemon_->Signal(sent % 2 == 0 ? SIGUSR2 : SIGUSR1);
    ++sent;
    usleep(3000);
  }
  daemon_->Signal(SIGUSR1);  // end on connect: polling resumes
  done = true;
  flood.join();
  EXPECT_GT(sent_datagrams.load(), 300);

  ASSERT_TRUE(daemon_->WaitForOutput("Connected signal", 1000));
  ASSERT_TRUE(daemon_->WaitForOutput("Disconnected signal", 1000));
  sim_.SetScenario("default");
  sim_.ClearCalls();
  ASSERT_TRUE(WaitCycles(3, 20000)) << daemon_->Output().substr(0, 20000);
  EXPECT_GT(sim_.CountCalls("--command=AT+CSQ"), 0);  // full passes again, not link-down ones
  ExpectValidSnapshot("after the storm");
  ExpectSameHoldings(before, SampleBetweenPasses(), "signal storm");
  const auto stop = Clock::now();
  StopCleanly();
  EXPECT_LT(MillisSince(stop), 3000 * kSlow);
}

// A modem that names itself with the separators of every output format: each record keeps its
// shape and the text stays inside its own field.
TEST_F(FaultE2E, HostileModemTextStaysInsideItsField) {
  const std::string hostile = "86\" x=1,imei=2 \\\",\"}]<b>";
  std::string properties = ReadFile(sim_.Path("sim/scenarios/default/mmcli_-m_@_-K.out"));
  int replaced = 0;
  for (size_t at = properties.find("866758041234564"); at != std::string::npos;
       at = properties.find("866758041234564", at + hostile.size())) {
    properties.replace(at, 15, hostile);
    ++replaced;
  }
  ASSERT_GT(replaced, 0);
  sim_.MakeScenario("hostile");
  sim_.AddAnswer("hostile", "mmcli -m @ -K", properties);
  sim_.SetScenario("hostile");
  HttpTestServer influx(204);
  const std::string csv = sim_.Path("tmp/status.csv");
  const std::string snapshot = sim_.Path("tmp/corvane/modemstatus.json");
  Start(influx.BaseUrl(), {"-j", snapshot, "-f", csv});
  ASSERT_TRUE(WaitCycles(2, 20000)) << daemon_->Output();

  std::string json;
  for (int i = 0; i < 150 * kSlow && json.find("IMEI_s") == std::string::npos; ++i) {
    usleep(100 * 1000);
    json = ReadFile(snapshot);
  }
  std::string error;
  EXPECT_TRUE(IsValidJson(json, &error)) << error << "\n" << json;
  EXPECT_NE(std::string::npos, json.find("\"value\":\"86\\\" x=1,imei=2 \\\\\\\",\\\"}]<b>\""))
      << json;

  std::string record = ReadFile(csv);
  ASSERT_FALSE(record.empty());
  if (record.compare(0, 6, "Cprint") == 0) record = record.substr(record.find('\n') + 1);
  ASSERT_EQ('\n', record.back());
  record.pop_back();
  EXPECT_EQ(std::string::npos, record.find('\n'));
  EXPECT_EQ(98, CsvFieldCount(record)) << record;

  const auto requests = influx.Requests();
  ASSERT_FALSE(requests.empty());
  for (const RecordedRequest& request : requests) {
    std::string body = request.body;
    if (!body.empty() && body.back() == '\n') body.pop_back();
    const int sections = LineProtocolSections(body);
    EXPECT_TRUE(sections == 1 || sections == 2) << body;
    EXPECT_NE(std::string::npos, body.find(",imei=86\"\\ x\\=1\\,imei\\=2\\ ")) << body;
  }
  StopCleanly();
}

}  // namespace
