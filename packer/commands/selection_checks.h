// What a payload leaves out, as the launcher's own selection answers it: a
// machine that gets no package, a package no user is given, and users whose
// language has no package when nothing falls back to US English. pack and
// verify word the answers as warnings.
#pragma once

#include <string>
#include <vector>

#include "packer/commands/inspect_report.h"
#include "payload/payload_list.h"

// Runs SelectPackageByPass over `list` for both machines the 32-bit launcher
// runs on (32-bit Windows, and 64-bit Windows under WOW64), with every
// non-zero LCID a package lists and with LCIDs no package has. One sentence
// per finding, in this order: each machine where no user is given a package;
// each package no user on either machine is given, named as "payload P
// package ID" with its name, architecture and LCIDs; each machine where a
// user whose language has no package gets nothing. Empty when every package
// can be chosen and every user on both machines gets one. `entries` are the
// list's, from CollectEntries.
std::vector<std::string> SelectionWarnings(const PayloadList& list, const std::vector<InspectedEntry>& entries);
