// Placeholders until the radio readings land.
#include "modem/collectors.h"

void GetRxTxBytes(GatherContext*) {}
void GetBandConfig(GatherContext*) {}
void GetRssiBer(GatherContext*) {}
void GetTemperatures(GatherContext*) {}
void GetServingCellInfo(GatherContext*) {}
int SetHpueLed() { return 0; }
void GetGroupIds(GatherContext*) {}
void GetTxRxInfo(GatherContext*) {}
void GetCAInfo(GatherContext*) {}
void GetSignalInfo(GatherContext*) {}
void GetHomeNetwork(GatherContext*) {}
