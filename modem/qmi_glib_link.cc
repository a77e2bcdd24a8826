#include "modem/qmi_glib_link.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/stop_event.h"

void QmiGlibLink::SetProblem(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(problem_, sizeof problem_, format, args);
  va_end(args);
}

#if MODEM_STATUS_HAVE_QMI

#include <glib-unix.h>
#include <libqmi-glib.h>

// libqmi's own limit is in whole seconds: one past ours, which ends the request first.
static guint LibqmiSeconds(const Deadline& deadline) {
  return static_cast<guint>(deadline.LeftMs()) / 1000 + 2;
}

namespace {

// Giving the client ids back and closing the device, on stop or before another device is opened,
// may take this long.
constexpr int32_t kReleaseMs = 500;

struct ErrorTraits {
  using Handle = GError*;
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle) { return g_error_free(handle), 0; }
};
struct SourceTraits {
  using Handle = GSource*;
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle) { return g_source_destroy(handle), g_source_unref(handle), 0; }
};
struct PlainObjectTraits {
  using Handle = gpointer;
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle) { return g_object_unref(handle), 0; }
};
using Error = UniqueResource<ErrorTraits>;
using Object = UniqueResource<PlainObjectTraits>;

// An output bundle of one libqmi request, unreferenced by its own function.
template <typename T, void (*Unref)(T*)>
struct OutputTraits {
  using Handle = T*;
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle) { return Unref(handle), 0; }
};

// Where libqmi delivers a call's result. A call that libqmi does not complete soon after its
// cancellation is abandoned: the holder then stays until libqmi completes it, and frees itself.
struct Pending {
  GAsyncResult* result;
  bool abandoned;
};

// One asynchronous libqmi call waited for on the link's main context (made the thread's default
// for the call, so libqmi completes it there). Its cancellable is cancelled at the deadline or
// when the stop event is signalled; libqmi then completes the call with an error, or the call is
// abandoned a moment later (opening a device through the proxy does not look at the cancellable).
class Wait {
 public:
  Wait(GMainContext* context, const Deadline& deadline, const StopEvent* stop)
      : context_(context), cancellable_(g_cancellable_new()), pending_(g_new0(Pending, 1)) {
    g_main_context_push_thread_default(context_);
    timer_.Reset(g_timeout_source_new(static_cast<guint>(deadline.LeftMs())));
    g_source_set_callback(timer_.get(), OnTimer, this, nullptr);
    g_source_attach(timer_.get(), context_);
    if (stop != nullptr && stop->fd() >= 0) {
      stopWatch_.Reset(g_unix_fd_source_new(stop->fd(), G_IO_IN));
      g_source_set_callback(stopWatch_.get(), G_SOURCE_FUNC(OnStop), this, nullptr);
      g_source_attach(stopWatch_.get(), context_);
    }
    if (stop != nullptr && stop->IsSignalled()) Cancel(&stopped_);
  }
  ~Wait() {
    timer_.Close();
    stopWatch_.Close();
    grace_.Close();
    if (pending_ != nullptr) {
      if (pending_->result != nullptr) g_object_unref(pending_->result);
      g_free(pending_);
    }
    g_main_context_pop_thread_default(context_);
  }
  Wait(const Wait&) = delete;
  Wait& operator=(const Wait&) = delete;

  GCancellable* cancellable() const { return G_CANCELLABLE(cancellable_.get()); }
  // The user data of the call.
  gpointer pending() const { return pending_; }
  static void Done(GObject*, GAsyncResult* result, gpointer data) {
    auto* pending = static_cast<Pending*>(data);
    if (pending->abandoned) {
      g_free(pending);
      return;
    }
    pending->result = G_ASYNC_RESULT(g_object_ref(result));
  }
  // The call's result once libqmi has completed it; null when the call was abandoned.
  GAsyncResult* Result() {
    while (pending_->result == nullptr && !graceOver_) g_main_context_iteration(context_, TRUE);
    if (pending_->result != nullptr) return pending_->result;
    pending_->abandoned = true;
    pending_ = nullptr;
    return nullptr;
  }
  bool stopped() const { return stopped_; }
  bool timedOut() const { return timedOut_; }

