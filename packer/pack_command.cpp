#include "packer/pack_command.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "package/names.h"
#include "packer/commands.h"
#include "packer/deflate.h"
#include "packer/file_io.h"
#include "packer/keys.h"
#include "packer/pe_placement.h"
#include "payload/record_stack.h"

namespace {

// Every manifest field lands in a 256-byte buffer of the launcher.
constexpr size_t kMaxFieldBytes = 255;

bool IsNumberList(const std::string& text) {
  if (text.empty() || text.front() == ';' || text.back() == ';') return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == ';' ? text[i - 1] == ';' : (c < '0' || c > '9')) return false;
  }
  return true;
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return i == a.size() && b[i] == '\0';
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
  if (name.empty() || name.front() == ' ' || name.size() > kMaxFieldBytes) return false;
  for (char c : name)
    if (!IsCabinetNameByte(c)) return false;
  return IsPlainFileName(name.c_str()) && !EqualsIgnoringCase(name, "main.msi");
}

void ReportProgress(void* context, uint64_t bytes) { AdvanceProgress(static_cast<ProgressBar*>(context), bytes); }

// Whether `exe` is a PE image the carrier can go into: a PE32 image for
// either carrier; for the tail also a PE32+ one, the x86-64 test flavour of
// the launcher, which reads only its tail (*pe32Plus is then set).
bool PeSecurityDirectory(const ByteVector& exe, bool tailCarrier, uint32_t* tableSize, bool* pe32Plus) {
  // Only the headers the placement needs; pe_placement checks the rest.
  if (exe.size() < 64 || exe[0] != 'M' || exe[1] != 'Z') return false;
  auto u32 = [&](size_t at) {
    return static_cast<uint32_t>(exe[at]) | static_cast<uint32_t>(exe[at + 1]) << 8 |
           static_cast<uint32_t>(exe[at + 2]) << 16 | static_cast<uint32_t>(exe[at + 3]) << 24;
  };
  uint64_t pe = u32(0x3C);
  if (pe + 248 > exe.size() || u32(pe) != 0x00004550) return false;
  const uint32_t magic = exe[pe + 24] | exe[pe + 25] << 8;
  *pe32Plus = magic == 0x20B;
  if (*pe32Plus && tailCarrier && pe + 264 <= exe.size()) {
    *tableSize = u32(pe + 172);
    return true;
  }
  if (magic != 0x10B) return false;
  *tableSize = u32(pe + 156);
  return true;
}

}  // namespace

