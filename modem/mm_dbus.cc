#include "modem/mm_dbus.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/stop_event.h"

#if MODEM_STATUS_HAVE_GIO

#include <gio/gio.h>
#include <glib-unix.h>

namespace {

constexpr char kService[] = "org.freedesktop.ModemManager1";
constexpr char kRootPath[] = "/org/freedesktop/ModemManager1";
constexpr char kModemInterface[] = "org.freedesktop.ModemManager1.Modem";
constexpr char k3gppInterface[] = "org.freedesktop.ModemManager1.Modem.Modem3gpp";
constexpr char kBearerInterface[] = "org.freedesktop.ModemManager1.Bearer";
// ModemManager's own limit for one AT command, in seconds (the client's default too).
constexpr guint32 kCommandSeconds = 30;

// ModemManager's texts reach the daemon's table, which keeps at most 127 characters of a value.
// One character more is kept, so a value too long for the table still reads as too long; an
// escaped value never passes four times that. A longer answer is cut before anything copies it.
constexpr gsize kValueCut = 128;
// GDBus keeps the buffer it read the largest message into for as long as the connection lives.
// After an answer larger than this, the connection is dropped and made again on the next request.
constexpr gsize kLargeAnswerBytes = 256 * 1024;

// Set by Call on this thread when an answer was larger than kLargeAnswerBytes.
thread_local bool largeAnswer = false;

struct GObjectTraits {
  using Handle = gpointer;
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle) { return g_object_unref(handle), 0; }
};
struct VariantTraits {
  using Handle = GVariant*;
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle) { return g_variant_unref(handle), 0; }
};
struct ErrorTraits {
  using Handle = GError*;
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle) { return g_error_free(handle), 0; }
};
struct ContextTraits {
  using Handle = GMainContext*;
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle) { return g_main_context_unref(handle), 0; }
};
struct SourceTraits {
  using Handle = GSource*;
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle) { return g_source_destroy(handle), g_source_unref(handle), 0; }
};
struct CharsTraits {
  using Handle = gchar*;
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle) { return g_free(handle), 0; }
};
using Object = UniqueResource<GObjectTraits>;
using Variant = UniqueResource<VariantTraits>;
using Error = UniqueResource<ErrorTraits>;
using Chars = UniqueResource<CharsTraits>;

// One request's end: the limit over all its calls.
class Deadline {
 public:
  explicit Deadline(int32_t totalLimitMs)
      : end_(g_get_monotonic_time() + static_cast<gint64>(totalLimitMs) * 1000) {}
  // Milliseconds left, at least 1 (GDBus reads 0 and -1 as its own default).
  int LeftMs() const {
    gint64 left = (end_ - g_get_monotonic_time()) / 1000;
    return left < 1 ? 1 : static_cast<int>(left);
  }

 private:
  gint64 end_;
};

struct PendingCall {
  GVariant* reply = nullptr;
  GError* error = nullptr;
  bool done = false;
};

void OnReply(GObject* source, GAsyncResult* result, gpointer data) {
  auto* call = static_cast<PendingCall*>(data);
  call->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &call->error);
  call->done = true;
}

gboolean OnStop(gint, GIOCondition, gpointer cancellable) {
  g_cancellable_cancel(G_CANCELLABLE(cancellable));
  return G_SOURCE_REMOVE;
}

// One method call of ModemManager, waited for on a main context of its own (so it works on any
// thread and without a main loop), ended by its time limit or by the stop event.
Variant Call(GDBusConnection* bus, const char* path, const char* interface, const char* method,
             GVariant* parameters, const char* replyType, const Deadline& deadline,
             const StopEvent* stop, Error* error) {
  // GDBus refuses a call to an invalid path (a negative modem index makes one) without ever
  // answering it. Such an object is unknown, once ModemManager is known to be there at all.
  if (!g_variant_is_object_path(path)) {
    if (parameters != nullptr) g_variant_unref(g_variant_ref_sink(parameters));
    Variant pong = Call(bus, kRootPath, "org.freedesktop.DBus.Peer", "Ping", nullptr, "()",
                        deadline, stop, error);
    if (pong.valid()) {
      error->Reset(g_error_new(G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT, "No object at %s", path));
    }
    return Variant();
  }
  UniqueResource<ContextTraits> context(g_main_context_new());
  Object cancellable(g_cancellable_new());
  UniqueResource<SourceTraits> stopWatch;
  if (stop != nullptr && stop->fd() >= 0) {
    stopWatch.Reset(g_unix_fd_source_new(stop->fd(), G_IO_IN));
    g_source_set_callback(stopWatch.get(), G_SOURCE_FUNC(OnStop),
                          cancellable.get(), nullptr);
    g_source_attach(stopWatch.get(), context.get());
  }
  if (stop != nullptr && stop->IsSignalled()) g_cancellable_cancel(G_CANCELLABLE(cancellable.get()));

  PendingCall call;
  g_main_context_push_thread_default(context.get());
  g_dbus_connection_call(bus, kService, path, interface, method, parameters,
                         replyType != nullptr ? G_VARIANT_TYPE(replyType) : nullptr,
                         G_DBUS_CALL_FLAGS_NO_AUTO_START, deadline.LeftMs(),
                         G_CANCELLABLE(cancellable.get()), OnReply, &call);
  while (!call.done) g_main_context_iteration(context.get(), TRUE);
  g_main_context_pop_thread_default(context.get());
  if ((call.reply != nullptr && g_variant_get_size(call.reply) > kLargeAnswerBytes) ||
      (call.error != nullptr && strlen(call.error->message) > kLargeAnswerBytes)) {
    largeAnswer = true;
  }
  error->Reset(call.error);
  return Variant(call.reply);
}