 private:
  // How long libqmi may take to complete a cancelled call before it is abandoned.
  static constexpr guint kGraceMs = 100;

  void Cancel(bool* why) {
    *why = true;
    g_cancellable_cancel(cancellable());
    if (grace_.valid()) return;
    grace_.Reset(g_timeout_source_new(kGraceMs));
    g_source_set_callback(grace_.get(), OnGraceOver, this, nullptr);
    g_source_attach(grace_.get(), context_);
  }
  static gboolean OnTimer(gpointer self) {
    static_cast<Wait*>(self)->Cancel(&static_cast<Wait*>(self)->timedOut_);
    return G_SOURCE_REMOVE;
  }
  static gboolean OnStop(gint, GIOCondition, gpointer self) {
    static_cast<Wait*>(self)->Cancel(&static_cast<Wait*>(self)->stopped_);
    return G_SOURCE_REMOVE;
  }
  static gboolean OnGraceOver(gpointer self) {
    static_cast<Wait*>(self)->graceOver_ = true;
    return G_SOURCE_REMOVE;
  }

  GMainContext* context_;
  Object cancellable_;
  Pending* pending_;
  UniqueResource<SourceTraits> timer_;
  UniqueResource<SourceTraits> stopWatch_;
  UniqueResource<SourceTraits> grace_;
  bool stopped_ = false;
  bool timedOut_ = false;
  bool graceOver_ = false;
};

// The text being written: always terminated, cut at the buffer's end.
class Text {
 public:
  Text(char* output, int32_t size) : out_(output), size_(size) { out_[0] = '\0'; }
  __attribute__((format(printf, 2, 3))) void Add(const char* format, ...) {
    if (len_ >= size_ - 1) return;
    va_list args;
    va_start(args, format);
    const int n = vsnprintf(out_ + len_, static_cast<size_t>(size_ - len_), format, args);
    va_end(args);
    if (n > 0) len_ = n < size_ - len_ ? len_ + n : size_ - 1;
  }

 private:
  char* out_;
  int32_t size_;
  int32_t len_ = 0;
};

// libqmi's name of an enumeration value; printf would print a missing one as "(null)".
const char* Name(const char* name) { return name != nullptr ? name : "(null)"; }

const QmiService kServices[QmiGlibLink::kServiceCount] = {QMI_SERVICE_NAS, QMI_SERVICE_UIM,
                                                          QMI_SERVICE_WDS};

void OnRemoved(QmiDevice*, gpointer lost) { *static_cast<bool*>(lost) = true; }

const char* MessageOf(const GError* error) { return error != nullptr ? error->message : "failed"; }

// The request's time ran out: its own limit, or libqmi's.
bool TimedOut(const GError* error, const Wait& wait) {
  return wait.timedOut() || g_error_matches(error, QMI_CORE_ERROR, QMI_CORE_ERROR_TIMEOUT);
}

// The modem no longer knows the client id (it was reset).
bool Forgotten(const GError* error) {
  return g_error_matches(error, QMI_PROTOCOL_ERROR, QMI_PROTOCOL_ERROR_INVALID_CLIENT_ID);
}

// The HDR SINR level in dB, as qmicli prints it.
double SinrDb(QmiNasEvdoSinrLevel level) {
  static const double kDb[] = {-9.0, -6, -4.5, -3, -2, 1, 3, 6, +9};
  return static_cast<unsigned>(level) < sizeof kDb / sizeof kDb[0] ? kDb[level] : 0;
}

// One receive chain of a TX/RX report of the LTE interface, as qmicli prints it.
void AddChain(Text* text, int chain, gboolean tuned, gint32 power, gint32 ecio, gint32 rsrp,
              guint32 phase) {
  text->Add("RX Chain %d:\n\tRadio tuned: '%s'\n\tPower: '%.1lf dBm'\n", chain, tuned ? "yes" : "no",
            0.1 * static_cast<double>(power));
  text->Add("\tECIO: '%.1lf dB'\n", 0.1 * static_cast<double>(ecio));
  text->Add("\tRSRP: '%.1lf dBm'\n", 0.1 * static_cast<double>(rsrp));
  if (phase == 0xFFFFFFFF) {
    text->Add("\tPhase: 'unknown'\n");
  } else {
    text->Add("\tPhase: '%.2lf degrees'\n", 0.01 * static_cast<double>(phase));
  }
}

