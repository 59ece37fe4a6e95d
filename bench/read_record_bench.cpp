// ReadRecord on a 64 MiB record that compresses about 3:1, against the floor
// of the same work done by hand: one inflate into a presized buffer, one
// SHA-256 and one RSA_verify. Prints the ratio of the two and ReadRecord's
// peak heap use next to what it cannot do without (content + one chunk, with
// the compressed payload held by the caller).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "base/platform.h"
#include "packer/writer/payload_writer.h"
#include "payload/payload_key.h"
#include "payload/record_decoding.h"
#include "tests/support/payloads.h"

namespace {

constexpr size_t kContentSize = 64u << 20;

struct Fixture {
  ByteVector stack;
  ByteVector content;
  PayloadKey key{};  // no bindings: the bench reads a file record
  LocatedRecord record;
  EVP_PKEY* publicKey = nullptr;
  bool ready = false;
};

Fixture& Shared() {
  static Fixture f = [] {
    Fixture f;
    std::string error;
    const SigningKey* key = TestKey();
    if (!key) return f;
    SigningKeyModulus(key, f.key.modulus);
    f.content = MixedContent(kContentSize, 3, 12345);
    RecordEncoding encoding;
    encoding.level = 6;
    const uint8_t none = 0;
    if (!AppendRecord(&f.stack, ManifestRecordType, 0, &none, 0, key, encoding, &error) ||
        !AppendRecord(&f.stack, FileRecordType, 1, f.content.data(), f.content.size(), key, encoding,
                      &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return f;
    }
    LocateRecord(f.stack.data(), static_cast<uint32_t>(f.stack.size()), FileRecordType, 1, &f.record);
    uint8_t blob[kPublicKeyBlobSize];
    AssemblePublicKeyBlob(f.key.modulus, blob);
    const unsigned char* cursor = blob;
    f.publicKey = b2i_PublicKey(&cursor, kPublicKeyBlobSize);
    f.ready = f.publicKey != nullptr;
    return f;
  }();
  return f;
}

PayloadItem ItemOf(Fixture& f) {
  return PayloadItem{f.stack.data(), static_cast<uint32_t>(f.stack.size()), nullptr, 0, 3};
}

void BM_ReadRecord(benchmark::State& state) {
  Fixture& f = Shared();
  if (!f.ready) return state.SkipWithError("no fixture");
  const PayloadItem item = ItemOf(f);
  for (auto _ : state) {
    uint8_t* content = nullptr;
    uint32_t size = 0;
    const ErrorPair pair = ReadRecordWithKey(&f.key, item, FileRecordType, 1, &content, &size);
    if (pair.code != 0 || size != f.content.size()) return state.SkipWithError("ReadRecord failed");
    benchmark::DoNotOptimize(content);
    platform::FreeBlock(content);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.content.size()));
}

// The floor: one inflate into a presized buffer, one SHA-256, one
// RSA_verify. With `newBlock` the buffer is a fresh platform block each time,
// as ReadRecord's content must be: the difference between the two floors is
// the cost of faulting in fresh pages, which no decoder that hands out a new
// block can avoid.
void Floor(benchmark::State& state, bool newBlock) {
  Fixture& f = Shared();
  if (!f.ready) return state.SkipWithError("no fixture");
  const uint32_t size = static_cast<uint32_t>(f.content.size());
  ByteVector reused(newBlock ? 0 : size);
  RSA* rsa = EVP_PKEY_get1_RSA(f.publicKey);
  for (auto _ : state) {
    uint8_t* output = newBlock ? static_cast<uint8_t*>(platform::AllocBlock(size, 0)) : reused.data();
    z_stream stream{};
    inflateInit(&stream);
    stream.next_in = const_cast<Bytef*>(f.record.data);
    stream.avail_in = f.record.dataSize;
    stream.next_out = output;
    stream.avail_out = size;
    const int status = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256(output, size, digest);
    const bool ok = status == Z_STREAM_END &&
                    RSA_verify(NID_sha256, digest, sizeof digest, f.record.signature, f.record.signatureSize, rsa) == 1;
    if (newBlock) platform::FreeBlock(output);
    if (!ok) return state.SkipWithError("floor failed");
  }
  RSA_free(rsa);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.content.size()));
}
void BM_Floor(benchmark::State& state) { Floor(state, false); }
void BM_FloorNewBlock(benchmark::State& state) { Floor(state, true); }

