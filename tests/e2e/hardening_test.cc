// The daemon and the CGI as an attacker meets them: a second copy started by hand, links planted
// by an unprivileged user in the shared folder, and control bytes in the text from outside.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/json_validator.h"
#include "tests/support/sim_router.h"
#include "tests/support/test_files.h"

namespace {

constexpr int kTimeoutMs = 20000;

// Sends one datagram to the socket at `path`; true when it was accepted.
bool SendDatagram(const std::string& path, const std::string& text) {
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  struct sockaddr_un address {};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  const bool sent = sendto(fd, text.data(), text.size(), 0,
                           reinterpret_cast<struct sockaddr*>(&address), sizeof address) >= 0;
  close(fd);
  return sent;
}

struct FileId {
  dev_t dev;
  ino_t ino;
  bool operator==(const FileId& other) const { return dev == other.dev && ino == other.ino; }
};
FileId IdOf(const std::string& path) {
  struct stat info {};
  lstat(path.c_str(), &info);
  return {info.st_dev, info.st_ino};
}

class HardeningTest : public ::testing::Test {
 protected:
  std::string Corvane(const std::string& name) const { return sim_.Path("tmp/corvane/" + name); }
  SimRouter sim_;
};

// A second copy, whatever its options, leaves the running daemon's post state and socket alone:
// the first keeps receiving positions. "-h" as first argument still prints the usage.
TEST_F(HardeningTest, SecondCopyTouchesNothingOfTheRunningDaemon) {
  DaemonProcess first(sim_, {"-j", Corvane("modemstatus.json")});
  ASSERT_TRUE(first.WaitForOutput("Calling sleep for", kTimeoutMs)) << first.Output();
  const std::string state = ReadFile(Corvane("post_state.json"));
  const FileId state_id = IdOf(Corvane("post_state.json"));
  const FileId socket_id = IdOf(Corvane("gps.socket"));
  const std::string running = "already running (pid " + std::to_string(first.pid()) + ")";
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{}, 1, running.c_str()},
      {{"-h"}, 0, "VERSION 0.1"},
      {{"--version"}, 1, running.c_str()},
      {{"-j", Corvane("other.json")}, 1, running.c_str()},
  };
  for (const Case& c : cases) {
    const std::string what = c.args.empty() ? "(none)" : c.args[0];
    SCOPED_TRACE(what);
    sleep(1);  // a rewritten post state would carry a later time
    std::vector<std::string> argv = {MODEM_STATUSD_BIN};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ProgramResult second = RunProgram(argv, sim_.Env());
    EXPECT_EQ(second.status, c.status);
    EXPECT_NE(second.err.find(c.message), std::string::npos) << second.err;
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(ReadFile(Corvane("post_state.json")), state);
    EXPECT_TRUE(IdOf(Corvane("post_state.json")) == state_id);
    EXPECT_TRUE(IdOf(Corvane("gps.socket")) == socket_id);
    const std::string sentence = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,," + what;
    const int seen = first.CountOutput(sentence);
    ASSERT_TRUE(SendDatagram(Corvane("gps.socket"), sentence));
    EXPECT_TRUE(first.WaitForOutputCount(sentence, seen + 1, kTimeoutMs));
  }
  EXPECT_FALSE(FileExists(Corvane("other.json")));
}

