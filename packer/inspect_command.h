// Reading payloads back the way the launcher does: inspect, verify and
// extract. Payloads are found by the launcher's own carriers and records
// read by its own decoder; only the key differs (--key instead of the
// built-in one).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/payload_list.h"

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
// every manifest verified by the key whose modulus is given, or by the
// built-in key when `modulus` is null. *carrier says which carrier found
// them. False with *error set when none is found.
bool FindPayloads(const std::vector<uint8_t>& file, const uint8_t* modulus, PayloadList* list,
                  std::string* carrier, std::string* error);

// Every entry of every payload, in walk order. False when the walk found a
// cut entry.
bool CollectEntries(const PayloadList& list, std::vector<InspectedEntry>* entries);

// Manifest consistency: every package has its database record, every cab
// entry its record, every cab id list names existing packages of its
// payload, and no entry fits neither grammar. One sentence per problem.
std::vector<std::string> CheckManifest(const PayloadList& list, const std::vector<InspectedEntry>& entries);

int RunInspect(const std::string& path, const std::string& keyPath, bool json);
int RunVerify(const std::string& path, const std::string& keyPath);
// packageId 0 extracts every package.
int RunExtract(const std::string& path, const std::string& keyPath, const std::string& outputDirectory,
               uint32_t packageId);