void AddCell(Text* text, guint16 pci, guint16 channel, QmiNasDLBandwidth bandwidth,
             QmiNasActiveBand band) {
  text->Add("\tPhysical Cell ID: '%hu'\n\tRX Channel: '%hu'\n\tDL Bandwidth: '%s'\n\tLTE Band: '%s'\n",
            pci, channel, Name(qmi_nas_dl_bandwidth_get_string(bandwidth)),
            Name(qmi_nas_active_band_get_string(band)));
}

}  // namespace

int QmiGObjectTraits::Release(Handle handle) { return g_object_unref(handle), 0; }
int QmiContextTraits::Release(Handle handle) {
  return g_main_context_unref(static_cast<GMainContext*>(handle)), 0;
}

bool QmiGlibLink::Built() { return true; }

QmiGlibLink::QmiGlibLink(const StopEvent* stop) : stop_(stop), context_(g_main_context_new()) {}

QmiGlibLink::~QmiGlibLink() { Close(); }

void QmiGlibLink::Close() { Drop(true); }

void QmiGlibLink::Drop(bool release) {
  auto* context = static_cast<GMainContext*>(context_.get());
  auto* device = static_cast<QmiDevice*>(device_.get());
  // One limit for giving every id back and closing: a stop must not wait long.
  const Deadline deadline(kReleaseMs);
  for (auto& client : clients_) {
    if (!client.valid()) continue;
    if (device != nullptr) {
      // A lost device cannot take the id back, nor one past the limit: the client is then only
      // unregistered.
      const bool giveBack = release && !lost_ && deadline.LeftMs() > 0;
      Wait wait(context, giveBack ? deadline : Deadline(kReleaseMs), nullptr);
      qmi_device_release_client(
          device, QMI_CLIENT(client.get()),
          giveBack ? QMI_DEVICE_RELEASE_CLIENT_FLAGS_RELEASE_CID : QMI_DEVICE_RELEASE_CLIENT_FLAGS_NONE,
          LibqmiSeconds(deadline), wait.cancellable(), Wait::Done, wait.pending());
      if (GAsyncResult* result = wait.Result()) qmi_device_release_client_finish(device, result, nullptr);
    }
    client.Close();
  }
  if (device != nullptr) {
    g_signal_handlers_disconnect_by_data(device, &lost_);
    Wait wait(context, deadline, nullptr);
    qmi_device_close_async(device, LibqmiSeconds(deadline), wait.cancellable(), Wait::Done, wait.pending());
    if (GAsyncResult* result = wait.Result()) qmi_device_close_finish(device, result, nullptr);
    device_.Close();
  }
  path_[0] = '\0';
  lost_ = false;
}

void* QmiGlibLink::Device(const char* device, const Deadline& deadline) {
  if (device_.valid() && !lost_ && strcmp(path_, device) == 0) return device_.get();
  // Another device, or the proxy or device went away: start again.
  Drop(true);
  if (device[0] == '\0') {
    SetProblem("no QMI device");
    return nullptr;
  }
  auto* context = static_cast<GMainContext*>(context_.get());
  Object file(g_file_new_for_path(device));
  GError* raw = nullptr;
  QmiDevice* created = nullptr;
  const char* why = nullptr;  // set when the step was abandoned
  {
    Wait wait(context, deadline, stop_);
    qmi_device_new(G_FILE(file.get()), wait.cancellable(), Wait::Done, wait.pending());
    GAsyncResult* result = wait.Result();
    if (result != nullptr) created = qmi_device_new_finish(result, &raw);
    if (result == nullptr) why = wait.stopped() ? "stopped" : "no answer in time";
  }
  Error error(raw);
  if (created == nullptr) {
    SetProblem("couldn't create QmiDevice: %s", why != nullptr ? why : MessageOf(error.get()));
    return nullptr;
  }
  device_.Reset(created);
  snprintf(path_, sizeof path_, "%s", device);
  g_signal_connect(created, QMI_DEVICE_SIGNAL_REMOVED, G_CALLBACK(OnRemoved), &lost_);
  bool opened = false;
  {
    Wait wait(context, deadline, stop_);
    qmi_device_open(created, QMI_DEVICE_OPEN_FLAGS_PROXY, LibqmiSeconds(deadline), wait.cancellable(),
                    Wait::Done, wait.pending());
    GAsyncResult* result = wait.Result();
    opened = result != nullptr && qmi_device_open_finish(created, result, &raw);
    if (result == nullptr) why = wait.stopped() ? "stopped" : "no answer in time";
  }
  error.Reset(raw);
  if (!opened) {
    SetProblem("couldn't open the QmiDevice: %s", why != nullptr ? why : MessageOf(error.get()));
    g_signal_handlers_disconnect_by_data(created, &lost_);
    device_.Close();
    path_[0] = '\0';
    return nullptr;
  }
  return device_.get();
}