// No answer in time and a stopped request leave nothing, like a client killed at its limit.
bool NoAnswer(const GError* error) {
  return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
         g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY);
}

// A request that drew an error: no answer when the call timed out or was stopped (like a client
// killed at its limit), else ModemManager's refusal (no such object, no service, its own error).
MmAnswer Failure(const GError* error) {
  return NoAnswer(error) ? MmAnswer::kNone : MmAnswer::kRefused;
}

// A string of an answer, pointing into the GVariant that holds it (no copy is made).
struct Borrowed {
  const char* text = "";
  gsize length = 0;
  int Cut(gsize limit) const { return static_cast<int>(length < limit ? length : limit); }
};

Borrowed BorrowString(GVariant* value) {
  Borrowed out;
  if (value != nullptr) out.text = g_variant_get_string(value, &out.length);
  return out;
}

// The string member `key` of an a{sv} dictionary, borrowed from it (empty when missing). The
// dictionary keeps the value alive: the reference taken here is given back at once.
Borrowed StringOf(GVariant* dictionary, const char* key) {
  if (dictionary == nullptr) return Borrowed();
  Variant value(g_variant_lookup_value(dictionary, key, G_VARIANT_TYPE_STRING));
  return BorrowString(value.get());
}

// Keeps a string value as the table holds it: at most kValueCut bytes of it read, escaped
// C-style, then at most 127 characters.
void Keep(PropertyText* property, Borrowed value) {
  char cut[kValueCut + 1];
  const gsize n = static_cast<gsize>(value.Cut(kValueCut));
  memcpy(cut, value.text, n);
  cut[n] = '\0';
  Chars escaped(g_strescape(cut, nullptr));
  KeepProperty(property, escaped.get());
}

// The first string of the list property `name` (of type `type`), when the list has one.
void KeepFirst(PropertyText* property, GVariant* properties, const char* name, const char* type) {
  Variant list(properties != nullptr ? g_variant_lookup_value(properties, name, G_VARIANT_TYPE(type))
                                     : nullptr);
  if (!list.valid() || g_variant_n_children(list.get()) == 0) return;
  Variant item(g_variant_get_child_value(list.get(), 0));
  Keep(property, BorrowString(item.get()));
}

// Properties.GetAll of one interface: the a{sv} dictionary, or null with the error.
Variant GetAll(GDBusConnection* bus, const char* path, const char* interface,
               const Deadline& deadline, const StopEvent* stop, Error* error) {
  Variant reply = Call(bus, path, "org.freedesktop.DBus.Properties", "GetAll",
                       g_variant_new("(s)", interface), "(a{sv})", deadline, stop, error);
  if (!reply.valid()) return reply;
  return Variant(g_variant_get_child_value(reply.get(), 0));
}

constexpr size_t kObjectPathSize = 64;

// ModemManager's object path of a modem or bearer: "<root>/<kind>/<index>".
void ObjectPath(char (&path)[kObjectPathSize], const char* kind, int32_t index) {
  snprintf(path, sizeof path, "%s/%s/%d", kRootPath, kind, index);
}

}  // namespace

// The connection for one request. A request that drew a large answer drops the connection when it
// ends, so the memory GDBus read it into goes with it.
class BusLease {
 public:
  explicit BusLease(ModemBus* owner) : owner_(owner), bus_(owner->TakeConnection()) {
    largeAnswer = false;
  }
  ~BusLease() {
    if (largeAnswer && bus_.valid()) owner_->Forget(bus_.get());
    largeAnswer = false;
  }
  BusLease(const BusLease&) = delete;
  BusLease& operator=(const BusLease&) = delete;
  bool valid() const { return bus_.valid(); }
  gpointer get() const { return bus_.get(); }

