// msilaunch-pack: makes payloads for the launcher and reads them back.
#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "packer/deflate.h"
#include "packer/inspect_command.h"
#include "packer/pack_command.h"

namespace {

const char kUsage[] =
    "usage: msilaunch-pack COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  keygen   make an RSA-2048 signing key pair\n"
    "  pack     make a signed payload from MSI packages\n"
    "  attach   put a payload into a launcher stub\n"
    "  inspect  list the payloads, entries and records of a file\n"
    "  verify   check every record and the manifest of a file\n"
    "  extract  write the packages of a file as the launcher would\n"
    "\n"
    "'msilaunch-pack COMMAND --help' describes each command.\n"
    "exit codes: 0 success, 1 an input is missing or wrong or an output cannot be\n"
    "written, 2 wrong command line, 3 a payload does not decode, verify or hold together\n";

const char kKeygenHelp[] =
    "usage: msilaunch-pack keygen -o KEY.pem\n"
    "Writes a new RSA-2048 key (exponent 65537): the private half to KEY.pem and\n"
    "the public half to KEY.pub.pem, the file the launcher's MSILAUNCH_PUBLIC_KEY takes.\n";

const char kPackHelp[] =
    "usage: msilaunch-pack pack -k KEY.pem -o PAYLOAD.bin [--level N] [PACKAGE-OPTIONS] PACKAGE.msi ...\n"
    "Each package's architecture and LCIDs come from its Summary Information\n"
    "Template, its product code and name from its Property table, its external\n"
    "cabinets from its Media table (found beside the .msi). Options given before\n"
    "a package apply to that package only:\n"
    "  --arch Intel|x64    --lcids 1031;1033    --code {GUID}    --name TEXT\n"
    "  --cab PATH          (repeatable) the package's cabinets instead of the Media table's\n"
    "Package ids are 1, 2, ... in command-line order; cabinets follow. A cabinet\n"
    "with the same name and bytes in several packages is stored once.\n"
    "--level N: libdeflate level 1..12 (default 3, about twice as fast as zlib -9 and as small).\n";

const char kAttachHelp[] =
    "usage: msilaunch-pack attach --stub msilaunch.exe --payload PAYLOAD.bin --carrier certificate|tail -o setup.exe\n"
    "certificate: the stub must be signed; the payload becomes an extension of an\n"
    "  extra certificate in its signature, which stays valid.\n"
    "tail: the payload ends the file; in a signed stub it lies inside the\n"
    "  certificate table, which Windows with EnableCertPaddingCheck set rejects.\n"
    "The stub is the 32-bit launcher; an unsigned x86-64 (PE32+) build, which runs\n"
    "where 32-bit Windows code cannot, takes only the tail.\n";

const char kInspectHelp[] =
    "usage: msilaunch-pack inspect FILE [--key PUB.pem] [--json]\n"
    "Finds the payloads of FILE (an executable or a bare payload) as the launcher\n"
    "does and lists their entries and records; with --key, each record's\n"
    "verification. Without --key, manifests must verify with the built-in key.\n";

const char kVerifyHelp[] =
    "usage: msilaunch-pack verify FILE --key PUB.pem\n"
    "Exit 0 only when every record decodes and verifies and the manifest holds\n"
    "together (each package and cab entry has its record, cab entries name\n"
    "existing packages); otherwise 3, with one line per problem.\n";

const char kExtractHelp[] =
    "usage: msilaunch-pack extract FILE --key PUB.pem -o DIR [--package ID]\n"
    "Writes each package (or package ID) into DIR/ID/: main.msi and its\n"
    "cabinets under the names the manifest gives. With several payloads the\n"
    "folder is DIR/PAYLOAD.ID/. Prints each folder written.\n";

void SilenceLibraryLogs(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

bool WantsHelp(int argc, char** argv) {
  for (int i = 2; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
  return false;
}

int UsageError(const std::string& message, const char* help) {
  ReportError(message);
  std::fputs(help, stderr);
  return kExitUsage;
}

// Reads the value of option argv[*i]; false when it is missing.
bool TakeValue(int argc, char** argv, int* i, std::string* value) {
  if (*i + 1 >= argc) return false;
  *value = argv[++*i];
  return true;
}

int Keygen(int argc, char** argv) {
  std::string output;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if ((arg == "-o" || arg == "--output") && TakeValue(argc, argv, &i, &output)) continue;
    return UsageError("keygen: unexpected argument " + arg, kKeygenHelp);
  }
  if (output.empty()) return UsageError("keygen: -o KEY.pem is required", kKeygenHelp);
  return RunKeygen(output);
}

int Pack(int argc, char** argv) {
  std::string key, output;
  int level = kDefaultDeflateLevel;
  std::vector<PackageRequest> packages;
  PackageRequest next;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i], value;
    bool option = arg.size() > 1 && arg[0] == '-';
    if (option && !TakeValue(argc, argv, &i, &value)) return UsageError("pack: " + arg + " needs a value", kPackHelp);
    if (arg == "-k" || arg == "--key") key = value;
    else if (arg == "-o" || arg == "--output") output = value;
    else if (arg == "--level") level = std::atoi(value.c_str());
    else if (arg == "--arch") next.architecture = value;
    else if (arg == "--lcids") next.lcids = value;
    else if (arg == "--code") next.productCode = value;
    else if (arg == "--name") next.productName = value;
    else if (arg == "--cab") next.cabinetPaths.push_back(value);
    else if (option) return UsageError("pack: unknown option " + arg, kPackHelp);
    else {
      next.msiPath = arg;
      packages.push_back(next);
      next = PackageRequest();
    }
  }
  if (key.empty() || output.empty()) return UsageError("pack: -k KEY.pem and -o PAYLOAD.bin are required", kPackHelp);
  if (packages.empty()) return UsageError("pack: no package given", kPackHelp);
  if (!next.architecture.empty() || !next.lcids.empty() || !next.productCode.empty() || !next.productName.empty() ||
      !next.cabinetPaths.empty())
    return UsageError("pack: package options after the last package apply to nothing", kPackHelp);
  if (level < 1 || level > 12) return UsageError("pack: --level must be 1..12", kPackHelp);
  return RunPack(key, output, level, packages);
}

