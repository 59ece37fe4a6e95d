// msilaunch-pack: makes payloads for the launcher and reads them back.
#include "packer/commands/commands.h"
#include "packer/msi/msi_database.h"

int main(int argc, char** argv) {
  SilenceMsiLibraryLogs();
  return RunPacker(argc, argv);
}
