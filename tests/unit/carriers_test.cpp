// Both carriers over real executables: a MinGW-built PE32 image, signed by
// osslsigncode, filled by the packer's placement code with payloads made by
// the writer, then mutated where a case needs a broken file.
#include "payload/carriers.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/platform.h"
#include "launcher/launcher_run.h"
#include "packer/writer/pe_placement.h"
#include "tests/support/fault_injection.h"
#include "tests/support/payloads.h"
#include "tests/tools/make_test_exes.h"

namespace {

constexpr uint32_t kCryptAsn1Error = 0x80093100u;  // what the native decoder leaves for non-DER
constexpr uint32_t kInvalidArg = ErrorCode::InvalidArg;
constexpr uint32_t kNoMemory = ErrorCode::NotEnoughMemory;
constexpr uint32_t kAnyLine = 0;  // success after ReadRecord: only the code is defined


// What the launcher's start-up does with its own file (LoadPayloads): the
// certificate carrier, then the file-tail carrier only when that succeeded
// and found nothing. The items say which carrier answered.
struct CarrierRun {
  ErrorPair pair{};
  std::vector<ByteVector> raws;
  std::vector<ByteVector> manifests;
};

CarrierRun RunCarriers(const ByteVector& file) {
  CarrierRun run;
  PayloadList list{};
  run.pair = LoadPayloads(file.data(), static_cast<uint32_t>(file.size()), &list);
  for (uint32_t i = 0; i < list.count; ++i) {
    const PayloadItem& item = list.items[i];
    EXPECT_EQ(item.flags, 3u);
    run.raws.emplace_back(item.raw, item.raw + item.rawSize);
    run.manifests.emplace_back(item.manifest, item.manifest + item.manifestSize);
  }
  ReleasePayloadList(&list);
  return run;
}

ByteVector Junk(size_t size) {
  ByteVector bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + 5);
  return bytes;
}

// The files of every case, built once: placement is real work (keys,
// re-encoding), and the cases only read them.
struct Files {
  TestPayloadSpec specA, specB;
  ByteVector stackA, stackB, manifestA, manifestB;
  ByteVector unsignedExe, signedExe;
  ByteVector unsignedWithTail;    // (a) stackA
  ByteVector signedWithTail;      // (b) stackA inside the table
  ByteVector certA;               // (c) stackA
  ByteVector certAWithTailB;      // (c) stackA, then (b) stackB
  ByteVector certAB;              // one certificate, extensions A, B
  ByteVector certsAThenB;         // two certificates
  ByteVector certAThenJunk;       // extensions A, then a value without a manifest
  ByteVector certJunkWithTailA;   // extension without a manifest, (b) stackA
  ByteVector criticalWithTailA;   // critical extension A, (b) stackA
  ByteVector extraArcWithTailA;   // OID + ".1" carrying A, (b) stackA
  ByteVector shortArcWithTailA;   // OID without its last arc carrying A, (b) stackA
};

ByteVector InTable(const ByteVector& exe, const ByteVector& stack) {
  ByteVector out;
  std::string error;
  EXPECT_TRUE(PlaceStackInCertificateTable(exe, stack, &out, &error)) << error;
  return out;
}
ByteVector WithCertificate(const ByteVector& exe, const std::vector<ExtensionSpec>& extensions) {
  ByteVector out;
  std::string error;
  EXPECT_TRUE(AddCertificateToSignature(exe, extensions, &out, &error)) << error;
  return out;
}
ExtensionSpec Payload(const ByteVector& value, const std::string& oid = PayloadExtensionOid,
                      bool critical = false) {
  return ExtensionSpec{oid, critical, value};
}

