#include "packer/commands/inspect_report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include <nlohmann/json.hpp>

#include "base/bounded_text.h"
#include "base/platform.h"
#include "package/entry_fields.h"
#include "package/file_set.h"
#include "package/file_writer.h"
#include "package/manifest.h"
#include "package/names.h"
#include "package/selection.h"
#include "packer/cli/cli.h"
#include "packer/commands/keys.h"
#include "packer/io/file_io.h"
#include "payload/carriers.h"
#include "payload/payload_key.h"
#include "payload/record_decoding.h"

namespace {

int32_t CollectEntry(uint32_t payloadIndex, uint32_t entryId, const char* text, void* context) {
  auto* entries = static_cast<std::vector<InspectedEntry>*>(context);
  InspectedEntry entry;
  entry.payloadIndex = payloadIndex;
  entry.id = entryId;
  entry.text = text;
  char buffers[4][kManifestFieldSize];
  char* fields[4] = {buffers[0], buffers[1], buffers[2], buffers[3]};
  if (SplitEntryFields(text, fields, 3) && EqualsIgnoringAsciiCase(buffers[0], "cab")) {
    entry.kind = InspectedEntry::Kind::Cab;
    for (int i = 0; i < 3; ++i) entry.fields[i] = buffers[i];
    const char* cursor = buffers[1];
    uint32_t value = 0;
    while (NextListNumber(&cursor, &value)) entry.packageIds.push_back(value);
  } else if (SplitEntryFields(text, fields, 4)) {
    entry.kind = InspectedEntry::Kind::Package;
    for (int i = 0; i < 4; ++i) entry.fields[i] = buffers[i];
  }
  entries->push_back(entry);
  return 1;
}

// The launcher refuses a package two of whose files are one file on
// Windows: asked of the file set it builds for the package, whose first
// item is the database and each other a cab entry's record. A cab entry
// naming the package twice is in the set twice; its pairs are told once.
void CheckOneFileNames(const PayloadList& list, const InspectedEntry& package, std::vector<std::string>* problems) {
  PackageSelection selection{};
  selection.payloadIndex = package.payloadIndex;
  selection.packageId = package.id;
  char* const fields[] = {selection.architecture, selection.lcidList, selection.productCode, selection.productName};
  for (int i = 0; i < 4; ++i) {
    size_t length = 0;
    AppendFormat(fields[i], kManifestFieldSize, &length, "%s", package.fields[i].c_str());
  }
  FileSet set{};
  set.cursor = -1;
  set.chunkSize = kWriterChunkSize;
  BuildFileSet(&list, selection, &set);  // the items it got to are what the launcher would write
  const size_t first = problems->size();
  const auto what = [&set](int32_t i) {
    return i == 0 ? std::string("the database") : "entry " + std::to_string(set.items[i].recordId);
  };
  for (int32_t i = 0; i < set.count; ++i)
    for (int32_t j = i + 1; j < set.count; ++j) {
      const FileItem& a = set.items[i];
      const FileItem& b = set.items[j];
      if (!ItemsAreOneFile(a, b)) continue;
      const std::string problem = "payload " + std::to_string(package.payloadIndex) + " package " +
                                  std::to_string(package.id) + ": \"" + a.name + "\" (" + what(i) + ") and \"" +
                                  b.name + "\" (" + what(j) + ") are one file on Windows";
      if (std::find(problems->begin() + static_cast<std::ptrdiff_t>(first), problems->end(), problem) == problems->end())
        problems->push_back(problem);
    }
  ReleaseFileSet(&set);
}

// The key the launcher in `file` verifies with, without its bindings: the
// one in its key slot, or, for a file without a slot (a bare payload, a
// launcher built before key slots), the packer's own built-in key. Null
// when there is none; *name says whose key it is, or why there is none, for
// messages.
const PayloadKey* LaunchersKey(const std::vector<uint8_t>& file, PayloadKey* key, std::string* name) {
  StubKeySlot found;
  if (FindKeySlot(ByteView{file.data(), file.size()}, &found) != KeySlotSearch::Found) {
    *name = "the built-in key (pass --key)";
    if (!LoadBuiltInKey(key)) return nullptr;
  } else if (found.slot.state == kKeySlotEmpty) {
    *name = "its key slot is empty, so the launcher verifies nothing (stamp a key with set-key, or pass --key)";
    return nullptr;
  } else {
    *name = "the key in its key slot (pass --key)";
    *key = found.slot.key;
  }
  key->bindingCount = 0;
  return key;
}

}  // namespace

