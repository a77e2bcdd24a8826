// modem-statusd: gathers the router's LTE modem status and publishes it.
#include <cstdio>

int main() {
  puts("modem-statusd: start-up not built yet");
  return 0;
}
