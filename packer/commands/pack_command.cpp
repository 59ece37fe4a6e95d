#include "packer/commands/pack_command.h"

#include <cstdlib>
#include <cstring>

#include "base/bounded_text.h"
#include "package/entry_fields.h"
#include "package/file_set.h"
#include "package/names.h"
#include "packer/commands/commands.h"
#include "packer/commands/deflate.h"
#include "packer/cli/progress.h"
#include "packer/io/file_io.h"
#include "packer/commands/inspect_report.h"
#include "packer/commands/keys.h"
#include "packer/commands/selection_checks.h"

namespace {

const char kHelp[] =
    "usage: msilaunch-pack pack -k KEY.pem [--passphrase-file FILE] -o PAYLOAD.bin [--level N] [PACKAGE-OPTIONS]\n"
    "                           PACKAGE.msi ...\n"
    "Each package's architecture and LCIDs come from its Summary Information\n"
    "Template, its product code and name from its Property table, its external\n"
    "cabinets from its Media table (found beside the .msi). Options given before\n"
    "a package apply to that package only:\n"
    "  --arch Intel|x64    --lcids 1031;1033    --code {GUID}    --name TEXT\n"
    "  --cab PATH          (repeatable) the package's cabinets instead of the Media table's\n"
    "Package ids are 1, 2, ... in command-line order; cabinets follow. A cabinet\n"
    "with the same name and bytes in several packages is stored once.\n"
    "Warns, and still ends with 0, when a machine or a package would be left out\n"
    "(as verify does; verify --strict fails on it).\n"
    "--level N: libdeflate level 1..12 (default 3, about twice as fast as zlib -9 and as small).\n"
    "An encrypted KEY.pem takes its passphrase from the first line of\n"
    "--passphrase-file FILE, else from MSILAUNCH_PACK_PASSPHRASE, else from the\n"
    "terminal; without a terminal on standard input pack fails instead of asking.\n";

const CliOption kPackKeyOption = {"key", 'k', true};
const CliOption kLevelOption = {"level", 0, true};
const CliOption kPassphraseFileOption = {"passphrase-file", 0, true};
const CliOption kArchOption = {"arch", 0, true};
const CliOption kLcidsOption = {"lcids", 0, true};
const CliOption kCodeOption = {"code", 0, true};
const CliOption kNameOption = {"name", 0, true};
const CliOption kCabOption = {"cab", 0, true};

bool IsNumberList(const std::string& text) {
  if (text.empty() || text.front() == ';' || text.back() == ';') return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == ';' ? text[i - 1] == ';' : (c < '0' || c > '9')) return false;
  }
  return true;
}

// The launcher's checks read C strings: a NUL would hide what follows it.
bool HoldsNul(const std::string& text) { return text.find('\0') != std::string::npos; }

// The bytes a cabinet name may hold besides ASCII letters and digits, and
// the space, which may not begin or end it. The launcher turns the name from
// UTF-16 into its ANSI code page with best fit, where a character outside
// ASCII may come out as another one (a full-width solidus as '/'), so only
// ASCII is taken, and of it only what every Windows file system keeps as it
// is in a plain name.
constexpr char kCabinetNamePunctuation[] = "-_.()+~!#$%&',;=@[]^{}";

bool IsCabinetNameByte(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ') return true;
  return c != '\0' && std::strchr(kCabinetNamePunctuation, c) != nullptr;
}

// A cabinet name becomes a file name next to main.msi on the user's
// machine: it must be one plain name there, the same one on every code page,
// and not the database's.
bool IsSafeCabinetName(const std::string& name) {
  if (name.empty() || name.front() == ' ' || name.size() > kMaxManifestFieldBytes) return false;
  for (char c : name)
    if (!IsCabinetNameByte(c)) return false;
  return IsPlainFileName(name.c_str()) && !EqualsIgnoringAsciiCase(name.c_str(), kDatabaseName);
}

void ReportProgress(void* context, uint64_t bytes) { AdvanceProgress(static_cast<ProgressBar*>(context), bytes); }

// The payload as the launcher reads it, asked what it leaves out; the
// payload is written, so a failure to read it back only loses the warnings.
void WarnOfSelection(const std::string& outputPath, const ByteVector& stack, const uint8_t modulus[256]) {
  PayloadKey key{};
  std::memcpy(key.modulus, modulus, sizeof key.modulus);
  PayloadList list{};
  std::string carrier, error;
  if (!FindPayloads(stack, &key, &list, &carrier, &error)) return;
  std::vector<InspectedEntry> entries;
  CollectEntries(list, &entries);
  for (const std::string& warning : SelectionWarnings(list, entries)) ReportWarning(outputPath + ": " + warning);
  ReleasePayloadList(&list);
}

}  // namespace

