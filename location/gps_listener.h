// The GPS listener thread: receives NMEA sentences on the GPS datagram socket and turns each into
// a location update.
#pragma once

class Board;
class StatusTable;
class StopEvent;

// What the listener thread works with; the daemon owns it for the thread's life.
struct GpsListener {
  int socket = -1;  // the bound datagram socket
  StatusTable* table = nullptr;
  Board* board = nullptr;           // the fix register
  const StopEvent* stop = nullptr;  // ends the listener
  bool debug = false;               // -d: each datagram is traced
};

// Receives datagrams on the listener's socket until its stop event is signalled; sleeps until one
// of the two happens.
void RunGpsListener(const GpsListener& listener);
// Thread body: RunGpsListener on the GpsListener `listener` points to.
void* RunGpsListenerThread(void* listener);
