// brand: the vendor's icon, version information and messages into an
// unsigned launcher stub's resources. It comes first (brand, set-key, sign,
// attach): the resources lie under the signature's hash, and a payload
// behind the stub would be cut off by the rewritten sections.
#include <cstdio>
#include <string>
#include <vector>

#include "packer/commands/commands.h"
#include "packer/commands/locale_names.h"
#include "packer/io/file_io.h"
#include "packer/writer/branding.h"
#include "packer/writer/pe_placement.h"
#include "packer/writer/resources.h"
#include "payload/pe_image.h"
#include "payload/record_stack.h"

namespace {

const char kHelp[] =
    "usage: msilaunch-pack brand --stub msilaunch.exe -o stub.exe [--icon FILE.ico]\n"
    "                            [--company TEXT] [--product-name TEXT] [--product-version A.B.C.D]\n"
    "                            [--description TEXT] [--file-version A.B.C.D] [--copyright TEXT]\n"
    "                            [--original-name TEXT] [--messages LANG=FILE ...]\n"
    "Rewrites the resources of an unsigned stub without a payload; brand comes\n"
    "before set-key, signing and attach. At least one option besides --stub and -o.\n"
    "--icon: replaces the icon group APP (the window's and Explorer's icon).\n"
    "--company ... --original-name: the version information Explorer shows\n"
    "  (language neutral, UTF-8 text). A version is 1 to 4 dotted numbers up to\n"
    "  65535; either stands in for the other in the fixed numbers.\n"
    "--messages LANG=FILE (repeatable): the launcher's messages for a language\n"
    "  (de-DE, or an LCID: 1031, 0x407), which Windows picks by the user's UI\n"
    "  language, English otherwise. FILE is UTF-8 with one line each\n"
    "  \"100=...\", \"101=...\" and \"102=...\" (lines starting with # are skipped);\n"
    "  the release archive's messages/ folder holds them for common languages.\n";

const CliOption kIconOption = {"icon", 0, true};
const CliOption kCompanyOption = {"company", 0, true};
const CliOption kProductNameOption = {"product-name", 0, true};
const CliOption kProductVersionOption = {"product-version", 0, true};
const CliOption kDescriptionOption = {"description", 0, true};
const CliOption kFileVersionOption = {"file-version", 0, true};
const CliOption kCopyrightOption = {"copyright", 0, true};
const CliOption kOriginalNameOption = {"original-name", 0, true};
const CliOption kMessagesOption = {"messages", 0, true};

const CliOption* const kVersionOptions[] = {&kCompanyOption,     &kProductNameOption, &kProductVersionOption,
                                            &kDescriptionOption, &kFileVersionOption, &kCopyrightOption,
                                            &kOriginalNameOption};

// The stub must be a PE image that is neither signed nor carries a payload
// at its end. False with the failure reported.
bool CheckStub(const std::string& path, const ByteVector& stub) {
  PeImage image;
  if (ReadPeImage(ByteView{stub.data(), stub.size()}, &image) != PeHeaders::Complete) {
    ReportError(path + ": not a PE executable");
    return false;
  }
  if (IsSignedImage(image)) {
    ReportError(path + ": the stub is signed: brand the unsigned stub, then sign it");
    return false;
  }
  LocatedRecord manifest;
  if (FitsLauncherFile(stub.size()) &&
      LocateRecord(stub.data(), static_cast<uint32_t>(stub.size()), ManifestRecordType, 0, &manifest)) {
    ReportError(path + ": the stub already carries a payload: brand the bare stub, then attach");
    return false;
  }
  return true;
}

// Applies each --messages LANG=FILE in order. False with the failure reported.
bool ApplyMessages(const CliCall& call, std::vector<Resource>* resources) {
  for (const std::string& value : Values(call, kMessagesOption)) {
    const size_t equals = value.find('=');
    uint32_t lcid = 0;
    if (equals == std::string::npos || !ParseLcid(value.substr(0, equals), &lcid) || lcid > 0xFFFF) {
      ReportError("--messages " + value + ": LANG=FILE takes a locale name (de-DE) or an LCID (1031)");
      return false;
    }
    const std::string path = value.substr(equals + 1);
    ByteVector file;
    std::vector<std::u16string> texts;
    std::string error;
    if (!ReadWholeFile(path, &file, &error)) {
      ReportError(error);
      return false;
    }
    if (!ParseMessages(ByteView{file.data(), file.size()}, static_cast<uint16_t>(lcid), &texts, &error)) {
      ReportError(path + ": " + error);
      return false;
    }
    ReplaceMessages(static_cast<uint16_t>(lcid), texts, resources);
  }
  return true;
}

int BrandCommand(const CliCall& call) {
  const std::string stubPath = LastValue(call, kStubOption), output = LastValue(call, kOutputOption),
                    iconPath = LastValue(call, kIconOption);
  if (stubPath.empty() || output.empty()) return UsageError(call, "--stub and -o are required");
  bool versionGiven = false;
  for (const CliOption* option : kVersionOptions) versionGiven = versionGiven || Given(call, *option);
  if (!versionGiven && iconPath.empty() && !Given(call, kMessagesOption))
    return UsageError(call, "nothing to brand: give --icon, version information or --messages");
  ByteVector stub, icon, branded;
  std::string error;
  if (!ReadWholeFile(stubPath, &stub, &error) || (!iconPath.empty() && !ReadWholeFile(iconPath, &icon, &error))) {
    ReportError(error);
    return kExitFailed;
  }
  if (!CheckStub(stubPath, stub)) return kExitFailed;
  ResourceSection section;
  std::vector<Resource> resources;
  if (!FindResourceSection(ByteView{stub.data(), stub.size()}, &section, &error) ||
      !ReadResources(section, &resources, &error)) {
    ReportError(stubPath + ": " + error);
    return kExitFailed;
  }
  if (!iconPath.empty() && !ReplaceIcon(ByteView{icon.data(), icon.size()}, &resources, &error)) {
    ReportError(iconPath + ": " + error);
    return kExitFailed;
  }
  const VersionStrings strings{LastValue(call, kCompanyOption),        LastValue(call, kDescriptionOption),
                               LastValue(call, kFileVersionOption),    LastValue(call, kCopyrightOption),
                               LastValue(call, kOriginalNameOption),   LastValue(call, kProductNameOption),
                               LastValue(call, kProductVersionOption)};
  if (versionGiven && !ReplaceVersionInfo(strings, &resources, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  if (!ApplyMessages(call, &resources)) return kExitFailed;
  if (!ReplaceResources(stub, resources, &branded, &error)) {
    ReportError(stubPath + ": " + error);
    return kExitFailed;
  }
  if (!WriteFileAtomically(output, branded, 0755, &error)) {
    ReportError(error);
    return kExitFailed;
  }
  std::printf("%s: branded, %zu resources\n", output.c_str(), resources.size());
  return kExitOk;
}

}  // namespace

const CliCommand kBrandCommand = {
    "brand", "put the vendor's icon, version information and messages into a stub", kHelp,
    {&kStubOption, &kOutputOption, &kIconOption, &kCompanyOption, &kProductNameOption, &kProductVersionOption,
     &kDescriptionOption, &kFileVersionOption, &kCopyrightOption, &kOriginalNameOption, &kMessagesOption},
    0, CliFaults::Unexpected, BrandCommand};
