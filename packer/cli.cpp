#include "packer/cli.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>

#include "packer/commands.h"

namespace {

const char kUsage[] =
    "usage: msilaunch-pack COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  keygen   make an RSA-2048 signing key pair\n"
    "  pack     make a signed payload from MSI packages\n"
    "  set-key  stamp the payload key into a launcher stub's key slot\n"
    "  attach   put a payload into a launcher stub\n"
    "  inspect  list the key slot, payloads, entries and records of a file\n"
    "  simulate say which package the launcher would install on a given machine\n"
    "  verify   check every record and the manifest of a file\n"
    "  extract  write the packages of a file as the launcher would\n"
    "\n"
    "'msilaunch-pack COMMAND --help' describes each command.\n"
    "exit codes: 0 success, 1 an input is missing or wrong or an output cannot be\n"
    "written, 2 wrong command line, 3 a payload does not decode, verify or hold together\n";

const char kKeygenHelp[] =
    "usage: msilaunch-pack keygen -o KEY.pem\n"
    "Writes a new RSA-2048 key (exponent 65537): the private half to KEY.pem and\n"
    "the public half to KEY.pub.pem, the file set-key, attach --key and the\n"
    "launcher's MSILAUNCH_PUBLIC_KEY take. Prints the key's sha256 fingerprint,\n"
    "which inspect shows for a stub stamped with it.\n";

const char kSetKeyHelp[] =
    "usage: msilaunch-pack set-key --stub msilaunch.exe --key KEY.pub.pem -o stub.exe [--bind PAYLOAD.bin ...]\n"
    "                              [--replace]\n"
    "Writes the public key into the stub's key slot, which the launcher verifies\n"
    "every record with; a stub with an empty slot installs nothing. Do it before\n"
    "signing: a signed stub is refused (the slot lies under its signature).\n"
    "--bind PAYLOAD.bin (repeatable, up to 16 payloads): the launcher then installs\n"
    "  only these payloads, not any other the key signed, such as one attached\n"
    "  after signing. Each must verify with the key.\n"
    "A slot that holds another key, or this key bound to other payloads, is\n"
    "refused unless --replace is given; the same key again changes nothing.\n";

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
    "                             [--key KEY.pub.pem [--bind PAYLOAD.bin ...] [--replace]]\n"
    "--key, --bind: first stamp the key (and bindings) into the stub's key slot, as\n"
    "  set-key does. A stub with a key slot takes only a payload whose manifest\n"
    "  its key verifies and, when the slot has bindings, one of those it binds.\n"
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
    "verification. A launcher's key slot is shown with its key's fingerprint.\n"
    "Without --key, manifests must verify with the key in the file's key slot,\n"
    "or with the built-in key for a file without one.\n";

const char kSimulateHelp[] =
    "usage: msilaunch-pack simulate FILE --arch x86|x64|wow64 --lcid LCID|LOCALE [--key PUB.pem] [--json]\n"
    "       msilaunch-pack simulate FILE --all [--key PUB.pem] [--json]\n"
    "Says which package the launcher in FILE (or the launcher given a bare\n"
    "payload) installs on such a machine, and by which pass: exact LCID, language\n"
    "(low 8 bits), US English; or that none fits, when it ends with (13, 2151)\n"
    "and string 101. x86: 32-bit Windows. x64: 64-bit Windows, where the 32-bit\n"
    "launcher runs under WOW64 and takes x64 packages (the same as wow64).\n"
    "--lcid takes a number (2055, 0x807) or a locale name (de-CH). --all: each\n"
    "architecture with a dozen frequent locales. --key as for inspect.\n";

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

const CliOption kKeyOption = {"key", 0, true};
const CliOption kOutputOption = {"output", 'o', true};
const CliOption kStubOption = {"stub", 0, true};
const CliOption kReplaceOption = {"replace", 0, false};
const CliOption kJsonOption = {"json", 0, false};
const CliOption kBindOption = {"bind", 0, true};

const CliCommand kCommands[] = {
    {"keygen", kKeygenHelp, {kOutputOption}, 0, CliFaults::Unexpected, KeygenCommand},
    {"pack", kPackHelp,
     {{"key", 'k', true}, kOutputOption, {"level", 0, true}, {"arch", 0, true}, {"lcids", 0, true},
      {"code", 0, true}, {"name", 0, true}, {"cab", 0, true}},
     -1, CliFaults::NeedsValueOrUnknown, PackCommand},
    {"set-key", kSetKeyHelp, {kStubOption, kKeyOption, kOutputOption, kBindOption, kReplaceOption}, 0,
     CliFaults::Unexpected, SetKeyCommand},
    {"attach", kAttachHelp,
     {kStubOption, {"payload", 0, true}, {"carrier", 0, true}, kOutputOption, kKeyOption, kBindOption,
      kReplaceOption},
     0, CliFaults::Unexpected, AttachCommand},
    {"inspect", kInspectHelp, {kKeyOption, kJsonOption}, 1, CliFaults::Unexpected, InspectCommand},
    {"simulate", kSimulateHelp,
     {kKeyOption, {"arch", 0, true}, {"lcid", 0, true}, {"all", 0, false}, kJsonOption}, 1, CliFaults::Unexpected,
     SimulateCommand},
    {"verify", kVerifyHelp, {kKeyOption}, 1, CliFaults::Unexpected, VerifyCommand},
    {"extract", kExtractHelp, {kKeyOption, kOutputOption, {"package", 0, true}}, 1, CliFaults::Unexpected,
     ExtractCommand},
};

int PrintUsageError(const std::string& message, const char* help) {
  ReportError(message);
  std::fputs(help, stderr);
  return kExitUsage;
}

bool IsHelp(const char* element) { return std::strcmp(element, "--help") == 0 || std::strcmp(element, "-h") == 0; }

// getopt_long's view of a command's options. Options without a letter get
// ids above every character (GetoptId).
struct GetoptTable {
  std::string letters;
  std::vector<option> longOptions;
};

int GetoptId(const CliCommand& command, size_t index) {
  const char letter = command.options[index].letter;
  return letter != 0 ? letter : 256 + static_cast<int>(index);
}

GetoptTable MakeGetoptTable(const CliCommand& command) {
  // "-": operands come back in place (as id 1), so that an option is seen
  // before the package it applies to; ":": a missing value comes back as
  // ':', and getopt prints nothing of its own.
  GetoptTable table{"-:", {}};
  for (size_t i = 0; i < command.options.size(); ++i) {
    const CliOption& wanted = command.options[i];
    if (wanted.letter != 0) table.letters += std::string(1, wanted.letter) + (wanted.takesValue ? ":" : "");
    table.longOptions.push_back(
        {wanted.name, wanted.takesValue ? required_argument : no_argument, nullptr, GetoptId(command, i)});
  }
  table.longOptions.push_back({nullptr, 0, nullptr, 0});
  return table;
}

const CliOption* OptionWithId(const CliCommand& command, int id) {
  for (size_t i = 0; i < command.options.size(); ++i)
    if (GetoptId(command, i) == id) return &command.options[i];
  return nullptr;
}

// Whether the option getopt found at argv[at] was written as one element,
// in full, with its value (if it takes one) as the next element: getopt
// also takes "--key=X", "-kX" and abbreviations, which the packer never has.
bool SpelledInFull(const CliOption& option, char* const* argv, int at, int next) {
  const std::string element = argv[at];
  const bool full = element == std::string("--") + option.name ||
                    (option.letter != 0 && element == std::string("-") + option.letter);
  return full && next == at + (option.takesValue ? 2 : 1);
}

std::string FaultAt(const CliCommand& command, const std::vector<std::string>& arguments, size_t index) {
  const std::string prefix = std::string(command.name) + ": ";
  if (command.faults == CliFaults::Unexpected) return prefix + "unexpected argument " + arguments[index];
  if (index + 1 >= arguments.size()) return prefix + arguments[index] + " needs a value";
  return prefix + "unknown option " + arguments[index];
}

// Whether `operand` is taken: always by pack; by the others while they have
// room for one, and never when it is empty or starts with "-".
bool TakesOperand(const CliCommand& command, const CliCall& call, const std::string& operand) {
  if (command.faults != CliFaults::Unexpected) return true;
  const bool full = command.maxOperands >= 0 && Operands(call).size() >= static_cast<size_t>(command.maxOperands);
  return !full && !operand.empty() && operand[0] != '-';
}

}  // namespace

