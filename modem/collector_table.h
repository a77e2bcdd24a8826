// The modem steps of a polling pass as one table of collector rows, in the order they run.
#pragma once

struct ModemPass;

// Runs the rows in order, the full-pass ones only when `reduced` is 0; stops before the next row
// once a stop was requested.
void RunModemCollectors(ModemPass& pass, int reduced);
