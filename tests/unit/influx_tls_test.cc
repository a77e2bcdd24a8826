// Posts over HTTPS to a local endpoint whose certificates are made for the test: the certificate
// is checked against the configured CA file and the host name, never skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/log.h"
#include "config/daemon_config.h"
#include "modem/modem_pass.h"
#include "report/influx_post.h"
#include "tests/support/sim_router.h"
#include "tests/support/table_access.h"
#include "tests/support/test_files.h"

namespace {

// A CA, a server certificate it signs for IP 127.0.0.1 only, and an unrelated CA.
bool MakeCertificates(const std::string& d) {
  WriteFile(d + "/server.ext", "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n");
  const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  const std::string script =
      "cd '" + d + "' && openssl req -x509" + key + " -keyout ca.key -out ca.pem -days 2 -subj /CN=TestCA" +
      " && openssl req -x509" + key + " -keyout other.key -out other.pem -days 2 -subj /CN=OtherCA" +
      " && openssl req" + key + " -keyout server.key -out server.csr -subj /CN=127.0.0.1" +
      " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial" +
      " -out server.pem -days 2 -extfile server.ext) >/dev/null 2>&1";
  return system(("(" + script).c_str()) == 0;
}

TEST(InfluxTlsTest, CertificateIsCheckedAgainstTheCaFileAndTheHostName) {
  TempDir dir;
  ASSERT_TRUE(MakeCertificates(dir.path()));
  DaemonProcess endpoint("/usr/bin/python3",
                         {SOURCE_DIR "/tests/support/post_sink.py", dir / "server.pem",
                          dir / "server.key"},
                         {});
  ASSERT_TRUE(endpoint.WaitForOutput("\n", 10000)) << endpoint.Output();
  const std::string port = endpoint.Output().substr(5, endpoint.Output().find('\n') - 5);
  const struct {
    const char* host;
    const char* ca;
    PostOutcome outcome;
    const char* reason;
  } cases[] = {
      {"127.0.0.1", "ca.pem", PostOutcome::kSent, "Post to Influx database successful"},
      {"127.0.0.1", "other.pem", PostOutcome::kRetry,
       "Curl Error: SSL peer certificate or SSH remote key was not OK (SSL certificate problem: "
       "unable to get local issuer certificate)"},
      {"localhost", "ca.pem", PostOutcome::kRetry,
       "no alternative certificate subject name matches target host name 'localhost'"},
  };
  for (const auto& c : cases) {
    DaemonConfig config{};
    snprintf(config.influxUrl, sizeof config.influxUrl, "https://%s:%s", c.host, port.c_str());
    snprintf(config.database, sizeof config.database, "db");
    InfluxRequest request;
    ASSERT_EQ(1, BuildInfluxRequest(config, &request));
    const std::string ca = dir / c.ca;
    PostOptions options;
    options.caFile = ca.c_str();
    PostResult result;
    ResetLogRepeat();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    PostInflux(request, "m v=1i\n", 7, options, &result);
    const std::string said = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
    EXPECT_EQ(c.outcome, result.outcome) << c.host << " " << c.ca << "\n" << said;
    EXPECT_NE(std::string::npos, said.find(c.reason)) << said;
  }
}

}  // namespace
