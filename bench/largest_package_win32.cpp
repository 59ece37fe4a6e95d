// The largest single package the shipping launcher installs under WOW64,
// without and with its large-address-aware flag, and its peak working set.
//
// The setup file is this tree's msilaunch.exe with a payload at its tail
// whose one package holds a 1 MiB main.msi and a cabinet of incompressible
// bytes; it runs with /qn against a stand-in msiexec that ends at once. A
// size "installs" when the launcher ends with 0 and leaves both files whole
// in %WINDIR%\Installer\{code}. Each setup file runs as built and with the
// flag cleared in its PE header, so both figures come from the same code in
// the same run. Sizes double from 256 MiB until a run fails, then the gap
// is halved down to 64 MiB (or the gap given). A run that fails must end
// with 8 (the own file or the payload's copy refused) or the file set's 13
// (a decoded record refused) and leave no product folder behind.
//
// The payload is written as it is made: a 32-bit process could not hold a
// record of a gigabyte twice, as the writer of the tests does. Records are
// zlib streams of stored blocks (the bytes do not compress, and level 0
// costs nothing), signed with tests/keys/test-key.pem, the key the test
// trees' launchers embed.
//
// Arguments: the folder for the setup file (the guest passes one in memory;
// the temporary folder when none or an empty one is given), the first and
// the last size of the doubling in MiB (256 and 2048 unless given), and the
// gap the bisection stops at (64 MiB unless given: under TCG a run of a
// gigabyte takes minutes, and a coarser gap saves whole runs). Ends with 0
// when every run did what is said above.
#include <windows.h>
#include <psapi.h>
#include <zlib.h>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "payload/pe_image.h"
#include "payload/record_stack.h"
#include "tests/support/payloads.h"
#include "tests/wine/msiexec_standin.h"
#include "tests/wine/scratch_folder.h"
#include "tests/wine/wine_process.h"

namespace {

constexpr uint32_t kMiB = 1u << 20;
constexpr uint32_t kDatabaseSize = 1 * kMiB;
constexpr uint32_t kFirstSizeMiB = 256;
// Content sizes are u32 in the format: 4096 MiB would not fit.
constexpr uint32_t kLastSizeMiB = 2048;
constexpr uint32_t kResolutionMiB = 64;  // unless given
constexpr DWORD kRunLimitMs = 60 * 60 * 1000;
constexpr char kProductCode[] = "{9C2E7B14-3A5D-4F60-8E1B-D47A0C9F2E35}";
// IMAGE_FILE_LARGE_ADDRESS_AWARE, in Characteristics, 22 bytes after
// e_lfanew: "PE\0\0" and the file header's first 18 bytes come before it.
constexpr uint16_t kLargeAddressAware = 0x0020;
constexpr uint32_t kCharacteristicsAt = 22;

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}
double MiB(double bytes) { return bytes / kMiB; }

// ---------------------------------------------------------------------------
// The setup file, written as it is made. Through Win32 calls: msvcrt's stdio
// keeps a 32-bit file position, and the file passes 2 GiB.

struct Output {
  HANDLE file;
  bool ok;
};

void Put(Output* out, const void* bytes, size_t size) {
  DWORD stored = 0;
  out->ok = out->ok && WriteFile(out->file, bytes, static_cast<DWORD>(size), &stored, nullptr) && stored == size;
}

// A record's content: `bytes` as they are, or, when null, `size`
// pseudo-random bytes from `seed`.
struct Content {
  const ByteVector* bytes;
  uint32_t size;
  uint64_t seed;
};

// The next `size` bytes of `content` from `offset`; `state` carries the
// generator from piece to piece (splitmix64, which no deflate can shrink).
void Fill(const Content& content, uint32_t offset, uint8_t* into, size_t size, uint64_t* state) {
  if (content.bytes) {
    std::copy_n(content.bytes->data() + offset, size, into);
    return;
  }
  for (size_t i = 0; i < size; i += 8) {
    uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    for (size_t b = 0; b < 8 && i + b < size; ++b) into[i + b] = static_cast<uint8_t>(z >> (8 * b));
  }
}

