#include "packer/commands/selection_checks.h"

#include <cstdint>

#include "package/entry_fields.h"
#include "package/selection.h"
#include "packer/commands/locale_names.h"

namespace {

// The machines the 32-bit launcher runs on, as its run context tells them
// apart.
struct MachineKind {
  const char* name;
  uint32_t isWow64;
};
constexpr MachineKind kMachines[] = {{"32-bit Windows", 0}, {"64-bit Windows", 1}};

struct Choice {
  SelectionPass pass;
  uint32_t payloadIndex;
  uint32_t packageId;
};

// The launcher's answer for one user; the run only reads the list.
Choice Choose(const PayloadList& list, uint32_t isWow64, uint32_t userLcid) {
  RunContext run{userLcid, isWow64, list};
  PackageSelection selection{};
  const SelectionPass pass = SelectPackageByPass(&run, &selection);
  return Choice{pass, selection.payloadIndex, selection.packageId};
}

// The LCIDs users can have that a package names. A user's LCID always
// holds a language identifier in its low 16 bits, never 0 there, so a
// listed 0 is nobody's. A user given a package by the language or the US
// English pass is given one that one of its own listed LCIDs selects
// outright, since an earlier package that took that LCID would have matched
// first in those passes too: these LCIDs find every package that can be
// chosen.
std::vector<uint32_t> ListedUserLcids(const std::vector<InspectedEntry>& entries) {
  std::vector<uint32_t> lcids;
  for (const InspectedEntry& entry : entries) {
    if (entry.kind != InspectedEntry::Kind::Package) continue;
    const char* cursor = entry.fields[1].c_str();
    uint32_t lcid;
    while (NextListNumber(&cursor, &lcid))
      if ((lcid & 0xFFFF) != 0) lcids.push_back(lcid);
  }
  return lcids;
}

// Users whose language no package has: the first LCID, of the known locales
// and then one per language byte, that neither the exact nor the language
// pass gives a package. False when every one of them has a package.
bool FindUnlistedUser(const PayloadList& list, uint32_t isWow64, uint32_t* lcid, Choice* choice) {
  std::vector<uint32_t> probes = TableLcids();
  for (uint32_t language = 1; language <= 0xFF; ++language) probes.push_back(0x0400 | language);
  for (uint32_t probe : probes) {
    *choice = Choose(list, isWow64, probe);
    if (choice->pass == SelectionPass::Exact || choice->pass == SelectionPass::Language) continue;
    *lcid = probe;
    return true;
  }
  return false;
}

std::string PackageText(const InspectedEntry& entry) {
  return "payload " + std::to_string(entry.payloadIndex) + " package " + std::to_string(entry.id) + " \"" +
         entry.fields[3] + "\" (" + entry.fields[0] + ", LCIDs " + entry.fields[1] + ")";
}

std::string LcidText(uint32_t lcid) {
  const std::string name = LocaleNameOf(lcid);
  return std::to_string(lcid) + (name.empty() ? "" : " (" + name + ")");
}

}  // namespace

std::vector<std::string> SelectionWarnings(const PayloadList& list, const std::vector<InspectedEntry>& entries) {
  const std::vector<uint32_t> lcids = ListedUserLcids(entries);
  std::vector<bool> chosen(entries.size(), false);
  std::vector<std::string> noPackage, noFallback;
  for (const MachineKind& machine : kMachines) {
    bool any = false;
    for (uint32_t lcid : lcids) {
      const Choice choice = Choose(list, machine.isWow64, lcid);
      if (choice.pass == SelectionPass::None) continue;
      any = true;
      for (size_t e = 0; e < entries.size(); ++e)
        if (entries[e].payloadIndex == choice.payloadIndex && entries[e].id == choice.packageId) chosen[e] = true;
    }
    if (!any) {
      noPackage.push_back(std::string("no package for ") + machine.name +
                          ": no user there is given one, whatever their language (the launcher never takes a "
                          "package of the other architecture)");
      continue;
    }
    uint32_t lcid = 0;
    Choice choice{};
    if (FindUnlistedUser(list, machine.isWow64, &lcid, &choice) && choice.pass == SelectionPass::None)
      noFallback.push_back(std::string("no US English (1033) package for ") + machine.name +
                           ": a user there whose language has no package (such as LCID " + LcidText(lcid) +
                           ") gets none");
  }
  std::vector<std::string> warnings = noPackage;
  for (size_t e = 0; e < entries.size(); ++e)
    if (entries[e].kind == InspectedEntry::Kind::Package && !chosen[e])
      warnings.push_back(PackageText(entries[e]) +
                         ": the launcher never chooses it, for no user on either architecture (its LCIDs are "
                         "0, which matches no user, or are taken first by earlier packages)");
  warnings.insert(warnings.end(), noFallback.begin(), noFallback.end());
  return warnings;
}