 private:
  ModemBus* owner_;
  Object bus_;
};

void ModemBus::Forget(void* bus) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (connection_.get() == bus) connection_.Reset(BusConnectionTraits::Invalid());
}

int BusConnectionTraits::Release(Handle handle) {
  g_object_unref(handle);
  return 0;
}

bool ModemBus::Built() { return true; }

bool ModemBus::Open(char* why, int whySize) {
  std::lock_guard<std::mutex> hold(mutex_);
  GError* raw = nullptr;
  const char* address = getenv("DBUS_SYSTEM_BUS_ADDRESS");
  GDBusConnection* bus = nullptr;
  if (address != nullptr && address[0] != '\0') {
    bus = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &raw);
  } else {
    Chars system(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &raw));
    if (system.valid()) {
      bus = g_dbus_connection_new_for_address_sync(
          system.get(),
          static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                            G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
          nullptr, nullptr, &raw);
    }
  }
  Error error(raw);
  if (bus == nullptr) {
    snprintf(why, static_cast<size_t>(whySize), "%s",
             error.valid() ? error.get()->message : "no system bus");
    return false;
  }
  // A lost bus must not end the daemon: the next request connects again.
  g_dbus_connection_set_exit_on_close(bus, FALSE);
  connection_.Reset(bus);
  return true;
}

void* ModemBus::TakeConnection() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (connection_.valid() &&
        !g_dbus_connection_is_closed(static_cast<GDBusConnection*>(connection_.get()))) {
      return g_object_ref(connection_.get());
    }
  }
  char why[256];
  if (!Open(why, sizeof why)) return nullptr;
  std::lock_guard<std::mutex> hold(mutex_);
  return connection_.valid() ? g_object_ref(connection_.get()) : nullptr;
}

void ModemBus::List(int32_t totalLimitMs, ModemListing* listing) {
  listing->found = false;
  BusLease bus(this);
  if (!bus.valid()) return;
  Error error;
  Variant reply = Call(G_DBUS_CONNECTION(bus.get()), kRootPath,
                       "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", nullptr,
                       "(a{oa{sa{sv}}})", Deadline(totalLimitMs), stop_, &error);
  if (!reply.valid()) return;
  Variant objects(g_variant_get_child_value(reply.get(), 0));
  GVariantIter iter;
  g_variant_iter_init(&iter, objects.get());
  const char* path = nullptr;
  GVariant* interfaces = nullptr;
  while (g_variant_iter_next(&iter, "{&o@a{sa{sv}}}", &path, &interfaces)) {
    Variant hold(interfaces);
    Variant modem(g_variant_lookup_value(interfaces, kModemInterface, G_VARIANT_TYPE("a{sv}")));
    if (!modem.valid()) continue;
    // The first modem: its number is the fifth part of its path (".../ModemManager1/Modem/<n>").
    char parts[5][kListedNumberSize] = {};
    int count = 0;
    for (const char* p = path; *p != '\0' && count < 5;) {
      while (*p == '/') ++p;
      const char* end = p + strcspn(p, "/");
      if (end > p) {
        snprintf(parts[count++], kListedNumberSize, "%.*s", static_cast<int>(end - p), p);
      }
      p = end;
    }
    if (count == 5 && ReadModemNumber(parts[4], &listing->index)) {
      snprintf(listing->number, sizeof listing->number, "%s", parts[4]);
      listing->found = true;
    }
    return;
  }
}

MmAnswer ModemBus::Command(int32_t index, const char* command, int32_t totalLimitMs,
                           AtReply* reply) {
  reply->forbidden = false;
  BusLease bus(this);
  if (!bus.valid()) return MmAnswer::kNone;
  char path[kObjectPathSize];
  ObjectPath(path, "Modem", index);
  Error error;
  Variant answer = Call(G_DBUS_CONNECTION(bus.get()), path, kModemInterface, "Command",
                        g_variant_new("(su)", command, kCommandSeconds), "(s)",
                        Deadline(totalLimitMs), stop_, &error);
  if (!answer.valid()) {
    // ModemManager passes AT commands only in its debug mode or when built to allow them.
    reply->forbidden =
        error.valid() &&
        strstr(error.get()->message, "ModemManager1.Error.Core.Unauthorized") != nullptr;
    return Failure(error.get());
  }
  // The answer is read in place; what does not fit the reply is never copied.
  Variant text(g_variant_get_child_value(answer.get(), 0));
  const Borrowed said = BorrowString(text.get());
  int n = said.Cut(static_cast<gsize>(kAtAnswerLimit));
  if (said.length > static_cast<gsize>(kAtAnswerLimit)) {
    while (n > 0 && (said.text[n - 1] == '\r' || said.text[n - 1] == '\n' ||
                     said.text[n - 1] == '\t')) {
      --n;
    }
  }
  memcpy(reply->text, said.text, static_cast<size_t>(n));
  reply->text[n] = '\0';
  reply->length = n;
  return MmAnswer::kAnswered;
}

