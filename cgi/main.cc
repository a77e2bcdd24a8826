// modem-status-api: serves the daemon's JSON snapshot as a CGI program.
#include <cstdio>

int main() {
  return 0;
}
