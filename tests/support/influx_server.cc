#include "tests/support/influx_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

}  // namespace

std::string InfluxServer::Start() {
  dir_ = std::make_unique<TempDir>();
  http_port_ = FreeLoopbackPort();
  const int rpc_port = FreeLoopbackPort();
  const std::string& d = dir_->path();
  WriteFile(d + "/influxdb.conf",
            "reporting-enabled = false\n"
            "bind-address = \"127.0.0.1:" + std::to_string(rpc_port) + "\"\n"
            "[meta]\n  dir = \"" + d + "/meta\"\n"
            "[data]\n  dir = \"" + d + "/data\"\n  wal-dir = \"" + d + "/wal\"\n"
            "  query-log-enabled = false\n"
            "[monitor]\n  store-enabled = false\n"
            "[http]\n  enabled = true\n  bind-address = \"127.0.0.1:" +
            std::to_string(http_port_) + "\"\n  auth-enabled = true\n  log-enabled = false\n"
            "[continuous_queries]\n  enabled = false\n");
  std::string error = Resume();
  if (!error.empty()) return error;
  // The first admin may be created without credentials.
  HttpReply reply = HttpCall(http_port_, "POST",
                             "/query?q=" + UrlEncode(std::string("CREATE USER admin WITH PASSWORD '") +
                                                     kAdminPassword + "' WITH ALL PRIVILEGES"));
  if (reply.status != 200) return "create admin: " + reply.body;
  for (const std::string& statement :
       {std::string("CREATE DATABASE ") + kDatabase,
        std::string("CREATE USER ") + kWriter + " WITH PASSWORD '" + kWriterPassword + "'",
        std::string("GRANT WRITE ON ") + kDatabase + " TO " + kWriter}) {
    reply = HttpCall(http_port_, "POST", AdminQuery(statement, ""));
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
    up = HttpCall(http_port_, "GET", "/ping").status == 204;
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
  return HttpCall(http_port_, "GET", AdminQuery(statement, db));
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
