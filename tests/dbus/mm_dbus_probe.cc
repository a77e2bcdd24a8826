// Prints the answer record one ModemManager link gives for one request, field by field, so a test
// can set the two ways side by side:
//   mm_dbus_probe mmcli|dbus -L | -m N --command=CMD | -m N -r | -m N -K | -b N -K
// The mmcli way runs the client under $MODEM_STATUS_ROOT and prints its trace lines first; the
// record follows a line "=== record". Exit 77 when the D-Bus way is not built, 2 on a usage error
// or without a bus.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/paths.h"
#include "modem/mm_dbus.h"
#include "modem/mmcli_link.h"

namespace {

const char* OutcomeName(MmAnswer answer) {
  switch (answer) {
    case MmAnswer::kAnswered:
      return "answered";
    case MmAnswer::kRefused:
      return "refused";
    case MmAnswer::kNone:
      return "none";
  }
  return "?";
}

void PrintProperty(const char* name, const PropertyText& property) {
  if (property.present) {
    printf("%s: '%s'\n", name, property.text);
  } else {
    printf("%s: absent\n", name);
  }
}

int Usage(const char* self) {
  fprintf(stderr, "usage: %s mmcli|dbus -L | -m N --command=CMD | -m N -r | -m N -K | -b N -K\n",
          self);
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!ModemBus::Built()) return 77;
  if (argc < 3) return Usage(argv[0]);
  ReloadPathRoot();
  MmcliLink mmcli(nullptr);
  ModemBus bus(nullptr);
  ModemManagerLink* link = &mmcli;
  if (strcmp(argv[1], "dbus") == 0) {
    char why[256];
    if (!bus.Open(why, sizeof why)) {
      fprintf(stderr, "no bus: %s\n", why);
      return 2;
    }
    link = &bus;
  } else if (strcmp(argv[1], "mmcli") != 0) {
    return Usage(argv[0]);
  }
  const int32_t limit = 2000;
  const char* what = argv[2];
  const int32_t index = argc > 3 ? atoi(argv[3]) : 0;
  if (argc == 3 && strcmp(what, "-L") == 0) {
    ModemListing listing{};
    link->List(limit, &listing);
    printf("=== record\nfound: %d\n", listing.found ? 1 : 0);
    if (listing.found) printf("index: %d\nnumber: '%s'\n", listing.index, listing.number);
  } else if (argc == 5 && strcmp(argv[4], "-K") == 0 && strcmp(what, "-m") == 0) {
    ModemProperties properties{};
    const MmAnswer answer = link->ReadModem(index, limit, &properties);
    printf("=== record\noutcome: %s\n", OutcomeName(answer));
    if (answer == MmAnswer::kAnswered) {
      PrintProperty("revision", properties.revision);
      PrintProperty("ownNumber", properties.ownNumber);
      PrintProperty("signalQuality", properties.signalQuality);
      PrintProperty("imei", properties.imei);
      PrintProperty("initialBearerApn", properties.initialBearerApn);
      PrintProperty("firstBearer", properties.firstBearer);
    }
  } else if (argc == 5 && strcmp(argv[4], "-K") == 0 && strcmp(what, "-b") == 0) {
    BearerProperties bearer{};
    const MmAnswer answer = link->ReadBearer(index, limit, &bearer);
    printf("=== record\noutcome: %s\n", OutcomeName(answer));
    if (answer == MmAnswer::kAnswered) PrintProperty("apn", bearer.apn);
  } else if (argc == 5 && strcmp(what, "-m") == 0 && strcmp(argv[4], "-r") == 0) {
    const MmAnswer answer = link->Reset(index, limit);
    printf("=== record\noutcome: %s\n", OutcomeName(answer));
  } else if (argc == 5 && strcmp(what, "-m") == 0 && strncmp(argv[4], "--command=", 10) == 0) {
    AtReply reply{};
    const MmAnswer answer = link->Command(index, argv[4] + 10, limit, &reply);
    printf("=== record\noutcome: %s\nforbidden: %d\n", OutcomeName(answer),
           reply.forbidden ? 1 : 0);
    if (answer == MmAnswer::kAnswered) {
      printf("length: %d\ntext: '", reply.length);
      fwrite(reply.text, 1, static_cast<size_t>(reply.length), stdout);
      printf("'\n");
    }
  } else {
    return Usage(argv[0]);
  }
  return 0;
}
