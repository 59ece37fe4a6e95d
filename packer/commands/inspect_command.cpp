// inspect: lists the key slot, payloads, entries and records of a file, as
// text or as one JSON document, from one report.
#include <cstdio>
#include <string>

#include "packer/commands/commands.h"
#include "packer/commands/inspect_report.h"

namespace {

const char kHelp[] =
    "usage: msilaunch-pack inspect FILE [--key PUB.pem] [--json]\n"
    "Finds the payloads of FILE (an executable or a bare payload) as the launcher\n"
    "does and lists their entries and records; with --key, each record's\n"
    "verification. A launcher's key slot is shown with its key's fingerprint.\n"
    "Without --key, manifests must verify with the key in the file's key slot,\n"
    "or with the built-in key for a file without one.\n";


std::string Ratio(uint32_t stored, uint32_t decoded) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", decoded == 0 ? 0.0 : static_cast<double>(stored) / decoded);
  return text;
}

const char* KindName(InspectedEntry::Kind kind) {
  return kind == InspectedEntry::Kind::Package ? "package" : kind == InspectedEntry::Kind::Cab ? "cab" : "unknown";
}

// What a record's state reads as: its failure, "verified", or that without
// --key nothing was checked.
std::string RecordState(const InspectReport& report, const RecordReport& record) {
  if (record.pair.code != 0) return DescribePair(record.pair);
  return report.keyGiven ? "verified" : "not checked (no --key)";
}

std::string EntryText(const InspectedEntry& entry) {
  const std::string head = "  entry " + std::to_string(entry.id) + ": ";
  if (entry.kind == InspectedEntry::Kind::Package)
    return head + "package " + entry.fields[0] + " lcids " + entry.fields[1] + " " + entry.fields[2] + " \"" +
           entry.fields[3] + "\"\n";
  if (entry.kind == InspectedEntry::Kind::Cab)
    return head + "cab " + entry.fields[2] + " for packages " + entry.fields[1] + "\n";
  return head + "unknown \"" + entry.text + "\"\n";
}

std::string RecordText(const InspectReport& report, const RecordReport& record) {
  return "  record " + std::string(record.type) + " " + std::to_string(record.id) + ": stored " +
         std::to_string(record.storedSize) + " + " + std::to_string(record.signatureSize) +
         " signature, decoded " + std::to_string(record.decodedSize) + " (ratio " +
         Ratio(record.storedSize, record.decodedSize) + "), " + RecordState(report, record) + "\n";
}

std::string ReportText(const InspectReport& report) {
  const PayloadList& list = report.list;
  std::string out = report.path + ": " +
                    (list.count == 0 ? std::string("no payload (a launcher stub)")
                                     : std::to_string(list.count) + " payload(s), " + report.carrier + " carrier") +
                    "\n";
  const std::string slot = DescribeKeySlot(report);
  if (!slot.empty()) out += "key slot: " + slot + "\n";
  if (SlotBinds(report))
    for (uint32_t i = 0; i < report.slot.slot.key.bindingCount; ++i)
      out += "key slot binds: manifest sha256 " + DigestHex(report.slot.slot.key.bindings[i]) + "\n";
  for (uint32_t p = 0; p < list.count; ++p) {
    out += "payload " + std::to_string(p) + ": " + std::to_string(list.items[p].rawSize) + " bytes, flags " +
           std::to_string(list.items[p].flags) + "\n";
    if (SlotBinds(report))
      out += "  manifest sha256 " + DigestHex(report.manifestDigests[p].data()) +
             (PayloadBound(report, p) ? ": bound\n" : ": not bound, the launcher refuses this payload\n");
    for (const InspectedEntry& entry : report.entries)
      if (entry.payloadIndex == p) out += EntryText(entry);
    out += RecordText(report, report.payloads[p].manifest);
    for (const RecordReport& record : report.payloads[p].files) out += RecordText(report, record);
  }
  for (const std::string& problem : AllProblems(report)) out += "problem: " + problem + "\n";
  return out;
}

std::string EntryJson(const InspectedEntry& entry) {
  std::string out = "{\"id\": " + std::to_string(entry.id) + ", \"kind\": \"" + KindName(entry.kind) + "\"";
  if (entry.kind == InspectedEntry::Kind::Package) {
    out += ", \"architecture\": " + JsonString(entry.fields[0]) + ", \"lcids\": " + JsonString(entry.fields[1]) +
           ", \"productCode\": " + JsonString(entry.fields[2]) + ", \"productName\": " + JsonString(entry.fields[3]);
  } else if (entry.kind == InspectedEntry::Kind::Cab) {
    out += ", \"packages\": [";
    for (size_t i = 0; i < entry.packageIds.size(); ++i) out += (i ? ", " : "") + std::to_string(entry.packageIds[i]);
    out += "], \"fileName\": " + JsonString(entry.fields[2]);
  } else {
    out += ", \"text\": " + JsonString(entry.text);
  }
  return out + "}";
}

