// What inspect, verify and extract gather from a file: its payloads found
// by the launcher's own carriers, their manifest entries parsed by the
// launcher's grammar, what is wrong with the manifest, and each record read
// by the launcher's decoder. Only the key differs: --key's instead of the
// built-in one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "base/error_pair.h"
#include "packer/writer/branding.h"
#include "packer/writer/key_slot.h"
#include "payload/payload_list.h"
#include "payload/record_stack.h"

// `value` as the packer's JSON has always read: ", " and ": " between
// items, keys in the order given, strings escaped by the library (control
// bytes as \u00XX, invalid UTF-8 replaced), numbers with a fraction with
// three decimals (a ratio: 0.328).
std::string JsonText(const nlohmann::ordered_json& value);

// One manifest entry, parsed by the launcher's grammar.
struct InspectedEntry {
  uint32_t payloadIndex = 0;
  uint32_t id = 0;
  std::string text;  // as the walk handed it over
  enum class Kind { Package, Cab, Unknown } kind = Kind::Unknown;
  std::string fields[4];          // package: arch, lcids, code, name; cab: "cab", ids, file name
  std::vector<uint32_t> packageIds;  // cab entries
};

// The payloads of a file, found as the launcher finds them (certificate
// carrier first, then the file tail; a bare record stack is a tail), with
// every manifest verified by `key` or, when it is null, by the key the
// launcher in the file verifies with: the one in its key slot (none when the
// slot is empty), or the built-in key for a file without a slot. The slot's
// bindings are left out here, so that a payload it does not bind is still
// listed (PayloadBound says whether it is). *carrier says which carrier
// found them ("none" when neither found a payload). False with *error set
// when none is found.
bool FindPayloads(const std::vector<uint8_t>& file, const PayloadKey* key, PayloadList* list, std::string* carrier,
                  std::string* error);

// Every entry of every payload, in walk order. False when the walk found a
// cut entry.
bool CollectEntries(const PayloadList& list, std::vector<InspectedEntry>* entries);

// Manifest consistency: every package has its database record, every cab
// entry its record, every cab id list names existing packages of its
// payload, no entry fits neither grammar, and no two files of the file set
// the launcher builds for a package (BuildFileSet, its records read with
// the list's key) are one file on Windows (ItemsAreOneFile). One sentence
// per problem.
std::vector<std::string> CheckManifest(const PayloadList& list, const std::vector<InspectedEntry>& entries);

// One record read as the launcher reads it: decoded and verified with the
// key given, or decoded only without one.
struct RecordReport {
  const char* type = "file";  // or "manifest"
  uint32_t id = 0;
  bool found = false;
  uint32_t storedSize = 0;
  uint32_t signatureSize = 0;
  uint32_t decodedSize = 0;
  ErrorPair pair{0, 0};  // (0, 0) when it decoded (and verified)
};

// Reads record (`type`, `id`) of `item`, verified with `key` unless it is
// null. When it decodes and `content` is not null, *content gets its
// bytes.
RecordReport ReadOneRecord(const PayloadItem& item, const Guid16& type, uint32_t id, const PayloadKey* key,
                           std::vector<uint8_t>* content);

// A failed read in words, with its pair: "signature does not verify (code
// 1392, line 732)".
std::string DescribePair(const ErrorPair& pair);

// A payload's records as inspect lists them.
struct PayloadReport {
  RecordReport manifest;
  std::vector<RecordReport> files;  // one per entry of the payload, in manifest order
};

// One file's report, gathered once (OpenReport, then ReadRecords where the
// records are wanted) and then printed by inspect, checked by verify or
// written out by extract. Owns its payload list.
struct InspectReport {
  std::string path;
  bool keyGiven = false;
  PayloadKey key{};  // --key's, when given; it binds nothing
  PayloadList list{};
  std::string carrier;                  // "certificate", "tail" or "stack"
  std::vector<InspectedEntry> entries;  // every payload's, in walk order
  std::vector<std::string> problems;    // the manifest's, one sentence each
  std::vector<PayloadReport> payloads;  // by payload index, from ReadRecords
  std::vector<ManifestDigest> manifestDigests;  // by payload index: what a slot binds it by
  KeySlotSearch slotSearch = KeySlotSearch::NotPe;  // the launcher's key slot in the file
  StubKeySlot slot;                                 // what it holds, when Found
  // With --key: why the launcher in the file would refuse what the key
  // verifies (its slot is empty, or holds another key); empty otherwise.
  std::string slotProblem;
  // A PE file's resources could be read: its icon, version and messages.
  bool hasResources = false;
  BrandReport brand;

  InspectReport() = default;
  InspectReport(const InspectReport&) = delete;
  InspectReport& operator=(const InspectReport&) = delete;
  ~InspectReport() { ReleasePayloadList(&list); }
};

// The key records are verified with: --key's, or null without one.
const PayloadKey* ReportKey(const InspectReport& report);

// Whether the file's key slot holds a key with bindings, and whether the
// launcher in the file takes payload `index` by them (BindsManifest, as its
// decoder asks): always, when the slot binds nothing.
bool SlotBinds(const InspectReport& report);
bool PayloadBound(const InspectReport& report, uint32_t index);

// The bindings in words, for a slot that has them: "bound to 2 payload(s);
// payload 0 bound, payload 1 not bound (the launcher refuses it)"; empty
// otherwise.
std::string DescribeBindings(const InspectReport& report);

// How OpenReport ended; the command picks the exit code.
enum class ReportOpening {
  Opened,
  Unreadable,  // the key or the file cannot be read
  NoPayload,   // no payload is found (or none can be read)
};

// Loads --key's modulus (unless `keyPath` is empty), reads `path`, finds its
// key slot and its payloads, collects their entries and checks the
// manifest. Opened, or the failure with *error set to its message: no
// payload is one, unless `stubAllowed` and the file is a launcher stub with
// a key slot (the report then lists no payload).
ReportOpening OpenReport(const std::string& path, const std::string& keyPath, InspectReport* report,
                         std::string* error, bool stubAllowed = false);

// The exit code of a command whose report did not open: kExitInvalid when
// no payload is found, kExitFailed when an input cannot be read.
int ExitCodeOf(ReportOpening opened);

// The manifest's problems and then the key slot's (with --key, a slot that
// refuses that key; a payload the slot's bindings leave out): what inspect
// lists and verify fails on (extract needs only the manifest whole).
std::vector<std::string> AllProblems(const InspectReport& report);

// The key slot's state in words: "stamped, key sha256 ...", "empty (...)",
// or what is wrong with it; empty for a file without a key slot.
std::string DescribeKeySlot(const InspectReport& report);

// Reads every record of every payload into report->payloads.
void ReadRecords(InspectReport* report);
