// Both carriers through the Windows build's CryptoAPI decoder, on real
// executables: a MinGW-built PE32 program signed by osslsigncode on the host,
// filled here by the packer's placement code with payloads signed by the
// test key the launcher embeds.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "packer/writer/payload_writer.h"
#include "packer/writer/pe_placement.h"
#include "launcher/launcher_run.h"
#include "payload/carriers.h"
#include "tests/support/payloads.h"
#include "tests/wine/win32_faults.h"
#include "tests/wine/wine_process.h"

namespace {

struct Payloads {
  ByteVector manifestA, manifestB, stackA, stackB;
};

const Payloads& TestPayloads() {
  static const Payloads* payloads = [] {
    auto* p = new Payloads;
    std::string error;
    const SigningKey* key = TestKey();
    AppendManifestEntry(&p->manifestA, 1, PackageEntryText("x64", "1033", "{6F1A2B3C-0000-4000-8000-000000000001}", "First"));
    AppendManifestEntry(&p->manifestB, 1, PackageEntryText("Intel", "1031", "{6F1A2B3C-0000-4000-8000-000000000002}", "Second"));
    EXPECT_TRUE(BuildPayload(p->manifestA, {{1, ByteVector(300, 'a')}}, key, RecordEncoding{}, &p->stackA, &error)) << error;
    EXPECT_TRUE(BuildPayload(p->manifestB, {{1, ByteVector(300, 'b')}}, key, RecordEncoding{}, &p->stackB, &error)) << error;
    return p;
  }();
  return *payloads;
}

struct CarrierRun {
  ErrorPair pair{};
  std::vector<ByteVector> raws, manifests;
};

// The launcher's start-up (LoadPayloads): the certificate carrier, then the
// tail only when that succeeded with nothing. The items say which answered.
CarrierRun RunCarriers(const ByteVector& file) {
  CarrierRun run;
  PayloadList list{};
  run.pair = LoadPayloads(file.data(), static_cast<uint32_t>(file.size()), &list);
  for (uint32_t i = 0; i < list.count; ++i) {
    run.raws.emplace_back(list.items[i].raw, list.items[i].raw + list.items[i].rawSize);
    run.manifests.emplace_back(list.items[i].manifest, list.items[i].manifest + list.items[i].manifestSize);
  }
  ReleasePayloadList(&list);
  return run;
}

enum class Item { A, B, WholeFileA };

TEST(CarriersWine, CryptoApiFindsPayloadsWhereThePackerPutThem) {
  const ByteVector unsignedExe = ReadWholeFile(MSILAUNCH_TEST_EXE_DIR "/unsigned.exe");
  const ByteVector signedExe = ReadWholeFile(MSILAUNCH_TEST_EXE_DIR "/signed.exe");
  ASSERT_FALSE(unsignedExe.empty());
  ASSERT_FALSE(signedExe.empty());
  const Payloads& p = TestPayloads();

  std::string error;
  ByteVector unsignedTail, signedTable, oneCertificate, twoCertificates, twoExtensions, notPkcs7;
  ASSERT_TRUE(PlaceStackAtEnd(unsignedExe, p.stackA, &unsignedTail, &error)) << error;
  ASSERT_TRUE(PlaceStackInCertificateTable(signedExe, p.stackA, &signedTable, &error)) << error;
  ASSERT_TRUE(PlaceStackInCertificate(signedExe, p.stackA, &oneCertificate, &error)) << error;
  ASSERT_TRUE(PlaceStackInCertificate(oneCertificate, p.stackB, &twoCertificates, &error)) << error;
  ASSERT_TRUE(AddCertificateToSignature(
      signedExe, {{PayloadExtensionOid, false, p.stackA}, {"1.2.3.4", false, p.stackB},
                  {PayloadExtensionOid, true, p.stackB}, {PayloadExtensionOid, false, p.stackB}},
      &twoExtensions, &error)) << error;
  // The signed message's first bytes spoiled; the stack still ends the file.
  notPkcs7 = signedTable;
  const uint32_t lfanew = notPkcs7[0x3C] | notPkcs7[0x3D] << 8 | notPkcs7[0x3E] << 16 | notPkcs7[0x3F] << 24;
  const uint32_t table = notPkcs7[lfanew + 152] | notPkcs7[lfanew + 153] << 8 | notPkcs7[lfanew + 154] << 16 |
                         notPkcs7[lfanew + 155] << 24;
  for (uint32_t i = 8; i < 40; ++i) notPkcs7[table + i] = 0x55;

  const struct {
    const char* name;
    const ByteVector* file;
    ErrorPair pair;  // line 0: any (the success line of the manifest read)
    std::vector<Item> items;
  } cases[] = {
      {"one superfluous certificate", &oneCertificate, {0, 0}, {Item::A}},
      {"two superfluous certificates", &twoCertificates, {0, 0}, {Item::A, Item::B}},
      {"foreign and critical extensions skipped", &twoExtensions, {0, 0}, {Item::A, Item::B}},
      {"stack at the end of an unsigned file", &unsignedTail, {0, 0}, {Item::WholeFileA}},
      {"stack inside the certificate table", &signedTable, {0, 0}, {Item::WholeFileA}},
      {"neither carrier", &signedExe, {1168, 509}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CarrierRun run = RunCarriers(*c.file);
    EXPECT_EQ(run.pair.code, c.pair.code);
    if (c.pair.line) {
      EXPECT_EQ(run.pair.line, c.pair.line);
    }
    ASSERT_EQ(run.raws.size(), c.items.size());
    for (size_t i = 0; i < c.items.size(); ++i) {
      const bool isB = c.items[i] == Item::B;
      const ByteVector& raw = c.items[i] == Item::WholeFileA ? *c.file : isB ? p.stackB : p.stackA;
      EXPECT_EQ(run.raws[i], raw);
      EXPECT_EQ(run.manifests[i], isB ? p.manifestB : p.manifestA);
    }
  }

  // A table that does not decode fails the run, whatever the tail holds.
  const CarrierRun run = RunCarriers(notPkcs7);
  EXPECT_NE(run.pair.code, 0u);
  EXPECT_EQ(run.pair.line, 837u);
  EXPECT_TRUE(run.raws.empty());
}

// Each CryptoAPI call failing where the carrier makes it: the pair carries
// the call's last error, or the site's own code when there is none, and
// every context and message opened is closed again.
TEST(CarriersWine, CryptoApiFailuresReportTheirSite) {
  const ByteVector signedExe = ReadWholeFile(MSILAUNCH_TEST_EXE_DIR "/signed.exe");
  ByteVector file;
  std::string error;
  ASSERT_TRUE(PlaceStackInCertificate(signedExe, TestPayloads().stackA, &file, &error)) << error;
  constexpr uint32_t kInvalidArg = 0x80070057u;
  const struct {
    const char* call;
    uint32_t nth;
    uint32_t line;
  } cases[] = {
      {"CryptMsgOpenToDecode", 1, 831},
      {"CryptMsgUpdate", 1, 837},
      {"CryptMsgGetParam", 1, 846},                  // the count
      {"CryptMsgGetParam", 2, 937},                  // the first certificate's size
      {"CryptMsgGetParam", 3, 924},                  // its bytes
      {"CertCreateCertificateContext", 1, 919},      // the signer's certificate
      {"CertCreateCertificateContext", 2, 919},      // the payload's
      {"CryptMsgGetParam", 5, 924},                  // the payload certificate's bytes
  };
  for (const auto& c : cases) {
    for (uint32_t lastError : {0u, 0x80092004u /* CRYPT_E_NOT_FOUND */}) {
      SCOPED_TRACE(std::string(c.call) + " #" + std::to_string(c.nth) + " error " + std::to_string(lastError));
      ScopedWin32Reset reset;
      ASSERT_TRUE(FailWin32Call(c.call, c.nth, lastError));
      PayloadList list{};
      const ErrorPair pair = ReadCertificatePayloads(file.data(), static_cast<uint32_t>(file.size()), &list);
      EXPECT_TRUE(Win32FaultFired());
      EXPECT_EQ(pair.code, lastError ? lastError : kInvalidArg);
      EXPECT_EQ(pair.line, c.line);
      EXPECT_EQ(list.count, 0u);
      ReleasePayloadList(&list);
      const uint32_t opened = Win32CallCount("CryptMsgOpenToDecode") - (c.nth == 1 && c.line == 831 ? 1 : 0);
      EXPECT_EQ(Win32CallCount("CryptMsgClose"), opened);
      const uint32_t created = Win32CallCount("CertCreateCertificateContext") - (c.line == 919 ? 1 : 0);
      EXPECT_EQ(Win32CallCount("CertFreeCertificateContext"), created);
    }
  }
}

}  // namespace
