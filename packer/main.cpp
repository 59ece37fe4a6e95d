// msilaunch-pack: makes payloads for the launcher and reads them back.
#include "packer/cli.h"
#include "packer/msi_reader.h"

int main(int argc, char** argv) {
  SilenceMsiLibraryLogs();
  return RunPackerCli(argc, argv);
}
