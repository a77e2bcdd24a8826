#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "modem/discovery.h"

namespace {

constexpr char kInsideMark[] = "MODEM_STATUS_MAC_TEST_NETNS";

int Shell(const std::string& command) {
  int status = system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Checks made inside the namespace, where wwan0 and lan1 are veth ends with chosen addresses.
void CheckAddressesInside() {
  char mac[18];
  EXPECT_EQ(1, GetMacAddress("wwan0", mac));
  EXPECT_STREQ("02:50:f4:00:00:01", mac);
  EXPECT_EQ(1, GetMacAddress("lan1", mac));
  EXPECT_STREQ("0a:1b:2c:3d:4e:5f", mac);

  // The loopback interface's address is all zeros; unknown and over-long names do not exist.
  for (const char* name : {"lo", "nosuch", "wwan0wwan0wwan0wwan0"}) {
    SCOPED_TRACE(name);
    memcpy(mac, "untouched", 10);
    EXPECT_EQ(0, GetMacAddress(name, mac));
    EXPECT_STREQ("untouched", mac);
  }
}

// Sets up a namespace with veth pairs and runs this test again inside it.
TEST(GetMacAddressTest, ReadsInterfaceAddressesInANetworkNamespace) {
  if (getenv(kInsideMark) != nullptr) {
    CheckAddressesInside();
    return;
  }
  if (geteuid() != 0) GTEST_SKIP() << "creating a network namespace needs root; not checked";
  const std::string ns = "msd-mac-" + std::to_string(getpid());
  if (Shell("ip netns add " + ns + " 2>/dev/null") != 0) {
    GTEST_SKIP() << "network namespaces are not available here (ip netns add failed)";
  }
  int setup = Shell("ip netns exec " + ns +
                    " sh -ec '"
                    "ip link set lo up; "
                    "ip link add wwan0 type veth peer name isp0; "
                    "ip link set wwan0 address 02:50:f4:00:00:01; "
                    "ip link add lan1 type veth peer name lan1peer; "
                    "ip link set lan1 address 0a:1b:2c:3d:4e:5f' 2>&1");
  if (setup != 0) {
    Shell("ip netns del " + ns);
    GTEST_SKIP() << "veth interfaces cannot be created here";
  }
  char self[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  int inside = Shell("ip netns exec " + ns + " env " + kInsideMark + "=1 '" + self +
                     "' --gtest_filter=GetMacAddressTest.ReadsInterfaceAddressesInANetworkNamespace");
  EXPECT_EQ(0, Shell("ip netns del " + ns));
  EXPECT_EQ(0, inside) << "the checks inside the namespace failed (their output is above)";
}

}  // namespace