void ReportError(const std::string& message) { std::fprintf(stderr, "msilaunch-pack: %s\n", message.c_str()); }

bool ParseCommandLine(const CliCommand& command, const std::vector<std::string>& arguments, CliCall* call,
                      std::string* fault) {
  *call = CliCall{&command, {}};
  // getopt's argv: the command's name in place of the program's.
  std::vector<char*> argv{const_cast<char*>(command.name)};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const int argc = static_cast<int>(arguments.size()) + 1;
  const GetoptTable table = MakeGetoptTable(command);
  optind = 0;  // 0 starts a new scan, internal state included, in glibc and MinGW alike
  opterr = 0;
  for (;;) {
    const int at = optind == 0 ? 1 : optind;
    const int id = getopt_long(argc, argv.data(), table.letters.c_str(), table.longOptions.data(), nullptr);
    if (id == -1 && at >= argc) return true;
    // -1 before the end is getopt stopping at "--": refused below like an unknown option.
    const CliOption* option = id == -1 ? nullptr : OptionWithId(command, id);
    if (id == 1 && TakesOperand(command, *call, optarg)) {
      call->arguments.push_back(CliArgument{nullptr, optarg});
    } else if (option != nullptr && SpelledInFull(*option, argv.data(), at, optind)) {
      call->arguments.push_back(CliArgument{option, option->takesValue ? optarg : ""});
    } else {
      *fault = FaultAt(command, arguments, static_cast<size_t>(at - 1));
      return false;
    }
  }
}

