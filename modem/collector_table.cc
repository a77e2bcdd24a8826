#include "modem/collector_table.h"

#include "base/signals.h"
#include "modem/band_rssi.h"
#include "modem/collector.h"
#include "modem/collectors.h"
#include "modem/data_counters.h"
#include "modem/group_ids.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/qmi_readings.h"
#include "modem/serving_cell.h"
#include "modem/sim_identity.h"
#include "modem/status_cycle.h"
#include "modem/temperatures.h"
#include "status/status_table.h"

namespace {

// The HPUE LEDs follow the transmit power the session holds.
void FollowTxPower(ModemPass& pass) { SetHpueLed(pass.session.lastTxPower); }

using S = ModemSession;

// The one-time QMI requests (SIM power on, autoconnect) share one flag, set after the second.
constexpr Collector kSimPowerOn =
    QmiRow("--uim-sim-power-on=1", 1000, 100, nullptr).Once(&S::qmiSetupDone, OnceMark::kNever);
constexpr Collector kAutoconnect = QmiRow("--wds-set-autoconnect-settings=enabled", 1000, 100,
                                          nullptr)
                                       .Once(&S::qmiSetupDone, OnceMark::kWhenAsked);
constexpr Collector kProperties = StepRow(GetModemProperties);
constexpr Collector kSimState =
    AtRow("AT+CPIN?\r", TakeSimState).Once(&S::simReadySeen, OnceMark::kWhenTaken);
constexpr Collector kIccid =
    AtRow("AT+QCCID\r", TakeIccid).Once(&S::iccidRead, OnceMark::kWhenTaken);
constexpr Collector kImsi = AtRow("AT+CIMI\r", TakeImsi).Once(&S::imsiRead, OnceMark::kWhenTaken);
constexpr Collector kSwVersion =
    AtRow("AT+CGMR\r", TakeSwVersion).Once(&S::swVersionRead, OnceMark::kWhenTaken);
constexpr Collector kProtocol = StepRow(StoreProtocol);
constexpr Collector kBandConfig = AtRow("AT+QCFG=\"band\"\r", TakeBandConfig);
constexpr Collector kTemperatures = RequestRow(AskTemperatures, TakeTemperatures);
constexpr Collector kPdpAddress = StepRow(StorePdpAddress);

constexpr Collector kServingCell =
    AtRow("AT+QENG=\"servingcell\"\r", TakeServingCell).Then(FollowTxPower).OnFullPass();
constexpr Collector kRssiBer = AtRow("AT+CSQ\r", TakeRssiBer).OnFullPass();
constexpr Collector kGroupIds =
    AtRow("AT+QGID\r", TakeGroupIds).Once(&S::gidQueried, OnceMark::kWhenAsked).OnFullPass();
constexpr Collector kDataCounters = AtRow("AT+QGDCNT?\r", TakeRxTxBytes).OnFullPass();
constexpr Collector kTxRx =
    QmiRow("--nas-get-tx-rx-info=lte", 2000, 200, TakeTxRxInfo).Then(FollowTxPower).OnFullPass();
constexpr Collector kCarrierAggregation =
    QmiRow("--nas-get-lte-cphy-ca-info", 1000, 100, TakeCAInfo)
        .OrSay("GetCAInfo failed\n")
        .OnFullPass();
constexpr Collector kSignal =
    QmiRow("--nas-get-signal-info", 2000, 200, TakeSignalInfo).OnFullPass();
constexpr Collector kHomeNetwork = RequestRow(AskHomeNetwork, TakeHomeNetwork).OnFullPass();
constexpr Collector kNetDev = StepRow(GetKxNetworkInfo).OnFullPass();

// The pass in order; the rows from the serving cell on run on full passes only.
constexpr const Collector* kModemCollectors[] = {
    &kSimPowerOn, &kAutoconnect, &kProperties, &kSimState, &kIccid,
    &kImsi, &kSwVersion, &kProtocol, &kBandConfig, &kTemperatures,
    &kPdpAddress, &kServingCell, &kRssiBer, &kGroupIds, &kDataCounters,
    &kTxRx, &kCarrierAggregation, &kSignal, &kHomeNetwork, &kNetDev,
};

}  // namespace

void RunModemCollectors(ModemPass& pass, int reduced) {
  for (const Collector* row : kModemCollectors) {
    if (stopRequested != 0) return;
    if (row->fullPassOnly && reduced != 0) continue;
    RunCollector(pass, *row);
  }
}

void GetSimState(ModemPass& pass) { RunCollector(pass, kSimState); }
void GetIccid(ModemPass& pass) { RunCollector(pass, kIccid); }
void GetImsi(ModemPass& pass) { RunCollector(pass, kImsi); }
void GetModemSwVersion(ModemPass& pass) { RunCollector(pass, kSwVersion); }
void GetBandConfig(ModemPass& pass) { RunCollector(pass, kBandConfig); }
void GetTemperatures(ModemPass& pass) { RunCollector(pass, kTemperatures); }
void GetServingCellInfo(ModemPass& pass) { RunCollector(pass, kServingCell); }
void GetRssiBer(ModemPass& pass) { RunCollector(pass, kRssiBer); }
void GetGroupIds(ModemPass& pass) { RunCollector(pass, kGroupIds); }
void GetRxTxBytes(ModemPass& pass) { RunCollector(pass, kDataCounters); }
void GetTxRxInfo(ModemPass& pass) { RunCollector(pass, kTxRx); }
void GetCAInfo(ModemPass& pass) { RunCollector(pass, kCarrierAggregation); }
void GetSignalInfo(ModemPass& pass) { RunCollector(pass, kSignal); }
void GetHomeNetwork(ModemPass& pass) { RunCollector(pass, kHomeNetwork); }