void* QmiGlibLink::Client(Service service, const Deadline& deadline) {
  if (clients_[service].valid()) return clients_[service].get();
  auto* device = static_cast<QmiDevice*>(device_.get());
  GError* raw = nullptr;
  QmiClient* client = nullptr;
  {
    Wait wait(static_cast<GMainContext*>(context_.get()), deadline, stop_);
    qmi_device_allocate_client(device, kServices[service], QMI_CID_NONE, LibqmiSeconds(deadline),
                               wait.cancellable(), Wait::Done, wait.pending());
    GAsyncResult* result = wait.Result();
    if (result != nullptr) client = qmi_device_allocate_client_finish(device, result, &raw);
  }
  Error error(raw);
  if (client == nullptr) {
    SetProblem("couldn't create client for the '%s' service: %s",
               Name(qmi_service_get_string(kServices[service])), MessageOf(error.get()));
    return nullptr;
  }
  clients_[service].Reset(client);
  return client;
}

void* QmiGlibLink::Ready(const char* device, Service service, const Deadline& deadline) {
  problem_[0] = '\0';
  if (Device(device, deadline) == nullptr) return nullptr;
  return Client(service, deadline);
}

bool QmiGlibLink::Open(const char* device, int32_t totalLimitMs, char* why, int whySize) {
  const bool opened = Device(device, Deadline(totalLimitMs)) != nullptr;
  if (!opened) snprintf(why, static_cast<size_t>(whySize), "%s", problem_);
  return opened;
}

QmiAnswer QmiGlibLink::NoAnswer(const char* message, bool stopped, bool timedOut) {
  if (stopped) {
    SetProblem("stopped");
  } else if (timedOut) {
    SetProblem("no answer in time");
  } else {
    // The proxy or the device went away, or the device is in no state to ask: open it again.
    SetProblem("%s", message);
    lost_ = true;
  }
  return QmiAnswer::kNone;
}

QmiAnswer QmiGlibLink::Refused(const char* message, Service service, bool forgotten) {
  SetProblem("%s", message);
  // The modem forgot the client (a reset): the next request allocates a new one.
  if (forgotten && clients_[service].valid()) {
    auto* device = static_cast<QmiDevice*>(device_.get());
    const Deadline deadline(kReleaseMs);
    Wait wait(static_cast<GMainContext*>(context_.get()), deadline, nullptr);
    qmi_device_release_client(device, QMI_CLIENT(clients_[service].get()),
                              QMI_DEVICE_RELEASE_CLIENT_FLAGS_NONE, LibqmiSeconds(deadline),
                              wait.cancellable(), Wait::Done, wait.pending());
    if (GAsyncResult* result = wait.Result()) qmi_device_release_client_finish(device, result, nullptr);
    clients_[service].Close();
  }
  return QmiAnswer::kRefused;
}