const Files& TestFiles() {
  static const Files* files = [] {
    auto* f = new Files;
    f->specA = TypicalPayloadSpec();
    f->specB = TypicalPayloadSpec();
    f->specB.packages[0].productName = "Second product";
    f->stackA = BuildTestPayload(f->specA);
    f->stackB = BuildTestPayload(f->specB);
    f->manifestA = BuildTestManifest(f->specA);
    f->manifestB = BuildTestManifest(f->specB);
    f->unsignedExe = LoadTestExe("unsigned.exe");
    f->signedExe = LoadTestExe("signed.exe");
    std::string error;
    EXPECT_TRUE(PlaceStackAtEnd(f->unsignedExe, f->stackA, &f->unsignedWithTail, &error)) << error;
    f->signedWithTail = InTable(f->signedExe, f->stackA);
    f->certA = WithCertificate(f->signedExe, {Payload(f->stackA)});
    f->certAWithTailB = InTable(f->certA, f->stackB);
    f->certAB = WithCertificate(f->signedExe, {Payload(f->stackA), Payload(f->stackB)});
    f->certsAThenB = WithCertificate(f->certA, {Payload(f->stackB)});
    f->certAThenJunk = WithCertificate(f->signedExe, {Payload(f->stackA), Payload(Junk(200))});
    f->certJunkWithTailA = InTable(WithCertificate(f->signedExe, {Payload(Junk(200))}), f->stackA);
    f->criticalWithTailA =
        InTable(WithCertificate(f->signedExe, {Payload(f->stackA, PayloadExtensionOid, true)}), f->stackA);
    f->extraArcWithTailA =
        InTable(WithCertificate(f->signedExe, {Payload(f->stackA, std::string(PayloadExtensionOid) + ".1")}),
                f->stackA);
    std::string shortOid = PayloadExtensionOid;
    shortOid.erase(shortOid.rfind('.'));
    f->shortArcWithTailA = InTable(WithCertificate(f->signedExe, {Payload(f->stackA, shortOid)}), f->stackA);
    return f;
  }();
  return *files;
}

// A payload of the certificate carrier, or the whole file whose tail holds
// stack A or B.
enum class Item { A, B, FileA, FileB };

struct CarrierCase {
  const char* name;
  ByteVector (*file)(const Files&);
  ErrorPair pair;  // start-up's pair; line kAnyLine: compare the code only
  std::vector<Item> items;
};

// Mutations of a file that holds both carriers, so a case shows which one
// answered.
ByteVector Patched(const ByteVector& file, size_t at, uint32_t value) {
  ByteVector out = file;
  SetU32At(&out, at, value);
  return out;
}