int Attach(int argc, char** argv) {
  std::string stub, payload, carrier, output;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--stub" && TakeValue(argc, argv, &i, &stub)) continue;
    if (arg == "--payload" && TakeValue(argc, argv, &i, &payload)) continue;
    if (arg == "--carrier" && TakeValue(argc, argv, &i, &carrier)) continue;
    if ((arg == "-o" || arg == "--output") && TakeValue(argc, argv, &i, &output)) continue;
    return UsageError("attach: unexpected argument " + arg, kAttachHelp);
  }
  if (stub.empty() || payload.empty() || output.empty())
    return UsageError("attach: --stub, --payload and -o are required", kAttachHelp);
  if (carrier != "certificate" && carrier != "tail")
    return UsageError("attach: --carrier must be certificate or tail", kAttachHelp);
  return RunAttach(stub, payload, carrier, output);
}

// inspect, verify and extract share their options.
int ReadBack(int argc, char** argv, const std::string& command, const char* help) {
  std::string file, key, output, package;
  bool json = false;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--key" && TakeValue(argc, argv, &i, &key)) continue;
    if (command == "inspect" && arg == "--json") {
      json = true;
      continue;
    }
    if (command == "extract" && (arg == "-o" || arg == "--output") && TakeValue(argc, argv, &i, &output)) continue;
    if (command == "extract" && arg == "--package" && TakeValue(argc, argv, &i, &package)) continue;
    if (arg.empty() || arg[0] == '-' || !file.empty()) return UsageError(command + ": unexpected argument " + arg, help);
    file = arg;
  }
  if (file.empty()) return UsageError(command + ": FILE is required", help);
  if (command == "inspect") return RunInspect(file, key, json);
  if (key.empty()) return UsageError(command + ": --key PUB.pem is required", help);
  if (command == "verify") return RunVerify(file, key);
  if (output.empty()) return UsageError("extract: -o DIR is required", help);
  char* end = nullptr;
  unsigned long id = package.empty() ? 0 : std::strtoul(package.c_str(), &end, 10);
  if (!package.empty() && (*end != '\0' || id == 0 || id > 0xFFFFFFFFul))
    return UsageError("extract: --package takes a package id (1, 2, ...)", help);
  return RunExtract(file, key, output, static_cast<uint32_t>(id));
}

}  // namespace

int main(int argc, char** argv) {
  // libmsi warns on stderr about files it cannot open; the packer says so
  // itself, in one line that names the file.
  g_log_set_default_handler(SilenceLibraryLogs, nullptr);
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? kExitUsage : kExitOk;
  }
  const std::string command = argv[1];
  struct Command {
    const char* name;
    const char* help;
  };
  const Command commands[] = {{"keygen", kKeygenHelp},   {"pack", kPackHelp},       {"attach", kAttachHelp},
                              {"inspect", kInspectHelp}, {"verify", kVerifyHelp}, {"extract", kExtractHelp}};
  for (const Command& known : commands) {
    if (command != known.name) continue;
    if (WantsHelp(argc, argv)) {
      std::fputs(known.help, stdout);
      return kExitOk;
    }
    if (command == "keygen") return Keygen(argc, argv);
    if (command == "pack") return Pack(argc, argv);
    if (command == "attach") return Attach(argc, argv);
    return ReadBack(argc, argv, command, known.help);
  }
  return UsageError("unknown command " + command, kUsage);
}
