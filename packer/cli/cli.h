// The command line of msilaunch-pack: option parsing, error and warning
// reporting and exit codes. Portable C++17 over getopt_long; nothing here
// knows a command, so a Windows build of the packer takes it as it is.
//
// A command is one file holding its row (a CliCommand: name, help text,
// options, how many operands it takes, its entry function); the table of
// rows is packer/commands/command_table.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Exit codes of msilaunch-pack (documented in its --help and docs/FORMAT.md).
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;    // an input is missing or wrong, or an output cannot be written
constexpr int kExitUsage = 2;     // the command line is wrong
constexpr int kExitInvalid = 3;   // a payload does not decode, verify or hold together
// The launcher would leave something out: simulate's machine gets no package
// (--all: one of its machines), or verify --strict found a warning.
constexpr int kExitLeftOut = 4;

// Print "msilaunch-pack: <message>" and "msilaunch-pack: warning: <message>"
// on standard error: the only two ways the packer words a problem.
void ReportError(const std::string& message);
void ReportWarning(const std::string& message);

// One option of a command, spelled "--name" and, when `letter` is not 0,
// also "-letter". A value is always the next element of the command line.
// Options are objects, and a command reads its options back by the object,
// never by name, so a misspelt option does not compile.
struct CliOption {
  const char* name;
  char letter;
  bool takesValue;
};

// The options several commands share.
extern const CliOption kKeyOption;     // --key
extern const CliOption kOutputOption;  // --output, -o
extern const CliOption kStubOption;    // --stub
extern const CliOption kReplaceOption; // --replace
extern const CliOption kJsonOption;    // --json
extern const CliOption kBindOption;    // --bind

// How a command words an element it cannot take.
enum class CliFaults {
  // "COMMAND: unexpected argument ELEMENT", for an unknown option, an option
  // without its value, and an operand too many.
  Unexpected,
  // Every element that starts with "-" (and is not "-") is an option with a
  // value: "COMMAND: ELEMENT needs a value" when it ends the line, else
  // "COMMAND: unknown option ELEMENT". Operands are never refused.
  NeedsValueOrUnknown,
};

struct CliCommand;

// One element of a parsed command line: an option with its value (empty for
// a flag), or an operand (`option` null).
struct CliArgument {
  const CliOption* option;
  std::string value;
};

// A command line as its command receives it: the arguments in the order
// given, which matters where an option applies to the operand after it.
struct CliCall {
  const CliCommand* command;
  std::vector<CliArgument> arguments;
};

struct CliCommand {
  const char* name;
  const char* summary;  // its line in the packer's usage
  const char* help;
  std::vector<const CliOption*> options;
  int maxOperands;  // -1: any number
  CliFaults faults;
  int (*run)(const CliCall& call);  // returns the exit code
};

// Parses `arguments` (the elements after the command's name) for
// `command`. An option counts only when spelled out in full as one element
// ("--key=X", "-kX", grouped letters and abbreviations are refused) and "--"
// ends nothing: it is refused like any unknown option. False with *fault set
// to the message for the first element that cannot be taken.
bool ParseCommandLine(const CliCommand& command, const std::vector<std::string>& arguments, CliCall* call,
                      std::string* fault);

// The value of the last `option` given ("" when none was), the values of
// every one in order, whether it was given, and the operands in order.
std::string LastValue(const CliCall& call, const CliOption& option);
std::vector<std::string> Values(const CliCall& call, const CliOption& option);
bool Given(const CliCall& call, const CliOption& option);
std::vector<std::string> Operands(const CliCall& call);

// Reports "COMMAND: message" and prints the command's help on standard
// error. Returns kExitUsage.
int UsageError(const CliCall& call, const std::string& message);

// The whole command line, argv[0] being the program, over the `count` rows
// of `commands`: "--help" or "-h" anywhere after a command's name prints its
// help, an unknown command or a wrong command line gives the usage on
// standard error and kExitUsage. Returns the exit code.
int RunPackerCli(int argc, char** argv, const CliCommand* const* commands, size_t count);
