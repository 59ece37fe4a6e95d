// inspect: lists the key slot, payloads, entries and records of a file, as
// text or as one JSON document, from one report.
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "packer/commands/commands.h"
#include "packer/commands/inspect_report.h"
#include "packer/commands/locale_names.h"

namespace {

const char kHelp[] =
    "usage: msilaunch-pack inspect FILE [--key PUB.pem] [--json]\n"
    "Finds the payloads of FILE (an executable or a bare payload) as the launcher\n"
    "does and lists their entries and records; with --key, each record's\n"
    "verification. A launcher's key slot is shown with its key's fingerprint.\n"
    "Without --key, manifests must verify with the key in the file's key slot,\n"
    "or with the built-in key for a file without one.\n"
    "An executable's resources follow: its icon group APP, its version\n"
    "information and the languages of its messages (msilaunch-pack brand).\n";

double RatioOf(uint32_t stored, uint32_t decoded) { return decoded == 0 ? 0.0 : static_cast<double>(stored) / decoded; }

std::string Ratio(uint32_t stored, uint32_t decoded) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", RatioOf(stored, decoded));
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

std::string LanguageName(uint16_t language) {
  const std::string name = LocaleNameOf(language);
  return (name.empty() ? "neutral" : name) + " (" + std::to_string(language) + ")";
}

// The stub's marks, after everything else inspect has always printed.
std::string BrandText(const BrandReport& brand) {
  std::string out = "icon APP: ";
  if (!brand.hasIcon) out += "none";
  else out += std::to_string(brand.iconSizes.size()) + " image(s)";
  for (size_t i = 0; i < brand.iconSizes.size(); ++i) out += (i == 0 ? ": " : ", ") + brand.iconSizes[i];
  out += "\n";
  if (brand.version.empty()) out += "version: none\n";
  for (const auto& field : brand.version) out += "version " + field.first + ": " + field.second + "\n";
  out += "messages:";
  for (size_t i = 0; i < brand.messageLanguages.size(); ++i)
    out += (i == 0 ? " " : ", ") + LanguageName(brand.messageLanguages[i]);
  return out + (brand.messageLanguages.empty() ? " none\n" : "\n");
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
  if (report.hasResources) out += BrandText(report.brand);
  return out;
}

using Json = nlohmann::ordered_json;

Json EntryJson(const InspectedEntry& entry) {
  Json out = {{"id", entry.id}, {"kind", KindName(entry.kind)}};
  if (entry.kind == InspectedEntry::Kind::Package) {
    out["architecture"] = entry.fields[0];
    out["lcids"] = entry.fields[1];
    out["productCode"] = entry.fields[2];
    out["productName"] = entry.fields[3];
  } else if (entry.kind == InspectedEntry::Kind::Cab) {
    out["packages"] = entry.packageIds;
    out["fileName"] = entry.fields[2];
  } else {
    out["text"] = entry.text;
  }
  return out;
}

Json RecordJson(const InspectReport& report, const RecordReport& record) {
  return {{"type", record.type},
          {"id", record.id},
          {"found", record.found},
          {"storedSize", record.storedSize},
          {"signatureSize", record.signatureSize},
          {"decodedSize", record.decodedSize},
          {"ratio", RatioOf(record.storedSize, record.decodedSize)},
          {"verified", !report.keyGiven ? Json() : Json(record.pair.code == 0)},
          {"status", RecordState(report, record)}};
}

Json PayloadJson(const InspectReport& report, uint32_t p) {
  const PayloadItem& item = report.list.items[p];
  Json entries = Json::array(), records = Json::array({RecordJson(report, report.payloads[p].manifest)});
  for (const InspectedEntry& entry : report.entries)
    if (entry.payloadIndex == p) entries.push_back(EntryJson(entry));
  for (const RecordReport& record : report.payloads[p].files) records.push_back(RecordJson(report, record));
  // bound: null when the key slot binds nothing, so every payload is taken.
  return {{"index", p},
          {"size", item.rawSize},
          {"flags", item.flags},
          {"manifestSha256", DigestHex(report.manifestDigests[p].data())},
          {"bound", !SlotBinds(report) ? Json() : Json(PayloadBound(report, p))},
          {"entries", entries},
          {"records", records}};
}

// Verified: without --key unknown (null); with it, no problem in the
// manifest or the key slot and every record decodes and verifies.
Json VerifiedJson(const InspectReport& report) {
  if (!report.keyGiven) return Json();
  bool verified = AllProblems(report).empty();
  for (const PayloadReport& payload : report.payloads) {
    verified = verified && payload.manifest.pair.code == 0;
    for (const RecordReport& record : payload.files) verified = verified && record.pair.code == 0;
  }
  return verified;
}

// The key slot, for a file that has one: its state and its key's
// fingerprint, or what is wrong with it.
Json KeySlotJson(const InspectReport& report) {
  if (report.slotSearch != KeySlotSearch::Found)
    return {{"state", "unreadable"}, {"problem", DescribeKeySlot(report)}};
  const bool stamped = report.slot.slot.state == kKeySlotStamped;
  const PayloadKey& key = report.slot.slot.key;
  Json bindings = Json::array();
  for (uint32_t i = 0; i < key.bindingCount; ++i) bindings.push_back(DigestHex(key.bindings[i]));
  return {{"version", report.slot.slot.version},
          {"state", stamped ? "stamped" : "empty"},
          {"keySha256", stamped ? Json(KeyFingerprint(key.modulus)) : Json()},
          {"bindings", bindings}};
}

std::string ReportJson(const InspectReport& report) {
  Json out = {{"file", report.path}, {"carrier", report.carrier}};
  if (report.slotSearch != KeySlotSearch::NotPe && report.slotSearch != KeySlotSearch::None)
    out["keySlot"] = KeySlotJson(report);
  out["payloads"] = Json::array();
  for (uint32_t p = 0; p < report.list.count; ++p) out["payloads"].push_back(PayloadJson(report, p));
  out["problems"] = AllProblems(report);
  out["verified"] = VerifiedJson(report);
  if (report.hasResources) {
    const BrandReport& brand = report.brand;
    out["icon"] = brand.hasIcon ? Json{{"images", brand.iconSizes.size()}, {"sizes", brand.iconSizes}} : Json();
    Json version = Json::object(), languages = Json::array();
    for (const auto& field : brand.version) version[field.first] = field.second;
    for (uint16_t language : brand.messageLanguages)
      languages.push_back({{"lcid", language}, {"name", LocaleNameOf(language)}});
    out["version"] = brand.version.empty() ? Json() : version;
    out["messageLanguages"] = languages;
  }
  return JsonText(out) + "\n";
}

int InspectCommand(const CliCall& call) {
  const std::vector<std::string> files = Operands(call);
  if (files.empty()) return UsageError(call, "FILE is required");
  InspectReport report;
  std::string error;
  const ReportOpening opened = OpenReport(files[0], LastValue(call, kKeyOption), &report, &error, true);
  if (opened != ReportOpening::Opened) {
    ReportError(error);
    return ExitCodeOf(opened);
  }
  ReadRecords(&report);
  std::fputs((Given(call, kJsonOption) ? ReportJson(report) : ReportText(report)).c_str(), stdout);
  return kExitOk;
}

}  // namespace

const CliCommand kInspectCommand = {
    "inspect", "list the key slot, payloads, entries and records of a file", kHelp,
    {&kKeyOption, &kJsonOption},
    1, CliFaults::Unexpected, InspectCommand};