// Appends one record of `content`: its zlib stream, the RSA/SHA-256
// signature over the content, the trailer; made one mebibyte at a time.
bool AppendRecord(Output* out, const Guid16& type, uint32_t id, const Content& content, EVP_PKEY* key) {
  z_stream stream = {};
  if (deflateInit(&stream, 0) != Z_OK) return false;
  EVP_MD_CTX* signing = EVP_MD_CTX_new();
  bool ok = signing && EVP_DigestSignInit(signing, nullptr, EVP_sha256(), nullptr, key) == 1;
  std::vector<uint8_t> piece(kMiB), deflated(deflateBound(&stream, kMiB));
  uint64_t state = content.seed, dataSize = 0;
  int status = Z_OK;
  for (uint32_t offset = 0; ok;) {
    const size_t n = std::min<size_t>(kMiB, content.size - offset);
    Fill(content, offset, piece.data(), n, &state);
    offset += static_cast<uint32_t>(n);
    ok = EVP_DigestSignUpdate(signing, piece.data(), n) == 1;
    const int flush = offset == content.size ? Z_FINISH : Z_NO_FLUSH;
    stream.next_in = piece.data();
    stream.avail_in = static_cast<uInt>(n);
    do {
      stream.next_out = deflated.data();
      stream.avail_out = static_cast<uInt>(deflated.size());
      status = deflate(&stream, flush);
      ok = ok && status != Z_STREAM_ERROR;
      const size_t made = deflated.size() - stream.avail_out;
      Put(out, deflated.data(), made);
      dataSize += made;
    } while (ok && stream.avail_out == 0);
    if (flush == Z_FINISH) break;
  }
  deflateEnd(&stream);
  size_t length = 0;
  ok = ok && status == Z_STREAM_END && EVP_DigestSignFinal(signing, nullptr, &length) == 1;
  std::vector<uint8_t> signature(length);
  ok = ok && EVP_DigestSignFinal(signing, signature.data(), &length) == 1 && dataSize <= UINT32_MAX;
  EVP_MD_CTX_free(signing);
  Put(out, signature.data(), length);
  uint8_t trailer[kRecordTrailerSize];
  WriteRecordTrailer({type, id, static_cast<uint32_t>(length), static_cast<uint32_t>(dataSize)}, trailer);
  Put(out, trailer, sizeof trailer);
  return ok && out->ok;
}

// The launcher as built, with the payload at its tail: the manifest record,
// main.msi's, then the cabinet's of `cabinetMiB`.
bool WriteSetup(const std::string& path, const ByteVector& stub, uint32_t cabinetMiB, bool wow64, EVP_PKEY* key) {
  TestPayloadSpec plan;
  plan.packages.push_back(TestPackage{1, wow64 ? "x64" : "Intel", "1033", kProductCode, "Largest Package", {}});
  plan.cabs.push_back(TestCab{2, "1", "data1.cab", {}});
  const ByteVector manifest = BuildTestManifest(plan);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  Output out{file, file != INVALID_HANDLE_VALUE};
  Put(&out, stub.data(), stub.size());
  const bool ok =
      out.ok &&
      AppendRecord(&out, ManifestRecordType, 0, {&manifest, static_cast<uint32_t>(manifest.size()), 0}, key) &&
      AppendRecord(&out, FileRecordType, 1, {nullptr, kDatabaseSize, 1}, key) &&
      AppendRecord(&out, FileRecordType, 2, {nullptr, cabinetMiB * kMiB, 2}, key);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return ok;
}

