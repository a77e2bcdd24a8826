#include "modem/mm_dbus.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/clock.h"
#include "base/stop_event.h"

#if MODEM_STATUS_HAVE_LIBDBUS

#include <dbus/dbus.h>
#include <poll.h>

#include <cerrno>

#include "modem/c_escape.h"

namespace {

constexpr char kService[] = "org.freedesktop.ModemManager1";
constexpr char kRootPath[] = "/org/freedesktop/ModemManager1";
constexpr char kModemInterface[] = "org.freedesktop.ModemManager1.Modem";
constexpr char k3gppInterface[] = "org.freedesktop.ModemManager1.Modem.Modem3gpp";
constexpr char kBearerInterface[] = "org.freedesktop.ModemManager1.Bearer";
constexpr char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";
// Where the system bus listens when DBUS_SYSTEM_BUS_ADDRESS does not say.
constexpr char kSystemBusAddress[] = "unix:path=/var/run/dbus/system_bus_socket";
// ModemManager's own limit for one AT command, in seconds (the client's default too).
constexpr dbus_uint32_t kCommandSeconds = 30;
// Part of ModemManager's error name when it passes no AT commands.
constexpr char kUnauthorized[] = "ModemManager1.Error.Core.Unauthorized";

// ModemManager's texts reach the daemon's table, which keeps at most 127 characters of a value.
// One character more is kept, so a value too long for the table still reads as too long; an
// escaped value never passes four times that. A longer answer is cut before anything copies it.
constexpr size_t kValueCut = 128;
// libdbus keeps buffers sized for the largest message it read while the connection lives. After
// an answer larger than this, the connection is dropped and made again on the next request.
constexpr size_t kLargeAnswerBytes = 256 * 1024;
// The largest message taken: a larger one would cut the connection instead of being read and cut.
// libdbus's own default is the same, the protocol's limit; set so that it stays so.
constexpr long kMaxMessageBytes = 128L * 1024 * 1024;

struct MessageTraits {
  using Handle = DBusMessage*;
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle) { return dbus_message_unref(handle), 0; }
};
struct PendingTraits {
  using Handle = DBusPendingCall*;
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle) { return dbus_pending_call_unref(handle), 0; }
};
using Message = UniqueResource<MessageTraits>;
using Pending = UniqueResource<PendingTraits>;

// How a call that brought no reply ended, as the request reports it.
struct Failure {
  MmAnswer answer = MmAnswer::kNone;
  bool forbidden = false;  // ModemManager passes no AT commands
};

// One request on one connection: what its calls share and what they leave for the connection.
struct Request {
  DBusConnection* bus;
  Deadline deadline;
  const StopEvent* stop;
  bool large = false;  // an answer was larger than kLargeAnswerBytes
  bool lost = false;   // the connection was lost
};

// Opens a private connection to the system bus and says hello; null with a reason in `why`.
DBusConnection* Connect(char* why, int whySize) {
  // Each connection is used by one thread, but libdbus's shared state is reached from two.
  dbus_threads_init_default();
  const char* address = getenv("DBUS_SYSTEM_BUS_ADDRESS");
  if (address == nullptr || address[0] == '\0') address = kSystemBusAddress;
  DBusError error;
  dbus_error_init(&error);
  UniqueResource<BusConnectionTraits> bus(dbus_connection_open_private(address, &error));
  if (bus.valid()) {
    auto* connection = static_cast<DBusConnection*>(bus.get());
    // A lost bus must not end the daemon: the next request connects again.
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    dbus_connection_set_max_message_size(connection, kMaxMessageBytes);
    if (dbus_bus_register(connection, &error)) return static_cast<DBusConnection*>(bus.Release());
  }
  snprintf(why, static_cast<size_t>(whySize), "%s",
           dbus_error_is_set(&error) ? error.message : "no system bus");
  dbus_error_free(&error);
  return nullptr;
}

