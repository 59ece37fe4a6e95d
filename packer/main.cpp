// msilaunch-pack: makes payloads for the launcher and reads them back.
#include <openssl/crypto.h>

#include "packer/commands/commands.h"

int main(int argc, char** argv) {
  // The system's OpenSSL configuration may name providers or engines to
  // load from shared objects, which the static packer cannot load and needs
  // none of: it is never read.
  OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
  return RunPacker(argc, argv);
}