const CarrierCase kCarrierCases[] = {
    {"file shorter than 64 bytes", [](const Files& f) { return ByteVector(f.unsignedExe.begin(), f.unsignedExe.begin() + 63); },
     {1168, 509}, {}},
    {"no MZ", [](const Files& f) { ByteVector x = f.certAWithTailB; x[0] = 'X'; return x; },
     {0, kAnyLine}, {Item::FileB}},
    {"PE32+ magic", [](const Files& f) { ByteVector x = f.certAWithTailB; x[Lfanew(x) + 25] = 0x02; return x; },
     {0, kAnyLine}, {Item::FileB}},
    {"PE signature missing", [](const Files& f) { return Patched(f.certAWithTailB, Lfanew(f.certAWithTailB), 0x4550 + 1); },
     {0, kAnyLine}, {Item::FileB}},
    {"e_lfanew beyond the file", [](const Files& f) { return Patched(f.certAWithTailB, 0x3C, 0xFFFFFFF0u); },
     {0, kAnyLine}, {Item::FileB}},
    {"unsigned image with a tail", [](const Files& f) { return f.unsignedWithTail; },
     {0, kAnyLine}, {Item::FileA}},
    {"directory size below 8", [](const Files& f) { return Patched(f.certAWithTailB, Lfanew(f.certAWithTailB) + 156, 7); },
     {0, kAnyLine}, {Item::FileB}},
    {"table beyond the file", [](const Files& f) {
       const size_t at = Lfanew(f.certAWithTailB) + 156;
       return Patched(f.certAWithTailB, at, U32At(f.certAWithTailB, at) + 1); },
     {0, kAnyLine}, {Item::FileB}},
    {"table offset + size wraps", [](const Files& f) {
       ByteVector x = Patched(f.certAWithTailB, Lfanew(f.certAWithTailB) + 152, 0xFFFFFFF8u);
       return Patched(x, Lfanew(x) + 156, 0x10); },
     {0, kAnyLine}, {Item::FileB}},
    {"dwLength below 8", [](const Files& f) { return Patched(f.certAWithTailB, TableOffset(f.certAWithTailB), 4); },
     {0, kAnyLine}, {Item::FileB}},
    {"dwLength beyond the table", [](const Files& f) {
       const uint32_t size = U32At(f.certAWithTailB, Lfanew(f.certAWithTailB) + 156);
       return Patched(f.certAWithTailB, TableOffset(f.certAWithTailB), size + 1); },
     {0, kAnyLine}, {Item::FileB}},
    {"dwLength 0xFFFFFFFF", [](const Files& f) { return Patched(f.certAWithTailB, TableOffset(f.certAWithTailB), 0xFFFFFFFFu); },
     {0, kAnyLine}, {Item::FileB}},
    {"table is not PKCS#7, stack at the tail", [](const Files& f) {
       ByteVector x = f.signedWithTail;
       std::memset(x.data() + TableOffset(x) + 8, 0x55, 32);
       return x; },
     {kCryptAsn1Error, 837}, {}},
    {"signed, no extension, stack in the table", [](const Files& f) { return f.signedWithTail; },
     {0, kAnyLine}, {Item::FileA}},
    {"critical payload extension is skipped", [](const Files& f) { return f.criticalWithTailA; },
     {0, kAnyLine}, {Item::FileA}},
    {"OID with one more arc", [](const Files& f) { return f.extraArcWithTailA; },
     {0, kAnyLine}, {Item::FileA}},
    {"OID with one arc fewer", [](const Files& f) { return f.shortArcWithTailA; },
     {0, kAnyLine}, {Item::FileA}},
    {"certificate payload", [](const Files& f) { return f.certA; },
     {0, kAnyLine}, {Item::A}},
    {"two extensions in one certificate", [](const Files& f) { return f.certAB; },
     {0, kAnyLine}, {Item::A, Item::B}},
    {"two certificates", [](const Files& f) { return f.certsAThenB; },
     {0, kAnyLine}, {Item::A, Item::B}},
    {"second value has no manifest", [](const Files& f) { return f.certAThenJunk; },
     {1168, 509}, {Item::A}},
    {"value has no manifest, stack at the tail", [](const Files& f) { return f.certJunkWithTailA; },
     {1168, 509}, {}},
    {"both carriers: only the certificate's", [](const Files& f) { return f.certAWithTailB; },
     {0, kAnyLine}, {Item::A}},
    {"neither carrier", [](const Files& f) { return f.signedExe; },
     {1168, 509}, {}},
};

void ExpectPair(ErrorPair actual, ErrorPair expected) {
  EXPECT_EQ(actual.code, expected.code);
  if (expected.line != kAnyLine) {
    EXPECT_EQ(actual.line, expected.line);
  }
}

TEST(CarriersTest, FindWhatEachFileCarries) {
  const Files& f = TestFiles();
  for (const CarrierCase& c : kCarrierCases) {
    SCOPED_TRACE(c.name);
    ScopedPlatformReset counting;
    const ByteVector file = c.file(f);
    const CarrierRun run = RunCarriers(file);
    ExpectPair(run.pair, c.pair);
    ASSERT_EQ(run.raws.size(), c.items.size());
    for (size_t i = 0; i < c.items.size(); ++i) {
      const Item item = c.items[i];
      const bool isB = item == Item::B || item == Item::FileB;
      const bool isFile = item == Item::FileA || item == Item::FileB;
      const ByteVector& raw = isFile ? file : isB ? f.stackB : f.stackA;
      EXPECT_EQ(run.raws[i], raw) << i;
      EXPECT_EQ(run.manifests[i], isB ? f.manifestB : f.manifestA) << i;
    }
    EXPECT_EQ(OutstandingBlocks(), 0);
  }
}

