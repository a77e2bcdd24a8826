// The one shape of every Take*: parse a reply into a value and store it when it is valid.
#pragma once

struct ModemPass;

// Returns 1 when `parse` gave a valid value and `store` wrote it, else 0.
template <typename Value>
int ParseAndStore(ModemPass& pass, const char* reply, Value (*parse)(const char*),
                  void (*store)(ModemPass&, const Value&)) {
  const Value value = parse(reply);
  if (!value.valid) return 0;
  store(pass, value);
  return 1;
}
