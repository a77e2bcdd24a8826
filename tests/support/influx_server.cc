#include "tests/support/influx_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

std::string AdminQuery(const std::string& statement, const std::string& db) {
  std::string target = "/query?u=" + UrlEncode(InfluxServer::kAdmin) +
                       "&p=" + UrlEncode(InfluxServer::kAdminPassword);
  if (!db.empty()) target += "&db=" + UrlEncode(db);
  return target + "&q=" + UrlEncode(statement);
}

// Splits the JSON array text that starts at `pos` (just after its "[") into its top-level items.
std::vector<std::string> ArrayItems(const std::string& text, size_t pos) {
  std::vector<std::string> items;
  std::string item;
  int depth = 0;
  bool in_string = false;
  for (; pos < text.size(); ++pos) {
    char c = text[pos];
    if (in_string) {
      item += c;
      if (c == '\\' && pos + 1 < text.size()) {
        item += text[++pos];
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') in_string = true;
    if (c == '[' || c == '{') ++depth;
    if ((c == ']' || c == '}') && depth-- == 0) break;
    if (c == ',' && depth == 0) {
      items.push_back(item);
      item.clear();
      continue;
    }
    item += c;
  }
  if (!item.empty()) items.push_back(item);
  return items;
}

// A CA and a server certificate it signs for IP 127.0.0.1, in `d`.
bool MakeServerCertificate(const std::string& d) {
  WriteFile(d + "/server.ext", "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n");
  const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  const std::string script =
      "(cd '" + d + "' && openssl req -x509" + key + " -keyout ca.key -out ca.pem -days 2" +
      " -subj /CN=TestCA && openssl req" + key + " -keyout server.key -out server.csr" +
      " -subj /CN=127.0.0.1 && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key" +
      " -CAcreateserial -out server.pem -days 2 -extfile server.ext) >/dev/null 2>&1";
  return system(script.c_str()) == 0;
}

}  // namespace

HttpReply InfluxServer::Call(const std::string& method, const std::string& target) {
  if (!https_) return HttpCall(http_port_, method, target);
  HttpReply reply;
  const std::string command = "curl -s -m 5 --cacert '" + CaFile() + "' -X " + method +
                              " -w '\n%{http_code}' '" + BaseUrl() + target + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return reply;
  std::string out;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
  pclose(pipe);
  const size_t last = out.rfind('\n');
  if (last == std::string::npos) return reply;
  reply.status = atoi(out.c_str() + last + 1);
  reply.body = out.substr(0, last);
  return reply;
}

std::string InfluxServer::Start(bool https) {
  dir_ = std::make_unique<TempDir>();
  https_ = https;
  http_port_ = FreeLoopbackPort();
  const int rpc_port = FreeLoopbackPort();
  const std::string& d = dir_->path();
  if (https_ && !MakeServerCertificate(d)) return "openssl could not make the certificates";
  WriteFile(d + "/influxdb.conf",
            "reporting-enabled = false\n"
            "bind-address = \"127.0.0.1:" + std::to_string(rpc_port) + "\"\n"
            "[meta]\n  dir = \"" + d + "/meta\"\n"
            "[data]\n  dir = \"" + d + "/data\"\n  wal-dir = \"" + d + "/wal\"\n"
            "  query-log-enabled = false\n"
            "[monitor]\n  store-enabled = false\n"
            "[http]\n  enabled = true\n  bind-address = \"127.0.0.1:" +
            std::to_string(http_port_) + "\"\n  auth-enabled = true\n  log-enabled = false\n" +
            (https_ ? "  https-enabled = true\n  https-certificate = \"" + d +
                          "/server.pem\"\n  https-private-key = \"" + d + "/server.key\"\n"
                    : std::string()) +
            "[continuous_queries]\n  enabled = false\n");
  std::string error = Resume();
  if (!error.empty()) return error;
  // The first admin may be created without credentials.
  HttpReply reply = Call("POST", "/query?q=" + UrlEncode(std::string("CREATE USER admin WITH PASSWORD '") +
                                                     kAdminPassword + "' WITH ALL PRIVILEGES"));
  if (reply.status != 200) return "create admin: " + reply.body;
  for (const std::string& statement :
       {std::string("CREATE DATABASE ") + kDatabase,
        std::string("CREATE USER ") + kWriter + " WITH PASSWORD '" + kWriterPassword + "'",
        std::string("GRANT WRITE ON ") + kDatabase + " TO " + kWriter}) {
    reply = Call("POST", AdminQuery(statement, ""));
    if (reply.status != 200 || reply.body.find("\"error\"") != std::string::npos) {
      return statement + ": " + reply.body;
    }
  }
  return "";
}

std::string InfluxServer::Resume() {
  const std::string config = dir_->path() + "/influxdb.conf";
  const std::string log = dir_->path() + "/influxd.log";
  pid_ = fork();
  if (pid_ == 0) {
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    execlp("influxd", "influxd", "-config", config.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid_ < 0) return "fork failed";
  bool up = false;
  for (int i = 0; i < 200 && !up; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    up = Call("GET", "/ping").status == 204;
  }
  return up ? "" : "influxd did not answer /ping: " + Log();
}

void InfluxServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

HttpReply InfluxServer::Query(const std::string& statement, const std::string& db) {
  return Call("GET", AdminQuery(statement, db));
}

std::string InfluxServer::Log() const { return dir_ ? ReadFile(dir_->path() + "/influxd.log") : ""; }

std::string InfluxColumnValue(const std::string& reply, const std::string& column) {
  size_t columns = reply.find("\"columns\":[");
  size_t values = reply.find("\"values\":[[");
  if (columns == std::string::npos || values == std::string::npos) return "";
  std::vector<std::string> names = ArrayItems(reply, columns + 11);
  std::vector<std::string> row = ArrayItems(reply, values + 11);
  for (size_t i = 0; i < names.size() && i < row.size(); ++i) {
    if (names[i] == "\"" + column + "\"") return row[i];
  }
  return "";
}
