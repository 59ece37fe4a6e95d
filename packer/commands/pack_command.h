// pack: from MSI packages to a signed payload (a record stack). The steps
// are here for the packer tests; the command's entry is PackCommand
// (packer/commands.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/msi/msi_reader.h"
#include "packer/writer/payload_writer.h"

// One package as given on the command line: the database and the
// overrides that came before it (empty means "from the database").
struct PackageRequest {
  std::string msiPath;
  std::string architecture;
  std::string lcids;
  std::string productCode;
  std::string productName;
  std::vector<std::string> cabinetPaths;  // replaces the Media table's list when not empty
};

// One package ready to be written: its facts after the overrides, its
// database, and its external cabinets (name beside main.msi, bytes).
struct PackageSource {
  std::string msiPath;
  MsiFacts facts;
  ByteVector database;
  std::vector<std::pair<std::string, ByteVector>> cabinets;
};

// Reads one package's database and cabinets and applies the overrides.
// False with *error naming the file and the fault.
bool LoadPackage(const PackageRequest& request, PackageSource* source, std::string* error);

// Checks that the facts fit the manifest's grammar and the launcher's
// buffers: "Intel" or "x64"; LCIDs as decimal numbers separated by ";"; a
// braced GUID; a name without backslashes of at most 255 bytes; cabinet
// names that are one plain file name beside main.msi on any code page
// (ASCII letters, digits, inner spaces and -_.()+~!#$%&',;=@[]^{} only,
// passing IsPlainFileName, not "main.msi"), no two of them one file
// (NamesFoldTogether). False with *error set.
bool CheckPackageFacts(const MsiFacts& facts, std::string* error);

// The manifest and the files of a payload. Package ids are 1..n in the
// given order; each distinct cabinet (same name and same bytes) gets the
// next id in order of first use and one cab entry naming every package that
// uses it, so shared cabinets are stored once. The same sources always give
// the same plan.
struct PayloadPlan {
  ByteVector manifest;
  std::vector<PayloadFile> files;  // databases by package id, then cabinets
};
void PlanPayload(const std::vector<PackageSource>& packages, PayloadPlan* plan);

