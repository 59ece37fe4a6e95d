#include "packer/inspect_command.h"


#include <cstdio>
#include <cstdlib>
#include <limits>

#include "base/bounded_text.h"
#include "base/platform.h"
#include "package/entry_fields.h"
#include "package/manifest.h"
#include "package/names.h"
#include "packer/commands.h"
#include "packer/file_io.h"
#include "packer/keys.h"
#include "payload/carriers.h"
#include "payload/payload_key.h"
#include "payload/record_decoding.h"
#include "payload/record_stack.h"

namespace {

struct ListHolder {
  PayloadList list{};
  ~ListHolder() { ReleasePayloadList(&list); }
};

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

// One record read as the launcher reads it, with the key given or, without
// one, decoded but not verified.
struct RecordReport {
  const char* type = "file";
  uint32_t id = 0;
  bool found = false;
  uint32_t storedSize = 0;
  uint32_t signatureSize = 0;
  uint32_t decodedSize = 0;
  bool verifiable = false;  // a key was given
  ErrorPair pair{0, 0};
  std::vector<uint8_t> content;
};

RecordReport ReadOneRecord(const PayloadItem& item, const Guid16& type, uint32_t id, const uint8_t* modulus) {
  RecordReport report;
  report.type = type == ManifestRecordType ? "manifest" : "file";
  report.id = id;
  report.verifiable = modulus != nullptr;
  LocatedRecord located;
  report.found = LocateRecord(item.raw, item.rawSize, type, id, &located);
  if (report.found) {
    report.storedSize = located.dataSize;
    report.signatureSize = located.signatureSize;
  }
  uint8_t* content = nullptr;
  uint32_t contentSize = 0;
  if (modulus != nullptr) {
    report.pair = ReadRecordWithKey(modulus, item, type, id, &content, &contentSize);
  } else if (report.found) {
    report.pair = DecodeRecord(item.flags & ~PayloadFlagSigned, located, &content, &contentSize);
  } else {
    report.pair = ErrorPair{ErrorCode::NotFound, 509};
  }
  if (report.pair.code == 0) {
    report.decodedSize = contentSize;
    report.content.assign(content, content + contentSize);
    platform::FreeBlock(content);
  }
  return report;
}

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

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Ratio(uint32_t stored, uint32_t decoded) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", decoded == 0 ? 0.0 : static_cast<double>(stored) / decoded);
  return text;
}

bool LoadKeyOption(const std::string& keyPath, uint8_t modulus[256]) {
  std::string error;
  if (LoadPublicModulus(keyPath, modulus, &error)) return true;
  ReportError(error);
  return false;
}

