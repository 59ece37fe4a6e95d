// The values a run carries from start-up to exit.
#pragma once

#include <cstdint>

#include "payload/payload_list.h"

struct RunContext {
  uint32_t userLcid;     // GetUserDefaultLCID; selection may set it to 1033
  uint32_t isWow64;      // non-zero: the 32-bit launcher runs on 64-bit Windows
  PayloadList payloads;  // what the carriers found
};
