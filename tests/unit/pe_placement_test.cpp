// Placing stacks into real executables (MinGW-built, osslsigncode-signed):
// the layout the carriers rely on, and a signature that still verifies with
// the same digest afterwards.
#include "packer/writer/pe_placement.h"

#include <gtest/gtest.h>

#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstring>

#include "payload/carriers.h"
#include "payload/pe_image.h"
#include "tests/tools/make_test_exes.h"

namespace {


ByteVector Pattern(size_t size, uint8_t seed) {
  ByteVector bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + 1);
  return bytes;
}

// The certificates of the file's signature, as DER.
std::vector<ByteVector> SignatureCertificates(const ByteVector& exe) {
  const unsigned char* p = exe.data() + TableOffset(exe) + 8;
  PKCS7* pkcs7 = d2i_PKCS7(nullptr, &p, U32At(exe, TableOffset(exe)) - 8);
  std::vector<ByteVector> result;
  if (!pkcs7) return result;
  STACK_OF(X509)* certs = pkcs7->d.sign->cert;
  for (int i = 0; i < sk_X509_num(certs); ++i) {
    unsigned char* der = nullptr;
    const int n = i2d_X509(sk_X509_value(certs, i), &der);
    result.emplace_back(der, der + n);
    OPENSSL_free(der);
  }
  PKCS7_free(pkcs7);
  return result;
}

class PePlacementTest : public testing::Test {
 protected:
  void SetUp() override {
    unsignedExe = LoadTestExe("unsigned.exe");
    signedExe = LoadTestExe("signed.exe");
    ASSERT_GT(unsignedExe.size(), 1024u);
    ASSERT_GT(signedExe.size(), unsignedExe.size());
  }
  ByteVector unsignedExe, signedExe;
};

TEST_F(PePlacementTest, StackAtEndOfUnsignedImage) {
  const ByteVector stack = Pattern(100, 3);
  ByteVector out;
  std::string error;
  ASSERT_TRUE(PlaceStackAtEnd(unsignedExe, stack, &out, &error)) << error;
  // The file and the stack, with the checksum of the whole: a set checksum
  // left as the stub had it would be wrong.
  ByteVector expected(unsignedExe);
  expected.insert(expected.end(), stack.begin(), stack.end());
  ASSERT_TRUE(RecomputePeChecksum(&expected));
  PeImage image{};
  ReadPeImage(ByteView{unsignedExe.data(), unsignedExe.size()}, &image);
  ASSERT_NE(U32At(unsignedExe, image.checksumAt), 0u) << "unsigned.exe has no checksum to keep right";
  EXPECT_EQ(out, expected);
}

// Every stack length modulo 8 needs a different amount of padding.
TEST_F(PePlacementTest, StackInCertificateTableEndsTheFileAndKeepsAlignment) {
  for (size_t size : {1u, 7u, 8u, 9u, 13u, 300u}) {
    SCOPED_TRACE(size);
    const ByteVector stack = Pattern(size, static_cast<uint8_t>(size));
    ByteVector out;
    std::string error;
    ASSERT_TRUE(PlaceStackInCertificateTable(signedExe, stack, &out, &error)) << error;
    EXPECT_EQ(TableOffset(out), TableOffset(signedExe));
    EXPECT_EQ(uint64_t{TableOffset(out)} + TableSize(out), out.size());
    EXPECT_EQ(TableSize(out) % 8, 0u);
    EXPECT_EQ(U32At(out, TableOffset(out)), TableSize(out));
    EXPECT_LT(TableSize(out) - TableSize(signedExe) - size, 8u);
    EXPECT_TRUE(std::equal(stack.begin(), stack.end(), out.end() - size));
    for (size_t at = signedExe.size(); at < out.size() - size; ++at) EXPECT_EQ(out[at], 0) << at;
  }
}

TEST_F(PePlacementTest, ExtraCertificateCarriesTheExtensionsInOrder) {
  std::vector<ExtensionSpec> extensions(3);
  extensions[0] = {PayloadExtensionOid, false, Pattern(40, 1)};
  extensions[1] = {"1.2.3.4", true, Pattern(5, 2)};
  extensions[2] = {PayloadExtensionOid, false, Pattern(3000, 3)};
  ByteVector out;
  std::string error;
  ASSERT_TRUE(AddCertificateToSignature(signedExe, extensions, &out, &error)) << error;
  EXPECT_EQ(TableSize(out) % 8, 0u);
  EXPECT_EQ(uint64_t{TableOffset(out)} + TableSize(out), out.size());

  const std::vector<ByteVector> before = SignatureCertificates(signedExe);
  const std::vector<ByteVector> after = SignatureCertificates(out);
  ASSERT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(after[0], before[0]);
  const unsigned char* p = after.back().data();
  X509* cert = d2i_X509(nullptr, &p, static_cast<long>(after.back().size()));
  ASSERT_NE(cert, nullptr);
  ASSERT_EQ(X509_get_ext_count(cert), 3);
  for (int i = 0; i < 3; ++i) {
    X509_EXTENSION* ext = X509_get_ext(cert, i);
    char oid[128];
    OBJ_obj2txt(oid, sizeof oid, X509_EXTENSION_get_object(ext), 1);
    EXPECT_EQ(extensions[i].oid, oid);
    EXPECT_EQ(extensions[i].critical, X509_EXTENSION_get_critical(ext) != 0);
    const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(ext);
    EXPECT_EQ(extensions[i].value,
              ByteVector(value->data, value->data + value->length));
  }
  X509_free(cert);
}

