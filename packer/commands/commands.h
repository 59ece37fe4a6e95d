// The rows of msilaunch-pack's command table (command_table.cpp), one per
// command, each defined in its own file (packer/commands/NAME_command.cpp)
// with its help, its options and its entry.
#pragma once

#include "packer/cli/cli.h"

extern const CliCommand kKeygenCommand;
extern const CliCommand kPackCommand;
extern const CliCommand kBrandCommand;
extern const CliCommand kSetKeyCommand;
extern const CliCommand kAttachCommand;
extern const CliCommand kInspectCommand;
extern const CliCommand kSimulateCommand;
extern const CliCommand kVerifyCommand;
extern const CliCommand kExtractCommand;

// msilaunch-pack's whole command line (argv[0] the program); the exit code.
int RunPacker(int argc, char** argv);
