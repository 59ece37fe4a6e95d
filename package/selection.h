// The choice of one package entry for this machine's architecture and the
// user's locale.
#pragma once

#include <cstdint>

#include "package/run_context.h"
#include "package/entry_fields.h"

struct PackageSelection {
  uint32_t languageOnly;  // 0: compare LCIDs on their low 16 bits; else on their low 8 bits
  uint32_t payloadIndex;  // the payload holding the selected entry (valid when packageId != 0)
  uint32_t packageId;     // id of the selected package entry; 0: nothing selected
  // The fields of the last package entry parsed; the selected entry's once
  // packageId is non-zero.
  char architecture[kManifestFieldSize];
  char lcidList[kManifestFieldSize];
  char productCode[kManifestFieldSize];
  char productName[kManifestFieldSize];
};

// The context of MatchPackageEntry: the selection being made and the run
// whose user LCID and WOW64 answer it matches against.
struct PackageMatch {
  PackageSelection* selection;
  const RunContext* run;
};

// ManifestEntryVisitor over a PackageMatch. Parses a package entry into the
// selection's text fields; when an element of its LCID list matches the
// run's userLcid (under selection->languageOnly) and its architecture is the
// machine's ("x64" on WOW64, else "Intel", ASCII case ignored), records the
// payload index and entry id and returns 0 to stop the walk. Returns 1 for
// everything else, including a null context, entries that are not package
// entries and entries with a field longer than 255 bytes.
int32_t MatchPackageEntry(uint32_t payloadIndex, uint32_t entryId, const char* text, void* context);

// The walk that selected a package.
enum class SelectionPass : uint32_t {
  None,       // no walk did: no package fits
  Exact,      // the user's LCID on its low 16 bits
  Language,   // its low 8 bits
  UsEnglish,  // 1033, the user's LCID being another
};

// Runs up to three walks over run->payloads: exact LCID, language only, and
// then, unless the user's LCID is already 1033, exact with run->userLcid set
// to 1033 for the rest of the run. `selection` must be zeroed. Returns the
// walk that selected a package (selection->packageId non-zero), None when
// none did.
SelectionPass SelectPackageByPass(RunContext* run, PackageSelection* selection);

// SelectPackageByPass, answering only whether a package was selected.
bool SelectPackage(RunContext* run, PackageSelection* selection);