// Whether an array of `type` is read as one block (libdbus refuses so for descriptors).
bool FixedItems(int type) { return dbus_type_is_fixed(type) && type != DBUS_TYPE_UNIX_FD; }

// The bytes of an answer's values, counted until they pass `limit`: a string is counted to at
// most the rest of the limit, so a huge one is not read through.
size_t CountBytes(DBusMessageIter* iter, size_t total, size_t limit) {
  for (int type;
       total <= limit && (type = dbus_message_iter_get_arg_type(iter)) != DBUS_TYPE_INVALID;
       dbus_message_iter_next(iter)) {
    if (type == DBUS_TYPE_STRING || type == DBUS_TYPE_OBJECT_PATH || type == DBUS_TYPE_SIGNATURE) {
      const char* text = nullptr;
      dbus_message_iter_get_basic(iter, &text);
      total += strnlen(text, limit - total + 1) + 1;
    } else if (type == DBUS_TYPE_ARRAY && FixedItems(dbus_message_iter_get_element_type(iter))) {
      DBusMessageIter items;
      dbus_message_iter_recurse(iter, &items);
      const void* data = nullptr;
      int count = 0;
      dbus_message_iter_get_fixed_array(&items, &data, &count);
      total += static_cast<size_t>(count) * 8 + 4;
    } else if (dbus_type_is_container(type)) {
      DBusMessageIter inner;
      dbus_message_iter_recurse(iter, &inner);
      total = CountBytes(&inner, total + 4, limit);
    } else {
      total += 8;
    }
  }
  return total;
}

bool LargerThan(DBusMessage* message, size_t limit) {
  DBusMessageIter iter;
  if (!dbus_message_iter_init(message, &iter)) return false;
  return CountBytes(&iter, 0, limit) > limit;
}

// The error's text, its first argument when that is a string (read in place).
const char* ErrorText(DBusMessage* error) {
  DBusMessageIter iter;
  const char* text = "";
  if (dbus_message_iter_init(error, &iter) &&
      dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_STRING) {
    dbus_message_iter_get_basic(&iter, &text);
  }
  return text;
}

// No answer in time and a stopped request leave nothing, like a client killed at its limit: the
// bus's errors for no reply, and GLib's I/O errors "timed out" and "cancelled" as a GLib service
// names them.
bool NoAnswer(const char* errorName) {
  static const char* const kNames[] = {
      "org.freedesktop.DBus.Error.NoReply",
      "org.freedesktop.DBus.Error.Timeout",
      "org.freedesktop.DBus.Error.TimedOut",
      "org.gtk.GDBus.UnmappedGError.Quark._g_2dio_2derror_2dquark.Code19",
      "org.gtk.GDBus.UnmappedGError.Quark._g_2dio_2derror_2dquark.Code24",
  };
  for (const char* name : kNames) {
    if (strcmp(errorName, name) == 0) return true;
  }
  return false;
}

// A method's argument: a string and, when `number` is set, an unsigned number after it.
struct Arguments {
  const char* text = nullptr;
  const dbus_uint32_t* number = nullptr;
};

Message Call(Request* request, const char* path, const char* interface, const char* method,
             Arguments arguments, const char* replySignature, Failure* failure);

// Waits in this thread for `pending`: the connection's descriptor and the stop event are polled
// until the reply is read. False when the limit passed or the stop event fired first.
bool WaitFor(Request* request, DBusPendingCall* pending) {
  DBusConnection* bus = request->bus;
  // A call made once the request's limit has passed still has a moment.
  const Deadline limit(std::max<int32_t>(1, request->deadline.LeftMs()));
  for (;;) {
    // What libdbus has already read may hold the reply: dispatch it before polling for more.
    while (dbus_connection_dispatch(bus) == DBUS_DISPATCH_DATA_REMAINS) {
    }
    if (dbus_pending_call_get_completed(pending)) return true;
    if (!dbus_connection_get_is_connected(bus)) return true;
    if (request->stop != nullptr && request->stop->IsSignalled()) return false;
    if (limit.Passed()) return false;
    const int left = limit.LeftMs();
    int fd = -1;
    if (!dbus_connection_get_unix_fd(bus, &fd)) fd = -1;
    pollfd watched[2] = {
        {fd, static_cast<short>(POLLIN | (dbus_connection_has_messages_to_send(bus) ? POLLOUT : 0)),
         0},
        {request->stop != nullptr ? request->stop->fd() : -1, POLLIN, 0},
    };
    if (poll(watched, 2, left) < 0 && errno != EINTR) return false;
    if (watched[1].revents != 0) return false;
    dbus_connection_read_write(bus, 0);
  }
}