namespace {

// The library's escaping, but every control byte as \u00XX: the library
// writes \b, \f, \n, \r and \t short, where this JSON never has.
std::string JsonStringText(const std::string& text) {
  static const char kShortForms[] = "bfnrt", kBytes[] = "\b\f\n\r\t";
  const std::string escaped =
      nlohmann::ordered_json(text).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  std::string out;
  for (size_t i = 0; i < escaped.size(); ++i) {
    out += escaped[i];
    if (escaped[i] != '\\' || i + 1 == escaped.size()) continue;
    const char* shortForm = std::strchr(kShortForms, escaped[++i]);
    if (shortForm == nullptr || *shortForm == '\0') {
      out += escaped[i];  // \" \\ \uXXXX stay as they are
      continue;
    }
    char unicode[8];
    std::snprintf(unicode, sizeof unicode, "u%04x", kBytes[shortForm - kShortForms]);
    out += unicode;
  }
  return out;
}

void AppendJson(const nlohmann::ordered_json& value, std::string* out) {
  using Type = nlohmann::ordered_json::value_t;
  switch (value.type()) {
    case Type::object: {
      *out += '{';
      bool first = true;
      for (const auto& item : value.items()) {
        *out += (first ? "" : ", ") + JsonStringText(item.key()) + ": ";
        AppendJson(item.value(), out);
        first = false;
      }
      *out += '}';
      break;
    }
    case Type::array: {
      *out += '[';
      for (size_t i = 0; i < value.size(); ++i) {
        if (i) *out += ", ";
        AppendJson(value[i], out);
      }
      *out += ']';
      break;
    }
    case Type::string: *out += JsonStringText(value.get_ref<const std::string&>()); break;
    case Type::number_float: {
      char text[32];
      std::snprintf(text, sizeof text, "%.3f", value.get<double>());
      *out += text;
      break;
    }
    default: *out += value.dump(); break;  // null, true, false, whole numbers
  }
}

}  // namespace

std::string JsonText(const nlohmann::ordered_json& value) {
  std::string out;
  AppendJson(value, &out);
  return out;
}

bool FindPayloads(const std::vector<uint8_t>& file, const PayloadKey* key, PayloadList* list, std::string* carrier,
                  std::string* error) {
  if (!FitsLauncherFile(file.size())) {
    *error = "larger than 4 GiB, more than the launcher reads";
    return false;
  }
  const uint32_t size = static_cast<uint32_t>(file.size());
  // The launcher's own carriers, with --key's key in place of the launcher's.
  PayloadKey launchers;
  std::string keyName = "the given key";
  const PayloadKey* used = key != nullptr ? key : LaunchersKey(file, &launchers, &keyName);
  ErrorPair pair = ReadCertificatePayloadsWithKey(used, file.data(), size, list);
  *carrier = "certificate";
  if (pair.code == 0 && list->count == 0) {
    pair = ReadTailPayloadWithKey(used, file.data(), size, list);
    *carrier = size >= 2 && file[0] == 'M' && file[1] == 'Z' ? "tail" : "stack";
  }
  if (pair.code == 0) return true;
  if (pair.code == ErrorCode::NotFound) {
    *carrier = "none";
    *error = "no payload: no certificate carries one and no record stack ends the file";
  } else if (pair.code == ErrorCode::BadKey) {
    *error = "the " + *carrier + " payload's manifest cannot be verified: " + keyName;
  } else if (pair.code == ErrorCode::FileCorrupt) {
    *error = "the " + *carrier + " payload's manifest does not verify with " + keyName + " (code " +
             std::to_string(ErrorCode::FileCorrupt) + ", line " + std::to_string(pair.line) + ")";
  } else {
    *error = "the " + *carrier + " payload cannot be read: " + DescribePair(pair);
  }
  return false;
}

bool CollectEntries(const PayloadList& list, std::vector<InspectedEntry>* entries) {
  entries->clear();
  return ForEachManifestEntry(&list, CollectEntry, entries);
}

