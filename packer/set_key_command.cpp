// set-key: stamps the payload key into the key slot of a launcher stub, so
// that a prebuilt stub verifies the vendor's payloads, and with --bind the
// only payloads it installs. It comes before the payload is attached and the
// stub is signed: the slot lies under the signature's hash.
#include <cstdio>
#include <string>

#include "packer/commands.h"
#include "packer/file_io.h"
#include "packer/keys.h"

int SetKeyCommand(const CliCall& call) {
  const std::string stub = LastValue(call, "stub"), key = LastValue(call, "key"), output = LastValue(call, "output");
  if (stub.empty() || key.empty() || output.empty()) return UsageError(call, "--stub, --key and -o are required");
  ByteVector bytes;
  std::string error, done;
  if (!ReadWholeFile(stub, &bytes, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  if (!StampKeyFromFile(key, Values(call, "bind"), stub, Given(call, "replace"), &bytes, &done)) return kExitFailed;
  if (!WriteFileAtomically(output, bytes, 0755, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  std::printf("%s: %s\n", output.c_str(), done.c_str());
  return kExitOk;
}
