// simulate: which package the launcher would install on a given machine,
// answered by the launcher's own selection over the payloads inspect finds.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "handoff/installation_sequence.h"
#include "package/selection.h"
#include "packer/commands/commands.h"
#include "packer/commands/inspect_report.h"
#include "packer/commands/locale_names.h"
#include "payload/record_decoding.h"
#include "resources/resource_ids.h"

namespace {

const char kHelp[] =
    "usage: msilaunch-pack simulate FILE --arch x86|x64|wow64 --lcid LCID|LOCALE [--key PUB.pem] [--json]\n"
    "       msilaunch-pack simulate FILE --all [--key PUB.pem] [--json]\n"
    "Says which package the launcher in FILE (or the launcher given a bare\n"
    "payload) installs on such a machine, and by which pass: exact LCID, language\n"
    "(low 8 bits), US English; or that none fits, when it ends with (13, 2151)\n"
    "and string 101. x86: 32-bit Windows. x64: 64-bit Windows, where the 32-bit\n"
    "launcher runs under WOW64 and takes x64 packages (the same as wow64).\n"
    "--lcid takes a number (2055, 0x807) or a locale name (de-CH). --all: each\n"
    "architecture with a dozen frequent locales. --key as for inspect.\n"
    "Exit 0 when the machine gets a package; 4 when it gets none (no package\n"
    "fits, or the launcher refuses a payload); with --all, 4 when any of its\n"
    "machines gets none, an architecture without a package among them.\n";

const CliOption kArchOption = {"arch", 0, true};
const CliOption kLcidOption = {"lcid", 0, true};
const CliOption kAllOption = {"all", 0, false};

// A machine as the launcher sees it: the architecture as the user named it,
// whether the launcher runs under WOW64 there, and the user's LCID.
struct Machine {
  std::string arch;  // "x86", "x64" or "wow64"
  uint32_t isWow64;
  uint32_t lcid;
};

struct Answer {
  Machine machine;
  SelectionPass pass;
  PackageSelection selection;
  int refusedPayload;  // a payload the key slot does not bind, which ends the launcher's start-up; -1: none
};

// The shipping launcher is a 32-bit program: on 64-bit Windows it runs
// under WOW64 and takes "x64" packages, so x64 answers as wow64.
bool ParseArch(const std::string& arch, uint32_t* isWow64) {
  if (arch != "x86" && arch != "x64" && arch != "wow64") return false;
  *isWow64 = arch == "x86" ? 0 : 1;
  return true;
}

// The first payload the launcher's start-up refuses because its key slot
// does not bind it; -1 when it takes them all. Any one ends the run before
// a package is chosen.
int RefusedPayload(const InspectReport& report) {
  for (uint32_t p = 0; p < report.list.count; ++p)
    if (!PayloadBound(report, p)) return static_cast<int>(p);
  return -1;
}

Answer Simulate(const InspectReport& report, const Machine& machine) {
  Answer answer{machine, SelectionPass::None, PackageSelection{}, RefusedPayload(report)};
  if (answer.refusedPayload >= 0) return answer;
  // The run reads the report's payloads and never releases them.
  RunContext run{machine.lcid, machine.isWow64, report.list};
  answer.pass = SelectPackageByPass(&run, &answer.selection);
  return answer;
}

const char* PassText(SelectionPass pass) {
  switch (pass) {
    case SelectionPass::Exact: return "exact LCID";
    case SelectionPass::Language: return "language";
    case SelectionPass::UsEnglish: return "US English";
    case SelectionPass::None: break;
  }
  return "none";
}

using Json = nlohmann::ordered_json;

Json PassJson(SelectionPass pass) {
  switch (pass) {
    case SelectionPass::Exact: return "exact";
    case SelectionPass::Language: return "language";
    case SelectionPass::UsEnglish: return "us-english";
    case SelectionPass::None: break;
  }
  return Json();
}

// How the launcher ends, in the words the help uses: "(13, 2151) and string 101".
std::string EndText(uint32_t code, uint32_t line) {
  return "(" + std::to_string(code) + ", " + std::to_string(line) + ") and string " +
         std::to_string(kStringCorruptOrUnsupported);
}

const std::string kNoPackage = EndText(ErrorCode::InvalidData, kNoPackageOrFileSet);
const std::string kNotBound = EndText(ErrorCode::FileCorrupt, kNotVerifiedManifest);

std::string RefusalText(const Answer& answer) {
  return "the launcher refuses payload " + std::to_string(answer.refusedPayload) +
         ", which its key slot does not bind: it ends with " + kNotBound;
}

std::string MachineText(const Machine& machine) {
  const std::string name = LocaleNameOf(machine.lcid);
  const char* arch = machine.arch == "x86"   ? "x86 (32-bit Windows)"
                     : machine.arch == "x64" ? "x64 (64-bit Windows, where the 32-bit launcher runs under WOW64)"
                                             : "wow64 (the 32-bit launcher on 64-bit Windows)";
  return std::string(arch) + ", user LCID " + std::to_string(machine.lcid) + (name.empty() ? "" : " (" + name + ")");
}

std::string AnswerText(const Answer& answer) {
  if (answer.refusedPayload >= 0) return RefusalText(answer);
  if (answer.pass == SelectionPass::None) return std::string("no package fits: the launcher ends with ") + kNoPackage;
  const PackageSelection& s = answer.selection;
  return "package " + std::to_string(s.packageId) + " \"" + s.productName + "\" (" + s.architecture + ", LCIDs " +
         s.lcidList + ", " + s.productCode + ") in payload " + std::to_string(s.payloadIndex) + ", by the " +
         PassText(answer.pass) + " pass";
}

Json AnswerJson(const Answer& answer) {
  const Machine& m = answer.machine;
  const std::string name = LocaleNameOf(m.lcid);
  Json out = {{"arch", m.arch},
              {"wow64", m.isWow64 != 0},
              {"lcid", m.lcid},
              {"locale", name.empty() ? Json() : Json(name)},
              {"pass", PassJson(answer.pass)},
              {"package", nullptr}};
  if (answer.refusedPayload >= 0) {
    out["failure"] = {{"code", ErrorCode::FileCorrupt},
                      {"line", kNotVerifiedManifest},
                      {"string", kStringCorruptOrUnsupported},
                      {"payload", answer.refusedPayload}};
  } else if (answer.pass == SelectionPass::None) {
    out["failure"] = {
        {"code", ErrorCode::InvalidData}, {"line", kNoPackageOrFileSet}, {"string", kStringCorruptOrUnsupported}};
  } else {
    const PackageSelection& s = answer.selection;
    out["package"] = {{"payload", s.payloadIndex},  {"id", s.packageId},
                      {"architecture", s.architecture}, {"lcids", s.lcidList},
                      {"productCode", s.productCode},   {"productName", s.productName}};
    out["failure"] = nullptr;
  }
  return out;
}

// Each architecture with each frequent locale; wow64 is x64's twin.
std::vector<Machine> CommonMachines() {
  std::vector<Machine> machines;
  for (const char* arch : {"x86", "x64"}) {
    for (const std::string& locale : FrequentLocales()) {
      Machine machine{arch, 0, 0};
      ParseArch(arch, &machine.isWow64);
      LcidOfLocaleName(locale, &machine.lcid);
      machines.push_back(machine);
    }
  }
  return machines;
}

std::string TableText(const std::string& path, const std::vector<Answer>& answers) {
  std::string out = path + ": the package the launcher installs (x64: 64-bit Windows, where the 32-bit launcher "
                           "runs under WOW64)\narch  locale  LCID   pass        package\n";
  for (const Answer& answer : answers) {
    char row[64];
    std::snprintf(row, sizeof row, "%-5s %-7s %-6u %-11s ", answer.machine.arch.c_str(),
                  LocaleNameOf(answer.machine.lcid).c_str(), answer.machine.lcid, PassText(answer.pass));
    out += row + (answer.refusedPayload >= 0       ? "refused: " + std::string(kNotBound)
                  : answer.pass == SelectionPass::None ? std::string(kNoPackage)
                                                       : std::to_string(answer.selection.packageId) + " \"" +
                                                             answer.selection.productName + "\"") +
           "\n";
  }
  return out;
}

int RunSimulate(const CliCall& call, const std::string& path, const std::vector<Machine>& machines, bool table) {
  InspectReport report;
  std::string error;
  const ReportOpening opened = OpenReport(path, LastValue(call, kKeyOption), &report, &error);
  if (opened != ReportOpening::Opened) {
    ReportError(error);
    return ExitCodeOf(opened);
  }
  // The answer is --key's; the launcher in the file would install nothing.
  if (!report.slotProblem.empty()) ReportWarning(path + ": " + report.slotProblem);
  std::vector<Answer> answers;
  for (const Machine& machine : machines) answers.push_back(Simulate(report, machine));
  const bool json = Given(call, kJsonOption);
  // Only a slot with bindings adds to the output: without, it is as it always was.
  Json document = {{"file", path}};
  std::string bindingsText = DescribeBindings(report);
  if (SlotBinds(report)) {
    Json& bound = document["bound"] = Json::array();
    for (uint32_t p = 0; p < report.list.count; ++p) bound.push_back(PayloadBound(report, p));
    bindingsText = "key slot " + bindingsText + "\n";
  }
  std::string out;
  if (table && json) {
    Json& cases = document["cases"] = Json::array();
    for (const Answer& answer : answers) cases.push_back(AnswerJson(answer));
    out = JsonText(document) + "\n";
  } else if (table) {
    out = TableText(path, answers) + bindingsText;
  } else if (json) {
    document["case"] = AnswerJson(answers[0]);
    out = JsonText(document) + "\n";
  } else {
    out = path + " on " + MachineText(answers[0].machine) + ":\n  " + AnswerText(answers[0]) + "\n" + bindingsText;
  }
  std::fputs(out.c_str(), stdout);
  for (const Answer& answer : answers)
    if (answer.refusedPayload >= 0 || answer.pass == SelectionPass::None) return kExitLeftOut;
  return kExitOk;
}

int SimulateCommand(const CliCall& call) {
  const std::vector<std::string> files = Operands(call);
  if (files.empty()) return UsageError(call, "FILE is required");
  const bool all = Given(call, kAllOption);
  if (all && (Given(call, kArchOption) || Given(call, kLcidOption)))
    return UsageError(call, "--all takes no --arch or --lcid");
  if (all) return RunSimulate(call, files[0], CommonMachines(), true);
  Machine machine{LastValue(call, kArchOption), 0, 0};
  if (!Given(call, kArchOption) || !Given(call, kLcidOption))
    return UsageError(call, "--arch and --lcid are required (or --all)");
  if (!ParseArch(machine.arch, &machine.isWow64)) return UsageError(call, "--arch must be x86, x64 or wow64");
  if (!ParseLcid(LastValue(call, kLcidOption), &machine.lcid))
    return UsageError(call, "--lcid takes an LCID (2055, 0x807) or a locale name (de-CH)");
  return RunSimulate(call, files[0], {machine}, false);
}

}  // namespace

const CliCommand kSimulateCommand = {
    "simulate", "say which package the launcher would install on a given machine", kHelp,
    {&kKeyOption, &kArchOption, &kLcidOption, &kAllOption, &kJsonOption},
    1, CliFaults::Unexpected, SimulateCommand};
