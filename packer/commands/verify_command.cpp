// verify: every record decodes and verifies with --key, the manifest holds
// together and a key slot with bindings binds every payload; one line per
// problem otherwise.
#include <cstdio>
#include <string>

#include "packer/commands/commands.h"
#include "packer/commands/inspect_report.h"
#include "packer/commands/selection_checks.h"

namespace {

const char kHelp[] =
    "usage: msilaunch-pack verify FILE --key PUB.pem [--strict]\n"
    "Exit 0 only when every record decodes and verifies and the manifest holds\n"
    "together (each package and cab entry has its record, cab entries name\n"
    "existing packages); otherwise 3, with one line per problem.\n"
    "Warns when the launcher's selection leaves something out: a machine (32-bit\n"
    "or 64-bit Windows) no package is chosen on, a package no user is given, or\n"
    "no US English (1033) package for users whose language has none. --strict:\n"
    "exit 4 when it warns.\n";

const CliOption kStrictOption = {"strict", 0, false};

int VerifyCommand(const CliCall& call) {
  const std::vector<std::string> files = Operands(call);
  if (files.empty()) return UsageError(call, "FILE is required");
  const std::string key = LastValue(call, kKeyOption);
  if (key.empty()) return UsageError(call, "--key PUB.pem is required");
  InspectReport report;
  std::string error;
  const ReportOpening opened = OpenReport(files[0], key, &report, &error);
  if (opened != ReportOpening::Opened) {
    ReportError(error);
    return ExitCodeOf(opened);
  }
  ReadRecords(&report);
  // The manifest records verified when the payloads were found.
  std::vector<std::string> problems = AllProblems(report);
  for (uint32_t p = 0; p < report.list.count; ++p) {
    for (const RecordReport& record : report.payloads[p].files)
      if (record.found && record.pair.code != 0)
        problems.push_back("payload " + std::to_string(p) + " record " + std::to_string(record.id) + ": " +
                           DescribePair(record.pair));
  }
  for (const std::string& problem : problems) ReportError(report.path + ": " + problem);
  if (!problems.empty()) return kExitInvalid;
  const std::vector<std::string> warnings = SelectionWarnings(report.list, report.entries);
  for (const std::string& warning : warnings) ReportWarning(report.path + ": " + warning);
  const std::string bindings = DescribeBindings(report);
  std::printf("%s: %u payload(s), %zu entries, every record verifies%s\n", report.path.c_str(), report.list.count,
              report.entries.size(), bindings.empty() ? "" : ("; key slot " + bindings).c_str());
  return Given(call, kStrictOption) && !warnings.empty() ? kExitLeftOut : kExitOk;
}

}  // namespace

const CliCommand kVerifyCommand = {
    "verify", "check every record and the manifest of a file", kHelp,
    {&kKeyOption, &kStrictOption},
    1, CliFaults::Unexpected, VerifyCommand};