QmiAnswer QmiGlibLink::PowerOnSim(const char* device, int32_t totalLimitMs) {
  const Deadline deadline(totalLimitMs);
  auto* client = static_cast<QmiClientUim*>(Ready(device, kUim, deadline));
  if (client == nullptr) return QmiAnswer::kNone;
  UniqueResource<OutputTraits<QmiMessageUimPowerOnSimInput, qmi_message_uim_power_on_sim_input_unref>>
      input(qmi_message_uim_power_on_sim_input_new());
  qmi_message_uim_power_on_sim_input_set_slot(input.get(), 1, nullptr);
  GError* raw = nullptr;
  Wait wait(static_cast<GMainContext*>(context_.get()), deadline, stop_);
  qmi_client_uim_power_on_sim(client, input.get(), LibqmiSeconds(deadline), wait.cancellable(),
                              Wait::Done, wait.pending());
  GAsyncResult* result = wait.Result();
  if (result == nullptr) return NoAnswer("", wait.stopped(), !wait.stopped());
  UniqueResource<OutputTraits<QmiMessageUimPowerOnSimOutput, qmi_message_uim_power_on_sim_output_unref>>
      output(qmi_client_uim_power_on_sim_finish(client, result, &raw));
  Error error(raw);
  if (!output.valid()) return NoAnswer(MessageOf(error.get()), wait.stopped(), TimedOut(error.get(), wait));
  if (!qmi_message_uim_power_on_sim_output_get_result(output.get(), &raw)) {
    error.Reset(raw);
    return Refused(error.get()->message, kUim, Forgotten(error.get()));
  }
  return QmiAnswer::kAnswered;
}

QmiAnswer QmiGlibLink::EnableAutoconnect(const char* device, int32_t totalLimitMs) {
  const Deadline deadline(totalLimitMs);
  auto* client = static_cast<QmiClientWds*>(Ready(device, kWds, deadline));
  if (client == nullptr) return QmiAnswer::kNone;
  UniqueResource<OutputTraits<QmiMessageWdsSetAutoconnectSettingsInput,
                              qmi_message_wds_set_autoconnect_settings_input_unref>>
      input(qmi_message_wds_set_autoconnect_settings_input_new());
  qmi_message_wds_set_autoconnect_settings_input_set_status(
      input.get(), QMI_WDS_AUTOCONNECT_SETTING_ENABLED, nullptr);
  GError* raw = nullptr;
  Wait wait(static_cast<GMainContext*>(context_.get()), deadline, stop_);
  qmi_client_wds_set_autoconnect_settings(client, input.get(), LibqmiSeconds(deadline),
                                          wait.cancellable(), Wait::Done, wait.pending());
  GAsyncResult* result = wait.Result();
  if (result == nullptr) return NoAnswer("", wait.stopped(), !wait.stopped());
  UniqueResource<OutputTraits<QmiMessageWdsSetAutoconnectSettingsOutput,
                              qmi_message_wds_set_autoconnect_settings_output_unref>>
      output(qmi_client_wds_set_autoconnect_settings_finish(client, result, &raw));
  Error error(raw);
  if (!output.valid()) return NoAnswer(MessageOf(error.get()), wait.stopped(), TimedOut(error.get(), wait));
  if (!qmi_message_wds_set_autoconnect_settings_output_get_result(output.get(), &raw)) {
    error.Reset(raw);
    return Refused(error.get()->message, kWds, Forgotten(error.get()));
  }
  return QmiAnswer::kAnswered;
}