bool CheckPackageFacts(const MsiFacts& facts, std::string* error) {
  if (facts.architecture != "Intel" && facts.architecture != "x64") {
    *error = "architecture \"" + facts.architecture + "\" is neither Intel nor x64";
  } else if (!IsNumberList(facts.lcids) || facts.lcids.size() > kMaxManifestFieldBytes) {
    *error = "LCID list \"" + facts.lcids + "\" is not decimal numbers separated by ';' (use --lcids)";
  } else if (HoldsNul(facts.productCode) || !IsBracedGuid(facts.productCode.c_str())) {
    *error = "product code \"" + facts.productCode + "\" is not a GUID in braces (use --code)";
  } else if (facts.productName.empty() && !facts.productNameProblem.empty()) {
    *error = "product name: " + facts.productNameProblem + " (use --name)";
  } else if (facts.productName.empty() || facts.productName.size() > kMaxManifestFieldBytes ||
             facts.productName.find('\\') != std::string::npos) {
    // A backslash would split the name into another manifest field.
    *error = "product name \"" + facts.productName + "\" is empty, longer than " +
               std::to_string(kMaxManifestFieldBytes) + " bytes or holds '\\' (use --name)";
  } else {
    for (size_t i = 0; i < facts.cabinets.size(); ++i) {
      const std::string& cabinet = facts.cabinets[i];
      if (!IsSafeCabinetName(cabinet)) {
        *error = "cabinet name \"" + cabinet +
                 "\" is not a plain file name beside main.msi (ASCII letters, digits, inner spaces and " +
                 kCabinetNamePunctuation + " only; no device name, no trailing dot; at most " +
                 std::to_string(kMaxPlainFileNameBytes) + " bytes; no 8.3 name with '~', which may be another file's short name)";
        return false;
      }
      // The launcher refuses a package two of whose files would be one.
      for (size_t j = 0; j < i; ++j)
        if (NamesFoldTogether(facts.cabinets[j].c_str(), cabinet.c_str())) {
          *error = "cabinet names \"" + facts.cabinets[j] + "\" and \"" + cabinet +
                   "\" are one file on Windows, which does not tell letter case apart";
          return false;
        }
    }
    return true;
  }
  return false;
}

bool LoadPackage(const PackageRequest& request, PackageSource* source, std::string* error) {
  *source = PackageSource();
  source->msiPath = request.msiPath;
  if (!ReadWholeFile(request.msiPath, &source->database, error)) return false;
  std::string reason;
  if (!ReadMsiFacts(request.msiPath, &source->facts, &reason)) {
    *error = request.msiPath + ": " + reason;
    return false;
  }
  MsiFacts& facts = source->facts;
  if (!request.architecture.empty()) facts.architecture = request.architecture;
  if (!request.lcids.empty()) facts.lcids = request.lcids;
  if (!request.productCode.empty()) facts.productCode = request.productCode;
  if (!request.productName.empty()) facts.productName = request.productName;
  std::vector<std::string> paths;
  if (!request.cabinetPaths.empty()) {
    facts.cabinets.clear();
    for (const std::string& path : request.cabinetPaths) {
      facts.cabinets.push_back(BaseNameOf(path));
      paths.push_back(path);
    }
  } else {
    for (const std::string& name : facts.cabinets) paths.push_back(DirectoryOf(request.msiPath) + "/" + name);
  }
  if (!CheckPackageFacts(facts, &reason)) {
    *error = request.msiPath + ": " + reason;
    return false;
  }
  for (size_t i = 0; i < paths.size(); ++i) {
    ByteVector bytes;
    if (!ReadWholeFile(paths[i], &bytes, &reason)) {
      *error = request.msiPath + ": cabinet " + facts.cabinets[i] + ": " + reason;
      return false;
    }
    source->cabinets.emplace_back(facts.cabinets[i], std::move(bytes));
  }
  return true;
}

