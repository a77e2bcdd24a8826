// One open view of the router's UCI configuration: a libuci context (or the built-in reader's)
// reading the packages of one folder, kept for as long as the object lives.
#pragma once

struct uci_context;

class UciSource {
 public:
  // Reads the packages under `confDir` (each package file is read once, on its first lookup).
  explicit UciSource(const char* confDir);
  // Not open until Open is called.
  UciSource() : uci_(nullptr) {}
  ~UciSource();
  UciSource(const UciSource&) = delete;
  UciSource& operator=(const UciSource&) = delete;

  // Opens the context for `confDir` when it is not open yet; false when it could not be
  // allocated.
  bool Open(const char* confDir);

  // False when the context could not be allocated: every lookup then finds nothing.
  bool Ready() const { return uci_ != nullptr; }

  // The text of the single-value option at the dotted path `key` ("package.section.option", the
  // extended section syntax such as "@gpsd[0]" allowed), valid while this object lives; null when
  // there is no such option (or it is a list). Prints nothing.
  const char* Find(const char* key);

  // After a Find that found nothing: says on standard error why, when the cause was more than a
  // missing entry (an unreadable or malformed package file).
  void ReportLastError(const char* key);

 private:
  uci_context* uci_;
  int lastResult_ = 0;
};
