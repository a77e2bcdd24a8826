// Test helpers for the captured outputs of the router's tools: reading a sample, turning mmcli's
// --command output into the answer the mmcli link hands to the parsers.
#pragma once

#include <string>
#include <vector>

#include "tests/support/test_files.h"

// The sample file's bytes; fails the test when it cannot be read.
std::string PlatformSample(const std::string& name);

// The answer the mmcli link reads from its "response: '...'" line: trailing CR, LF and tab
// removed, then one closing single quote, then the first 10 characters and the opening quote
// skipped.
std::string AsModemReply(const std::string& mmcliOutput);

