#include "config/network_options.h"

#include <cstdio>

#include "config/config_lookup.h"
#include "config/uci_source.h"

namespace {

template <int Size>
void Take(UciSource& uci, const char* key, NetworkOption<Size>* option) {
  const char* text = uci.Find(key);
  option->found = text != nullptr;
  if (text == nullptr) {
    uci.ReportLastError(key);
    return;
  }
  snprintf(option->text, sizeof option->text, "%s", text);
}

}  // namespace

NetworkOptions ReadNetworkOptions(UciSource& uci) {
  NetworkOptions options;
  Take(uci, kLanIpAddrKey, &options.lanIpAddr);
  Take(uci, kWwanApnKey, &options.wwanApn);
  return options;
}

void ShowNetworkLookup(const char* key, bool found, const char* text) {
  ShowLookup(key, found ? text : nullptr);
}