QmiAnswer QmiGlibLink::ReadTxRxInfo(const char* device, int32_t totalLimitMs, TxRxInfo* info) {
  const Deadline deadline(totalLimitMs);
  auto* client = static_cast<QmiClientNas*>(Ready(device, kNas, deadline));
  if (client == nullptr) return QmiAnswer::kNone;
  UniqueResource<OutputTraits<QmiMessageNasGetTxRxInfoInput, qmi_message_nas_get_tx_rx_info_input_unref>>
      input(qmi_message_nas_get_tx_rx_info_input_new());
  qmi_message_nas_get_tx_rx_info_input_set_radio_interface(input.get(), QMI_NAS_RADIO_INTERFACE_LTE,
                                                           nullptr);
  GError* raw = nullptr;
  Wait wait(static_cast<GMainContext*>(context_.get()), deadline, stop_);
  qmi_client_nas_get_tx_rx_info(client, input.get(), LibqmiSeconds(deadline), wait.cancellable(),
                                Wait::Done, wait.pending());
  using Out = QmiMessageNasGetTxRxInfoOutput;
  GAsyncResult* result = wait.Result();
  if (result == nullptr) return NoAnswer("", wait.stopped(), !wait.stopped());
  UniqueResource<OutputTraits<Out, qmi_message_nas_get_tx_rx_info_output_unref>> output(
      qmi_client_nas_get_tx_rx_info_finish(client, result, &raw));
  Error error(raw);
  if (!output.valid()) return NoAnswer(MessageOf(error.get()), wait.stopped(), TimedOut(error.get(), wait));
  if (!qmi_message_nas_get_tx_rx_info_output_get_result(output.get(), &raw)) {
    error.Reset(raw);
    return Refused(error.get()->message, kNas, Forgotten(error.get()));
  }
  Text text(text_, sizeof text_);
  text.Add("[%s] Successfully got TX/RX info\n",
           qmi_device_get_path_display(static_cast<QmiDevice*>(device_.get())));
  using Chain = gboolean (*)(Out*, gboolean*, gint32*, gint32*, gint32*, gint32*, guint32*, GError**);
  static const Chain kChains[] = {qmi_message_nas_get_tx_rx_info_output_get_rx_chain_0_info,
                                  qmi_message_nas_get_tx_rx_info_output_get_rx_chain_1_info,
                                  qmi_message_nas_get_tx_rx_info_output_get_rx_chain_2_info,
                                  qmi_message_nas_get_tx_rx_info_output_get_rx_chain_3_info};
  for (int n = 0; n < 4; ++n) {
    gboolean tuned = FALSE;
    gint32 power = 0, ecio = 0, rscp = 0, rsrp = 0;
    guint32 phase = 0;
    if (kChains[n](output.get(), &tuned, &power, &ecio, &rscp, &rsrp, &phase, nullptr)) {
      AddChain(&text, n, tuned, power, ecio, rsrp, phase);
    }
  }
  gboolean traffic = FALSE;
  gint32 power = 0;
  if (qmi_message_nas_get_tx_rx_info_output_get_tx_info(output.get(), &traffic, &power, nullptr)) {
    text.Add("TX:\n");
    if (traffic) {
      text.Add("\tIn traffic: 'yes'\n\tPower: '%.1lf dBm'\n", 0.1 * static_cast<double>(power));
    } else {
      text.Add("\tIn traffic: 'no'\n");
    }
  }
  *info = ParseTxRxInfo(text_);
  return QmiAnswer::kAnswered;
}