// Each failure site of the table, with the thread's last error and without
// one (then the site's own code). Nothing leaks, and a failed append leaves
// the list as it was.
struct FaultCase {
  const char* name;
  const char* call;
  uint32_t nth;  // 0: the last call of a clean run (the append)
  bool tail;     // run the file-tail carrier on the unsigned file instead
  bool prefilled;  // the list already holds an item, so the append grows it
  ErrorPair expected;  // code: the default when the last error is 0
};

const FaultCase kFaultCases[] = {
    {"open message", "OpenSignedMessage", 1, false, false, {kInvalidArg, 831}},
    {"update message", "UpdateSignedMessage", 1, false, false, {kInvalidArg, 837}},
    {"certificate count", "GetCertificateCount", 1, false, false, {kInvalidArg, 846}},
    {"certificate size", "GetCertificateEncoding", 1, false, false, {kInvalidArg, 937}},
    {"certificate block", "AllocBlock", 1, false, false, {kNoMemory, 932}},
    {"certificate fetch", "GetCertificateEncoding", 2, false, false, {kInvalidArg, 924}},
    {"certificate decode", "DecodeCertificate", 1, false, false, {kInvalidArg, 919}},
    // The signer's certificate comes first: its block, then ours, then the copy.
    {"extension copy", "AllocBlock", 3, false, false, {kNoMemory, 907}},
    {"first append", "AllocBlock", 0, false, false, {kNoMemory, 892}},
    {"growing append", "GrowBlock", 0, false, true, {kNoMemory, 892}},
    {"tail copy", "AllocBlock", 1, true, false, {kNoMemory, 2016}},
    {"tail first append", "AllocBlock", 0, true, false, {kNoMemory, 2001}},
    {"tail growing append", "GrowBlock", 0, true, true, {kNoMemory, 2001}},
};

// The list a case starts from: empty, or holding one item so that the
// carrier's append has to grow the array.
void Prefill(const FaultCase& c, PayloadList* list) {
  if (c.prefilled) {
    EXPECT_TRUE(AppendPayload(list, PayloadItem{}));
  }
}

ErrorPair RunCarrier(const FaultCase& c, const Files& f, PayloadList* list) {
  const ByteVector& file = c.tail ? f.unsignedWithTail : f.certA;
  const uint32_t size = static_cast<uint32_t>(file.size());
  return c.tail ? ReadTailPayload(file.data(), size, list) : ReadCertificatePayloads(file.data(), size, list);
}

TEST(CarriersTest, EveryFailureSiteReportsItsPair) {
  const Files& f = TestFiles();
  for (const FaultCase& c : kFaultCases) {
    uint32_t nth = c.nth;
    if (nth == 0) {  // the carrier's last call of this kind
      ScopedPlatformReset counting;
      PayloadList list{};
      Prefill(c, &list);
      const uint32_t before = PlatformCallCount(c.call);
      ASSERT_EQ(RunCarrier(c, f, &list).code, 0u) << c.name;
      nth = PlatformCallCount(c.call) - before;
      ReleasePayloadList(&list);
    }
    for (uint32_t lastError : {0u, 1234u}) {
      SCOPED_TRACE(std::string(c.name) + (lastError ? " with last error" : " without last error"));
      ScopedPlatformReset reset;
      PayloadList list{};
      Prefill(c, &list);
      const PayloadItem* itemsBefore = list.items;
      ASSERT_TRUE(FailPlatformCall(c.call, nth, lastError));
      const ErrorPair pair = RunCarrier(c, f, &list);
      EXPECT_TRUE(PlatformFaultFired());
      EXPECT_EQ(pair.code, lastError ? lastError : c.expected.code);
      EXPECT_EQ(pair.line, c.expected.line);
      EXPECT_EQ(list.count, c.prefilled ? 1u : 0u);
      EXPECT_EQ(list.items, itemsBefore);
      ReleasePayloadList(&list);
      EXPECT_EQ(OutstandingBlocks(), 0);
    }
  }
}

