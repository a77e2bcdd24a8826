// One modem step as a row of a table: its request, whether it runs every pass or until a session
// flag is set, and the parser that takes its reply; RunCollector runs one row.
#pragma once

#include <cstdint>

#include "modem/modem_manager_link.h"
#include "modem/modem_session.h"

struct ModemPass;
struct Collector;

// Issues a row's request, with `scratch` (zero-filled) for its answer. Returns the text to take,
// or nullptr when no usable reply came back.
using CollectorRequest = const char* (*)(ModemPass& pass, const Collector& row, AtReply* scratch);
// Takes a reply apart and stores what it holds. Returns 1 when something was stored, else 0.
using CollectorTake = int (*)(ModemPass& pass, const char* reply);
// Asks the QMI link for one reading within `totalMs` and stores it: -1 when no answer came, else 1
// when something was stored and 0 when not.
using QmiRequest = int (*)(ModemPass& pass, int32_t totalMs);

// When a row sets its run-once flag.
enum class OnceMark : uint8_t {
  kNever,      // the row only reads the flag
  kWhenAsked,  // after the request, answered or not
  kWhenTaken,  // after the parser took a reply
};

struct Collector {
  CollectorRequest request = nullptr;
  const char* command = nullptr;          // the AT command as the modem takes it ("AT+CSQ")
  QmiRequest qmi = nullptr;               // a QMI reading instead of a request and a parser
  int32_t totalMs = 0;                    // the QMI request's limit
  uint8_t ModemSession::*once = nullptr;  // nullptr: every pass; else skipped while it is set
  OnceMark mark = OnceMark::kNever;
  CollectorTake take = nullptr;              // nullptr: the reply is not read
  void (*afterTaken)(ModemPass&) = nullptr;  // runs when the parser took a reply
  const char* failure = nullptr;             // printed to stderr when no reply came back
  bool fullPassOnly = false;                 // skipped on reduced passes
  void (*step)(ModemPass&) = nullptr;        // a step that reads on its own instead of a request

  constexpr Collector Once(uint8_t ModemSession::*flag, OnceMark when) const {
    Collector row = *this;
    row.once = flag;
    row.mark = when;
    return row;
  }
  constexpr Collector Then(void (*hook)(ModemPass&)) const {
    Collector row = *this;
    row.afterTaken = hook;
    return row;
  }
  constexpr Collector OrSay(const char* message) const {
    Collector row = *this;
    row.failure = message;
    return row;
  }
  constexpr Collector OnFullPass() const {
    Collector row = *this;
    row.fullPassOnly = true;
    return row;
  }
};

// The request most rows use: the row's AT command through the ModemManager link; the answer when
// ModemManager gave one.
const char* AskModem(ModemPass& pass, const Collector& row, AtReply* scratch);

constexpr Collector AtRow(const char* command, CollectorTake take) {
  Collector row;
  row.request = AskModem;
  row.command = command;
  row.take = take;
  return row;
}

constexpr Collector QmiRow(QmiRequest qmi, int32_t totalMs) {
  Collector row;
  row.qmi = qmi;
  row.totalMs = totalMs;
  return row;
}

constexpr Collector RequestRow(CollectorRequest request, CollectorTake take) {
  Collector row;
  row.request = request;
  row.take = take;
  return row;
}

constexpr Collector StepRow(void (*step)(ModemPass&)) {
  Collector row;
  row.step = step;
  return row;
}

// Runs one row whatever kind of pass it is. Returns 1 when its reply was taken (or its step ran),
// else 0.
int RunCollector(ModemPass& pass, const Collector& row);
