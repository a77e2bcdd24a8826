// The daemon's links to the modem: the way to ModemManager chosen by
// zel.status_gather.modem_access (the mmcli client by default, or its D-Bus API) and the way to
// QMI chosen by qmi_access (the qmicli client by default, or libqmi-glib in process).
#pragma once

#include <atomic>
#include <cstdint>

#include "config/modem_access_option.h"
#include "modem/mm_dbus.h"
#include "modem/mmcli_link.h"
#include "modem/qmi_glib_link.h"
#include "modem/qmicli_link.h"

class StopEvent;

// How long opening the QMI device in process may take at start-up.
constexpr int32_t kQmiOpenLimitMs = 2000;

// Owns every link for the run and hands the modem pass the chosen ones. Every request ends at once
// when `stop` is signalled.
class ModemLinks {
 public:
  explicit ModemLinks(const StopEvent* stop)
      : mmcli_(stop),
        bus_(stop),
        qmicli_(stop),
        libqmi_(stop),
        chosen_(&mmcli_),
        chosenQmi_(&qmicli_) {}
  ModemLinks(const ModemLinks&) = delete;
  ModemLinks& operator=(const ModemLinks&) = delete;

  // For `access` kDbus opens the bus and takes that way; when that way is not built or there is
  // no bus, keeps the mmcli way with one line saying why. Any other value: the mmcli way,
  // silently (an unknown configured value was said when the configuration was read).
  void Choose(ModemAccess access);

  // For `access` kLibqmi opens `device` in process through qmi-proxy and takes that way; when that
  // way is not built or the device cannot be opened, keeps the qmicli way with one line saying
  // why. Any other value: the qmicli way, silently. Main thread, before the first pass.
  void ChooseQmi(QmiAccess access, const char* device);

  // Gives the in-process QMI client ids back and closes its device (the stop).
  void Close() { libqmi_.Close(); }

  // The way to ModemManager: the mmcli way until Choose took another.
  ModemManagerLink& manager() { return chosen_; }
  // The way to QMI: the qmicli way until ChooseQmi took another.
  QmiLink& qmi() { return chosenQmi_; }

 private:
  // Stands for the chosen way: the modem pass is built before the option is read, and the
  // watchdog's reset on the snapshot writer's thread may ask while the way is being chosen.
  class ChosenWay : public ModemManagerLink {
   public:
    explicit ChosenWay(ModemManagerLink* way) : way_(way) {}
    void Take(ModemManagerLink* way) { way_.store(way); }

    const char* TraceName() const override { return way_.load()->TraceName(); }
    void List(int32_t totalLimitMs, ModemListing* listing) override {
      way_.load()->List(totalLimitMs, listing);
    }
    MmAnswer ReadModem(int32_t index, int32_t totalLimitMs, ModemProperties* properties) override {
      return way_.load()->ReadModem(index, totalLimitMs, properties);
    }
    MmAnswer ReadBearer(int32_t index, int32_t totalLimitMs, BearerProperties* bearer) override {
      return way_.load()->ReadBearer(index, totalLimitMs, bearer);
    }
    MmAnswer Command(int32_t index, const char* command, int32_t totalLimitMs,
                     AtReply* reply) override {
      return way_.load()->Command(index, command, totalLimitMs, reply);
    }
    MmAnswer Reset(int32_t index, int32_t totalLimitMs) override {
      return way_.load()->Reset(index, totalLimitMs);
    }

   private:
    std::atomic<ModemManagerLink*> way_;
  };

  // Stands for the chosen QMI way; only the main thread asks QMI.
  class ChosenQmi : public QmiLink {
   public:
    explicit ChosenQmi(QmiLink* way) : way_(way) {}
    void Take(QmiLink* way) { way_ = way; }

    QmiAnswer PowerOnSim(const char* device, int32_t totalLimitMs) override {
      return way_->PowerOnSim(device, totalLimitMs);
    }
    QmiAnswer EnableAutoconnect(const char* device, int32_t totalLimitMs) override {
      return way_->EnableAutoconnect(device, totalLimitMs);
    }
    QmiAnswer ReadTxRxInfo(const char* device, int32_t totalLimitMs, TxRxInfo* info) override {
      return way_->ReadTxRxInfo(device, totalLimitMs, info);
    }
    QmiAnswer ReadCaInfo(const char* device, int32_t totalLimitMs, CaInfo* info) override {
      return way_->ReadCaInfo(device, totalLimitMs, info);
    }
    QmiAnswer ReadSignalInfo(const char* device, int32_t totalLimitMs, SignalInfo* info) override {
      return way_->ReadSignalInfo(device, totalLimitMs, info);
    }

   private:
    QmiLink* way_;
  };

  MmcliLink mmcli_;
  ModemBus bus_;  // its one bus connection stays open for the whole run
  QmicliLink qmicli_;
  QmiGlibLink libqmi_;  // its device and client ids stay open for the run
  ChosenWay chosen_;
  ChosenQmi chosenQmi_;
};
