// keygen: a new key pair, the private half for pack, the public half for
// the launcher's build and for inspect, verify and extract.
#include <cstdio>
#include <string>

#include "packer/commands/commands.h"
#include "packer/writer/key_slot.h"
#include "packer/commands/keys.h"

namespace {

const char kHelp[] =
    "usage: msilaunch-pack keygen -o KEY.pem\n"
    "Writes a new RSA-2048 key (exponent 65537): the private half to KEY.pem and\n"
    "the public half to KEY.pub.pem, the file set-key, attach --key and the\n"
    "launcher's MSILAUNCH_PUBLIC_KEY take. Prints the key's sha256 fingerprint,\n"
    "which inspect shows for a stub stamped with it.\n";

int RunKeygen(const std::string& privatePath) {
  std::string publicPath, error;
  if (!GenerateKeyPair(privatePath, &publicPath, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  std::printf("wrote %s (private: keep it secret) and %s (for MSILAUNCH_PUBLIC_KEY)\n", privatePath.c_str(),
              publicPath.c_str());
  // What inspect shows for a stub stamped with this key, to compare.
  uint8_t modulus[256];
  if (LoadPublicModulus(publicPath, modulus, &error))
    std::printf("public key sha256 %s\n", KeyFingerprint(modulus).c_str());
  return kExitOk;
}

int KeygenCommand(const CliCall& call) {
  const std::string output = LastValue(call, kOutputOption);
  if (output.empty()) return UsageError(call, "-o KEY.pem is required");
  return RunKeygen(output);
}

}  // namespace

const CliCommand kKeygenCommand = {
    "keygen", "make an RSA-2048 signing key pair", kHelp,
    {&kOutputOption},
    0, CliFaults::Unexpected, KeygenCommand};
