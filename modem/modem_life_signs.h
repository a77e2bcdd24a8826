// Which ways the modem has answered on since start, noted by the status cycle on the main thread
// and read by the modem watchdog on the snapshot writer's thread.
#pragma once

#include <atomic>
#include <cstdint>

// Ways that show the modem alive besides the AT key values (those are read from the table).
enum class ModemWay : uint8_t {
  kProperties = 1,  // ModemManager's properties held an IMEI, firmware version or signal above 0
  kQmi = 2,         // a qmicli request got an answer that is no error
};

// Every mark is set once and never cleared. Lock-free: both threads touch it without the table's
// lock. Copying copies the marks (the session is copied whole by tests).
class ModemLifeSigns {
 public:
  ModemLifeSigns() = default;
  ModemLifeSigns(const ModemLifeSigns& other) : marks_(other.marks_.load()) {}
  ModemLifeSigns& operator=(const ModemLifeSigns& other) {
    marks_.store(other.marks_.load());
    return *this;
  }

  void NoteAnswer(ModemWay way) { marks_.fetch_or(static_cast<uint8_t>(way)); }
  // A pass found the modem listed and asked it on every way it had (the pass ran to its end).
  void NoteAsked() { marks_.fetch_or(kAsked); }

  bool Answered(ModemWay way) const { return (marks_.load() & static_cast<uint8_t>(way)) != 0; }
  bool AnsweredAny() const { return (marks_.load() & kAnyWay) != 0; }
  bool Asked() const { return (marks_.load() & kAsked) != 0; }

 private:
  static constexpr uint8_t kAnyWay =
      static_cast<uint8_t>(ModemWay::kProperties) | static_cast<uint8_t>(ModemWay::kQmi);
  static constexpr uint8_t kAsked = 0x80;
  static_assert(std::atomic<uint8_t>::is_always_lock_free, "the marks must be lock-free");

  std::atomic<uint8_t> marks_{0};
};