QmiAnswer QmiGlibLink::ReadCaInfo(const char* device, int32_t totalLimitMs, CaInfo* info) {
  const Deadline deadline(totalLimitMs);
  auto* client = static_cast<QmiClientNas*>(Ready(device, kNas, deadline));
  if (client == nullptr) return QmiAnswer::kNone;
  GError* raw = nullptr;
  Wait wait(static_cast<GMainContext*>(context_.get()), deadline, stop_);
  qmi_client_nas_get_lte_cphy_ca_info(client, nullptr, LibqmiSeconds(deadline), wait.cancellable(),
                                      Wait::Done, wait.pending());
  using Out = QmiMessageNasGetLteCphyCaInfoOutput;
  GAsyncResult* result = wait.Result();
  if (result == nullptr) return NoAnswer("", wait.stopped(), !wait.stopped());
  UniqueResource<OutputTraits<Out, qmi_message_nas_get_lte_cphy_ca_info_output_unref>> output(
      qmi_client_nas_get_lte_cphy_ca_info_finish(client, result, &raw));
  Error error(raw);
  if (!output.valid()) return NoAnswer(MessageOf(error.get()), wait.stopped(), TimedOut(error.get(), wait));
  if (!qmi_message_nas_get_lte_cphy_ca_info_output_get_result(output.get(), &raw)) {
    error.Reset(raw);
    return Refused(error.get()->message, kNas, Forgotten(error.get()));
  }
  Out* out = output.get();
  Text text(text_, sizeof text_);
  text.Add("[%s] Successfully got carrier aggregation info\n",
           qmi_device_get_path_display(static_cast<QmiDevice*>(device_.get())));
  QmiNasDLBandwidth bandwidth;
  if (qmi_message_nas_get_lte_cphy_ca_info_output_get_dl_bandwidth(out, &bandwidth, nullptr)) {
    text.Add("DL Bandwidth: '%s'\n", Name(qmi_nas_dl_bandwidth_get_string(bandwidth)));
  }
  guint16 pci = 0, channel = 0;
  QmiNasActiveBand band;
  QmiNasScellState state;
  if (qmi_message_nas_get_lte_cphy_ca_info_output_get_phy_ca_agg_pcell_info(
          out, &pci, &channel, &bandwidth, &band, nullptr)) {
    text.Add("Primary Cell Info\n");
    AddCell(&text, pci, channel, bandwidth, band);
  }
  // The list of secondary cells, when the modem sends it, stands for the single cell and index.
  GArray* cells = nullptr;
  guint8 index = 0;
  if (qmi_message_nas_get_lte_cphy_ca_info_output_get_phy_ca_agg_secondary_cells(out, &cells,
                                                                                 nullptr)) {
    if (cells->len == 0) text.Add("No Secondary Cells\n");
    for (guint n = 0; n < cells->len; ++n) {
      const auto& cell = g_array_index(cells, QmiMessageNasGetLteCphyCaInfoOutputPhyCaAggSecondaryCellsSsc, n);
      text.Add("Secondary Cell %u Info\n", n + 1);
      AddCell(&text, cell.physical_cell_id, cell.rx_channel, cell.dl_bandwidth, cell.lte_band);
      text.Add("\tState: '%s'\n\tCell index: '%u'\n", Name(qmi_nas_scell_state_get_string(cell.state)),
               cell.cell_index);
    }
  } else {
    if (qmi_message_nas_get_lte_cphy_ca_info_output_get_phy_ca_agg_scell_info(
            out, &pci, &channel, &bandwidth, &band, &state, nullptr)) {
      text.Add("Secondary Cell Info\n");
      AddCell(&text, pci, channel, bandwidth, band);
      text.Add("\tState: '%s'\n", Name(qmi_nas_scell_state_get_string(state)));
    }
    if (qmi_message_nas_get_lte_cphy_ca_info_output_get_scell_index(out, &index, nullptr)) {
      text.Add("Secondary Cell index: '%u'\n", index);
    }
  }
  *info = ParseCaInfo(text_);
  return QmiAnswer::kAnswered;
}