// The answer to a call of an object path libdbus would refuse (a negative modem index makes one):
// such an object is unknown, once ModemManager is known to be there at all.
Message CallInvalidPath(Request* request, Failure* failure) {
  Message pong =
      Call(request, kRootPath, "org.freedesktop.DBus.Peer", "Ping", Arguments(), "", failure);
  if (pong.valid()) failure->answer = MmAnswer::kRefused;
  return Message();
}

// One method call of ModemManager, waited for in the calling thread, ended by the request's limit
// or its stop event. The reply when it came with `replySignature`, else null with `failure` set.
Message Call(Request* request, const char* path, const char* interface, const char* method,
             Arguments arguments, const char* replySignature, Failure* failure) {
  *failure = Failure();
  if (!dbus_validate_path(path, nullptr)) return CallInvalidPath(request, failure);
  if (request->stop != nullptr && request->stop->IsSignalled()) return Message();
  Message call(dbus_message_new_method_call(kService, path, interface, method));
  if (!call.valid()) return Message();
  dbus_message_set_auto_start(call.get(), FALSE);
  if (arguments.text != nullptr) {
    // libdbus takes only UTF-8; the commands are ASCII, so another text is refused here.
    if (!dbus_validate_utf8(arguments.text, nullptr)) {
      failure->answer = MmAnswer::kRefused;
      return Message();
    }
    if (!dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &arguments.text,
                                  DBUS_TYPE_INVALID)) {
      return Message();
    }
    if (arguments.number != nullptr &&
        !dbus_message_append_args(call.get(), DBUS_TYPE_UINT32, arguments.number,
                                  DBUS_TYPE_INVALID)) {
      return Message();
    }
  }
  DBusPendingCall* sent = nullptr;
  // The request's own limit ends the wait; libdbus's timer is never run here.
  if (!dbus_connection_send_with_reply(request->bus, call.get(), &sent, DBUS_TIMEOUT_INFINITE)) {
    return Message();
  }
  Pending pending(sent);
  if (!pending.valid()) {  // the connection was already gone
    request->lost = true;
    failure->answer = MmAnswer::kRefused;
    return Message();
  }
  if (!WaitFor(request, pending.get())) {
    dbus_pending_call_cancel(pending.get());
    return Message();
  }
  Message reply(dbus_pending_call_get_completed(pending.get())
                    ? dbus_pending_call_steal_reply(pending.get())
                    : nullptr);
  if (!dbus_connection_get_is_connected(request->bus)) {
    // The next request connects again. A reply read before the connection went counts as read;
    // the error libdbus makes up for a call the lost connection never answered is a refusal,
    // like any call on a closed connection.
    request->lost = true;
    if (!reply.valid() || dbus_message_get_type(reply.get()) != DBUS_MESSAGE_TYPE_METHOD_RETURN) {
      failure->answer = MmAnswer::kRefused;
      return Message();
    }
  }
  if (!reply.valid()) return Message();
  if (LargerThan(reply.get(), kLargeAnswerBytes)) request->large = true;
  if (dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_ERROR) {
    const char* name = dbus_message_get_error_name(reply.get());
    if (name == nullptr) name = "";
    failure->answer = NoAnswer(name) ? MmAnswer::kNone : MmAnswer::kRefused;
    // ModemManager passes AT commands only in its debug mode or when built to allow them.
    failure->forbidden = strstr(name, kUnauthorized) != nullptr ||
                         strstr(ErrorText(reply.get()), kUnauthorized) != nullptr;
    return Message();
  }
  if (!dbus_message_has_signature(reply.get(), replySignature)) {
    failure->answer = MmAnswer::kRefused;
    return Message();
  }
  return reply;
}

