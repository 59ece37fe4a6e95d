#include "packer/commands/commands.h"

int RunPacker(int argc, char** argv) {
  // The order of the packer's usage.
  static const CliCommand* const kTable[] = {&kKeygenCommand, &kPackCommand, &kBrandCommand, &kSetKeyCommand,
                                             &kAttachCommand, &kInspectCommand, &kSimulateCommand, &kVerifyCommand,
                                             &kExtractCommand};
  return RunPackerCli(argc, argv, kTable, sizeof kTable / sizeof kTable[0]);
}