bool CheckPackageFacts(const MsiFacts& facts, std::string* error) {
  if (facts.architecture != "Intel" && facts.architecture != "x64") {
    *error = "architecture \"" + facts.architecture + "\" is neither Intel nor x64";
  } else if (!IsNumberList(facts.lcids) || facts.lcids.size() > kMaxFieldBytes) {
    *error = "LCID list \"" + facts.lcids + "\" is not decimal numbers separated by ';' (use --lcids)";
  } else if (HoldsNul(facts.productCode) || !IsBracedGuid(facts.productCode.c_str())) {
    *error = "product code \"" + facts.productCode + "\" is not a GUID in braces (use --code)";
  } else if (facts.productName.empty() || facts.productName.size() > kMaxFieldBytes ||
             facts.productName.find('\\') != std::string::npos) {
    // A backslash would split the name into another manifest field.
    *error = "product name \"" + facts.productName + "\" is empty, longer than 255 bytes or holds '\\' (use --name)";
  } else {
    for (const std::string& cabinet : facts.cabinets) {
      if (!IsSafeCabinetName(cabinet)) {
        *error = "cabinet name \"" + cabinet +
                 "\" is not a plain file name beside main.msi (ASCII letters, digits, inner spaces and " +
                 kCabinetNamePunctuation + " only; no device name, no trailing dot)";
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

bool EncodePayload(const PayloadPlan& plan, const SigningKey* key, int level, ByteVector* stack,
                   void (*progress)(void* context, uint64_t bytes), void* progressContext, std::string* error) {
  stack->clear();
  auto append = [&](const Guid16& type, uint32_t id, const ByteVector& content) {
    // Sizes travel as u32 in the trailer and the launcher's blocks.
    if (content.size() >= std::numeric_limits<uint32_t>::max()) {
      *error = "a file of " + std::to_string(content.size()) + " bytes is too large for a record";
      return false;
    }
    ByteVector data, signature;
    if (!CompressZlibStream(content.data(), content.size(), level, &data)) {
      *error = "cannot compress at level " + std::to_string(level);
      return false;
    }
    if (!SignBytes(key, content.data(), content.size(), &signature, error)) return false;
    AppendRawRecord(stack, type, id, data, signature);
    if (stack->size() >= std::numeric_limits<uint32_t>::max()) {
      *error = "the payload passes 4 GiB, more than the launcher can read";
      return false;
    }
    if (progress != nullptr) progress(progressContext, content.size());
    return true;
  };
  if (!append(ManifestRecordType, 0, plan.manifest)) return false;
  for (const PayloadFile& file : plan.files)
    if (!append(FileRecordType, file.id, file.content)) return false;
  return true;
}

int RunKeygen(const std::string& privatePath) {
  std::string publicPath, error;
  if (!GenerateKeyPair(privatePath, &publicPath, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  std::printf("wrote %s (private: keep it secret) and %s (for MSILAUNCH_PUBLIC_KEY)\n", privatePath.c_str(),
              publicPath.c_str());
  return kExitOk;
}

int RunPack(const std::string& keyPath, const std::string& outputPath, int level,
            const std::vector<PackageRequest>& packages) {
  std::string error;
  uint8_t modulus[256];
  // The key's shape first: a key the launcher's blob cannot express would
  // make a payload that never verifies.
  if (!LoadPublicModulus(keyPath, modulus, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  SigningKey* key = LoadSigningKey(keyPath, &error);
  if (key == nullptr) {
    ReportError(error);
    return kExitFailed;
  }
  std::vector<PackageSource> sources(packages.size());
  uint64_t total = 0;
  for (size_t i = 0; i < packages.size(); ++i) {
    if (!LoadPackage(packages[i], &sources[i], &error)) {
      FreeSigningKey(key);
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
  ByteVector stack;
  bool encoded = EncodePayload(plan, key, level, &stack, ReportProgress, &bar, &error);
  FinishProgress(&bar);
  FreeSigningKey(key);
  if (!encoded || !WriteFileAtomically(outputPath, stack, 0644, &error)) {
    ReportError(encoded ? error : outputPath + ": " + error);
    return kExitFailed;
  }
  return kExitOk;
}

int RunAttach(const std::string& stubPath, const std::string& payloadPath, const std::string& carrier,
              const std::string& outputPath) {
  std::string error;
  ByteVector stub, stack, out;
  if (!ReadWholeFile(stubPath, &stub, &error) || !ReadWholeFile(payloadPath, &stack, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  LocatedRecord manifest;
  if (stack.size() >= std::numeric_limits<uint32_t>::max() ||
      !LocateRecord(stack.data(), static_cast<uint32_t>(stack.size()), ManifestRecordType, 0, &manifest)) {
    ReportError(payloadPath + ": not a payload (no manifest record ends it)");
    return kExitFailed;
  }
  uint32_t tableSize = 0;
  bool pe32Plus = false;
  if (!PeSecurityDirectory(stub, carrier == "tail", &tableSize, &pe32Plus)) {
    ReportError(stubPath + (pe32Plus ? ": not a PE32 executable (a PE32+ stub takes only --carrier tail)"
                                     : ": not a PE32 executable"));
    return kExitFailed;
  }
  bool signedStub = tableSize != 0;
  bool placed = false;
  if (pe32Plus) {
    // The shipping launcher is PE32; an x86-64 build is only a way to run
    // the launcher where no 32-bit Windows code runs. It never looks into its
    // own PE32+ signature, and bytes behind a signed image's table would
    // break it, so only an unsigned one is taken.
    if (signedStub) {
      ReportError(stubPath + ": a signed PE32+ stub cannot take a payload (the launcher reads only the tail of a "
                             "PE32+ file, and bytes after its signature would break it)");
      return kExitFailed;
    }
    std::fprintf(stderr, "msilaunch-pack: warning: %s is a PE32+ (x86-64) stub: a test build of the launcher, not "
                         "the shipping 32-bit one\n", stubPath.c_str());
    placed = PlaceStackAtEnd(stub, stack, &out, &error);
  } else if (carrier == "certificate") {
    if (!signedStub) {
      ReportError(stubPath + ": the certificate carrier needs a signed stub (sign it first, or use --carrier tail)");
      return kExitFailed;
    }
    placed = PlaceStackInCertificate(stub, stack, &out, &error);
  } else if (signedStub) {
    placed = PlaceStackInCertificateTable(stub, stack, &out, &error);
    if (placed)
      std::fprintf(stderr,
                   "msilaunch-pack: warning: %s: the payload lies inside the certificate table; Windows with "
                   "EnableCertPaddingCheck set treats the file as unsigned (use --carrier certificate)\n",
                   outputPath.c_str());
  } else {
    placed = PlaceStackAtEnd(stub, stack, &out, &error);
  }
  if (!placed) {
    ReportError(stubPath + ": " + error);
    return kExitFailed;
  }
  if (!WriteFileAtomically(outputPath, out, 0755, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  return kExitOk;
}

int KeygenCommand(const CliCall& call) {
  const std::string output = LastValue(call, "output");
  if (output.empty()) return UsageError(call, "-o KEY.pem is required");
  return RunKeygen(output);
}

int PackCommand(const CliCall& call) {
  std::string key, output;
  int level = kDefaultDeflateLevel;
  std::vector<PackageRequest> packages;
  PackageRequest next;
  // Package options apply to the package that follows them.
  for (const CliArgument& argument : call.arguments) {
    const std::string name = argument.option != nullptr ? argument.option->name : "";
    const std::string& value = argument.value;
    if (name == "key") key = value;
    else if (name == "output") output = value;
    else if (name == "level") level = std::atoi(value.c_str());
    else if (name == "arch") next.architecture = value;
    else if (name == "lcids") next.lcids = value;
    else if (name == "code") next.productCode = value;
    else if (name == "name") next.productName = value;
    else if (name == "cab") next.cabinetPaths.push_back(value);
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
  return RunPack(key, output, level, packages);
}

int AttachCommand(const CliCall& call) {
  const std::string stub = LastValue(call, "stub"), payload = LastValue(call, "payload"),
                    carrier = LastValue(call, "carrier"), output = LastValue(call, "output");
  if (stub.empty() || payload.empty() || output.empty())
    return UsageError(call, "--stub, --payload and -o are required");
  if (carrier != "certificate" && carrier != "tail") return UsageError(call, "--carrier must be certificate or tail");
  return RunAttach(stub, payload, carrier, output);
}
