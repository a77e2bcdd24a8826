// ModemManager through its command-line client: each request runs mmcli (through exec/) and its
// printed text is read into the answer records.
#pragma once

#include <cstdint>

#include "modem/modem_manager_link.h"

class StopEvent;

class MmcliLink : public ModemManagerLink {
 public:
  // Runs the router's mmcli (under the root); each run ends at once when `stop` is signalled
  // (null: never stopped).
  explicit MmcliLink(const StopEvent* stop) : stop_(stop) {}

  const char* TraceName() const override;
  void List(int32_t totalLimitMs, ModemListing* listing) override;
  MmAnswer ReadModem(int32_t index, int32_t totalLimitMs, ModemProperties* properties) override;
  MmAnswer ReadBearer(int32_t index, int32_t totalLimitMs, BearerProperties* bearer) override;
  MmAnswer Command(int32_t index, const char* command, int32_t totalLimitMs,
                   AtReply* reply) override;
  MmAnswer Reset(int32_t index, int32_t totalLimitMs) override;

 private:
  // `mmcli <flag> <index> -K` into a buffer of the link's own (kept for the status cycle, too large
  // for a small stack): kAnswered with the output in *output, else why there is none.
  MmAnswer ReadKeyValues(const char* flag, int32_t index, int32_t totalLimitMs,
                         const char** output);
  // Runs `mmcli <flag> <index> <argument>` into `output` (outputSize bytes); the count stored.
  int32_t Run(const char* flag, int32_t index, const char* argument, int32_t totalLimitMs,
              char* output, int32_t outputSize);

  const StopEvent* stop_;
};

// The readers of the client's text, each given `len` characters of output.

// `mmcli -L`: none when len is 10 or less or the text holds "No modems"; else the fifth token (cut
// at blanks, slashes and line ends, in place) when it is a whole decimal number in 0..INT32_MAX.
// Returns 1 with the modem filled in, else 0 (listing->found false).
int ReadModemListing(char* output, int len, ModemListing* listing);

// A reply line ("response: '<answer>'"): trailing line breaks and tabs off (in place), then one
// closing quote, then the first ten characters ("response: ") skipped. Copies what is left into
// `reply` when given (at most kModemReplySize - 1 characters, without a terminator: the caller's
// buffer is zero-filled) and returns its length, or 0 when nothing usable came back. Prints the
// "Got Result Len" trace line.
int TakeModemResponse(char* output, int len, char* reply);

// `mmcli -m <index> -K` and `mmcli -b <index> -K` lines ("<key padded with blanks> : <value>"):
// fills the properties whose keys appear. "--" (no value) reads as empty; a value keeps at most 127
// characters, a backslash-tab pair dropped. Reading stops at a line without a blank or without a
// colon after it.
void ReadModemKeyValues(const char* output, ModemProperties* properties);
void ReadBearerKeyValues(const char* output, BearerProperties* bearer);