// A string of an answer, pointing into the message that holds it (no copy is made).
struct Borrowed {
  const char* text = "";
  // Its length up to `limit`, read no further.
  size_t Cut(size_t limit) const { return strnlen(text, limit); }
};

Borrowed BorrowString(DBusMessageIter* value) {
  Borrowed out;
  const int type = dbus_message_iter_get_arg_type(value);
  if (type == DBUS_TYPE_STRING || type == DBUS_TYPE_OBJECT_PATH) {
    dbus_message_iter_get_basic(value, &out.text);
  }
  return out;
}

// The value of the first member `key` of the dictionary `dictionary` points at (an array of
// string-keyed entries), unwrapped from its variant when it is one. False when there is no such
// member.
bool Member(const DBusMessageIter* dictionary, const char* key, DBusMessageIter* value) {
  if (dictionary == nullptr) return false;
  DBusMessageIter walk = *dictionary;
  if (dbus_message_iter_get_arg_type(&walk) != DBUS_TYPE_ARRAY ||
      dbus_message_iter_get_element_type(&walk) != DBUS_TYPE_DICT_ENTRY) {
    return false;
  }
  DBusMessageIter entries;
  dbus_message_iter_recurse(&walk, &entries);
  for (; dbus_message_iter_get_arg_type(&entries) == DBUS_TYPE_DICT_ENTRY;
       dbus_message_iter_next(&entries)) {
    DBusMessageIter entry;
    dbus_message_iter_recurse(&entries, &entry);
    if (dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_STRING) return false;
    const char* name = nullptr;
    dbus_message_iter_get_basic(&entry, &name);
    if (strcmp(name, key) != 0) continue;
    dbus_message_iter_next(&entry);
    if (dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_VARIANT) {
      dbus_message_iter_recurse(&entry, value);
    } else {
      *value = entry;
    }
    return true;
  }
  return false;
}

// Whether `value` is an a{sv} dictionary (an empty dictionary of another kind reads the same).
bool IsDictionary(DBusMessageIter* value) {
  if (dbus_message_iter_get_arg_type(value) != DBUS_TYPE_ARRAY ||
      dbus_message_iter_get_element_type(value) != DBUS_TYPE_DICT_ENTRY) {
    return false;
  }
  DBusMessageIter entries;
  dbus_message_iter_recurse(value, &entries);
  if (dbus_message_iter_get_arg_type(&entries) != DBUS_TYPE_DICT_ENTRY) return true;
  DBusMessageIter entry;
  dbus_message_iter_recurse(&entries, &entry);
  if (dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_STRING) return false;
  dbus_message_iter_next(&entry);
  return dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_VARIANT;
}

// The dictionary member `key` of an a{sv} dictionary; false when missing or of another type.
bool DictionaryOf(const DBusMessageIter* dictionary, const char* key, DBusMessageIter* value) {
  return Member(dictionary, key, value) && IsDictionary(value);
}

// The string member `key` of an a{sv} dictionary, borrowed from it (empty when missing).
Borrowed StringOf(const DBusMessageIter* dictionary, const char* key) {
  DBusMessageIter value;
  if (!Member(dictionary, key, &value) ||
      dbus_message_iter_get_arg_type(&value) != DBUS_TYPE_STRING) {
    return Borrowed();
  }
  return BorrowString(&value);
}

// Keeps a string value as the table holds it: at most kValueCut bytes of it read, escaped
// C-style, then at most 127 characters.
void Keep(PropertyText* property, Borrowed value) {
  char escaped[kEscapedBytesPerByte * kValueCut + 1];
  EscapeCStyle(value.text, value.Cut(kValueCut), escaped);
  KeepProperty(property, escaped);
}

