#include "packer/cli/cli.h"

#include <getopt.h>

#include <cstdio>
#include <cstring>

namespace {

const char kUsageHead[] =
    "usage: msilaunch-pack COMMAND [options]\n"
    "\n"
    "commands:\n";

const char kUsageTail[] =
    "\n"
    "'msilaunch-pack COMMAND --help' describes each command.\n"
    "exit codes: 0 success, 1 an input is missing or wrong or an output cannot be\n"
    "written, 2 wrong command line, 3 a payload does not decode, verify or hold together\n";

std::string Usage(const CliCommand* const* commands, size_t count) {
  std::string usage = kUsageHead;
  for (size_t i = 0; i < count; ++i) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-8s %s\n", commands[i]->name, commands[i]->summary);
    usage += line;
  }
  return usage + kUsageTail;
}

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
  const char letter = command.options[index]->letter;
  return letter != 0 ? letter : 256 + static_cast<int>(index);
}

GetoptTable MakeGetoptTable(const CliCommand& command) {
  // "-": operands come back in place (as id 1), so that an option is seen
  // before the package it applies to; ":": a missing value comes back as
  // ':', and getopt prints nothing of its own.
  GetoptTable table{"-:", {}};
  for (size_t i = 0; i < command.options.size(); ++i) {
    const CliOption& wanted = *command.options[i];
    if (wanted.letter != 0) table.letters += std::string(1, wanted.letter) + (wanted.takesValue ? ":" : "");
    table.longOptions.push_back(
        {wanted.name, wanted.takesValue ? required_argument : no_argument, nullptr, GetoptId(command, i)});
  }
  table.longOptions.push_back({nullptr, 0, nullptr, 0});
  return table;
}

const CliOption* OptionWithId(const CliCommand& command, int id) {
  for (size_t i = 0; i < command.options.size(); ++i)
    if (GetoptId(command, i) == id) return command.options[i];
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

const CliOption kKeyOption = {"key", 0, true};
const CliOption kOutputOption = {"output", 'o', true};
const CliOption kStubOption = {"stub", 0, true};
const CliOption kReplaceOption = {"replace", 0, false};
const CliOption kJsonOption = {"json", 0, false};
const CliOption kBindOption = {"bind", 0, true};

void ReportError(const std::string& message) { std::fprintf(stderr, "msilaunch-pack: %s\n", message.c_str()); }

void ReportWarning(const std::string& message) {
  std::fprintf(stderr, "msilaunch-pack: warning: %s\n", message.c_str());
}

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

std::string LastValue(const CliCall& call, const CliOption& option) {
  std::string value;
  for (const CliArgument& argument : call.arguments)
    if (argument.option == &option) value = argument.value;
  return value;
}

std::vector<std::string> Values(const CliCall& call, const CliOption& option) {
  std::vector<std::string> values;
  for (const CliArgument& argument : call.arguments)
    if (argument.option == &option) values.push_back(argument.value);
  return values;
}

bool Given(const CliCall& call, const CliOption& option) {
  for (const CliArgument& argument : call.arguments)
    if (argument.option == &option) return true;
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

int RunPackerCli(int argc, char** argv, const CliCommand* const* commands, size_t count) {
  const std::string usage = Usage(commands, count);
  if (argc < 2 || IsHelp(argv[1])) {
    std::fputs(usage.c_str(), argc < 2 ? stderr : stdout);
    return argc < 2 ? kExitUsage : kExitOk;
  }
  const std::string name = argv[1];
  for (size_t i = 0; i < count; ++i) {
    const CliCommand& command = *commands[i];
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
  return PrintUsageError("unknown command " + name, usage.c_str());
}
