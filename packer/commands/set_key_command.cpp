// set-key: stamps the payload key into the key slot of a launcher stub, so
// that a prebuilt stub verifies the vendor's payloads, and with --bind the
// only payloads it installs. It comes before the payload is attached and the
// stub is signed: the slot lies under the signature's hash.
#include <cstdio>
#include <string>

#include "packer/commands/commands.h"
#include "packer/io/file_io.h"
#include "packer/commands/keys.h"

namespace {

const char kHelp[] =
    "usage: msilaunch-pack set-key --stub msilaunch.exe --key KEY.pub.pem -o stub.exe [--bind PAYLOAD.bin ...]\n"
    "                              [--replace]\n"
    "Writes the public key into the stub's key slot, which the launcher verifies\n"
    "every record with; a stub with an empty slot installs nothing. Do it before\n"
    "signing: a signed stub is refused (the slot lies under its signature).\n"
    "--bind PAYLOAD.bin (repeatable, up to 16 payloads): the launcher then installs\n"
    "  only these payloads, not any other the key signed, such as one attached\n"
    "  after signing. Each must verify with the key.\n"
    "A slot that holds another key, or this key bound to other payloads, is\n"
    "refused unless --replace is given; the same key again changes nothing.\n";

int SetKeyCommand(const CliCall& call) {
  const std::string stub = LastValue(call, kStubOption), key = LastValue(call, kKeyOption),
                    output = LastValue(call, kOutputOption);
  if (stub.empty() || key.empty() || output.empty()) return UsageError(call, "--stub, --key and -o are required");
  ByteVector bytes;
  std::string error, done;
  if (!ReadWholeFile(stub, &bytes, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  if (!StampKeyFromFile(key, Values(call, kBindOption), stub, Given(call, kReplaceOption), &bytes, &done, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  if (!WriteFileAtomically(output, bytes, 0755, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  std::printf("%s: %s\n", output.c_str(), done.c_str());
  return kExitOk;
}

}  // namespace

const CliCommand kSetKeyCommand = {
    "set-key", "stamp the payload key into a launcher stub's key slot", kHelp,
    {&kStubOption, &kKeyOption, &kOutputOption, &kBindOption, &kReplaceOption},
    0, CliFaults::Unexpected, SetKeyCommand};