BENCHMARK(BM_ReadRecord)->Unit(benchmark::kMillisecond)->Iterations(6)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_Floor)->Unit(benchmark::kMillisecond)->Iterations(6)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_FloorNewBlock)->Unit(benchmark::kMillisecond)->Iterations(6)->Repetitions(3)->ReportAggregatesOnly(true);

// Keeps the median real time of each benchmark for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> medians;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.aggregate_name == "median") medians[run.run_name.function_name] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

// Heap accounting over the seam: the largest total of live blocks.
std::map<void*, uint32_t> liveBlocks;
uint64_t liveBytes = 0, peakBytes = 0;
void Track(void* block, uint32_t size) {
  liveBlocks[block] = size;
  liveBytes += size;
  if (liveBytes > peakBytes) peakBytes = liveBytes;
}
void* CountingAlloc(uint32_t size, uint32_t flags) {
  void* block = kPlatformDefaults.AllocBlock(size, flags);
  if (block) Track(block, size);
  return block;
}
void* CountingGrow(void* block, uint32_t size, uint32_t flags) {
  void* grown = kPlatformDefaults.GrowBlock(block, size, flags);
  if (grown) {
    liveBytes -= liveBlocks[block];
    liveBlocks.erase(block);
    Track(grown, size);
  }
  return grown;
}
void CountingFree(void* block) {
  if (liveBlocks.count(block)) {
    liveBytes -= liveBlocks[block];
    liveBlocks.erase(block);
  }
  kPlatformDefaults.FreeBlock(block);
}

void ReportPeakMemory() {
  Fixture& f = Shared();
  if (!f.ready) return;
  gPlatform.AllocBlock = CountingAlloc;
  gPlatform.GrowBlock = CountingGrow;
  gPlatform.FreeBlock = CountingFree;
  uint8_t* content = nullptr;
  uint32_t size = 0;
  ReadRecordWithKey(&f.key, ItemOf(f), FileRecordType, 1, &content, &size);
  platform::FreeBlock(content);
  gPlatform = kPlatformDefaults;
  const uint64_t chunk = InflateChunkSize(f.record.dataSize);
  const uint64_t floor = f.content.size() + f.record.dataSize + chunk;
  std::printf("compression: %zu -> %u bytes (%.2f:1)\n", f.content.size(), f.record.dataSize,
              static_cast<double>(f.content.size()) / f.record.dataSize);
  std::printf("peak of ReadRecord's blocks: %llu bytes; with the compressed payload: %llu; "
              "content + compressed + one chunk (%llu): %llu; ratio %.4f\n",
              static_cast<unsigned long long>(peakBytes),
              static_cast<unsigned long long>(peakBytes + f.record.dataSize), static_cast<unsigned long long>(chunk),
              static_cast<unsigned long long>(floor), static_cast<double>(peakBytes + f.record.dataSize) / floor);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::map<std::string, double>& m = reporter.medians;
  if (m.count("BM_ReadRecord") && m.count("BM_Floor") && m.count("BM_FloorNewBlock"))
    std::printf("ReadRecord / floor (median real time): %.3f (target <= 1.15); "
                "ReadRecord / floor in a new block: %.3f\n",
                m["BM_ReadRecord"] / m["BM_Floor"], m["BM_ReadRecord"] / m["BM_FloorNewBlock"]);
  ReportPeakMemory();
  benchmark::Shutdown();
  return 0;
}