std::string LastValue(const CliCall& call, const char* name) {
  std::string value;
  for (const CliArgument& argument : call.arguments)
    if (argument.option != nullptr && std::strcmp(argument.option->name, name) == 0) value = argument.value;
  return value;
}

std::vector<std::string> Values(const CliCall& call, const char* name) {
  std::vector<std::string> values;
  for (const CliArgument& argument : call.arguments)
    if (argument.option != nullptr && std::strcmp(argument.option->name, name) == 0) values.push_back(argument.value);
  return values;
}

bool Given(const CliCall& call, const char* name) {
  for (const CliArgument& argument : call.arguments)
    if (argument.option != nullptr && std::strcmp(argument.option->name, name) == 0) return true;
  return false;
}

std::vector<std::string> Operands(const CliCall& call) {
  std::vector<std::string> operands;
  for (const CliArgument& argument : call.arguments)
    if (argument.option == nullptr) operands.push_back(argument.value);
  return operands;
}

int UsageError(const CliCall& call, const std::string& message) {
  return PrintUsageError(std::string(call.command->name) + ": " + message, call.command->help);
}

int RunPackerCli(int argc, char** argv) {
  if (argc < 2 || IsHelp(argv[1])) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? kExitUsage : kExitOk;
  }
  const std::string name = argv[1];
  for (const CliCommand& command : kCommands) {
    if (name != command.name) continue;
    // Help wins over everything else on the line, even where it would be a value.
    for (int i = 2; i < argc; ++i) {
      if (!IsHelp(argv[i])) continue;
      std::fputs(command.help, stdout);
      return kExitOk;
    }
    CliCall call;
    std::string fault;
    if (!ParseCommandLine(command, std::vector<std::string>(argv + 2, argv + argc), &call, &fault))
      return PrintUsageError(fault, command.help);
    return command.run(call);
  }
  return PrintUsageError("unknown command " + name, kUsage);
}
