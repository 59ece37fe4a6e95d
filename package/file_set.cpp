#include "package/file_set.h"

#include <cstring>

#include "base/bounded_text.h"
#include "base/error_pair.h"
#include "base/platform.h"
#include "package/manifest.h"
#include "package/names.h"
#include "payload/record_decoding.h"

namespace {

// Grows `items` (null: none yet) to count + 1 zero-filled items. Returns the
// new array, or null with the old one still valid and the last error set.
FileItem* GrowItems(FileItem* items, int32_t count) {
  const uint64_t bytes = (static_cast<uint64_t>(count) + 1) * sizeof(FileItem);
  if (count < 0 || bytes > UINT32_MAX) {
    platform::SetLastErrorCode(ErrorCode::NotEnoughMemory);
    return nullptr;
  }
  void* grown = items ? platform::GrowBlock(items, static_cast<uint32_t>(bytes), kBlockZeroed)
                      : platform::AllocBlock(static_cast<uint32_t>(bytes), kBlockZeroed);
  return static_cast<FileItem*>(grown);
}

bool NamesAreDistinctFiles(const FileSet& set) {
  for (int32_t i = 0; i < set.count; ++i)
    for (int32_t j = i + 1; j < set.count; ++j)
      if (ItemsAreOneFile(set.items[i], set.items[j])) return false;
  return true;
}

}  // namespace

// Names the file system takes for one are one file in the folder: a cab
// entry that names the package twice is that one file twice, over; any other
// pair (a cabinet named like the database, two cabinets one letter case
// apart, "\xC4.cab" and "\xE4.cab") would overwrite one another, or fail every
// folder there is, whatever their bytes.
bool ItemsAreOneFile(const FileItem& a, const FileItem& b) {
  const bool sameEntry = std::strcmp(a.name, b.name) == 0 && a.recordId == b.recordId;
  return !sameEntry && NamesFoldTogether(a.name, b.name);
}

bool LoadFileItem(const PayloadList* payloads, uint32_t payloadIndex, uint32_t id, FileItem* item,
                  const char* name) {
  std::memset(item, 0, sizeof *item);
  size_t length = 0;
  AppendFormat(item->name, sizeof item->name, &length, "%s", name);
  if (payloadIndex >= payloads->count) return false;
  item->recordId = id;
  const ErrorPair pair = ReadRecordWithKey(PayloadListKey(*payloads), payloads->items[payloadIndex], FileRecordType,
                                           id, &item->data, &item->size);
  if (pair.code != ErrorCode::Success) {
    item->data = nullptr;
    item->size = 0;
    return false;
  }
  return true;
}

bool BuildFileSet(const PayloadList* payloads, const PackageSelection& selection, FileSet* set) {
  // The product code becomes a folder name under %WINDIR%\Installer of an
  // elevated process: anything but a GUID could climb out of it.
  if (!IsBracedGuid(selection.productCode)) return false;
  FileItem* grown = GrowItems(set->items, set->count);
  if (!grown) return false;
  // The grown array is kept even when the database fails to load, so that
  // ReleaseFileSet frees it; the count says the set holds no new item.
  set->items = grown;
  if (!LoadFileItem(payloads, selection.payloadIndex, selection.packageId, &grown[set->count],
                    kDatabaseName))
    return false;
  ++set->count;

  CabCollection collection{&set->items, &set->count, selection.payloadIndex, selection.packageId, 0,
                           payloads};
  // A walk cut short inside or before the selected payload's manifest may
  // have missed cabinets of the package; extracting without them would only
  // fail later inside msiexec, so the set counts as not built. A cut in a
  // later payload hides nothing (cabinets come from the package's own
  // payload only), but memory running out fails the set wherever it struck.
  ManifestWalkStop stop{};
  const bool complete = ForEachManifestEntry(payloads, CollectCabEntry, &collection, &stop);
  const bool walkedOwnPayload =
      complete || (stop.noMemory == 0 && stop.payloadIndex > selection.payloadIndex);
  return walkedOwnPayload && collection.failed == 0 && NamesAreDistinctFiles(*set);
}

int32_t CollectCabEntry(uint32_t payloadIndex, uint32_t entryId, const char* text, void* context) {
  if (!context) return 1;
  auto* collection = static_cast<CabCollection*>(context);
  char kind[kManifestFieldSize], packageIds[kManifestFieldSize], fileName[kManifestFieldSize];
  char* const fields[] = {kind, packageIds, fileName};
  if (!SplitEntryFields(text, fields, 3)) return 1;
  if (!EqualsIgnoringAsciiCase(kind, "cab")) return 1;
  if (payloadIndex != collection->payloadIndex) return 1;

  const char* cursor = packageIds;
  uint32_t id;
  while (NextListNumber(&cursor, &id)) {
    if (id != collection->packageId) continue;
    if (!IsPlainFileName(fileName)) {
      // Joined to the folder, such a name would reach another folder or a
      // device: the cabinet cannot be extracted, so the set is not built.
      collection->failed = 1;
      return 1;
    }
    FileItem* grown = GrowItems(*collection->items, *collection->count);
    if (!grown) {
      collection->failed = 1;
      continue;
    }
    *collection->items = grown;
    if (!LoadFileItem(collection->payloads, payloadIndex, entryId, &grown[*collection->count], fileName))
      collection->failed = 1;  // the item stays, named and empty, so the set's shape is kept
    ++*collection->count;
  }
  return 1;
}