// Sets the flag as `aware` says in the setup file's PE header, which holds
// `characteristics` (as built) at `at`.
bool SetLargeAddressAware(const std::string& path, uint32_t at, uint16_t characteristics, bool aware) {
  const uint16_t value = aware ? characteristics | kLargeAddressAware : characteristics & ~kLargeAddressAware;
  const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD stored = 0;
  const bool ok = SetFilePointer(file, static_cast<LONG>(at), nullptr, FILE_BEGIN) == at &&
                  WriteFile(file, bytes, sizeof bytes, &stored, nullptr) && stored == sizeof bytes;
  CloseHandle(file);
  return ok;
}

EVP_PKEY* LoadTestKey() {
  std::FILE* file = std::fopen(SourcePath("tests/keys/test-key.pem").c_str(), "rb");
  EVP_PKEY* key = file ? PEM_read_PrivateKey(file, nullptr, nullptr, nullptr) : nullptr;
  if (file) std::fclose(file);
  return key;
}

// ---------------------------------------------------------------------------
// One run of the setup file

struct Trial {
  uint32_t sizeMiB = 0;
  bool aware = false;
  uint32_t exitCode = 0;
  bool installed = false;    // 0, and both files whole
  bool leftNothing = false;  // no product folder after the run
  uint32_t dialogs = 0;      // boxes or browsers shown, answered with Cancel
  double seconds = 0;
  double peakWorkingSet = 0;  // bytes
  double fileSize = 0;
};

std::string ProductFolder() {
  char windows[MAX_PATH];
  const UINT length = GetWindowsDirectoryA(windows, sizeof windows);
  return std::string(windows, length < sizeof windows ? length : 0) + "\\Installer\\" + kProductCode;
}

uint64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return UINT64_MAX;
  return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// Starts the setup file with /qn and waits, reading its peak working set
// while it runs (Wine reads it from the process's high-water mark, which a
// finished process no longer has). A box or a browser (a write that failed,
// the Installer folder refused) is answered with Cancel and counted, so the
// run ends. False when it could not be started.
bool RunSetup(const std::string& setup, Trial* trial) {
  std::string commandLine = "\"" + setup + "\" /qn";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  const double start = Now();
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  for (uint32_t wait = 1; WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT; ++wait) {
    if (wait % 50 == 0)
      for (HWND dialog : VisibleDialogsOf(process.dwProcessId)) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        ++trial->dialogs;
      }
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters))
      trial->peakWorkingSet = std::max(trial->peakWorkingSet, static_cast<double>(counters.PeakWorkingSetSize));
    if ((Now() - start) * 1000 > kRunLimitMs) TerminateProcess(process.hProcess, WAIT_TIMEOUT);
  }
  trial->seconds = Now() - start;
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  trial->exitCode = code;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

Trial Run(const std::string& setup, uint32_t sizeMiB, bool aware) {
  Trial trial;
  trial.sizeMiB = sizeMiB;
  trial.aware = aware;
  trial.fileSize = static_cast<double>(FileSize(setup));
  const std::string folder = ProductFolder();
  if (!RunSetup(setup, &trial)) trial.exitCode = GetLastError();
  trial.installed = trial.exitCode == 0 && FileSize(folder + "\\main.msi") == kDatabaseSize &&
                    FileSize(folder + "\\data1.cab") == uint64_t{sizeMiB} * kMiB;
  trial.leftNothing = !Exists(folder);
  RemoveTree(folder);  // the next run writes its files afresh
  return trial;
}

// What a failed run's code says of the site that ran out. The file set hides
// a record's own pair behind (13, 2151); an 8 comes from start-up: from the
// own file's block when the run never held the file, else from the tail
// payload's copy.
std::string Site(const Trial& t) {
  if (t.installed) return "installed";
  if (t.exitCode == 13) return "(13, 2151) file set";
  if (t.exitCode == 8) return t.peakWorkingSet < t.fileSize ? "(8, 2030) own file" : "(8, 2016) tail copy";
  return "exit " + std::to_string(t.exitCode) + ": no allocation pair";
}