// The first string of the list property `name` whose items are of `itemType`, when the list has
// one.
void KeepFirst(PropertyText* property, const DBusMessageIter* properties, const char* name,
               int itemType) {
  DBusMessageIter list;
  if (!Member(properties, name, &list) ||
      dbus_message_iter_get_arg_type(&list) != DBUS_TYPE_ARRAY ||
      dbus_message_iter_get_element_type(&list) != itemType) {
    return;
  }
  DBusMessageIter item;
  dbus_message_iter_recurse(&list, &item);
  if (dbus_message_iter_get_arg_type(&item) != itemType) return;
  Keep(property, BorrowString(&item));
}

// ModemManager's signal quality, the percent of the (ub) pair; 0 when missing or of another type.
dbus_uint32_t SignalQualityOf(const DBusMessageIter* properties) {
  DBusMessageIter pair;
  if (!Member(properties, "SignalQuality", &pair) ||
      dbus_message_iter_get_arg_type(&pair) != DBUS_TYPE_STRUCT) {
    return 0;
  }
  DBusMessageIter field;
  dbus_message_iter_recurse(&pair, &field);
  if (dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_UINT32) return 0;
  dbus_uint32_t quality = 0;
  dbus_message_iter_get_basic(&field, &quality);
  if (!dbus_message_iter_next(&field) ||
      dbus_message_iter_get_arg_type(&field) != DBUS_TYPE_BOOLEAN ||
      dbus_message_iter_has_next(&field)) {
    return 0;
  }
  return quality;
}

// Properties.GetAll of one interface: the reply (its one argument the a{sv} dictionary), or null
// with `failure` set.
Message GetAll(Request* request, const char* path, const char* interface, Failure* failure) {
  Arguments arguments;
  arguments.text = interface;
  return Call(request, path, kPropertiesInterface, "GetAll", arguments, "a{sv}", failure);
}

constexpr size_t kObjectPathSize = 64;

// ModemManager's object path of a modem or bearer: "<root>/<kind>/<index>".
void ObjectPath(char (&path)[kObjectPathSize], const char* kind, int32_t index) {
  snprintf(path, sizeof path, "%s/%s/%d", kRootPath, kind, index);
}

}  // namespace

// The connection for one request: the calling thread's own (made when there is none or it was
// lost), or one for this request alone. A request that drew a large answer or found the
// connection lost drops it when it ends, so the next one connects again.
class BusLease {
 public:
  explicit BusLease(ModemBus* owner) {
    ModemBus::Slot* slot = owner->SlotOfThisThread();
    connection_ = slot != nullptr ? &slot->connection : &single_;
    if (connection_->valid() && !dbus_connection_get_is_connected(bus())) {
      connection_->Reset(BusConnectionTraits::Invalid());
    }
    if (!connection_->valid()) {
      char why[256];
      connection_->Reset(Connect(why, sizeof why));
    }
  }
  ~BusLease() {
    if (dropAfter_) connection_->Reset(BusConnectionTraits::Invalid());
  }
  BusLease(const BusLease&) = delete;
  BusLease& operator=(const BusLease&) = delete;

  bool valid() const { return connection_->valid(); }
  DBusConnection* bus() const { return static_cast<DBusConnection*>(connection_->get()); }
  // Takes note of what the request leaves for the connection.
  void Ended(const Request& request) { dropAfter_ = dropAfter_ || request.large || request.lost; }

 private:
  ModemBus::Connection* connection_;
  ModemBus::Connection single_;
  bool dropAfter_ = false;
};

namespace {

// A request's calls on the lease's connection; the lease learns how they went when it ends.
class LeasedRequest {
 public:
  LeasedRequest(BusLease* lease, int32_t totalLimitMs, const StopEvent* stop)
      : lease_(lease), request_{lease->bus(), Deadline(totalLimitMs), stop} {}
  ~LeasedRequest() { lease_->Ended(request_); }
  LeasedRequest(const LeasedRequest&) = delete;
  LeasedRequest& operator=(const LeasedRequest&) = delete;
  Request* get() { return &request_; }

