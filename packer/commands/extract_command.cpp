// extract: writes the packages of a file as the launcher would, each into a
// folder of its own.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/bounded_text.h"
#include "package/file_set.h"
#include "package/names.h"
#include "packer/commands/commands.h"
#include "packer/io/file_io.h"
#include "packer/commands/inspect_report.h"

namespace {

const char kHelp[] =
    "usage: msilaunch-pack extract FILE --key PUB.pem -o DIR [--package ID]\n"
    "Writes each package (or package ID) into DIR/ID/: main.msi and its\n"
    "cabinets under the names the manifest gives. With several payloads the\n"
    "folder is DIR/PAYLOAD.ID/. Prints each folder written.\n";

const CliOption kPackageOption = {"package", 0, true};

// Decodes file record `id` of payload `payloadIndex` and writes it to
// folder/name. kExitOk, or the exit code of the failure (reported).
int WriteRecord(const InspectReport& report, uint32_t payloadIndex, uint32_t id, const std::string& folder,
                const std::string& name) {
  std::vector<uint8_t> content;
  const RecordReport record =
      ReadOneRecord(report.list.items[payloadIndex], FileRecordType, id, ReportKey(report), &content);
  if (record.pair.code != 0) {
    ReportError(report.path + ": record " + std::to_string(id) + " (" + name + "): " + DescribePair(record.pair));
    return kExitInvalid;
  }
  std::string error;
  if (!WriteFileAtomically(folder + "/" + name, content, 0644, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  return kExitOk;
}

// Writes `package` into `folder`: main.msi, then every cabinet its payload's
// cab entries give it.
int ExtractPackage(const InspectReport& report, const InspectedEntry& package, const std::string& folder) {
  std::string error;
  if (!MakeDirectories(folder, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  int status = WriteRecord(report, package.payloadIndex, package.id, folder, kDatabaseName);
  if (status != kExitOk) return status;
  for (const InspectedEntry& cab : report.entries) {
    if (cab.kind != InspectedEntry::Kind::Cab || cab.payloadIndex != package.payloadIndex) continue;
    bool uses = false;
    for (uint32_t id : cab.packageIds) uses = uses || id == package.id;
    // The launcher writes the name as it stands; here it must not leave
    // the package's folder or replace its database.
    const std::string& name = cab.fields[2];
    if (!uses) continue;
    if (!IsPlainFileName(name.c_str()) || EqualsIgnoringAsciiCase(name.c_str(), kDatabaseName)) {
      ReportError(report.path + ": cab entry " + std::to_string(cab.id) + " names \"" + name +
                  "\", which is not a plain file name beside main.msi");
      return kExitInvalid;
    }
    if ((status = WriteRecord(report, package.payloadIndex, cab.id, folder, name)) != kExitOk) return status;
  }
  return kExitOk;
}

// packageId 0 extracts every package.
int RunExtract(const std::string& path, const std::string& keyPath, const std::string& outputDirectory,
               uint32_t packageId) {
  InspectReport report;
  std::string error;
  const ReportOpening opened = OpenReport(path, keyPath, &report, &error);
  if (opened != ReportOpening::Opened) {
    ReportError(error);
    return ExitCodeOf(opened);
  }
  int status = kExitOk;
  for (const std::string& problem : report.problems) ReportError(path + ": " + problem);
  if (!report.problems.empty()) return kExitInvalid;
  bool matched = false;
  for (const InspectedEntry& package : report.entries) {
    if (package.kind != InspectedEntry::Kind::Package || (packageId != 0 && package.id != packageId)) continue;
    matched = true;
    // One folder per package, named by its id (unique, unlike product
    // codes); with several payloads the payload index goes first.
    const std::string folder =
        outputDirectory + "/" +
        (report.list.count > 1 ? std::to_string(package.payloadIndex) + "." : std::string()) +
        std::to_string(package.id);
    if ((status = ExtractPackage(report, package, folder)) != kExitOk) return status;
    std::printf("%s\n", folder.c_str());
  }
  if (!matched) {
    ReportError(path + ": no package with id " + std::to_string(packageId));
    return kExitFailed;
  }
  return kExitOk;
}

int ExtractCommand(const CliCall& call) {
  const std::vector<std::string> files = Operands(call);
  if (files.empty()) return UsageError(call, "FILE is required");
  const std::string key = LastValue(call, kKeyOption), output = LastValue(call, kOutputOption),
                    package = LastValue(call, kPackageOption);
  if (key.empty()) return UsageError(call, "--key PUB.pem is required");
  if (output.empty()) return UsageError(call, "-o DIR is required");
  char* end = nullptr;
  unsigned long id = package.empty() ? 0 : std::strtoul(package.c_str(), &end, 10);
  if (!package.empty() && (*end != '\0' || id == 0 || id > 0xFFFFFFFFul))
    return UsageError(call, "--package takes a package id (1, 2, ...)");
  return RunExtract(files[0], key, output, static_cast<uint32_t>(id));
}

}  // namespace

const CliCommand kExtractCommand = {
    "extract", "write the packages of a file as the launcher would", kHelp,
    {&kKeyOption, &kOutputOption, &kPackageOption},
    1, CliFaults::Unexpected, ExtractCommand};
