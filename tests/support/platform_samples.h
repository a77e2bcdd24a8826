// Test helpers for the captured outputs of the router's tools: reading a sample, turning mmcli's
// --command output into the reply text the command channel hands to the parsers.
#pragma once

#include <string>
#include <vector>

#include "tests/support/test_files.h"

// The sample file's bytes; fails the test when it cannot be read.
std::string PlatformSample(const std::string& name);

// What modem_Send keeps of mmcli's "response: '...'" line: trailing CR, LF and tab removed, then
// one closing single quote, then the first 10 characters skipped (the opening quote stays).
std::string AsModemReply(const std::string& mmcliOutput);

