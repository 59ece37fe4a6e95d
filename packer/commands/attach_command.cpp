// attach: a payload into a launcher stub, through the certificate carrier or
// the file tail, as the launcher's carriers find it.
#include <cstdio>
#include <string>
#include <vector>

#include "packer/commands/commands.h"
#include "packer/io/file_io.h"
#include "packer/writer/key_slot.h"
#include "packer/commands/keys.h"
#include "packer/writer/payload_writer.h"
#include "packer/writer/pe_placement.h"
#include "payload/pe_image.h"
#include "payload/record_stack.h"

namespace {

const char kHelp[] =
    "usage: msilaunch-pack attach --stub msilaunch.exe --payload PAYLOAD.bin --carrier certificate|tail -o setup.exe\n"
    "                             [--key KEY.pub.pem [--bind PAYLOAD.bin ...] [--replace]]\n"
    "--key, --bind: first stamp the key (and bindings) into the stub's key slot, as\n"
    "  set-key does. A stub with a key slot takes only a payload whose manifest\n"
    "  its key verifies and, when the slot has bindings, one of those it binds;\n"
    "  a stub whose slot is empty (it would install nothing) is refused without --key.\n"
    "certificate: the stub must be signed; the payload becomes an extension of an\n"
    "  extra certificate in its signature, which stays valid.\n"
    "tail: the payload ends the file; in a signed stub it lies inside the\n"
    "  certificate table, which Windows with EnableCertPaddingCheck set rejects.\n"
    "The stub is the 32-bit launcher; an unsigned x86-64 (PE32+) build, which runs\n"
    "where 32-bit Windows code cannot, takes only the tail.\n";

const CliOption kPayloadOption = {"payload", 0, true};
const CliOption kCarrierOption = {"carrier", 0, true};

// Whether `exe` is a PE image the carrier can go into: a PE32 image for
// either carrier; for the tail also a PE32+ one, the x86-64 test flavour of
// the launcher, which reads only its tail (*pe32Plus is then set). *signedStub
// says whether it is signed; pe_placement checks the rest.
bool PeSecurityDirectory(const ByteVector& exe, bool tailCarrier, bool* signedStub, bool* pe32Plus) {
  const ByteView file{exe.data(), exe.size()};
  PeImage image;
  const PeHeaders headers = ReadPeImage(file, &image);
  // Only a PE32+ image that holds at least PE32's headers gets the PE32+
  // hint in the message; a shorter one is no executable to speak of.
  *pe32Plus = image.magic == kPe32PlusMagic && SpanFits(file.size, image.lfanew, kPe32HeadersSize);
  if (headers != PeHeaders::Complete || (*pe32Plus && !tailCarrier)) return false;
  *signedStub = IsSignedImage(image);
  return true;
}

// Reads the stub and the payload, which must end with its manifest record.
// False when either fails (reported).
bool ReadAttachInputs(const std::string& stubPath, const std::string& payloadPath, ByteVector* stub,
                      ByteVector* stack) {
  std::string error;
  if (!ReadWholeFile(stubPath, stub, &error) || !ReadWholeFile(payloadPath, stack, &error)) {
    ReportError(error);
    return false;
  }
  LocatedRecord manifest;
  if (!FitsLauncherFile(stack->size()) ||
      !LocateRecord(stack->data(), static_cast<uint32_t>(stack->size()), ManifestRecordType, 0, &manifest)) {
    ReportError(payloadPath + ": not a payload (no manifest record ends it)");
    return false;
  }
  return true;
}

// With --key, stamps it (and --bind's bindings) into the stub's key slot
// (*done says so). Then a stub with a key slot must be able to install the
// payload: a manifest that does not verify with the slot's key, or that a
// slot with bindings does not bind, is refused, and so is an empty slot
// (the payload would never install). False with the failure reported.
bool SettleStubKey(const std::string& keyPath, const std::vector<std::string>& bindPaths, bool replace,
                   const std::string& stubPath, const std::string& payloadPath, const ByteVector& stack,
                   ByteVector* stub, std::string* done) {
  std::string stampError;
  if (!keyPath.empty() && !StampKeyFromFile(keyPath, bindPaths, stubPath, replace, stub, done, &stampError)) {
    ReportError(stampError);
    return false;
  }
  StubKeySlot found;
  if (FindKeySlot(ByteView{stub->data(), stub->size()}, &found) != KeySlotSearch::Found) return true;
  const PayloadKey& key = found.slot.key;
  if (found.slot.state == kKeySlotEmpty) {
    // A warning scrolls by in a CI log; the setup it let through installs nothing.
    ReportError(stubPath + ": its key slot is empty, so the launcher would verify no record and install nothing "
                           "(stamp a key with --key or set-key)");
    return false;
  }
  ManifestDigest digest;
  std::string error;
  if (!ReadManifestDigest(ByteView{stack.data(), stack.size()}, key.modulus, &digest, &error)) {
    ReportError(payloadPath + ": its manifest does not verify with the key in " + stubPath + "'s key slot (sha256 " +
                KeyFingerprint(key.modulus) + "): the launcher would refuse it");
    return false;
  }
  if (BindsManifest(key, digest.data())) return true;
  ReportError(payloadPath + ": its manifest (sha256 " + DigestHex(digest.data()) + ") is not one of the " +
              std::to_string(key.bindingCount) + " payload(s) " + stubPath +
              "'s key slot is bound to: the launcher would refuse it (bind it with set-key --bind before signing)");
  return false;
}

// carrier: "certificate" or "tail". keyPath: --key, or empty; bindPaths: --bind's.
int RunAttach(const std::string& stubPath, const std::string& payloadPath, const std::string& carrier,
              const std::string& keyPath, const std::vector<std::string>& bindPaths, bool replace,
              const std::string& outputPath) {
  std::string error, stamped;
  ByteVector stub, stack, out;
  if (!ReadAttachInputs(stubPath, payloadPath, &stub, &stack)) return kExitFailed;
  bool signedStub = false, pe32Plus = false;
  if (!PeSecurityDirectory(stub, carrier == "tail", &signedStub, &pe32Plus)) {
    ReportError(stubPath + (pe32Plus ? ": not a PE32 executable (a PE32+ stub takes only --carrier tail)"
                                     : ": not a PE32 executable"));
    return kExitFailed;
  }
  if (!SettleStubKey(keyPath, bindPaths, replace, stubPath, payloadPath, stack, &stub, &stamped)) return kExitFailed;
  bool placed = false;
  if (pe32Plus) {
    // The shipping launcher is PE32; an x86-64 build is only a way to run
    // the launcher where no 32-bit Windows code runs. It never looks into its
    // own PE32+ signature, and bytes behind a signed image's table would
    // break it, so only an unsigned one is taken.
    if (signedStub) {
      ReportError(stubPath + ": a signed PE32+ stub cannot take a payload (the launcher reads only the tail of a "
                             "PE32+ file, and bytes after its signature would break it)");
      return kExitFailed;
    }
    ReportWarning(stubPath + " is a PE32+ (x86-64) stub: a test build of the launcher, not the shipping 32-bit one");
    placed = PlaceStackAtEnd(stub, stack, &out, &error);
  } else if (carrier == "certificate") {
    if (!signedStub) {
      ReportError(stubPath + ": the certificate carrier needs a signed stub (sign it first, or use --carrier tail)");
      return kExitFailed;
    }
    placed = PlaceStackInCertificate(stub, stack, &out, &error);
  } else if (signedStub) {
    placed = PlaceStackInCertificateTable(stub, stack, &out, &error);
    if (placed)
      ReportWarning(outputPath + ": the payload lies inside the certificate table; Windows with "
                                 "EnableCertPaddingCheck set treats the file as unsigned (use --carrier certificate)");
  } else {
    placed = PlaceStackAtEnd(stub, stack, &out, &error);
  }
  if (!placed) {
    ReportError(stubPath + ": " + error);
    return kExitFailed;
  }
  if (!WriteFileAtomically(outputPath, out, 0755, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  if (!stamped.empty()) std::printf("%s: %s\n", outputPath.c_str(), stamped.c_str());
  return kExitOk;
}

int AttachCommand(const CliCall& call) {
  const std::string stub = LastValue(call, kStubOption), payload = LastValue(call, kPayloadOption),
                    carrier = LastValue(call, kCarrierOption), output = LastValue(call, kOutputOption);
  if (stub.empty() || payload.empty() || output.empty())
    return UsageError(call, "--stub, --payload and -o are required");
  if (carrier != "certificate" && carrier != "tail") return UsageError(call, "--carrier must be certificate or tail");
  if (Given(call, kReplaceOption) && !Given(call, kKeyOption)) return UsageError(call, "--replace goes with --key");
  if (Given(call, kBindOption) && !Given(call, kKeyOption)) return UsageError(call, "--bind goes with --key");
  return RunAttach(stub, payload, carrier, LastValue(call, kKeyOption), Values(call, kBindOption),
                   Given(call, kReplaceOption), output);
}

}  // namespace

const CliCommand kAttachCommand = {
    "attach", "put a payload into a launcher stub", kHelp,
    {&kStubOption, &kPayloadOption, &kCarrierOption, &kOutputOption, &kKeyOption, &kBindOption, &kReplaceOption},
    0, CliFaults::Unexpected, AttachCommand};
