// How fast and how small the packer compresses an MSI-like payload with
// libdeflate, against the writer's zlib at level 9 on the same bytes in the
// same run: the two record compressors a RecordEncoding can name.
//   usage: pack_bench [MiB]   (default 256)
// Prints one line per libdeflate level: time and size as ratios to zlib 9.
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "packer/commands/deflate.h"
#include "packer/writer/payload_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A mix like the files of a real payload: table and script text, machine
// code with its repeated instruction patterns, and already compressed
// media (random bytes), in blocks of 64 KiB to 1 MiB.
Bytes MakeMixedData(size_t size) {
  std::mt19937_64 random(2024);
  std::vector<std::string> words;
  for (int i = 0; i < 2000; ++i) {
    std::string word;
    for (int n = 3 + static_cast<int>(random() % 9); n > 0; --n) word += static_cast<char>('a' + random() % 26);
    words.push_back(word);
  }
  std::vector<Bytes> instructions;
  for (int i = 0; i < 512; ++i) {
    Bytes op(1 + random() % 7);
    for (uint8_t& b : op) b = static_cast<uint8_t>(random() % 64 < 40 ? random() % 16 : random());
    instructions.push_back(op);
  }
  Bytes data;
  data.reserve(size);
  while (data.size() < size) {
    size_t block = (64u << 10) + random() % (960u << 10);
    size_t end = std::min(size, data.size() + block);
    switch (random() % 10) {
      case 0: case 1: case 2: case 3:  // text: skewed word choice, like real prose and tables
        while (data.size() < end) {
          const std::string& w = words[(random() % 2000) * (random() % 2000) / 2000];
          data.insert(data.end(), w.begin(), w.end());
          data.push_back(random() % 12 == 0 ? '\n' : ' ');
        }
        break;
      case 4: case 5: case 6:  // code: skewed instruction choice and random operands
        while (data.size() < end) {
          const Bytes& op = instructions[(random() % 512) * (random() % 512) / 512];
          data.insert(data.end(), op.begin(), op.end());
          if (random() % 3 == 0) for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(random()));
        }
        break;
      default:  // compressed media
        while (data.size() < end) {
          uint64_t value = random();
          for (int i = 0; i < 8 && data.size() < end; ++i) data.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
        break;
    }
    data.resize(std::min(data.size(), end));
  }
  return data;
}

// Processor time of this process: the machine may be shared, and wall time
// would then measure the neighbours as much as the compressors.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

struct Measure {
  double seconds = 0;
  size_t bytes = 0;
  bool ok = true;
};

// Compresses `data` in records of a payload (a few large cabinets and a
// database) with one of the record compressors, as the packer would.
Measure Compress(const Bytes& data, RecordCompressor compressor, int level) {
  const size_t kRecord = 64u << 20;
  Measure measure;
  const double start = CpuSeconds();
  std::string error;
  for (size_t at = 0; at < data.size() && measure.ok; at += kRecord) {
    Bytes out;
    measure.ok = compressor(data.data() + at, std::min(kRecord, data.size() - at), level, &out, &error);
    measure.bytes += out.size();
  }
  measure.seconds = CpuSeconds() - start;
  return measure;
}

}  // namespace

int main(int argc, char** argv) {
  size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  Bytes data = MakeMixedData(mib << 20);
  const Measure zlib = Compress(data, CompressContent, 9);
  if (!zlib.ok) return 1;
  std::printf("input %zu MiB; zlib 9: %.2f s, %zu bytes (%.3f)\n", mib, zlib.seconds, zlib.bytes,
              static_cast<double>(zlib.bytes) / data.size());
  for (int level : {1, kDefaultDeflateLevel, 6, 9, 12}) {
    const Measure libdeflate = Compress(data, CompressZlibStream, level);
    if (!libdeflate.ok) return 1;
    std::printf("libdeflate %2d: %.2f s, %zu bytes; speed-up %.2fx, size %.4f of zlib 9%s\n", level,
                libdeflate.seconds, libdeflate.bytes, zlib.seconds / libdeflate.seconds,
                static_cast<double>(libdeflate.bytes) / zlib.bytes,
                level == kDefaultDeflateLevel ? "  <- the packer's default" : "");
  }
  return 0;
}
