// keygen: a new key pair, the private half for pack, the public half for
// the launcher's build and for inspect, verify and extract.
#include <cstdio>
#include <string>

#include "packer/commands.h"
#include "packer/key_slot.h"
#include "packer/keys.h"

namespace {

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

}  // namespace

int KeygenCommand(const CliCall& call) {
  const std::string output = LastValue(call, "output");
  if (output.empty()) return UsageError(call, "-o KEY.pem is required");
  return RunKeygen(output);
}