std::vector<std::string> CheckManifest(const PayloadList& list, const std::vector<InspectedEntry>& entries) {
  std::vector<std::string> problems;
  for (const InspectedEntry& entry : entries) {
    const std::string where = "payload " + std::to_string(entry.payloadIndex) + " entry " + std::to_string(entry.id);
    LocatedRecord located;
    const PayloadItem& item = list.items[entry.payloadIndex];
    if (entry.kind == InspectedEntry::Kind::Unknown) {
      problems.push_back(where + ": \"" + entry.text + "\" is neither a package nor a cab entry");
      continue;
    }
    if (entry.id == 0) problems.push_back(where + ": id 0 is the manifest's own");
    // What the launcher refuses to turn into a path (its file set then fails).
    if (entry.kind == InspectedEntry::Kind::Package && !IsBracedGuid(entry.fields[2].c_str()))
      problems.push_back(where + ": product code \"" + entry.fields[2] + "\" is not a GUID in braces");
    if (entry.kind == InspectedEntry::Kind::Package) CheckOneFileNames(list, entry, &problems);
    if (entry.kind == InspectedEntry::Kind::Cab && !IsPlainFileName(entry.fields[2].c_str()))
      problems.push_back(where + ": file name \"" + entry.fields[2] + "\" is not a plain file name");
    if (!LocateRecord(item.raw, item.rawSize, FileRecordType, entry.id, &located))
      problems.push_back(where + ": no file record holds its " +
                         (entry.kind == InspectedEntry::Kind::Package ? std::string("database") : entry.fields[2]));
    for (uint32_t packageId : entry.packageIds) {
      bool exists = false;
      for (const InspectedEntry& other : entries)
        exists = exists || (other.payloadIndex == entry.payloadIndex && other.id == packageId &&
                            other.kind == InspectedEntry::Kind::Package);
      if (!exists) problems.push_back(where + ": names package " + std::to_string(packageId) + ", which does not exist");
    }
  }
  return problems;
}

std::string DescribePair(const ErrorPair& pair) {
  std::string meaning;
  switch (pair.code) {
    case ErrorCode::NotFound: meaning = "record not found"; break;
    case ErrorCode::InvalidData: meaning = "data does not decompress"; break;
    case ErrorCode::FileCorrupt: meaning = "signature does not verify"; break;
    case ErrorCode::NotEnoughMemory: meaning = "out of memory"; break;
    default: meaning = "failed"; break;
  }
  return meaning + " (code " + std::to_string(pair.code) + ", line " + std::to_string(pair.line) + ")";
}

RecordReport ReadOneRecord(const PayloadItem& item, const Guid16& type, uint32_t id, const PayloadKey* key,
                           std::vector<uint8_t>* content) {
  RecordReport report;
  report.type = type == ManifestRecordType ? "manifest" : "file";
  report.id = id;
  LocatedRecord located;
  report.found = LocateRecord(item.raw, item.rawSize, type, id, &located);
  if (report.found) {
    report.storedSize = located.dataSize;
    report.signatureSize = located.signatureSize;
  }
  uint8_t* decoded = nullptr;
  uint32_t decodedSize = 0;
  if (key != nullptr) {
    report.pair = ReadRecordWithKey(key, item, type, id, &decoded, &decodedSize);
  } else if (report.found) {
    report.pair = DecodeRecord(item.flags & ~PayloadFlagSigned, located, &decoded, &decodedSize);
  } else {
    report.pair = ErrorPair{ErrorCode::NotFound, kRecordNotFound};
  }
  if (report.pair.code == 0) {
    report.decodedSize = decodedSize;
    if (content != nullptr) content->assign(decoded, decoded + decodedSize);
    platform::FreeBlock(decoded);
  }
  return report;
}

const PayloadKey* ReportKey(const InspectReport& report) { return report.keyGiven ? &report.key : nullptr; }

bool SlotBinds(const InspectReport& report) {
  return report.slotSearch == KeySlotSearch::Found && report.slot.slot.state == kKeySlotStamped &&
         report.slot.slot.key.bindingCount != 0;
}

bool PayloadBound(const InspectReport& report, uint32_t index) {
  return !SlotBinds(report) ||
         (index < report.manifestDigests.size() &&
          BindsManifest(report.slot.slot.key, report.manifestDigests[index].data()));
}

std::string DescribeBindings(const InspectReport& report) {
  if (!SlotBinds(report)) return "";
  std::string out = "bound to " + std::to_string(report.slot.slot.key.bindingCount) + " payload(s)";
  for (uint32_t p = 0; p < report.list.count; ++p)
    out += (p ? ", payload " : "; payload ") + std::to_string(p) +
           (PayloadBound(report, p) ? " bound" : " not bound (the launcher refuses it)");
  return out;
}