// Fail each seam call the carriers make, at every position it is reached,
// through the launcher's calling order: whatever fails, the list holds a
// prefix of the payloads and releasing it frees everything.
TEST(CarriersTest, NoFailureLeaksOrCorruptsTheList) {
  const Files& f = TestFiles();
  const char* const calls[] = {"AllocBlock",          "GrowBlock",        "OpenSignedMessage",
                               "UpdateSignedMessage", "GetCertificateCount", "GetCertificateEncoding",
                               "DecodeCertificate",   "GetExtension"};
  const struct {
    const ByteVector* file;
    std::vector<const ByteVector*> payloads;
  } inputs[] = {{&f.certAB, {&f.stackA, &f.stackB}},
                {&f.certsAThenB, {&f.stackA, &f.stackB}},
                {&f.unsignedWithTail, {&f.unsignedWithTail}}};
  for (const auto& input : inputs) {
    for (const char* call : calls) {
      for (uint32_t nth = 1;; ++nth) {
        SCOPED_TRACE(std::string(call) + " #" + std::to_string(nth));
        ScopedPlatformReset reset;
        ASSERT_TRUE(FailPlatformCall(call, nth, 5));
        PayloadList list{};
        const uint32_t size = static_cast<uint32_t>(input.file->size());
        const ErrorPair pair = LoadPayloads(input.file->data(), size, &list);
        const bool fired = PlatformFaultFired();
        // The items are the payloads in order, a prefix of them, except that
        // an extension the decoder cannot show is stepped over.
        size_t next = 0;
        for (uint32_t i = 0; i < list.count; ++i) {
          const ByteVector raw(list.items[i].raw, list.items[i].raw + list.items[i].rawSize);
          if (std::strcmp(call, "GetExtension") == 0)
            while (next < input.payloads.size() && *input.payloads[next] != raw) ++next;
          ASSERT_LT(next, input.payloads.size());
          EXPECT_EQ(raw, *input.payloads[next]);
          ++next;
        }
        if (pair.code == 0 && std::strcmp(call, "GetExtension") != 0) {
          EXPECT_EQ(list.count, input.payloads.size());
        }
        ReleasePayloadList(&list);
        EXPECT_EQ(OutstandingBlocks(), 0);
        if (!fired) break;
      }
    }
  }
}

TEST(PayloadListTest, FailedAppendLeavesTheListAsItWas) {
  ScopedPlatformReset reset;
  PayloadList list{};
  uint8_t marker = 0;
  for (uint32_t i = 0; i < 2; ++i) {
    PayloadItem item{};
    item.rawSize = i + 1;
    item.flags = 3;
    ASSERT_TRUE(AppendPayload(&list, item));
  }
  const PayloadItem* before = list.items;
  ASSERT_TRUE(FailPlatformCall("GrowBlock", 1, 8));
  PayloadItem extra{};
  extra.raw = &marker;
  EXPECT_FALSE(AppendPayload(&list, extra));
  EXPECT_EQ(platform::LastError(), 8u);
  EXPECT_EQ(list.count, 2u);
  EXPECT_EQ(list.items, before);
  EXPECT_EQ(list.items[0].rawSize, 1u);
  EXPECT_EQ(list.items[1].rawSize, 2u);
  ASSERT_TRUE(AppendPayload(&list, PayloadItem{}));
  EXPECT_EQ(list.count, 3u);
  EXPECT_EQ(list.items[2].raw, nullptr);  // the new slot is exactly the item
  EXPECT_EQ(PlatformCallCount("GrowBlock"), 3u);  // one per append after the first, the failed one too
  ReleasePayloadList(&list);
  EXPECT_EQ(list.items, nullptr);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(OutstandingBlocks(), 0);
}

}  // namespace
