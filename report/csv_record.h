// The CSV record of the status table (one line of values, optionally after the header line).
#pragma once

#include <cstddef>

struct StatusTable;

int GetCSVData(StatusTable* table, char* buffer, size_t size, int header);
