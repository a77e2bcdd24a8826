// Placeholders until the snapshot and CSV writers land.
#include "report/csv_record.h"
#include "report/json_snapshot.h"

int AppendText(char**, const char*, const char*, size_t) { return 0; }
void GetJsonData(GatherContext*, char* buffer, size_t, int64_t) { buffer[0] = '\0'; }
void* saveJson(void*) { return nullptr; }
int GetCSVData(StatusTable*, char* buffer, size_t, int) { buffer[0] = '\0'; return 1; }