bool AsExpected(const Trial& t) {
  return t.dialogs == 0 && (t.installed || ((t.exitCode == 13 || t.exitCode == 8) && t.leftNothing));
}

void PrintTrial(const Trial& t) {
  std::printf("  %6u MiB  %-8s  %-22s %-14s %8.1f s  peak working set %7.1f MiB%s\n", t.sizeMiB,
              t.aware ? "flag" : "no flag", Site(t).c_str(),
              t.installed ? "" : (t.leftNothing ? "nothing left" : "LEFT A FOLDER"), t.seconds, MiB(t.peakWorkingSet),
              t.dialogs ? "  (DIALOGS ANSWERED)" : "");
  std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// The search

// One flavour's bounds: the largest size that installed and the smallest
// that failed (0: none yet), with their runs.
struct Search {
  bool aware = false;
  uint32_t largest = 0, failedAt = 0;
  Trial atLargest, atFailure;
};

void Record(Search* search, const Trial& trial) {
  if (trial.installed) {
    search->largest = trial.sizeMiB;
    search->atLargest = trial;
  } else if (search->failedAt == 0 || trial.sizeMiB < search->failedAt) {
    search->failedAt = trial.sizeMiB;
    search->atFailure = trial;
  }
}

struct Bench {
  uint32_t firstMiB = 0, lastMiB = 0;  // the doubling's first and last size
  uint32_t resolutionMiB = 0;          // the bisection stops at this gap
  std::string setup;
  ByteVector stub;
  uint32_t characteristicsAt = 0;
  uint16_t characteristics = 0;
  bool wow64 = false;
  EVP_PKEY* key = nullptr;
  std::vector<Trial> trials;
  double makingSeconds = 0;
};

// Runs the setup file of `sizeMiB` (made anew unless it is the current one)
// for `search`'s flavour.
bool Try(Bench* bench, Search* search, uint32_t sizeMiB, uint32_t* current) {
  if (*current != sizeMiB) {
    const double start = Now();
    if (!WriteSetup(bench->setup, bench->stub, sizeMiB, bench->wow64, bench->key)) {
      std::fprintf(stderr, "largest_package_bench: cannot write %s (%u MiB)\n", bench->setup.c_str(), sizeMiB);
      return false;
    }
    bench->makingSeconds += Now() - start;
    *current = sizeMiB;
  }
  if (!SetLargeAddressAware(bench->setup, bench->characteristicsAt, bench->characteristics, search->aware)) {
    std::fprintf(stderr, "largest_package_bench: cannot set the flag in %s\n", bench->setup.c_str());
    return false;
  }
  const Trial trial = Run(bench->setup, sizeMiB, search->aware);
  PrintTrial(trial);
  bench->trials.push_back(trial);
  Record(search, trial);
  return true;
}

// Doubles the size with both flavours on each file while either installs,
// then halves each flavour's gap down to the resolution.
bool SearchBoth(Bench* bench, Search searches[2]) {
  uint32_t current = 0;
  for (uint32_t size = bench->firstMiB; size <= bench->lastMiB; size *= 2) {
    if (searches[0].failedAt && searches[1].failedAt) break;
    for (int i = 0; i < 2; ++i)
      if (!searches[i].failedAt && !Try(bench, &searches[i], size, &current)) return false;
  }
  for (int i = 0; i < 2; ++i) {
    Search* search = &searches[i];
    while (search->failedAt && search->failedAt - search->largest > bench->resolutionMiB)
      if (!Try(bench, search, (search->largest + search->failedAt) / 2, &current)) return false;
  }
  return true;
}

void PrintSummary(const Bench& bench, const Search searches[2], double seconds) {
  std::printf("\n");
  for (int i = 0; i < 2; ++i) {
    const Search& s = searches[i];
    std::printf("%-45s %5u MiB%s, peak working set %.1f MiB; %u MiB fails: %s\n",
                s.aware ? "largest package, large-address-aware:" : "largest package, without the flag:",
                s.largest, s.failedAt ? "" : " or more", MiB(s.atLargest.peakWorkingSet), s.failedAt,
                s.failedAt ? Site(s.atFailure).c_str() : "-");
  }
  if (searches[0].largest)
    std::printf("with the flag / without: %.2f\n", static_cast<double>(searches[1].largest) / searches[0].largest);
  std::printf("%zu runs, %.0f s in all (%.0f s making setup files)\n", bench.trials.size(), seconds,
              bench.makingSeconds);
}

// The stub as built: its PE header's Characteristics, which must carry the flag.
bool ReadStub(Bench* bench) {
  bench->stub = ReadWholeFile(MSILAUNCH_STUB);
  PeImage image;
  ByteView characteristics;
  if (ReadPeImage(ByteView{bench->stub.data(), bench->stub.size()}, &image) != PeHeaders::Complete ||
      !Sub(ByteView{bench->stub.data(), bench->stub.size()}, uint64_t{image.lfanew} + kCharacteristicsAt, 2,
           &characteristics))
    return false;
  bench->characteristicsAt = image.lfanew + kCharacteristicsAt;
  bench->characteristics = static_cast<uint16_t>(characteristics.data[0] | characteristics.data[1] << 8);
  return (bench->characteristics & kLargeAddressAware) != 0;
}

int RunBench(const std::string& folder, uint32_t firstMiB, uint32_t lastMiB, uint32_t resolutionMiB) {
  const double start = Now();
  Bench bench;
  bench.firstMiB = firstMiB;
  bench.lastMiB = lastMiB;
  bench.resolutionMiB = resolutionMiB;
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  bench.wow64 = wow64 != FALSE;
  bench.setup = folder + "\\msilaunch-largest-setup.exe";
  bench.key = LoadTestKey();
  if (!ReadStub(&bench) || !bench.key) {
    std::fprintf(stderr, "largest_package_bench: %s is no large-address-aware PE, or no test key\n", MSILAUNCH_STUB);
    return 1;
  }
  ScopedStandInMsiexec msiexec(0);
  if (!msiexec.ready()) return 1;
  std::printf("The largest package the shipping launcher installs (%s): main.msi %u MiB and one cabinet of\n"
              "incompressible bytes, /qn, a stand-in msiexec; the same setup file with the large-address-aware\n"
              "flag and without it. Sizes double from %u MiB, then bisect to %u MiB.\n\n",
              bench.wow64 ? "32-bit, under WOW64" : "not under WOW64", kDatabaseSize / kMiB, bench.firstMiB,
              bench.resolutionMiB);
  Search searches[2];
  searches[1].aware = true;
  const bool searched = SearchBoth(&bench, searches);
  DeleteFileA(bench.setup.c_str());
  EVP_PKEY_free(bench.key);
  if (!searched) return 1;
  PrintSummary(bench, searches, Now() - start);
  return std::all_of(bench.trials.begin(), bench.trials.end(), AsExpected) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  char temp[MAX_PATH];
  const DWORD length = GetTempPathA(sizeof temp, temp);
  std::string folder = argc > 1 && argv[1][0] ? argv[1] : std::string(temp, length);
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  const uint32_t firstMiB = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : kFirstSizeMiB;
  const uint32_t lastMiB = argc > 3 ? static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)) : kLastSizeMiB;
  const uint32_t resolutionMiB = argc > 4 ? static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)) : kResolutionMiB;
  if (firstMiB == 0 || lastMiB > kLastSizeMiB || resolutionMiB == 0) {
    std::fprintf(stderr, "usage: largest_package_bench [FOLDER [FIRST-MiB [LAST-MiB (at most %u) [GAP-MiB]]]]\n",
                 kLastSizeMiB);
    return 2;
  }
  return RunBench(folder, firstMiB, lastMiB, resolutionMiB);
}
