// The command line of msilaunch-pack: its commands and their help texts,
// option parsing, error reporting and exit codes. Portable C++17 over
// getopt_long; nothing here reads an MSI, so a Windows build of the packer
// takes this module as it is.
//
// A command is one file with one entry function (declared in
// packer/commands.h) and one row of the command table in cli.cpp: its name,
// help text, options and how many operands it takes.
#pragma once

#include <string>
#include <vector>

// Exit codes of msilaunch-pack (documented in its --help and docs/FORMAT.md).
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;    // an input is missing or wrong, or an output cannot be written
constexpr int kExitUsage = 2;     // the command line is wrong
constexpr int kExitInvalid = 3;   // a payload does not decode, verify or hold together

// Prints "msilaunch-pack: <message>" on standard error.
void ReportError(const std::string& message);

// One option of a command, spelled "--name" and, when `letter` is not 0,
// also "-letter". A value is always the next element of the command line.
struct CliOption {
  const char* name;
  char letter;
  bool takesValue;
};

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
  const char* help;
  std::vector<CliOption> options;
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

// The value of the last `name` option given ("" when none was), the values
// of every one in order, whether a flag was given, and the operands in order.
std::string LastValue(const CliCall& call, const char* name);
std::vector<std::string> Values(const CliCall& call, const char* name);
bool Given(const CliCall& call, const char* name);
std::vector<std::string> Operands(const CliCall& call);

// Reports "COMMAND: message" and prints the command's help on standard
// error. Returns kExitUsage.
int UsageError(const CliCall& call, const std::string& message);

// The whole command line, argv[0] being the program: "--help" or "-h"
// anywhere after a command's name prints its help, an unknown command or a
// wrong command line gives the usage on standard error and kExitUsage.
// Returns the exit code.
int RunPackerCli(int argc, char** argv);
