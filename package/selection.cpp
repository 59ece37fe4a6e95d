#include "package/selection.h"

#include "base/bounded_text.h"
#include "package/manifest.h"

namespace {

constexpr uint32_t kUsEnglish = 1033;
constexpr uint32_t kLanguageMask = 0xFFFF;    // the LANGID; sort bits above are ignored
constexpr uint32_t kLanguageOnlyMask = 0xFF;  // deliberately narrower than the 10-bit primary language

bool LcidMatches(uint32_t listed, uint32_t user, uint32_t languageOnly) {
  const uint32_t mask = languageOnly ? kLanguageOnlyMask : kLanguageMask;
  return (listed & mask) == (user & mask);
}

}  // namespace

int32_t MatchPackageEntry(uint32_t payloadIndex, uint32_t entryId, const char* text, void* context) {
  if (!context) return 1;
  const auto* match = static_cast<const PackageMatch*>(context);
  PackageSelection* selection = match->selection;
  char* const fields[] = {selection->architecture, selection->lcidList, selection->productCode,
                          selection->productName};
  if (!SplitEntryFields(text, fields, 4)) return 1;

  const char* wantedArchitecture = match->run->isWow64 ? "x64" : "Intel";
  const char* cursor = selection->lcidList;
  uint32_t lcid;
  while (NextListNumber(&cursor, &lcid)) {
    if (!LcidMatches(lcid, match->run->userLcid, selection->languageOnly)) continue;
    if (!EqualsIgnoringAsciiCase(selection->architecture, wantedArchitecture)) continue;
    selection->payloadIndex = payloadIndex;
    selection->packageId = entryId;
    return 0;
  }
  return 1;
}

SelectionPass SelectPackageByPass(RunContext* run, PackageSelection* selection) {
  PackageMatch match{selection, run};
  selection->languageOnly = 0;
  ForEachManifestEntry(&run->payloads, MatchPackageEntry, &match);
  if (selection->packageId != 0) return SelectionPass::Exact;
  selection->languageOnly = 1;
  ForEachManifestEntry(&run->payloads, MatchPackageEntry, &match);
  if (selection->packageId != 0) return SelectionPass::Language;
  if (run->userLcid == kUsEnglish) return SelectionPass::None;
  selection->languageOnly = 0;
  run->userLcid = kUsEnglish;
  ForEachManifestEntry(&run->payloads, MatchPackageEntry, &match);
  return selection->packageId != 0 ? SelectionPass::UsEnglish : SelectionPass::None;
}

bool SelectPackage(RunContext* run, PackageSelection* selection) {
  return SelectPackageByPass(run, selection) != SelectionPass::None;
}
