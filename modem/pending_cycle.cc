// Placeholders until the status cycle lands.
#include "modem/collectors.h"

int GetModemStatus(GatherContext*, int, int) { return 0; }
void GetModemProperties(GatherContext*) {}
void GetSimState(GatherContext*) {}
void GetIccid(GatherContext*) {}
void GetImsi(GatherContext*) {}
void GetModemSwVersion(GatherContext*) {}
void GetKxNetworkInfo(GatherContext*) {}
int GetLTEConnectionStatus(GatherContext*) { return 0; }
