// What the modem steps share from pass to pass: which modem, its devices, the command limits, the
// run-once flags, the last transmit power and the home-network script's output.
#pragma once

#include <cstdint>

#include "modem/modem_life_signs.h"

constexpr int kQmiResultSize = 1024;
constexpr int kDevicePathSize = 256;
constexpr int kApnSize = 128;

// The daemon owns one for the whole run and hands it to the modem steps inside their ModemPass;
// tests build fresh ones. Main thread only, apart from modemIndex and the command limits, which the
// JSON writer's modem reset reads unlocked (the limits never change after construction, the index
// is written only when it changes), and lifeSigns, which the watchdog reads (atomic).
struct ModemSession {
  int32_t modemIndex = -1;  // ModemManager index, -1 when none is known
  int32_t cmdTotalMs = 2000;  // total limit of one ModemManager request

  // Device paths and the modem's MAC address found by discovery; empty when unknown.
  char atDevice[kDevicePathSize] = {};
  char qmiDevice[kDevicePathSize] = {};
  char modemMac[kDevicePathSize] = {};

  // The bearer as the properties step read it on this pass (-1 / empty when none).
  int32_t bearerIndex = -1;
  char initialBearerApn[kApnSize] = {};
  char bearerApn[kApnSize] = {};

  // Run-once flags. qmiSetupDone is cleared when polling pauses; the others stay set for the run.
  uint8_t qmiSetupDone = 0;
  uint8_t simReadySeen = 0;
  uint8_t iccidRead = 0;
  uint8_t imsiRead = 0;
  uint8_t swVersionRead = 0;
  uint8_t gidQueried = 0;  // set by the first group-identifier request, answered or not
  uint8_t atRefusalReported = 0;  // ModemManager's refusal of AT commands was logged this run

  // The ways the modem answered on, and whether a whole pass asked it; the watchdog reads them.
  ModemLifeSigns lifeSigns;

  // The LTE link as the latest pass saw it; going down expires the link's values once.
  uint8_t lteUp = 0;

  // Whole-number part of the latest LTE transmit-power reading; the HPUE LEDs follow it.
  int32_t lastTxPower = 0;

  // Output of the latest home-network script run, terminated.
  char qmiResult[kQmiResultSize] = {};
};