MmAnswer ModemBus::Reset(int32_t index, int32_t totalLimitMs) {
  BusLease bus(this);
  if (!bus.valid()) return MmAnswer::kNone;
  char path[kObjectPathSize];
  ObjectPath(path, "Modem", index);
  Error error;
  Variant reply = Call(G_DBUS_CONNECTION(bus.get()), path, kModemInterface, "Reset", nullptr, "()",
                       Deadline(totalLimitMs), stop_, &error);
  return reply.valid() ? MmAnswer::kAnswered : Failure(error.get());
}

MmAnswer ModemBus::ReadModem(int32_t index, int32_t totalLimitMs, ModemProperties* properties) {
  BusLease bus(this);
  if (!bus.valid()) return MmAnswer::kNone;
  char path[kObjectPathSize];
  ObjectPath(path, "Modem", index);
  const Deadline deadline(totalLimitMs);
  Error error;
  Variant modem =
      GetAll(G_DBUS_CONNECTION(bus.get()), path, kModemInterface, deadline, stop_, &error);
  if (!modem.valid()) return Failure(error.get());
  Error error3gpp;
  Variant gpp =
      GetAll(G_DBUS_CONNECTION(bus.get()), path, k3gppInterface, deadline, stop_, &error3gpp);
  if (!gpp.valid() && NoAnswer(error3gpp.get())) return MmAnswer::kNone;

  *properties = ModemProperties{};
  Keep(&properties->revision, StringOf(modem.get(), "Revision"));
  KeepFirst(&properties->ownNumber, modem.get(), "OwnNumbers", "as");
  guint32 quality = 0;
  gboolean recent = FALSE;
  g_variant_lookup(modem.get(), "SignalQuality", "(ub)", &quality, &recent);
  properties->signalQuality.present = true;
  snprintf(properties->signalQuality.text, sizeof properties->signalQuality.text, "%u", quality);
  if (gpp.valid()) {
    Keep(&properties->imei, StringOf(gpp.get(), "Imei"));
    Variant settings(g_variant_lookup_value(gpp.get(), "InitialEpsBearerSettings",
                                            G_VARIANT_TYPE("a{sv}")));
    Keep(&properties->initialBearerApn, StringOf(settings.get(), "apn"));
  }
  KeepFirst(&properties->firstBearer, modem.get(), "Bearers", "ao");
  return MmAnswer::kAnswered;
}

MmAnswer ModemBus::ReadBearer(int32_t index, int32_t totalLimitMs, BearerProperties* bearer) {
  BusLease bus(this);
  if (!bus.valid()) return MmAnswer::kNone;
  char path[kObjectPathSize];
  ObjectPath(path, "Bearer", index);
  Error error;
  Variant properties = GetAll(G_DBUS_CONNECTION(bus.get()), path, kBearerInterface,
                              Deadline(totalLimitMs), stop_, &error);
  if (!properties.valid()) return Failure(error.get());
  *bearer = BearerProperties{};
  Variant settings(g_variant_lookup_value(properties.get(), "Properties", G_VARIANT_TYPE("a{sv}")));
  Keep(&bearer->apn, StringOf(settings.get(), "apn"));
  return MmAnswer::kAnswered;
}

#else  // built without GIO: the D-Bus way is not there

int BusConnectionTraits::Release(Handle) { return 0; }
bool ModemBus::Built() { return false; }
bool ModemBus::Open(char* why, int whySize) {
  snprintf(why, static_cast<size_t>(whySize), "not built (no GIO at build time)");
  return false;
}
void* ModemBus::TakeConnection() { return nullptr; }
void ModemBus::Forget(void*) {}
void ModemBus::List(int32_t, ModemListing* listing) { listing->found = false; }
MmAnswer ModemBus::ReadModem(int32_t, int32_t, ModemProperties*) { return MmAnswer::kNone; }
MmAnswer ModemBus::ReadBearer(int32_t, int32_t, BearerProperties*) { return MmAnswer::kNone; }
MmAnswer ModemBus::Command(int32_t, const char*, int32_t, AtReply*) { return MmAnswer::kNone; }
MmAnswer ModemBus::Reset(int32_t, int32_t) { return MmAnswer::kNone; }

#endif
