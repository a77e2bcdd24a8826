// Reading one UCI option by its dotted path into a fixed-size buffer, with a console line.
#pragma once

#include <cstdint>

class UciSource;

// 1 when the option was found and copied (at most size - 1 characters; size 0 means 128), 0
// otherwise with `destination` left as it was. Prints one line per lookup; secrets masked.
int LookupValue(UciSource& uci, const char* key, char* destination, int32_t size);

// The console line of one lookup: "Lookup for name: '<key>' = '<value>'" (secrets and a URL's
// password masked), or "... failed" when `value` is null.
void ShowLookup(const char* key, const char* value);