// Opens FILE and finds its payloads; reports and returns an exit code
// other than kExitOk on failure.
int OpenFile(const std::string& path, const uint8_t* modulus, PayloadList* list, std::string* carrier) {
  std::vector<uint8_t> file;
  std::string error;
  if (!ReadWholeFile(path, &file, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  if (!FindPayloads(file, modulus, list, carrier, &error)) {
    ReportError(path + ": " + error);
    return kExitInvalid;
  }
  return kExitOk;
}

const char* KindName(InspectedEntry::Kind kind) {
  return kind == InspectedEntry::Kind::Package ? "package" : kind == InspectedEntry::Kind::Cab ? "cab" : "unknown";
}

}  // namespace

bool FindPayloads(const std::vector<uint8_t>& file, const uint8_t* modulus, PayloadList* list,
                  std::string* carrier, std::string* error) {
  if (file.size() > std::numeric_limits<uint32_t>::max()) {
    *error = "larger than 4 GiB, more than the launcher reads";
    return false;
  }
  const uint32_t size = static_cast<uint32_t>(file.size());
  // The launcher's own carriers, with --key's modulus in place of the built-in one.
  const uint8_t* key = modulus != nullptr ? modulus : kPayloadKeyModulus;
  ErrorPair pair = ReadCertificatePayloadsWithKey(key, file.data(), size, list);
  *carrier = "certificate";
  if (pair.code == 0 && list->count == 0) {
    pair = ReadTailPayloadWithKey(key, file.data(), size, list);
    *carrier = size >= 2 && file[0] == 'M' && file[1] == 'Z' ? "tail" : "stack";
  }
  if (pair.code == 0) return true;
  const std::string keyName = modulus != nullptr ? "the given key" : "the built-in key (pass --key)";
  if (pair.code == ErrorCode::NotFound) {
    *error = "no payload: no certificate carries one and no record stack ends the file";
  } else if (pair.code == ErrorCode::FileCorrupt) {
    *error = "the " + *carrier + " payload's manifest does not verify with " + keyName + " (code 1392, line " +
             std::to_string(pair.line) + ")";
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

int RunInspect(const std::string& path, const std::string& keyPath, bool json) {
  uint8_t modulus[256];
  if (!keyPath.empty() && !LoadKeyOption(keyPath, modulus)) return kExitFailed;
  const uint8_t* key = keyPath.empty() ? nullptr : modulus;
  ListHolder holder;
  std::string carrier;
  int status = OpenFile(path, key, &holder.list, &carrier);
  if (status != kExitOk) return status;
  std::vector<InspectedEntry> entries;
  bool complete = CollectEntries(holder.list, &entries);
  std::vector<std::string> problems = CheckManifest(holder.list, entries);
  if (!complete) problems.push_back("a manifest entry is cut short");
  bool allVerified = problems.empty();
  std::string out;
  if (json) out += "{\"file\": " + JsonString(path) + ", \"carrier\": " + JsonString(carrier) + ", \"payloads\": [";
  else out += path + ": " + std::to_string(holder.list.count) + " payload(s), " + carrier + " carrier\n";
  for (uint32_t p = 0; p < holder.list.count; ++p) {
    const PayloadItem& item = holder.list.items[p];
    std::vector<RecordReport> records;
    records.push_back(ReadOneRecord(item, ManifestRecordType, 0, key));
    if (json) {
      out += std::string(p ? ", " : "") + "{\"index\": " + std::to_string(p) + ", \"size\": " +
             std::to_string(item.rawSize) + ", \"flags\": " + std::to_string(item.flags) + ", \"entries\": [";
    } else {
      out += "payload " + std::to_string(p) + ": " + std::to_string(item.rawSize) + " bytes, flags " +
             std::to_string(item.flags) + "\n";
    }
    bool first = true;
    for (const InspectedEntry& entry : entries) {
      if (entry.payloadIndex != p) continue;
      records.push_back(ReadOneRecord(item, FileRecordType, entry.id, key));
      if (json) {
        out += std::string(first ? "" : ", ") + "{\"id\": " + std::to_string(entry.id) + ", \"kind\": \"" +
               KindName(entry.kind) + "\"";
        if (entry.kind == InspectedEntry::Kind::Package) {
          out += ", \"architecture\": " + JsonString(entry.fields[0]) + ", \"lcids\": " + JsonString(entry.fields[1]) +
                 ", \"productCode\": " + JsonString(entry.fields[2]) + ", \"productName\": " +
                 JsonString(entry.fields[3]);
        } else if (entry.kind == InspectedEntry::Kind::Cab) {
          out += ", \"packages\": [";
          for (size_t i = 0; i < entry.packageIds.size(); ++i)
            out += (i ? ", " : "") + std::to_string(entry.packageIds[i]);
          out += "], \"fileName\": " + JsonString(entry.fields[2]);
        } else {
          out += ", \"text\": " + JsonString(entry.text);
        }
        out += "}";
      } else if (entry.kind == InspectedEntry::Kind::Package) {
        out += "  entry " + std::to_string(entry.id) + ": package " + entry.fields[0] + " lcids " + entry.fields[1] +
               " " + entry.fields[2] + " \"" + entry.fields[3] + "\"\n";
      } else if (entry.kind == InspectedEntry::Kind::Cab) {
        out += "  entry " + std::to_string(entry.id) + ": cab " + entry.fields[2] + " for packages " +
               entry.fields[1] + "\n";
      } else {
        out += "  entry " + std::to_string(entry.id) + ": unknown \"" + entry.text + "\"\n";
      }
      first = false;
    }
    if (json) out += "], \"records\": [";
    for (size_t r = 0; r < records.size(); ++r) {
      const RecordReport& record = records[r];
      std::string state = record.pair.code != 0 ? DescribePair(record.pair)
                          : record.verifiable  ? "verified"
                                               : "not checked (no --key)";
      if (record.pair.code != 0) allVerified = false;
      if (json) {
        out += std::string(r ? ", " : "") + "{\"type\": \"" + record.type + "\", \"id\": " + std::to_string(record.id) +
               ", \"found\": " + (record.found ? "true" : "false") + ", \"storedSize\": " +
               std::to_string(record.storedSize) + ", \"signatureSize\": " + std::to_string(record.signatureSize) +
               ", \"decodedSize\": " + std::to_string(record.decodedSize) + ", \"ratio\": " +
               Ratio(record.storedSize, record.decodedSize) + ", \"verified\": " +
               (record.verifiable ? (record.pair.code == 0 ? "true" : "false") : "null") +
               ", \"status\": " + JsonString(state) + "}";
      } else {
        out += "  record " + std::string(record.type) + " " + std::to_string(record.id) + ": stored " +
               std::to_string(record.storedSize) + " + " + std::to_string(record.signatureSize) +
               " signature, decoded " + std::to_string(record.decodedSize) + " (ratio " +
               Ratio(record.storedSize, record.decodedSize) + "), " + state + "\n";
      }
    }
    if (json) out += "]}";
  }
  if (json) {
    out += "], \"problems\": [";
    for (size_t i = 0; i < problems.size(); ++i) out += (i ? ", " : "") + JsonString(problems[i]);
    out += std::string("], \"verified\": ") + (key == nullptr ? "null" : allVerified ? "true" : "false") + "}\n";
  } else {
    for (const std::string& problem : problems) out += "problem: " + problem + "\n";
  }
  std::fputs(out.c_str(), stdout);
  return kExitOk;
}

// What verify and extract both start from: the payloads found with --key,
// their manifest entries, and what is wrong with the manifest.
struct CheckedFile {
  uint8_t modulus[256];
  ListHolder holder;
  std::vector<InspectedEntry> entries;
  std::vector<std::string> problems;
};

// Loads the key and the file; kExitOk, or the exit code of the failure
// (already reported).
int OpenAndCheck(const std::string& path, const std::string& keyPath, CheckedFile* checked) {
  if (!LoadKeyOption(keyPath, checked->modulus)) return kExitFailed;
  std::string carrier;
  const int status = OpenFile(path, checked->modulus, &checked->holder.list, &carrier);
  if (status != kExitOk) return status;
  const bool complete = CollectEntries(checked->holder.list, &checked->entries);
  checked->problems = CheckManifest(checked->holder.list, checked->entries);
  if (!complete) checked->problems.push_back("a manifest entry is cut short");
  return kExitOk;
}

int RunVerify(const std::string& path, const std::string& keyPath) {
  CheckedFile checked;
  const int status = OpenAndCheck(path, keyPath, &checked);
  if (status != kExitOk) return status;
  const ListHolder& holder = checked.holder;
  const std::vector<InspectedEntry>& entries = checked.entries;
  const uint8_t* modulus = checked.modulus;
  std::vector<std::string>& problems = checked.problems;
  for (const InspectedEntry& entry : entries) {
    RecordReport record = ReadOneRecord(holder.list.items[entry.payloadIndex], FileRecordType, entry.id, modulus);
    if (record.found && record.pair.code != 0)
      problems.push_back("payload " + std::to_string(entry.payloadIndex) + " record " + std::to_string(entry.id) +
                         ": " + DescribePair(record.pair));
  }
  for (const std::string& problem : problems) ReportError(path + ": " + problem);
  if (!problems.empty()) return kExitInvalid;
  std::printf("%s: %u payload(s), %zu entries, every record verifies\n", path.c_str(), holder.list.count,
              entries.size());
  return kExitOk;
}

int RunExtract(const std::string& path, const std::string& keyPath, const std::string& outputDirectory,
               uint32_t packageId) {
  CheckedFile checked;
  int status = OpenAndCheck(path, keyPath, &checked);
  if (status != kExitOk) return status;
  const ListHolder& holder = checked.holder;
  const std::vector<InspectedEntry>& entries = checked.entries;
  const uint8_t* modulus = checked.modulus;
  std::vector<std::string>& problems = checked.problems;
  if (!problems.empty()) {
    for (const std::string& problem : problems) ReportError(path + ": " + problem);
    return kExitInvalid;
  }
  bool matched = false;
  std::string error;
  for (const InspectedEntry& package : entries) {
    if (package.kind != InspectedEntry::Kind::Package || (packageId != 0 && package.id != packageId)) continue;
    matched = true;
    // One folder per package, named by its id (unique, unlike product
    // codes); with several payloads the payload index goes first.
    std::string folder = outputDirectory + "/" +
                         (holder.list.count > 1 ? std::to_string(package.payloadIndex) + "." : std::string()) +
                         std::to_string(package.id);
    if (!MakeDirectories(folder, &error)) {
      ReportError(error);
      return kExitFailed;
    }
    const PayloadItem& item = holder.list.items[package.payloadIndex];
    auto write = [&](uint32_t id, const std::string& name) {
      RecordReport record = ReadOneRecord(item, FileRecordType, id, modulus);
      if (record.pair.code != 0) {
        ReportError(path + ": record " + std::to_string(id) + " (" + name + "): " + DescribePair(record.pair));
        return kExitInvalid;
      }
      if (!WriteFileAtomically(folder + "/" + name, record.content, 0644, &error)) {
        ReportError(error);
        return kExitFailed;
      }
      return kExitOk;
    };
    if ((status = write(package.id, "main.msi")) != kExitOk) return status;
    for (const InspectedEntry& cab : entries) {
      if (cab.kind != InspectedEntry::Kind::Cab || cab.payloadIndex != package.payloadIndex) continue;
      bool uses = false;
      for (uint32_t id : cab.packageIds) uses = uses || id == package.id;
      // The launcher writes the name as it stands; here it must not leave
      // the package's folder or replace its database.
      const std::string& name = cab.fields[2];
      if (!uses) continue;
      if (!IsPlainFileName(name.c_str()) || EqualsIgnoringAsciiCase(name.c_str(), "main.msi")) {
        ReportError(path + ": cab entry " + std::to_string(cab.id) + " names \"" + name +
                    "\", which is not a plain file name beside main.msi");
        return kExitInvalid;
      }
      if ((status = write(cab.id, name)) != kExitOk) return status;
    }
    std::printf("%s\n", folder.c_str());
  }
  if (!matched) {
    ReportError(path + ": no package with id " + std::to_string(packageId));
    return kExitFailed;
  }
  return kExitOk;
}

int InspectCommand(const CliCall& call) {
  const std::vector<std::string> files = Operands(call);
  if (files.empty()) return UsageError(call, "FILE is required");
  return RunInspect(files[0], LastValue(call, "key"), Given(call, "json"));
}

int VerifyCommand(const CliCall& call) {
  const std::vector<std::string> files = Operands(call);
  if (files.empty()) return UsageError(call, "FILE is required");
  const std::string key = LastValue(call, "key");
  if (key.empty()) return UsageError(call, "--key PUB.pem is required");
  return RunVerify(files[0], key);
}

int ExtractCommand(const CliCall& call) {
  const std::vector<std::string> files = Operands(call);
  if (files.empty()) return UsageError(call, "FILE is required");
  const std::string key = LastValue(call, "key"), output = LastValue(call, "output"),
                    package = LastValue(call, "package");
  if (key.empty()) return UsageError(call, "--key PUB.pem is required");
  if (output.empty()) return UsageError(call, "-o DIR is required");
  char* end = nullptr;
  unsigned long id = package.empty() ? 0 : std::strtoul(package.c_str(), &end, 10);
  if (!package.empty() && (*end != '\0' || id == 0 || id > 0xFFFFFFFFul))
    return UsageError(call, "--package takes a package id (1, 2, ...)");
  return RunExtract(files[0], key, output, static_cast<uint32_t>(id));
}
