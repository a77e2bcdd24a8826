// The GPS listener thread and the location update from one NMEA sentence.
#pragma once

class StopEvent;
struct GatherContext;

// Receives datagrams on ctx->gpsSocket until `stop` is signalled; sleeps until one of the two
// happens.
void RunGpsListener(GatherContext* ctx, const StopEvent& stop);

// Thread body: RunGpsListener with the context's stop event, ctx->stop.
void* gpsSocketHandler(void* ctx);

// Turns one received sentence into position values, the geohash and the I2C fix register.
void LocationUpdate(GatherContext* ctx, const char* text);

// Lets the listener reach the status table; start-up calls it once the table is initialised.
void AllowLocationUpdates();
// Takes that permission back (tests start each listener from the held state).
void HoldLocationUpdates();
