#include "tests/support/payloads.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstring>

#include "base/platform.h"
#include "payload/record_decoding.h"

#ifndef MSILAUNCH_SOURCE_DIR
#error "MSILAUNCH_SOURCE_DIR must name the source tree"
#endif

namespace {

// Written out here rather than taken from the carrier so that building a
// test payload never depends on the code under test.
constexpr char kPayloadOid[] = "1.2.840.113556.1.8000.2554.2951.50896.53846.17503.37240.13145692.12219546";

const SigningKey* LoadOnce(const char* name) {
  std::string error;
  const SigningKey* key = LoadSigningKey(SourcePath(std::string("tests/keys/") + name), &error);
  if (!key) ADD_FAILURE() << error;
  return key;
}

EVP_PKEY* TestPrivateKey() {
  static EVP_PKEY* const key = [] {
    std::FILE* file = std::fopen(SourcePath("tests/keys/test-key.pem").c_str(), "rb");
    EVP_PKEY* pkey = file ? PEM_read_PrivateKey(file, nullptr, nullptr, nullptr) : nullptr;
    if (file) std::fclose(file);
    return pkey;
  }();
  return key;
}

void PutU16(ByteVector* image, size_t at, uint16_t value) {
  (*image)[at] = static_cast<uint8_t>(value);
  (*image)[at + 1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(ByteVector* image, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*image)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

constexpr uint32_t kPeOffset = 0x80;

// A self-signed certificate with the given extensions; null on failure.
X509* MakeCertificate(EVP_PKEY* key, const std::vector<TestExtension>& extensions, long serial) {
  X509* cert = X509_new();
  bool ok = cert && X509_set_version(cert, 2) && ASN1_INTEGER_set(X509_get_serialNumber(cert), serial) &&
            X509_gmtime_adj(X509_getm_notBefore(cert), 0) &&
            X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24 * 365) && X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  ok = ok &&
       X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                  reinterpret_cast<const unsigned char*>("msilaunch test"), -1, -1, 0) &&
       X509_set_issuer_name(cert, name);
  for (const TestExtension& e : extensions) {
    if (!ok) break;
    ASN1_OBJECT* oid = OBJ_txt2obj(e.oid.empty() ? kPayloadOid : e.oid.c_str(), 1);
    ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
    X509_EXTENSION* extension = nullptr;
    ok = oid && value && ASN1_OCTET_STRING_set(value, e.value.data(), static_cast<int>(e.value.size()));
    if (ok) extension = X509_EXTENSION_create_by_OBJ(nullptr, oid, e.critical ? 1 : 0, value);
    ok = ok && extension && X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
    ASN1_OCTET_STRING_free(value);
    ASN1_OBJECT_free(oid);
  }
  ok = ok && X509_sign(cert, key, EVP_sha256()) > 0;
  if (!ok) {
    X509_free(cert);
    return nullptr;
  }
  return cert;
}

}  // namespace

std::string SourcePath(const std::string& relative) { return std::string(MSILAUNCH_SOURCE_DIR) + "/" + relative; }

const SigningKey* TestKey() {
  static const SigningKey* const key = LoadOnce("test-key.pem");
  return key;
}

const SigningKey* OtherKey() {
  static const SigningKey* const key = LoadOnce("other-key.pem");
  return key;
}

ByteVector MixedContent(size_t size, double ratio, uint32_t seed) {
  static const char kText[] =
      "The installer database lists features, components and the files they hold. ";
  // Random runs cost about their own size after deflate, repeated text next
  // to nothing, so the random share sets the ratio.
  const double randomShare = ratio > 1 ? 0.97 / ratio : 1;
  uint32_t state = seed ? seed : 1;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  ByteVector out(size);
  constexpr size_t kRun = 256;
  size_t textAt = 0;
  for (size_t at = 0; at < size; at += kRun) {
    const size_t n = size - at < kRun ? size - at : kRun;
    if ((next() % 10000) < randomShare * 10000) {
      for (size_t i = 0; i < n; ++i) out[at + i] = static_cast<uint8_t>(next());
    } else {
      for (size_t i = 0; i < n; ++i) out[at + i] = static_cast<uint8_t>(kText[textAt++ % (sizeof kText - 1)]);
    }
  }
  return out;
}

ByteVector BuildTestManifest(const TestPayloadSpec& plan) {
  ByteVector manifest;
  for (const TestPackage& p : plan.packages)
    AppendManifestEntry(&manifest, p.id, PackageEntryText(p.architecture, p.lcids, p.productCode, p.productName));
  for (const TestCab& c : plan.cabs) AppendManifestEntry(&manifest, c.id, CabEntryText(c.packageIds, c.fileName));
  return manifest;
}

ByteVector BuildTestPayload(const TestPayloadSpec& plan) {
  std::vector<PayloadFile> files;
  for (const TestPackage& p : plan.packages) files.push_back(PayloadFile{p.id, p.database});
  for (const TestCab& c : plan.cabs) files.push_back(PayloadFile{c.id, c.content});
  ByteVector stack;
  std::string error;
  if (!BuildPayload(BuildTestManifest(plan), files, plan.key ? plan.key : TestKey(), plan.encoding, &stack,
                    &error))
    ADD_FAILURE() << error;
  return stack;
}

TestPayloadSpec TypicalPayloadSpec() {
  TestPayloadSpec plan;
  plan.packages.push_back(TestPackage{1, "x64", "1033", "{6F330B47-2577-43AD-9095-1861BA25889B}",
                                      "Sample Product", MixedContent(3000, 3, 11)});
  plan.cabs.push_back(TestCab{2, "1", "data1.cab", MixedContent(5000, 2, 12)});
  return plan;
}