 private:
  BusLease* lease_;
  Request request_;
};

}  // namespace

int BusConnectionTraits::Release(Handle handle) {
  auto* connection = static_cast<DBusConnection*>(handle);
  dbus_connection_close(connection);
  dbus_connection_unref(connection);
  return 0;
}

bool ModemBus::Built() { return true; }

ModemBus::Slot* ModemBus::SlotOfThisThread() {
  const std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> hold(mutex_);
  Slot* free = nullptr;
  for (Slot& slot : slots_) {
    if (slot.owner == self) return &slot;
    if (free == nullptr && slot.owner == std::thread::id()) free = &slot;
  }
  if (free != nullptr) free->owner = self;
  return free;
}

bool ModemBus::Open(char* why, int whySize) {
  DBusConnection* bus = Connect(why, whySize);
  if (bus == nullptr) return false;
  Slot* slot = SlotOfThisThread();
  if (slot != nullptr) {
    slot->connection.Reset(bus);
  } else {
    BusConnectionTraits::Release(bus);
  }
  return true;
}

void ModemBus::List(int32_t totalLimitMs, ModemListing* listing) {
  listing->found = false;
  BusLease lease(this);
  if (!lease.valid()) return;
  LeasedRequest request(&lease, totalLimitMs, stop_);
  Failure failure;
  Message reply = Call(request.get(), kRootPath, "org.freedesktop.DBus.ObjectManager",
                       "GetManagedObjects", Arguments(), "a{oa{sa{sv}}}", &failure);
  if (!reply.valid()) return;
  DBusMessageIter objects;
  dbus_message_iter_init(reply.get(), &objects);
  DBusMessageIter object;
  dbus_message_iter_recurse(&objects, &object);
  for (; dbus_message_iter_get_arg_type(&object) == DBUS_TYPE_DICT_ENTRY;
       dbus_message_iter_next(&object)) {
    DBusMessageIter entry;
    dbus_message_iter_recurse(&object, &entry);
    const char* path = nullptr;
    dbus_message_iter_get_basic(&entry, &path);
    dbus_message_iter_next(&entry);
    DBusMessageIter modem;
    if (!Member(&entry, kModemInterface, &modem)) continue;
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
  BusLease lease(this);
  if (!lease.valid()) return MmAnswer::kNone;
  LeasedRequest request(&lease, totalLimitMs, stop_);
  char path[kObjectPathSize];
  ObjectPath(path, "Modem", index);
  Arguments arguments;
  arguments.text = command;
  arguments.number = &kCommandSeconds;
  Failure failure;
  Message answer = Call(request.get(), path, kModemInterface, "Command", arguments, "s", &failure);
  if (!answer.valid()) {
    reply->forbidden = failure.forbidden;
    return failure.answer;
  }
  // The answer is read in place; what does not fit the reply is never copied.
  DBusMessageIter text;
  dbus_message_iter_init(answer.get(), &text);
  const Borrowed said = BorrowString(&text);
  size_t n = said.Cut(static_cast<size_t>(kAtAnswerLimit) + 1);
  if (n > static_cast<size_t>(kAtAnswerLimit)) {
    n = static_cast<size_t>(kAtAnswerLimit);
    while (n > 0 &&
           (said.text[n - 1] == '\r' || said.text[n - 1] == '\n' || said.text[n - 1] == '\t')) {
      --n;
    }
  }
  memcpy(reply->text, said.text, n);
  reply->text[n] = '\0';
  reply->length = static_cast<int32_t>(n);
  return MmAnswer::kAnswered;
}

MmAnswer ModemBus::Reset(int32_t index, int32_t totalLimitMs) {
  BusLease lease(this);
  if (!lease.valid()) return MmAnswer::kNone;
  LeasedRequest request(&lease, totalLimitMs, stop_);
  char path[kObjectPathSize];
  ObjectPath(path, "Modem", index);
  Failure failure;
  Message reply = Call(request.get(), path, kModemInterface, "Reset", Arguments(), "", &failure);
  return reply.valid() ? MmAnswer::kAnswered : failure.answer;
}

MmAnswer ModemBus::ReadModem(int32_t index, int32_t totalLimitMs, ModemProperties* properties) {
  BusLease lease(this);
  if (!lease.valid()) return MmAnswer::kNone;
  LeasedRequest request(&lease, totalLimitMs, stop_);
  char path[kObjectPathSize];
  ObjectPath(path, "Modem", index);
  Failure failure;
  Message modemReply = GetAll(request.get(), path, kModemInterface, &failure);
  if (!modemReply.valid()) return failure.answer;
  Failure failure3gpp;
  Message gppReply = GetAll(request.get(), path, k3gppInterface, &failure3gpp);
  if (!gppReply.valid() && failure3gpp.answer == MmAnswer::kNone) return MmAnswer::kNone;

  DBusMessageIter modem;
  dbus_message_iter_init(modemReply.get(), &modem);
  *properties = ModemProperties{};
  Keep(&properties->revision, StringOf(&modem, "Revision"));
  KeepFirst(&properties->ownNumber, &modem, "OwnNumbers", DBUS_TYPE_STRING);
  properties->signalQuality.present = true;
  snprintf(properties->signalQuality.text, sizeof properties->signalQuality.text, "%u",
           static_cast<unsigned>(SignalQualityOf(&modem)));
  if (gppReply.valid()) {
    DBusMessageIter gpp;
    dbus_message_iter_init(gppReply.get(), &gpp);
    Keep(&properties->imei, StringOf(&gpp, "Imei"));
    DBusMessageIter settings;
    const bool hasSettings = DictionaryOf(&gpp, "InitialEpsBearerSettings", &settings);
    Keep(&properties->initialBearerApn, StringOf(hasSettings ? &settings : nullptr, "apn"));
  }
  KeepFirst(&properties->firstBearer, &modem, "Bearers", DBUS_TYPE_OBJECT_PATH);
  return MmAnswer::kAnswered;
}

MmAnswer ModemBus::ReadBearer(int32_t index, int32_t totalLimitMs, BearerProperties* bearer) {
  BusLease lease(this);
  if (!lease.valid()) return MmAnswer::kNone;
  LeasedRequest request(&lease, totalLimitMs, stop_);
  char path[kObjectPathSize];
  ObjectPath(path, "Bearer", index);
  Failure failure;
  Message reply = GetAll(request.get(), path, kBearerInterface, &failure);
  if (!reply.valid()) return failure.answer;
  *bearer = BearerProperties{};
  DBusMessageIter properties;
  dbus_message_iter_init(reply.get(), &properties);
  DBusMessageIter settings;
  const bool hasSettings = DictionaryOf(&properties, "Properties", &settings);
  Keep(&bearer->apn, StringOf(hasSettings ? &settings : nullptr, "apn"));
  return MmAnswer::kAnswered;
}

#else  // built without libdbus-1: the D-Bus way is not there

int BusConnectionTraits::Release(Handle) { return 0; }
bool ModemBus::Built() { return false; }
bool ModemBus::Open(char* why, int whySize) {
  snprintf(why, static_cast<size_t>(whySize), "not built (no libdbus at build time)");
  return false;
}
ModemBus::Slot* ModemBus::SlotOfThisThread() { return nullptr; }
void ModemBus::List(int32_t, ModemListing* listing) { listing->found = false; }
MmAnswer ModemBus::ReadModem(int32_t, int32_t, ModemProperties*) { return MmAnswer::kNone; }
MmAnswer ModemBus::ReadBearer(int32_t, int32_t, BearerProperties*) { return MmAnswer::kNone; }
MmAnswer ModemBus::Command(int32_t, const char*, int32_t, AtReply*) { return MmAnswer::kNone; }
MmAnswer ModemBus::Reset(int32_t, int32_t) { return MmAnswer::kNone; }

#endif
