// The router's network options the status cycle uses (the LAN address, the configured APN), read
// afresh for each cycle into one record.
#pragma once

class UciSource;

constexpr const char* kLanIpAddrKey = "network.lan.ipaddr";
constexpr const char* kWwanApnKey = "network.wwan.apn";

// One option as found: its text cut to the field (at most size - 1 characters), empty when not
// set.
template <int Size>
struct NetworkOption {
  bool found = false;
  char text[Size] = "";
};

struct NetworkOptions {
  NetworkOption<32> lanIpAddr;  // network.lan.ipaddr
  NetworkOption<128> wwanApn;   // network.wwan.apn: the APN shown when the modem names none
};

// Looks both options up without a console line (and without heap allocation once the network
// package has been read); a malformed package is said on standard error. The steps that use a
// value print its lookup line with ShowNetworkOption, where they use it.
NetworkOptions ReadNetworkOptions(UciSource& uci);

// The lookup line of the option at `key`, as every configuration lookup prints it.
void ShowNetworkLookup(const char* key, bool found, const char* text);

template <int Size>
void ShowNetworkOption(const char* key, const NetworkOption<Size>& option) {
  ShowNetworkLookup(key, option.found, option.text);
}