QmiAnswer QmiGlibLink::ReadSignalInfo(const char* device, int32_t totalLimitMs, SignalInfo* info) {
  const Deadline deadline(totalLimitMs);
  auto* client = static_cast<QmiClientNas*>(Ready(device, kNas, deadline));
  if (client == nullptr) return QmiAnswer::kNone;
  GError* raw = nullptr;
  Wait wait(static_cast<GMainContext*>(context_.get()), deadline, stop_);
  qmi_client_nas_get_signal_info(client, nullptr, LibqmiSeconds(deadline), wait.cancellable(),
                                 Wait::Done, wait.pending());
  using Out = QmiMessageNasGetSignalInfoOutput;
  GAsyncResult* result = wait.Result();
  if (result == nullptr) return NoAnswer("", wait.stopped(), !wait.stopped());
  UniqueResource<OutputTraits<Out, qmi_message_nas_get_signal_info_output_unref>> output(
      qmi_client_nas_get_signal_info_finish(client, result, &raw));
  Error error(raw);
  if (!output.valid()) return NoAnswer(MessageOf(error.get()), wait.stopped(), TimedOut(error.get(), wait));
  if (!qmi_message_nas_get_signal_info_output_get_result(output.get(), &raw)) {
    error.Reset(raw);
    return Refused(error.get()->message, kNas, Forgotten(error.get()));
  }
  Out* out = output.get();
  Text text(text_, sizeof text_);
  text.Add("[%s] Successfully got signal info\n",
           qmi_device_get_path_display(static_cast<QmiDevice*>(device_.get())));
  gint8 rssi = 0, rsrq = 0;
  gint16 ecio = 0, rsrp = 0, snr = 0;
  gint32 io = 0;
  QmiNasEvdoSinrLevel sinr;
  // In qmicli's order: the blocks before LTE move the rows the parser reads.
  if (qmi_message_nas_get_signal_info_output_get_cdma_signal_strength(out, &rssi, &ecio, nullptr)) {
    text.Add("CDMA:\n\tRSSI: '%d dBm'\n\tECIO: '%.1lf dBm'\n", rssi, -0.5 * static_cast<double>(ecio));
  }
  if (qmi_message_nas_get_signal_info_output_get_hdr_signal_strength(out, &rssi, &ecio, &sinr, &io,
                                                                     nullptr)) {
    text.Add("HDR:\n\tRSSI: '%d dBm'\n\tECIO: '%.1lf dBm'\n", rssi, -0.5 * static_cast<double>(ecio));
    if (static_cast<unsigned>(sinr) <= QMI_NAS_EVDO_SINR_LEVEL_8) {
      text.Add("\tSINR (%u): '%.1lf dB'\n", static_cast<unsigned>(sinr), SinrDb(sinr));
    } else {
      text.Add("\tSINR (%u): N/A'\n", static_cast<unsigned>(sinr));
    }
    text.Add("\tIO: '%d dBm'\n", io);
  }
  if (qmi_message_nas_get_signal_info_output_get_gsm_signal_strength(out, &rssi, nullptr)) {
    text.Add("GSM:\n\tRSSI: '%d dBm'\n", rssi);
  }
  if (qmi_message_nas_get_signal_info_output_get_wcdma_signal_strength(out, &rssi, &ecio, nullptr)) {
    text.Add("WCDMA:\n\tRSSI: '%d dBm'\n\tECIO: '%.1lf dBm'\n", rssi, -0.5 * static_cast<double>(ecio));
  }
  if (qmi_message_nas_get_signal_info_output_get_lte_signal_strength(out, &rssi, &rsrq, &rsrp, &snr,
                                                                     nullptr)) {
    text.Add("LTE:\n\tRSSI: '%d dBm'\n\tRSRQ: '%d dB'\n\tRSRP: '%d dBm'\n\tSNR: '%.1lf dB'\n", rssi,
             rsrq, rsrp, 0.1 * static_cast<double>(snr));
  }
  *info = ParseSignalInfo(text_);
  return QmiAnswer::kAnswered;
}

#else  // built without libqmi-glib: the way is not there

int QmiGObjectTraits::Release(Handle) { return 0; }
int QmiContextTraits::Release(Handle) { return 0; }
bool QmiGlibLink::Built() { return false; }
QmiGlibLink::QmiGlibLink(const StopEvent* stop) : stop_(stop) {}
QmiGlibLink::~QmiGlibLink() = default;
void QmiGlibLink::Close() {}
void QmiGlibLink::Drop(bool) {}
void* QmiGlibLink::Device(const char*, const Deadline&) { return nullptr; }
void* QmiGlibLink::Client(Service, const Deadline&) { return nullptr; }
void* QmiGlibLink::Ready(const char*, Service, const Deadline&) { return nullptr; }
bool QmiGlibLink::Open(const char*, int32_t, char* why, int whySize) {
  snprintf(why, static_cast<size_t>(whySize), "not built (no libqmi-glib at build time)");
  return false;
}
QmiAnswer QmiGlibLink::NoAnswer(const char*, bool, bool) { return QmiAnswer::kNone; }
QmiAnswer QmiGlibLink::Refused(const char*, Service, bool) { return QmiAnswer::kRefused; }
QmiAnswer QmiGlibLink::PowerOnSim(const char*, int32_t) { return QmiAnswer::kNone; }
QmiAnswer QmiGlibLink::EnableAutoconnect(const char*, int32_t) { return QmiAnswer::kNone; }
QmiAnswer QmiGlibLink::ReadTxRxInfo(const char*, int32_t, TxRxInfo*) { return QmiAnswer::kNone; }
QmiAnswer QmiGlibLink::ReadCaInfo(const char*, int32_t, CaInfo*) { return QmiAnswer::kNone; }
QmiAnswer QmiGlibLink::ReadSignalInfo(const char*, int32_t, SignalInfo*) { return QmiAnswer::kNone; }

#endif
