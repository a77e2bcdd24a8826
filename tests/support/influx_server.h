// A real InfluxDB 1.x server for tests: influxd on loopback with a temporary data folder and
// authentication enabled, an admin, a database and a user that may only write to it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "tests/support/http_test_server.h"
#include "tests/support/test_files.h"

class InfluxServer {
 public:
  static constexpr const char* kAdmin = "admin";
  static constexpr const char* kAdminPassword = "adm1n";
  static constexpr const char* kDatabase = "routerdb";
  static constexpr const char* kWriter = "writer";
  // Needs percent-encoding in a query.
  static constexpr const char* kWriterPassword = "wr1 ter&p=#x";

  InfluxServer() = default;
  ~InfluxServer() { Stop(); }
  InfluxServer(const InfluxServer&) = delete;
  InfluxServer& operator=(const InfluxServer&) = delete;

  // Starts influxd and sets up the users and the database. Returns an empty text on success,
  // else what went wrong. With `https` it serves TLS with a certificate for 127.0.0.1 from a CA
  // made for it (CaFile()).
  std::string Start(bool https = false);
  // Stops influxd; Resume starts it again on the same port with the same data. Resume returns an
  // empty text once it answers, else what went wrong.
  void Stop();
  std::string Resume();

  int port() const { return http_port_; }
  std::string BaseUrl() const {
    return (https_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(http_port_);
  }
  std::string CaFile() const { return dir_->path() + "/ca.pem"; }
  // An InfluxQL statement run as the admin; `db` may be empty.
  HttpReply Query(const std::string& statement, const std::string& db = kDatabase);
  std::string Log() const;

 private:
  // A request to the server: plain HTTP, or the curl client over HTTPS.
  HttpReply Call(const std::string& method, const std::string& target);

  std::unique_ptr<TempDir> dir_;
  bool https_ = false;
  pid_t pid_ = -1;
  int http_port_ = 0;
};

// The value of `column` in the first row of a /query reply, as JSON text ("" when missing).
std::string InfluxColumnValue(const std::string& reply, const std::string& column);