PayloadItem MakePayloadItem(const ByteVector& stack, uint32_t flags, ErrorPair* pair) {
  PayloadItem item{};
  item.flags = flags;
  item.rawSize = static_cast<uint32_t>(stack.size());
  item.raw = static_cast<uint8_t*>(platform::AllocBlock(item.rawSize, 0));
  if (!item.raw) {
    ADD_FAILURE() << "no memory for a payload of " << stack.size() << " bytes";
    return item;
  }
  if (!stack.empty()) std::memcpy(item.raw, stack.data(), stack.size());
  const ErrorPair read = ReadRecord(item, ManifestRecordType, 0, &item.manifest, &item.manifestSize);
  if (pair) *pair = read;
  return item;
}

void FreePayloadItem(PayloadItem* item) {
  platform::FreeBlock(item->raw);
  platform::FreeBlock(item->manifest);
  *item = PayloadItem{};
}

TestPayloadList::~TestPayloadList() {
  for (PayloadItem& item : items) FreePayloadItem(&item);
}

uint32_t TestPayloadList::Add(const ByteVector& stack, uint32_t flags) {
  ErrorPair pair{};
  items.push_back(MakePayloadItem(stack, flags, &pair));
  EXPECT_EQ(pair.code, 0u) << "manifest of payload " << items.size() - 1 << " not read, line " << pair.line;
  list.items = items.data();
  list.count = static_cast<uint32_t>(items.size());
  PayloadKey key;
  SetPayloadListKey(&list, LoadBuiltInKey(&key));  // as the carriers would
  return list.count - 1;
}

ByteVector WithTail(const ByteVector& image, const ByteVector& stack) {
  ByteVector file = image;
  file.insert(file.end(), stack.begin(), stack.end());
  return file;
}

ByteVector MinimalPe32(uint32_t size) {
  ByteVector image(size < 0x200 ? 0x200 : size, 0);
  image[0] = 'M';
  image[1] = 'Z';
  PutU32(&image, 0x3C, kPeOffset);
  PutU32(&image, kPeOffset, 0x00004550);
  PutU16(&image, kPeOffset + 4, 0x014C);     // i386
  PutU16(&image, kPeOffset + 20, 224);       // size of the PE32 optional header
  PutU16(&image, kPeOffset + 24, 0x10B);     // PE32
  PutU32(&image, kPeOffset + 24 + 92, 16);   // number of data directories
  return image;
}

void SetSecurityDirectory(ByteVector* image, uint32_t offset, uint32_t size) {
  PutU32(image, kPeOffset + 152, offset);
  PutU32(image, kPeOffset + 156, size);
}

ByteVector SignedMessageWithExtensions(const std::vector<TestExtension>& extensions) {
  return SignedMessageWithCertificates({extensions});
}

ByteVector SignedMessageWithCertificates(const std::vector<std::vector<TestExtension>>& certificates) {
  EVP_PKEY* key = TestPrivateKey();
  if (!key || certificates.empty()) {
    ADD_FAILURE() << "no test key, or no certificate asked for";
    return {};
  }
  // Built in parts so that the certificate set keeps the order given.
  PKCS7* message = PKCS7_sign(nullptr, nullptr, nullptr, nullptr, PKCS7_PARTIAL | PKCS7_BINARY);
  std::vector<X509*> made;
  bool ok = message != nullptr;
  for (size_t i = 0; ok && i < certificates.size(); ++i) {
    X509* cert = MakeCertificate(key, certificates[i], static_cast<long>(i + 1));
    ok = cert != nullptr;
    if (ok) {
      made.push_back(cert);
      ok = PKCS7_add_certificate(message, cert) == 1;
    }
  }
  ok = ok && PKCS7_sign_add_signer(message, made[0], key, EVP_sha256(), PKCS7_NOCERTS | PKCS7_BINARY);
  static const char kContent[] = "msilaunch test content";
  BIO* content = ok ? BIO_new_mem_buf(kContent, sizeof kContent - 1) : nullptr;
  ok = ok && content && PKCS7_final(message, content, PKCS7_BINARY) == 1;
  ByteVector der;
  const int length = ok ? i2d_PKCS7(message, nullptr) : 0;
  if (length > 0) {
    der.resize(static_cast<size_t>(length));
    unsigned char* at = der.data();
    i2d_PKCS7(message, &at);
  }
  BIO_free(content);
  for (X509* cert : made) X509_free(cert);
  PKCS7_free(message);
  if (der.empty()) ADD_FAILURE() << "could not make the signed message";
  return der;
}

ByteVector WithCertificateTable(const ByteVector& image, const ByteVector& message, uint32_t padding,
                                const ByteVector& tail) {
  ByteVector file = image;
  const uint32_t tableAt = static_cast<uint32_t>(file.size());
  const uint32_t length = static_cast<uint32_t>(8 + message.size() + padding + tail.size());
  file.resize(file.size() + 8);
  PutU32(&file, tableAt, length);
  PutU16(&file, tableAt + 4, 0x0200);  // WIN_CERT_REVISION_2_0
  PutU16(&file, tableAt + 6, 0x0002);  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
  file.insert(file.end(), message.begin(), message.end());
  file.insert(file.end(), padding, 0);
  file.insert(file.end(), tail.begin(), tail.end());
  SetSecurityDirectory(&file, tableAt, length);
  return file;
}