// A local user who made the shared folder first plants links at every fixed temporary name and at
// every file the daemon reads there, each pointing at a root-only file; the daemon runs as root
// under umask 000. No target changes, no target's content is published, what the daemon creates
// is 0644, and the user cannot send positions to the socket.
TEST_F(HardeningTest, LinksPlantedByALocalUserReachNoRootFile) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root (the daemon's own user) and the user nobody";
  const std::string folder = sim_.Path("tmp/corvane"), victims = sim_.Path("victims");
  ASSERT_EQ(chmod(sim_.root().c_str(), 0755), 0);
  ASSERT_EQ(chmod(sim_.Path("tmp").c_str(), 0755), 0);
  ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
  MakeDirs(victims);
  ASSERT_EQ(chmod(victims.c_str(), 0700), 0);
  const std::vector<std::string> planted = {
      "modemstatus.json.tmp", "post_state.json.tmp", "status.csv.tmp",  // written
      "serialNumber",         "protocol",            "lte_state.json",  // read
  };
  for (const std::string& name : planted) {
    const std::string victim = victims + "/" + name;
    WriteFile(victim, "{\"state\": \"ROOT-SECRET\"}\n");
    ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
    unlink((folder + "/" + name).c_str());
    ProgramResult ln = RunProgram({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                   "--clear-groups", "/bin/ln", "-s", victim, folder + "/" + name},
                                  {"PATH=/usr/bin:/bin"});
    ASSERT_EQ(ln.status, 0) << name << ": " << ln.err;
  }
  const mode_t saved_umask = umask(0);
  const std::string snapshot = folder + "/modemstatus.json";
  DaemonProcess daemon(sim_, {"-j", snapshot, "-f", folder + "/status.csv"});
  umask(saved_umask);
  ASSERT_TRUE(daemon.WaitForOutputCount("Calling sleep for", 2, kTimeoutMs)) << daemon.Output();
  for (int i = 0; i < 100 && !FileExists(snapshot); ++i) usleep(100 * 1000);

  ProgramResult send = RunProgram(
      {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3",
       "-c",
       "import socket,sys; s=socket.socket(socket.AF_UNIX,socket.SOCK_DGRAM); "
       "s.sendto(b'$GPGGA,1,4807.038,N,01131.000,E', sys.argv[1])",
       folder + "/gps.socket"},
      {"PATH=/usr/bin:/bin"});
  EXPECT_NE(send.status, 0) << "an unprivileged user could send a position";
  ProgramResult cgi =
      RunProgram({MODEM_STATUS_API_BIN}, {"MODEM_STATUS_ROOT=" + sim_.root(), "PATH=/usr/bin:/bin"});
  daemon.Stop();

  for (const std::string& name : planted) {
    struct stat info {};
    EXPECT_EQ(lstat((victims + "/" + name).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u) << name;
    EXPECT_EQ(ReadFile(victims + "/" + name), "{\"state\": \"ROOT-SECRET\"}\n") << name;
  }
  const std::string json = ReadFile(snapshot);
  EXPECT_TRUE(IsValidJson(json)) << json;
  EXPECT_EQ(json.find("ROOT-SECRET"), std::string::npos) << json;
  EXPECT_EQ(json.find("\"Sn_s\""), std::string::npos);
  EXPECT_NE(json.find("\"name\":\"Protocol_s\",\"value\":\"unknown\""), std::string::npos);
  EXPECT_NE(daemon.Output().find("Failed to locate system serial number"), std::string::npos);
  EXPECT_EQ(cgi.out.find("ROOT-SECRET"), std::string::npos);
  EXPECT_NE(cgi.out.find("\"status\": [{"), std::string::npos) << cgi.out;
  for (const char* created : {"modemstatus.json", "status.csv", "post_state.json"}) {
    struct stat info {};
    EXPECT_EQ(lstat((folder + "/" + created).c_str(), &info), 0) << created;
    EXPECT_EQ(info.st_mode & 07777, 0644u) << created;
  }
}

// ESC, BEL, CR, LF and NUL from the modem, the network name and a GPS sentence reach the console
// only escaped; the snapshot holds the values exactly, JSON-escaped.
TEST_F(HardeningTest, ControlBytesFromOutsideReachTheConsoleEscaped) {
  const std::string hostile = std::string("A\x1b]0;pwn\x07\x1b[2J\rB\nStatusGather: forged\0Z", 37);
  std::string properties = ReadFile(sim_.Path("sim/scenarios/default/mmcli_-m_@_-K.out"));
  const size_t imei = properties.find("866758041234564");
  ASSERT_NE(imei, std::string::npos);
  properties.replace(imei, 15, hostile);
  sim_.MakeScenario("hostile");
  sim_.AddAnswer("hostile", "mmcli -m @ -K", properties);
  sim_.AddAnswer("hostile", "mmcli -m @ --command=AT+CGMR", "response: '" + hostile + "'\n");
  sim_.AddAnswer("hostile", "home-network.sh @", "310\n260\n\"Net" + hostile + "\"\n");
  sim_.SetScenario("hostile");
  const std::string snapshot = Corvane("modemstatus.json");
  DaemonProcess daemon(sim_, {"-j", snapshot, "-c"});
  ASSERT_TRUE(daemon.WaitForOutput("GPS socket created", kTimeoutMs));
  const std::string fix = "$GPGGA,123519,4807.038,N,01131.000,E,1\x1b[2J\x07,08";
  ASSERT_TRUE(SendDatagram(Corvane("gps.socket"), fix + "," + hostile));
  ASSERT_TRUE(daemon.WaitForOutputCount("Calling sleep for", 2, kTimeoutMs)) << daemon.Output();
  std::string json;
  for (int i = 0; i < 100 && json.find("HnName_s") == std::string::npos; ++i) {
    usleep(100 * 1000);
    json = ReadFile(snapshot);
  }
  daemon.Stop();

  const std::string out = daemon.Output();
  for (size_t i = 0; i < out.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    if ((c < 0x20 && c != '\n') || c == 0x7f) {
      ADD_FAILURE() << "control byte " << static_cast<int>(c) << " in: "
                    << out.substr(out.rfind('\n', i) + 1, 120);
      break;
    }
  }
  EXPECT_EQ(out.find("\nStatusGather: forged"), std::string::npos);
  EXPECT_NE(out.find("A\\x1B]0;pwn\\x07\\x1B[2J\\x0DB"), std::string::npos);
  std::string error;
  EXPECT_TRUE(IsValidJson(json, &error)) << error;
  // The values hold what came before the line end (the network name is read by lines) or the
  // NUL (a datagram is text), byte for byte.
  const std::string escaped = "A\\u001b]0;pwn\\u0007\\u001b[2J\\rB";
  EXPECT_NE(json.find("\"name\":\"HnName_s\",\"value\":\"Net" + escaped + "\""),
            std::string::npos)
      << json;
  const std::string nmea = "$GPGGA,123519,4807.038,N,01131.000,E,1\\u001b[2J\\u0007,08," +
                           escaped + "\\nStatusGather: forged\"";
  EXPECT_NE(json.find("\"name\":\"NMEA_s\",\"value\":\"" + nmea), std::string::npos) << json;
}

}  // namespace
