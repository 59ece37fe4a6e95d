// Real payloads for tests, made by the packer's writer and signed with the
// throwaway keys in tests/keys: record stacks, manifests, payload items and
// the two carriers' containers (a PE32 image with a certificate table, a
// PKCS#7 signed message whose certificate carries payload extensions).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/writer/payload_writer.h"
#include "payload/payload_list.h"

// A path under the source tree (MSILAUNCH_SOURCE_DIR).
std::string SourcePath(const std::string& relative);

// The key the test launcher embeds, and a second one for "wrong key" cases.
// Loaded once; never freed.
const SigningKey* TestKey();
const SigningKey* OtherKey();

// Bytes of the given size that compress about `ratio`:1 under zlib (random
// bytes mixed with repeated text), the same for the same seed.
ByteVector MixedContent(size_t size, double ratio, uint32_t seed = 1);

struct TestPackage {
  uint32_t id;               // file record id of its main.msi
  std::string architecture;  // "Intel" / "x64"
  std::string lcids;         // "1033" or "1031;1033"
  std::string productCode;   // "{...}"
  std::string productName;
  ByteVector database;       // content of the file record
};

struct TestCab {
  uint32_t id;
  std::string packageIds;  // "1;2"
  std::string fileName;
  ByteVector content;
};

struct TestPayloadSpec {
  std::vector<TestPackage> packages;
  std::vector<TestCab> cabs;
  RecordEncoding encoding;              // compressed and signed by default
  const SigningKey* key = nullptr;      // null: TestKey()
};

// The manifest bytes the plan's packages and cabs describe, in that order.
ByteVector BuildTestManifest(const TestPayloadSpec& plan);

// The whole record stack: manifest record, then each package's database and
// each cab's content as file records. Fails the calling test on error.
ByteVector BuildTestPayload(const TestPayloadSpec& plan);

// One package ("x64", 1033) with a small database and one cab: the payload a
// typical test needs when the content does not matter.
TestPayloadSpec TypicalPayloadSpec();

// A PayloadItem as the carriers make it: `raw` a platform block holding a
// copy of `stack`, `manifest` its manifest read through ReadRecord (left
// empty when that fails, with the pair in *pair). Free with FreePayloadItem.
PayloadItem MakePayloadItem(const ByteVector& stack, uint32_t flags = 3, ErrorPair* pair = nullptr);
void FreePayloadItem(PayloadItem* item);

// A PayloadList owned by the test, filled without AppendPayload so that
// tests of the walks do not depend on the list's own growth code.
struct TestPayloadList {
  PayloadList list{};
  std::vector<PayloadItem> items;
  TestPayloadList() = default;
  TestPayloadList(const TestPayloadList&) = delete;
  TestPayloadList& operator=(const TestPayloadList&) = delete;
  ~TestPayloadList();
  // Adds an item with its manifest; returns its index.
  uint32_t Add(const ByteVector& stack, uint32_t flags = 3);
};

// The file-tail carrier's input: `image` followed by `stack`.
ByteVector WithTail(const ByteVector& image, const ByteVector& stack);

// A PE32 image of `size` bytes (at least 0x200): "MZ", e_lfanew 0x80, the
// PE signature, Magic 0x10B, an empty security directory.
ByteVector MinimalPe32(uint32_t size = 0x400);
// Writes the security directory entry (offset, size) of a PE32 image.
void SetSecurityDirectory(ByteVector* image, uint32_t offset, uint32_t size);

// A DER PKCS#7 SignedData made with TestKey() that holds one self-signed
// certificate carrying one extension per value, each with `oid` and the
// given critical flag.
struct TestExtension {
  ByteVector value;
  bool critical = false;
  std::string oid;  // empty: PayloadExtensionOid
};
ByteVector SignedMessageWithExtensions(const std::vector<TestExtension>& extensions);
// The same with several certificates, each with its own extensions, in this
// order in the message's certificate set.
ByteVector SignedMessageWithCertificates(const std::vector<std::vector<TestExtension>>& certificates);

// Appends a WIN_CERTIFICATE (dwLength, revision 0x200, type 2) holding
// `message` and `padding` zero bytes to `image`, points the security
// directory at it, and returns the new image. With `tail` the record stack
// follows inside the table, which then reaches the end of the file.
ByteVector WithCertificateTable(const ByteVector& image, const ByteVector& message, uint32_t padding = 0,
                                const ByteVector& tail = {});
