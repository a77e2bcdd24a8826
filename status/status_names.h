// The 98 status names, their index order (also the CSV column order) and their kinds.
#pragma once

#include <cstdint>

enum StatusIndex : uint32_t {
  kCprint = 0, kSn_s, kUnnamed2, kHwVersion_s, kSwVersion_s, kSystemName_s, kUpTime_i, kCpuIdle_i,
  kCpuLaodAvg, kCpuProcessCount, kCpuFreeMem_i, kStatusTime_i, kPostDuration_i, kModemMacAddr_s,
  kKXMacAddr_s, kWWanTxBytes_i, kWWanRxBytes_i, kWWanTxPkts_i, kWWanRxPkts_i, kModemSwVersion_s,
  kIMEI_s, kPhoneNumber_s, kICCID_s, kIMSI_s, kGID1_i, kGID2_i, kProtocol_s, kMCBV_s, kMCLBV_s,
  kPdpIpAddr_s, kLanIpAddr_s, kLanMacAddr_s, kGPSError, kLat_f, kLon_f, kAlt_f, kHeading_f, kFix_f,
  kSpeed_f, kNSats_i, kGeoHash_s, kNMEA_s, kScMode_s, kScId_i, kScPId_i, kScMcc_i, kScMnc_i,
  kScEarfcn_i, kScFb_i, kScUlb_f, kScDlb_f, kScTac_i, kScRsrp_i, kScRsrq_i, kScRssi_i, kScSinr_f,
  kScRx_i, kHnMcc_i, kHnMnc_i, kHnName_s, kApn_s, kUeRssi_i, kUeRxQual_i, kConnection_s,
  kSignalPercent_s, kQmi_ScRssi_f, kQmi_ScRsrq_f, kQmi_ScRsrp_f, kQmi_ScSnr_f, kQmi_CaBand_i,
  kQmi_CRP_i, kQmi_NIST_i, kQmi_SCLT_i, kQmi_IST_i, kTXO_i, kTCT_i, kTPA1_i, kTS0_i, kTS1_i,
  kTS2_i, kTS3_i, kTS4_i, kQmiRxC0RxPwr_f, kQmiRxC0Ecio_f, kQmiRxC0Rsrp_f, kQmiRxC0Phase_f,
  kQmiRxC1RxPwr_f, kQmiRxC1Ecio_f, kQmiRxC1Rsrp_f, kQmiRxC1Phase_f, kQmiTxPwr_f, kAtRxBytes_i,
  kAtRxPkts_i, kAtTxBytes_i, kAtTxPkts_i, kSpeedTestUp_f, kSpeedTestDown_f, kExternalIpAddr,
  kStatusCount
};

static_assert(kStatusCount == 98, "the status table has 98 entries");

// What an entry's value depends on.
enum class StatusKind : uint8_t {
  kLink = 0,    // valid only while the LTE link is up: expired when it goes down
  kModem = 1,   // read from the modem or the GPS, kept when the link goes down
  kRouter = 2,  // the router's own values
};

struct StatusName {
  const char* name;  // null for index 2
  StatusKind kind;
};

extern const StatusName kStatusNames[kStatusCount];
