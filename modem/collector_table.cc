#include "modem/collector_table.h"

#include "base/signals.h"
#include "config/context.h"
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

namespace {

// The HPUE LEDs follow the transmit power the session holds.
void FollowTxPower(GatherContext* ctx) { SetHpueLed(*ctx->board, ctx->modem->lastTxPower); }

using S = ModemSession;

// The one-time QMI requests (SIM power on, autoconnect) share one flag, set after the second.
constexpr Collector kSimPowerOn =
    QmiRow("--uim-sim-power-on=1", 1000, nullptr).Once(&S::qmiSetupDone, OnceMark::kNever);
constexpr Collector kAutoconnect =
    QmiRow("--wds-set-autoconnect-settings=enabled", 1000, nullptr)
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
    QmiRow("--nas-get-tx-rx-info=lte", 2000, TakeTxRxInfo).Then(FollowTxPower).OnFullPass();
constexpr Collector kCarrierAggregation =
    QmiRow("--nas-get-lte-cphy-ca-info", 1000, TakeCAInfo)
        .OrSay("GetCAInfo failed\n")
        .OnFullPass();
constexpr Collector kSignal =
    QmiRow("--nas-get-signal-info", 2000, TakeSignalInfo).OnFullPass();
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

void RunModemCollectors(GatherContext* ctx, int reduced) {
  for (const Collector* row : kModemCollectors) {
    if (stopRequested != 0) return;
    if (row->fullPassOnly && reduced != 0) continue;
    RunCollector(ctx, *row);
  }
}

void GetSimState(GatherContext* ctx) { RunCollector(ctx, kSimState); }
void GetIccid(GatherContext* ctx) { RunCollector(ctx, kIccid); }
void GetImsi(GatherContext* ctx) { RunCollector(ctx, kImsi); }
void GetModemSwVersion(GatherContext* ctx) { RunCollector(ctx, kSwVersion); }
void GetBandConfig(GatherContext* ctx) { RunCollector(ctx, kBandConfig); }
void GetTemperatures(GatherContext* ctx) { RunCollector(ctx, kTemperatures); }
void GetServingCellInfo(GatherContext* ctx) { RunCollector(ctx, kServingCell); }
void GetRssiBer(GatherContext* ctx) { RunCollector(ctx, kRssiBer); }
void GetGroupIds(GatherContext* ctx) { RunCollector(ctx, kGroupIds); }
void GetRxTxBytes(GatherContext* ctx) { RunCollector(ctx, kDataCounters); }
void GetTxRxInfo(GatherContext* ctx) { RunCollector(ctx, kTxRx); }
void GetCAInfo(GatherContext* ctx) { RunCollector(ctx, kCarrierAggregation); }
void GetSignalInfo(GatherContext* ctx) { RunCollector(ctx, kSignal); }
void GetHomeNetwork(GatherContext* ctx) { RunCollector(ctx, kHomeNetwork); }