// The certificate table and the checksum lie outside the Authenticode hash:
// every signed placement, alone or combined, keeps the signature valid with
// the digest it had.
TEST_F(PePlacementTest, SignatureStillVerifiesWithTheSameDigest) {
  const SignatureCheck original = VerifyWithOsslsigncode(signedExe);
  ASSERT_TRUE(original.verified) << original.output;
  ASSERT_FALSE(original.currentDigest.empty()) << original.output;

  const ByteVector stack = Pattern(1234, 9);
  std::string error;
  ByteVector inTable, inCertificate, inBoth, twoCertificates;
  ASSERT_TRUE(PlaceStackInCertificateTable(signedExe, stack, &inTable, &error)) << error;
  ASSERT_TRUE(PlaceStackInCertificate(signedExe, stack, &inCertificate, &error)) << error;
  ASSERT_TRUE(PlaceStackInCertificateTable(inCertificate, stack, &inBoth, &error)) << error;
  ASSERT_TRUE(PlaceStackInCertificate(inCertificate, Pattern(99, 1), &twoCertificates, &error)) << error;

  const struct {
    const char* name;
    const ByteVector* file;
  } cases[] = {{"in table", &inTable},
               {"in certificate", &inCertificate},
               {"certificate then table", &inBoth},
               {"two certificates", &twoCertificates}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SignatureCheck check = VerifyWithOsslsigncode(*c.file);
    EXPECT_TRUE(check.verified) << check.output;
    EXPECT_EQ(check.currentDigest, original.currentDigest);
    EXPECT_EQ(check.calculatedDigest, original.currentDigest);
    EXPECT_FALSE(check.checksumMismatch) << check.output;
  }
}

TEST_F(PePlacementTest, RefusesFilesItCannotPlaceInto) {
  const ByteVector stack = Pattern(64, 5);
  ByteVector notMz = unsignedExe;
  notMz[0] = 'X';
  ByteVector pe32Plus = signedExe;
  pe32Plus[Lfanew(pe32Plus) + 24] = 0x0B;
  pe32Plus[Lfanew(pe32Plus) + 25] = 0x02;
  // The same signature where a PE32+ image keeps its security directory,
  // 16 bytes behind PE32's: bytes appended after it would break it too.
  ByteVector signedPe32Plus = pe32Plus;
  SetU32At(&signedPe32Plus, Lfanew(signedPe32Plus) + 24 + 108, 16);
  SetU32At(&signedPe32Plus, Lfanew(signedPe32Plus) + 24 + 144, TableOffset(signedExe));
  SetU32At(&signedPe32Plus, Lfanew(signedPe32Plus) + 24 + 148, TableSize(signedExe));
  ByteVector tableNotAtEnd = signedExe;
  tableNotAtEnd.push_back(0);
  ByteVector entryTooLong = signedExe;
  SetU32At(&entryTooLong, TableOffset(entryTooLong), TableSize(entryTooLong) + 8);
  ByteVector twoEntries = signedExe;  // a second, empty entry behind the first
  twoEntries.insert(twoEntries.end(), {8, 0, 0, 0, 0, 2, 2, 0});
  SetU32At(&twoEntries, Lfanew(twoEntries) + 156, TableSize(signedExe) + 8);
  SetU32At(&twoEntries, TableOffset(twoEntries), TableSize(signedExe));
  ByteVector notPkcs7 = signedExe;
  std::memset(notPkcs7.data() + TableOffset(notPkcs7) + 8, 0x55, 16);
  ByteVector stackInTable;
  std::string error;
  ASSERT_TRUE(PlaceStackInCertificateTable(signedExe, stack, &stackInTable, &error)) << error;

  enum Operation { kAtEnd, kInTable, kInCertificate };
  const struct {
    const char* name;
    Operation operation;
    const ByteVector* file;
    const char* message;  // a part of the error text
  } cases[] = {
      {"tiny file", kAtEnd, &stack, "no MZ"},
      {"no MZ at end", kAtEnd, &notMz, "no MZ"},
      {"no MZ in table", kInTable, &notMz, "no MZ"},
      {"signed at end", kAtEnd, &signedExe, "is signed"},
      {"signed PE32+ at end", kAtEnd, &signedPe32Plus, "is signed"},
      {"unsigned in table", kInTable, &unsignedExe, "not signed"},
      {"unsigned in certificate", kInCertificate, &unsignedExe, "not signed"},
      {"PE32+ in table", kInTable, &pe32Plus, "not a PE32"},
      {"PE32+ in certificate", kInCertificate, &pe32Plus, "not a PE32"},
      {"table not at end", kInTable, &tableNotAtEnd, "does not end the file"},
      {"entry longer than table", kInTable, &entryTooLong, "does not fit"},
      {"two entries", kInTable, &twoEntries, "more than one entry"},
      {"not PKCS#7", kInCertificate, &notPkcs7, "PKCS#7"},
      {"certificate after stack", kInCertificate, &stackInTable, "data after the signature"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ByteVector out = {1, 2, 3};
    std::string message;
    bool ok = false;
    switch (c.operation) {
      case kAtEnd: ok = PlaceStackAtEnd(*c.file, stack, &out, &message); break;
      case kInTable: ok = PlaceStackInCertificateTable(*c.file, stack, &out, &message); break;
      case kInCertificate: ok = PlaceStackInCertificate(*c.file, stack, &out, &message); break;
    }
    EXPECT_FALSE(ok);
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
    EXPECT_EQ(out, (ByteVector{1, 2, 3}));
  }
}

TEST_F(PePlacementTest, RefusesAnOidThatIsNotDottedDecimal) {
  ByteVector out;
  std::string error;
  EXPECT_FALSE(AddCertificateToSignature(signedExe, {{"payload", false, {1}}}, &out, &error));
  EXPECT_NE(error.find("OID"), std::string::npos) << error;
}

}  // namespace
