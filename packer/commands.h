// The entry function of each msilaunch-pack command, one per file
// (packer/NAME_command.cpp), for the command table in packer/cli.cpp. Each
// takes the parsed command line and returns the exit code, having reported
// any failure itself.
#pragma once

#include "packer/cli.h"

int KeygenCommand(const CliCall& call);
int PackCommand(const CliCall& call);
int SetKeyCommand(const CliCall& call);
int AttachCommand(const CliCall& call);
int InspectCommand(const CliCall& call);
int SimulateCommand(const CliCall& call);
int VerifyCommand(const CliCall& call);
int ExtractCommand(const CliCall& call);
