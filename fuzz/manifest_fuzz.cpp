// The manifest walk, the package selection and the cab collection on
// arbitrary manifests. Each manifest lives in a heap block of exactly its
// size, so a read past it hits ASan's redzone; the fields the visitors fill
// must stay terminated inside their buffers.
//
// Input: one control byte, then either raw manifest bytes (bit 7 clear; bit 0
// splits them into two payloads at the offset in the next two bytes) or, with
// bit 7 set, lines separated by '\n' that become well-formed entries (first
// byte the id, the rest the text, one UTF-16 unit per byte; a line "--"
// starts the second payload), so that the grammar is reached quickly.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "package/file_set.h"
#include "package/file_writer.h"
#include "package/manifest.h"
#include "package/selection.h"
#include "tests/support/bytes.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> ManifestsFromLines(const uint8_t* data, size_t size) {
  std::vector<Bytes> manifests(1);
  size_t at = 0;
  while (at < size) {
    size_t end = at;
    while (end < size && data[end] != '\n') ++end;
    const size_t length = end - at;
    if (length == 2 && data[at] == '-' && data[at + 1] == '-') {
      if (manifests.size() < 2) manifests.emplace_back();
    } else if (length > 0) {
      Bytes& m = manifests.back();
      AppendU32(m, data[at]);
      AppendU32(m, static_cast<uint32_t>(length) * 2);  // the text's units and a NUL
      for (size_t i = at + 1; i < end; ++i) m.insert(m.end(), {data[i], 0});
      m.insert(m.end(), {0, 0});
    }
    at = end + 1;
  }
  return manifests;
}

std::vector<Bytes> ManifestsFromBytes(uint8_t control, const uint8_t* data, size_t size) {
  if (!(control & 1) || size < 2) return {Bytes(data, data + size)};
  size_t split = static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8;
  data += 2;
  size -= 2;
  if (split > size) split = size;
  return {Bytes(data, data + split), Bytes(data + split, data + size)};
}

void CheckTerminated(const char* field, size_t size) {
  if (memchr(field, 0, size) == nullptr) std::abort();
}

int32_t CountEntry(uint32_t payloadIndex, uint32_t, const char* text, void* context) {
  auto* counts = static_cast<uint32_t*>(context);
  if (payloadIndex > 1) std::abort();
  ++counts[payloadIndex];
  volatile size_t length = strlen(text);  // the text must be terminated inside its block
  (void)length;
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 20) return 0;
  const uint8_t control = data[0];
  const std::vector<Bytes> manifests =
      control & 0x80 ? ManifestsFromLines(data + 1, size - 1) : ManifestsFromBytes(control, data + 1, size - 1);

  std::vector<uint8_t*> blocks;
  std::vector<PayloadItem> items;
  for (const Bytes& m : manifests) {
    auto* block = static_cast<uint8_t*>(std::malloc(m.size() ? m.size() : 1));
    if (!m.empty()) std::memcpy(block, m.data(), m.size());
    blocks.push_back(block);
    // No raw block: every file record is "not found", which is all the cab
    // collection needs to run its whole course.
    items.push_back(PayloadItem{nullptr, 0, block, static_cast<uint32_t>(m.size()), 3});
  }
  PayloadList list{items.data(), static_cast<uint32_t>(items.size()), 0, {}};

  uint32_t counts[2] = {0, 0};
  ForEachManifestEntry(&list, CountEntry, counts);

  static const struct {
    uint32_t lcid;
    uint32_t wow64;
  } kRuns[] = {{1033, 0}, {1033, 1}, {1031, 1}, {2055, 0}, {0x10407, 1}, {1034, 0}};
  for (const auto& r : kRuns) {
    RunContext run{r.lcid, r.wow64, list};
    PackageSelection selection{};
    const bool selected = SelectPackage(&run, &selection);
    if (selected != (selection.packageId != 0)) std::abort();
    if (selected && selection.payloadIndex >= list.count) std::abort();
    if (run.userLcid != r.lcid && run.userLcid != 1033) std::abort();
    CheckTerminated(selection.architecture, sizeof selection.architecture);
    CheckTerminated(selection.lcidList, sizeof selection.lcidList);
    CheckTerminated(selection.productCode, sizeof selection.productCode);
    CheckTerminated(selection.productName, sizeof selection.productName);

    // Collect the cabinets of the selected package, or of package 1 when
    // nothing was selected, so that the cab visitor always runs.
    FileSet set{nullptr, 0, -1, kWriterChunkSize, 0, nullptr};
    CabCollection collection{&set.items, &set.count, selection.payloadIndex,
                             selected ? selection.packageId : 1u, 0, &list};
    ForEachManifestEntry(&list, CollectCabEntry, &collection);
    if (set.count > 0 && collection.failed != 1) std::abort();  // no record can load
    for (int32_t i = 0; i < set.count; ++i) {
      CheckTerminated(set.items[i].name, sizeof set.items[i].name);
      if (set.items[i].data || set.items[i].handle) std::abort();
    }
    ReleaseFileSet(&set);
  }

  for (uint8_t* block : blocks) std::free(block);
  return 0;
}