std::vector<std::string> AllProblems(const InspectReport& report) {
  std::vector<std::string> problems = report.problems;
  if (!report.slotProblem.empty()) problems.push_back(report.slotProblem);
  for (uint32_t p = 0; p < report.list.count; ++p)
    if (!PayloadBound(report, p))
      problems.push_back("payload " + std::to_string(p) + ": its manifest (sha256 " +
                         DigestHex(report.manifestDigests[p].data()) +
                         ") is not one the key slot is bound to: the launcher refuses it (code " +
                         std::to_string(ErrorCode::FileCorrupt) + ", line " + std::to_string(kNotVerifiedManifest) + ")");
  return problems;
}

std::string DescribeKeySlot(const InspectReport& report) {
  switch (report.slotSearch) {
    case KeySlotSearch::NotPe:
    case KeySlotSearch::None: return "";
    case KeySlotSearch::CutShort:
    case KeySlotSearch::Several:
    case KeySlotSearch::Unreadable: return DescribeKeySlotSearch(report.slotSearch);
    case KeySlotSearch::Found: break;
  }
  if (report.slot.slot.state == kKeySlotEmpty) return "empty (the launcher verifies nothing: stamp a key with set-key)";
  const uint32_t bindings = report.slot.slot.key.bindingCount;
  return "stamped, key sha256 " + KeyFingerprint(report.slot.slot.key.modulus) +
         (bindings ? ", bound to " + std::to_string(bindings) + " payload(s)" : std::string());
}

namespace {

// With --key, what the launcher in the file would do differently: it
// verifies with its slot's key, not with --key's.
std::string SlotProblem(const InspectReport& report) {
  if (!report.keyGiven || report.slotSearch != KeySlotSearch::Found) return "";
  if (report.slot.slot.state == kKeySlotEmpty)
    return "its key slot is empty: the launcher verifies nothing (stamp the key with set-key)";
  if (std::memcmp(report.slot.slot.key.modulus, report.key.modulus, sizeof report.key.modulus) == 0) return "";
  return "its key slot holds another key (sha256 " + KeyFingerprint(report.slot.slot.key.modulus) +
         "): the launcher refuses what --key verifies";
}

}  // namespace

int ExitCodeOf(ReportOpening opened) {
  return opened == ReportOpening::NoPayload ? kExitInvalid : kExitFailed;
}

ReportOpening OpenReport(const std::string& path, const std::string& keyPath, InspectReport* report,
                         std::string* error, bool stubAllowed) {
  report->path = path;
  report->keyGiven = !keyPath.empty();
  if (report->keyGiven && !LoadPublicModulus(keyPath, report->key.modulus, error)) return ReportOpening::Unreadable;
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, &file, error)) return ReportOpening::Unreadable;
  report->slotSearch = FindKeySlot(ByteView{file.data(), file.size()}, &report->slot);
  report->slotProblem = SlotProblem(*report);
  ResourceSection section;
  std::vector<Resource> resources;
  std::string resourceError;
  report->hasResources = FindResourceSection(ByteView{file.data(), file.size()}, &section, &resourceError) &&
                         ReadResources(section, &resources, &resourceError);
  if (report->hasResources) report->brand = ReadBrand(resources);
  if (!FindPayloads(file, ReportKey(*report), &report->list, &report->carrier, error)) {
    if (stubAllowed && report->carrier == "none" && report->slotSearch == KeySlotSearch::Found)
      return ReportOpening::Opened;
    *error = path + ": " + *error;
    return ReportOpening::NoPayload;
  }
  for (uint32_t p = 0; p < report->list.count; ++p) {
    ManifestDigest digest;
    DigestBytes(report->list.items[p].manifest, report->list.items[p].manifestSize, digest.data());
    report->manifestDigests.push_back(digest);
  }
  const bool complete = CollectEntries(report->list, &report->entries);
  report->problems = CheckManifest(report->list, report->entries);
  if (!complete) report->problems.push_back("a manifest entry is cut short");
  return ReportOpening::Opened;
}

void ReadRecords(InspectReport* report) {
  report->payloads.assign(report->list.count, PayloadReport());
  for (uint32_t p = 0; p < report->list.count; ++p)
    report->payloads[p].manifest =
        ReadOneRecord(report->list.items[p], ManifestRecordType, 0, ReportKey(*report), nullptr);
  for (const InspectedEntry& entry : report->entries)
    report->payloads[entry.payloadIndex].files.push_back(
        ReadOneRecord(report->list.items[entry.payloadIndex], FileRecordType, entry.id, ReportKey(*report), nullptr));
}