void PlanPayload(const std::vector<PackageSource>& packages, PayloadPlan* plan) {
  *plan = PayloadPlan();
  struct Cab {
    const std::string* name;
    const ByteVector* bytes;
    std::string packageIds;
  };
  std::vector<Cab> cabs;
  for (size_t i = 0; i < packages.size(); ++i) {
    const PackageSource& package = packages[i];
    const uint32_t id = static_cast<uint32_t>(i + 1);
    AppendManifestEntry(&plan->manifest, id,
                        PackageEntryText(package.facts.architecture, package.facts.lcids,
                                         package.facts.productCode, package.facts.productName));
    plan->files.push_back(PayloadFile{id, package.database});
    for (const auto& cabinet : package.cabinets) {
      Cab* shared = nullptr;
      for (Cab& known : cabs)
        if (*known.name == cabinet.first && *known.bytes == cabinet.second) shared = &known;
      if (shared == nullptr) {
        cabs.push_back(Cab{&cabinet.first, &cabinet.second, std::to_string(id)});
      } else {
        shared->packageIds += ";" + std::to_string(id);
      }
    }
  }
  uint32_t nextId = static_cast<uint32_t>(packages.size() + 1);
  for (const Cab& cab : cabs) {
    AppendManifestEntry(&plan->manifest, nextId, CabEntryText(cab.packageIds, *cab.name));
    plan->files.push_back(PayloadFile{nextId, *cab.bytes});
    ++nextId;
  }
}

namespace {

int RunPack(const std::string& keyPath, const PassphraseSource& passphrase, const std::string& outputPath, int level,
            const std::vector<PackageRequest>& packages) {
  std::string error;
  // Read once, so that an encrypted key's passphrase is asked for once. Its
  // shape is checked first: a key the launcher's blob cannot express would
  // make a payload that never verifies.
  const SigningKeyPtr key(LoadSigningKey(keyPath, &error, passphrase));
  if (key == nullptr) {
    ReportError(error);
    return kExitFailed;
  }
  uint8_t modulus[256];
  SigningKeyModulus(key.get(), modulus);
  std::vector<PackageSource> sources(packages.size());
  uint64_t total = 0;
  for (size_t i = 0; i < packages.size(); ++i) {
    if (!LoadPackage(packages[i], &sources[i], &error)) {
      ReportError(error);
      return kExitFailed;
    }
    total += sources[i].database.size();
    for (const auto& cabinet : sources[i].cabinets) total += cabinet.second.size();
  }
  PayloadPlan plan;
  PlanPayload(sources, &plan);
  sources.clear();
  ProgressBar bar;
  StartProgress(&bar, "packing", total);
  RecordEncoding encoding;
  encoding.level = level;
  encoding.compressor = CompressZlibStream;
  ByteVector stack;
  bool encoded = BuildPayload(plan.manifest, plan.files, key.get(), encoding, &stack, &error, {ReportProgress, &bar});
  FinishProgress(&bar);
  if (!encoded || !WriteFileAtomically(outputPath, stack, 0644, &error)) {
    ReportError(encoded ? error : outputPath + ": " + error);
    return kExitFailed;
  }
  WarnOfSelection(outputPath, stack, modulus);
  return kExitOk;
}

int PackCommand(const CliCall& call) {
  std::string key, output;
  PassphraseSource passphrase;
  int level = kDefaultDeflateLevel;
  std::vector<PackageRequest> packages;
  PackageRequest next;
  // Package options apply to the package that follows them.
  for (const CliArgument& argument : call.arguments) {
    const CliOption* option = argument.option;
    const std::string& value = argument.value;
    if (option == &kPackKeyOption) key = value;
    else if (option == &kOutputOption) output = value;
    else if (option == &kLevelOption) level = std::atoi(value.c_str());
    else if (option == &kPassphraseFileOption) passphrase.filePath = value;
    else if (option == &kArchOption) next.architecture = value;
    else if (option == &kLcidsOption) next.lcids = value;
    else if (option == &kCodeOption) next.productCode = value;
    else if (option == &kNameOption) next.productName = value;
    else if (option == &kCabOption) next.cabinetPaths.push_back(value);
    else {
      next.msiPath = value;
      packages.push_back(next);
      next = PackageRequest();
    }
  }
  if (key.empty() || output.empty()) return UsageError(call, "-k KEY.pem and -o PAYLOAD.bin are required");
  if (packages.empty()) return UsageError(call, "no package given");
  if (!next.architecture.empty() || !next.lcids.empty() || !next.productCode.empty() || !next.productName.empty() ||
      !next.cabinetPaths.empty())
    return UsageError(call, "package options after the last package apply to nothing");
  if (level < 1 || level > 12) return UsageError(call, "--level must be 1..12");
  return RunPack(key, passphrase, output, level, packages);
}

}  // namespace

const CliCommand kPackCommand = {
    "pack", "make a signed payload from MSI packages", kHelp,
    {&kPackKeyOption, &kPassphraseFileOption, &kOutputOption, &kLevelOption, &kArchOption, &kLcidsOption,
     &kCodeOption, &kNameOption, &kCabOption},
    -1, CliFaults::NeedsValueOrUnknown, PackCommand};
