#include "modem/collector_table.h"

#include "base/signals.h"
#include "modem/modem_pass.h"
#include "modem/band_rssi.h"
#include "modem/collector.h"
#include "modem/collectors.h"
#include "modem/data_counters.h"
#include "modem/group_ids.h"
#include "modem/modem_session.h"
#include "modem/qmi_readings.h"
#include "modem/serving_cell.h"
#include "modem/sim_identity.h"
#include "modem/status_cycle.h"
#include "modem/temperatures.h"
#include "status/status_table.h"

namespace {

// The HPUE LEDs follow the transmit power the session holds.
void FollowTxPower(ModemPass& pass) { SetHpueLed(pass.board, pass.session.lastTxPower); }

using S = ModemSession;

// The one-time QMI requests (SIM power on, autoconnect) share one flag, set after the second.
constexpr Collector kSimPowerOn =
    QmiRow(QmiPowerOnSim, 1000).Once(&S::qmiSetupDone, OnceMark::kNever);
constexpr Collector kAutoconnect =
    QmiRow(QmiEnableAutoconnect, 1000).Once(&S::qmiSetupDone, OnceMark::kWhenAsked);
constexpr Collector kProperties = StepRow(GetModemProperties);
constexpr Collector kSimState =
    AtRow("AT+CPIN?", TakeSimState).Once(&S::simReadySeen, OnceMark::kWhenTaken);
constexpr Collector kIccid =
    AtRow("AT+QCCID", TakeIccid).Once(&S::iccidRead, OnceMark::kWhenTaken);
constexpr Collector kImsi = AtRow("AT+CIMI", TakeImsi).Once(&S::imsiRead, OnceMark::kWhenTaken);
constexpr Collector kSwVersion =
    AtRow("AT+CGMR", TakeSwVersion).Once(&S::swVersionRead, OnceMark::kWhenTaken);
constexpr Collector kProtocol = StepRow(StoreProtocol);
constexpr Collector kBandConfig = AtRow("AT+QCFG=\"band\"", TakeBandConfig);
constexpr Collector kTemperatures = RequestRow(AskTemperatures, TakeTemperatures);
constexpr Collector kPdpAddress = StepRow(StorePdpAddress);

constexpr Collector kServingCell =
    AtRow("AT+QENG=\"servingcell\"", TakeServingCell).Then(FollowTxPower).OnFullPass();
constexpr Collector kRssiBer = AtRow("AT+CSQ", TakeRssiBer).OnFullPass();
constexpr Collector kGroupIds =
    AtRow("AT+QGID", TakeGroupIds).Once(&S::gidQueried, OnceMark::kWhenAsked).OnFullPass();
constexpr Collector kDataCounters = AtRow("AT+QGDCNT?", TakeRxTxBytes).OnFullPass();
constexpr Collector kTxRx = QmiRow(QmiTxRxInfo, 2000).Then(FollowTxPower).OnFullPass();
constexpr Collector kCarrierAggregation =
    QmiRow(QmiCaInfo, 1000).OrSay("GetCAInfo failed\n").OnFullPass();
constexpr Collector kSignal = QmiRow(QmiSignalInfo, 2000).OnFullPass();
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