std::string RecordJson(const InspectReport& report, const RecordReport& record) {
  const char* verified = !report.keyGiven ? "null" : record.pair.code == 0 ? "true" : "false";
  return "{\"type\": \"" + std::string(record.type) + "\", \"id\": " + std::to_string(record.id) +
         ", \"found\": " + (record.found ? "true" : "false") + ", \"storedSize\": " +
         std::to_string(record.storedSize) + ", \"signatureSize\": " + std::to_string(record.signatureSize) +
         ", \"decodedSize\": " + std::to_string(record.decodedSize) + ", \"ratio\": " +
         Ratio(record.storedSize, record.decodedSize) + ", \"verified\": " + verified +
         ", \"status\": " + JsonString(RecordState(report, record)) + "}";
}

std::string PayloadJson(const InspectReport& report, uint32_t p) {
  const PayloadItem& item = report.list.items[p];
  // bound: null when the key slot binds nothing, so every payload is taken.
  std::string out = "{\"index\": " + std::to_string(p) + ", \"size\": " + std::to_string(item.rawSize) +
                    ", \"flags\": " + std::to_string(item.flags) + ", \"manifestSha256\": \"" +
                    DigestHex(report.manifestDigests[p].data()) + "\", \"bound\": " +
                    (!SlotBinds(report) ? "null" : PayloadBound(report, p) ? "true" : "false") + ", \"entries\": [";
  bool first = true;
  for (const InspectedEntry& entry : report.entries) {
    if (entry.payloadIndex != p) continue;
    out += (first ? "" : ", ") + EntryJson(entry);
    first = false;
  }
  out += "], \"records\": [" + RecordJson(report, report.payloads[p].manifest);
  for (const RecordReport& record : report.payloads[p].files) out += ", " + RecordJson(report, record);
  return out + "]}";
}

// Verified: without --key unknown (null); with it, no problem in the
// manifest or the key slot and every record decodes and verifies.
const char* VerifiedJson(const InspectReport& report) {
  if (!report.keyGiven) return "null";
  bool verified = AllProblems(report).empty();
  for (const PayloadReport& payload : report.payloads) {
    verified = verified && payload.manifest.pair.code == 0;
    for (const RecordReport& record : payload.files) verified = verified && record.pair.code == 0;
  }
  return verified ? "true" : "false";
}

// The key slot, for a file that has one: its state and its key's
// fingerprint, or what is wrong with it.
std::string KeySlotJson(const InspectReport& report) {
  if (report.slotSearch == KeySlotSearch::NotPe || report.slotSearch == KeySlotSearch::None) return "";
  if (report.slotSearch != KeySlotSearch::Found)
    return ", \"keySlot\": {\"state\": \"unreadable\", \"problem\": " + JsonString(DescribeKeySlot(report)) + "}";
  const bool stamped = report.slot.slot.state == kKeySlotStamped;
  const PayloadKey& key = report.slot.slot.key;
  std::string bindings;
  for (uint32_t i = 0; i < key.bindingCount; ++i) bindings += (i ? ", \"" : "\"") + DigestHex(key.bindings[i]) + "\"";
  return ", \"keySlot\": {\"version\": " + std::to_string(report.slot.slot.version) + ", \"state\": \"" +
         std::string(stamped ? "stamped" : "empty") + "\", \"keySha256\": " +
         (stamped ? JsonString(KeyFingerprint(key.modulus)) : "null") + ", \"bindings\": [" + bindings + "]}";
}

std::string ReportJson(const InspectReport& report) {
  std::string out = "{\"file\": " + JsonString(report.path) + ", \"carrier\": " + JsonString(report.carrier) +
                    KeySlotJson(report) + ", \"payloads\": [";
  for (uint32_t p = 0; p < report.list.count; ++p) out += (p ? ", " : "") + PayloadJson(report, p);
  out += "], \"problems\": [";
  const std::vector<std::string> problems = AllProblems(report);
  for (size_t i = 0; i < problems.size(); ++i) out += (i ? ", " : "") + JsonString(problems[i]);
  return out + "], \"verified\": " + VerifiedJson(report) + "}\n";
}

}  // namespace

namespace {

int InspectCommand(const CliCall& call) {
  const std::vector<std::string> files = Operands(call);
  if (files.empty()) return UsageError(call, "FILE is required");
  InspectReport report;
  const int status = OpenReport(files[0], LastValue(call, kKeyOption), &report, true);
  if (status != kExitOk) return status;
  ReadRecords(&report);
  std::fputs((Given(call, kJsonOption) ? ReportJson(report) : ReportText(report)).c_str(), stdout);
  return kExitOk;
}

}  // namespace

const CliCommand kInspectCommand = {"inspect", "list the key slot, payloads, entries and records of a file", kHelp,
    {&kKeyOption, &kJsonOption}, 1, CliFaults::Unexpected, InspectCommand};
