// The launcher end to end under Wine: a setup file whose package is 100 MiB
// of content that compresses about 3:1, run from RunLauncher's start to the
// moment it starts msiexec (a stand-in that ends at once), against a floor
// measured in the same process right after it:
//
//   floor = decoding the same records through ReadRecord, alone
//         + the launcher's tick count x the tick period of a bare timer-0
//           dialog that does nothing but stop and re-arm its timer
//
// The progress window writes one chunk of 512 KiB per timer tick by design,
// so the ticks belong to the floor; everything else (the own file, the
// carriers, the folder and its files, the window's start and end, each
// tick's write and bar) is the launcher's own cost on top. The verdict
// compares the least total with the least floor over the runs. Also
// reported: the launcher's peak working set against the file size + the
// decoded content + 8 MiB.
//
// Without arguments this program is the bench: it makes the payload (signed
// with tests/keys/test-key.pem, the key of the test trees), writes a copy of
// itself with the payload at its tail, puts the stand-in msiexec in place
// and runs that copy a few times. The copy, started with
// MSILAUNCH_BENCH_RESULT naming a file, is one measured run: RunLauncher in
// its own process, timed through hooks on the Win32 table, then the floor.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/win32_calls.h"
#include "launcher/launcher_win32.h"
#include "packer/writer/payload_writer.h"
#include "payload/payload_list.h"
#include "payload/record_decoding.h"
#include "tests/support/payloads.h"
#include "tests/wine/msiexec_standin.h"
#include "tests/wine/wine_process.h"

namespace {

constexpr size_t kMiB = 1u << 20;
constexpr size_t kDatabaseSize = 1 * kMiB;
constexpr size_t kCabinetSize = 99 * kMiB;
constexpr double kContentRatio = 3.0;
constexpr char kProductCode[] = "{5B1E3C0A-8F27-4D6B-A9E4-B3C1D2E5F607}";
constexpr int kRuns = 7;
constexpr double kRatioGoal = 1.10;
constexpr double kMemorySlack = 8.0 * kMiB;
constexpr char kResultVariable[] = "MSILAUNCH_BENCH_RESULT";
constexpr char kStubSizeVariable[] = "MSILAUNCH_BENCH_STUB_SIZE";

double Now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / frequency;
}

std::string Environment(const char* name) {
  char value[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

double MiB(double bytes) { return bytes / kMiB; }

PROCESS_MEMORY_COUNTERS MemoryCounters() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters;
}

// ---------------------------------------------------------------------------
// One measured run, in the setup file's own process.

// What the hooks saw: moments (Now()) and sums of seconds.
struct RunMarks {
  double start = 0;
  double ownFileRead = 0;  // the own file's ReadFile has returned
  double loaded = 0;       // start-up is done: the first string is loaded
  double fileSetBuilt = 0; // msiexec is looked for, after the file set
  double folder = 0;       // the extraction folder's first step
  double dialog = 0;       // the progress window is asked for
  double firstTick = 0;
  double lastTick = 0;
  double dialogEnd = 0;
  double msiexec = 0;      // msiexec is started
  uint32_t ticks = 0;
  double tickStart = 0;
  double tickWork = 0;     // from a tick's start to its timer's re-arming
  double writeSeconds = 0; // inside WriteFile, during the window
  double barSeconds = 0;   // inside the messages to the bar
  bool inDialog = false;
};
RunMarks marks;

void MarkOnce(double* mark) {
  if (*mark == 0) *mark = Now();
}

BOOL WINAPI MarkOwnFileRead(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
  const BOOL ok = kWin32Defaults.ReadFile(file, buffer, size, read, overlapped);
  MarkOnce(&marks.ownFileRead);
  return ok;
}

int WINAPI MarkLoaded(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
  MarkOnce(&marks.loaded);
  return kWin32Defaults.LoadStringA(instance, id, buffer, size);
}

UINT WINAPI MarkFileSetBuilt(LPSTR buffer, UINT size) {
  if (marks.loaded != 0 && marks.folder == 0) marks.fileSetBuilt = Now();
  return kWin32Defaults.GetSystemDirectoryA(buffer, size);
}

UINT WINAPI MarkFolder(LPSTR buffer, UINT size) {
  MarkOnce(&marks.folder);
  return kWin32Defaults.GetWindowsDirectoryA(buffer, size);
}

INT_PTR WINAPI MarkDialog(HINSTANCE instance, LPCDLGTEMPLATEA dialogTemplate, HWND owner, DLGPROC procedure,
                          LPARAM parameter) {
  marks.dialog = Now();
  marks.inDialog = true;
  const INT_PTR result = kWin32Defaults.DialogBoxIndirectParamA(instance, dialogTemplate, owner, procedure, parameter);
  marks.inDialog = false;
  marks.dialogEnd = Now();
  return result;
}

// The window stops its timer at the start of every tick ...
BOOL WINAPI MarkTick(HWND window, UINT_PTR id) {
  if (marks.inDialog) {
    const double now = Now();
    if (marks.ticks == 0) marks.firstTick = now;
    marks.lastTick = now;
    marks.tickStart = now;
    ++marks.ticks;
  }
  return kWin32Defaults.KillTimer(window, id);
}

// ... and arms it again at its end.
UINT_PTR WINAPI MarkRearm(HWND window, UINT_PTR id, UINT interval, TIMERPROC procedure) {
  if (marks.inDialog && marks.tickStart != 0) {
    marks.tickWork += Now() - marks.tickStart;
    marks.tickStart = 0;
  }
  return kWin32Defaults.SetTimer(window, id, interval, procedure);
}

BOOL WINAPI TimeWrite(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  const double start = Now();
  const BOOL wrote = kWin32Defaults.WriteFile(file, buffer, size, written, overlapped);
  if (marks.inDialog) marks.writeSeconds += Now() - start;
  return wrote;
}

LRESULT WINAPI TimeBar(HWND window, int item, UINT message, WPARAM wParam, LPARAM lParam) {
  const double start = Now();
  const LRESULT result = kWin32Defaults.SendDlgItemMessageA(window, item, message, wParam, lParam);
  if (marks.inDialog) marks.barSeconds += Now() - start;
  return result;
}

BOOL WINAPI MarkMsiexec(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processSecurity,
                        LPSECURITY_ATTRIBUTES threadSecurity, BOOL inherit, DWORD flags, LPVOID environment,
                        LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION process) {
  MarkOnce(&marks.msiexec);
  return kWin32Defaults.CreateProcessA(application, commandLine, processSecurity, threadSecurity, inherit, flags,
                                       environment, directory, startup, process);
}

// The floor's first part: the records the launcher decodes (the manifest,
// then main.msi and the cabinet while the file set is built), each through
// ReadRecord into a fresh block, held until all are read as the launcher
// holds them. Once, as the launcher does it: seconds, negative on failure.
double DecodeAlone(const std::vector<uint8_t>& ownFile, size_t stubSize) {
  PayloadItem item{};
  item.raw = const_cast<uint8_t*>(ownFile.data() + stubSize);
  item.rawSize = static_cast<uint32_t>(ownFile.size() - stubSize);
  item.flags = PayloadFlagCompressed | PayloadFlagSigned;
  const struct {
    const Guid16* type;
    uint32_t id;
  } records[] = {{&ManifestRecordType, 0}, {&FileRecordType, 1}, {&FileRecordType, 2}};
  uint8_t* contents[3] = {};
  bool ok = true;
  const double start = Now();
  for (int i = 0; i < 3; ++i) {
    uint32_t size = 0;
    ok = ok && ReadRecord(item, *records[i].type, records[i].id, &contents[i], &size).code == 0;
  }
  const double seconds = Now() - start;
  for (uint8_t* content : contents) platform::FreeBlock(content);
  return ok ? seconds : -1;
}

// The floor's second part: a dialog whose ticks only stop and re-arm timer
// 0, as the progress window's do around their work.
struct BareTicks {
  uint32_t wanted = 0;
  uint32_t ticks = 0;
  double firstTick = 0;
  double lastTick = 0;
};
BareTicks bare;

INT_PTR CALLBACK BareDialogProc(HWND window, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SetTimer(window, 1, 0, nullptr);
      return FALSE;
    case WM_TIMER: {
      KillTimer(window, 1);
      const double now = Now();
      if (bare.ticks == 0) bare.firstTick = now;
      bare.lastTick = now;
      if (++bare.ticks >= bare.wanted)
        EndDialog(window, 1);
      else
        SetTimer(window, 1, 0, nullptr);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

// The mean period between two ticks of the bare dialog, in seconds.
double BareTickPeriod(uint32_t ticks) {
  // No controls, class or font: the system's own dialog, visible and modal
  // like the progress window.
  alignas(4) WORD words[32] = {};
  auto* head = reinterpret_cast<DLGTEMPLATE*>(words);
  head->style = WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME | DS_CENTER;
  head->cx = 180;
  head->cy = 40;
  bare = BareTicks{};
  bare.wanted = ticks < 2 ? 2 : ticks;
  DialogBoxIndirectParamA(GetModuleHandleA(nullptr), head, nullptr, BareDialogProc, 0);
  return bare.ticks < 2 ? -1 : (bare.lastTick - bare.firstTick) / (bare.ticks - 1);
}

// Times the launcher's phases through hooks on the Win32 table.
void InstallMarks() {
  gWin32.ReadFile = MarkOwnFileRead;
  gWin32.LoadStringA = MarkLoaded;
  gWin32.GetSystemDirectoryA = MarkFileSetBuilt;
  gWin32.GetWindowsDirectoryA = MarkFolder;
  gWin32.DialogBoxIndirectParamA = MarkDialog;
  gWin32.KillTimer = MarkTick;
  gWin32.SetTimer = MarkRearm;
  gWin32.WriteFile = TimeWrite;
  gWin32.SendDlgItemMessageA = TimeBar;
  gWin32.CreateProcessA = MarkMsiexec;
}

// One run of RunLauncher, then its floor in the same process: the values
// a measured run reports, by name (moments in seconds from the start).
std::map<std::string, double> Measure(size_t stubSize) {
  InstallMarks();
  const double startWorkingSet = static_cast<double>(MemoryCounters().WorkingSetSize);
  marks.start = Now();
  const uint32_t exitCode = RunLauncher(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
  const double peakWorkingSet = static_cast<double>(MemoryCounters().PeakWorkingSetSize);
  gWin32 = kWin32Defaults;

  char ownPath[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, ownPath, sizeof ownPath);
  const std::vector<uint8_t> ownFile = ReadWholeFile(std::string(ownPath, length));
  const double decode = ownFile.size() > stubSize ? DecodeAlone(ownFile, stubSize) : -1;
  const double barePeriod = BareTickPeriod(marks.ticks);

  auto since = [](double t) { return t == 0 ? -1.0 : t - marks.start; };
  return {
      {"exitCode", exitCode},
      {"fileSize", static_cast<double>(ownFile.size())},
      {"startWorkingSet", startWorkingSet},
      {"peakWorkingSet", peakWorkingSet},
      {"ownFileRead", since(marks.ownFileRead)},
      {"loaded", since(marks.loaded)},
      {"fileSetBuilt", since(marks.fileSetBuilt)},
      {"folder", since(marks.folder)},
      {"dialog", since(marks.dialog)},
      {"firstTick", since(marks.firstTick)},
      {"lastTick", since(marks.lastTick)},
      {"dialogEnd", since(marks.dialogEnd)},
      {"msiexec", since(marks.msiexec)},
      {"ticks", marks.ticks},
      {"tickWork", marks.tickWork},
      {"writeSeconds", marks.writeSeconds},
      {"barSeconds", marks.barSeconds},
      {"decode", decode},
      {"barePeriod", barePeriod},
  };
}

int RunMeasured(const std::string& resultPath) {
  const size_t stubSize = std::strtoul(Environment(kStubSizeVariable).c_str(), nullptr, 10);
  const std::map<std::string, double> values = Measure(stubSize);
  FILE* out = std::fopen(resultPath.c_str(), "w");
  if (!out) return 1;
  for (const auto& value : values) std::fprintf(out, "%s %.9g\n", value.first.c_str(), value.second);
  return std::fclose(out) == 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------
// The bench: payload, setup file, stand-in msiexec, runs, report.

using Result = std::map<std::string, double>;

bool ReadResult(const std::string& path, Result* result) {
  FILE* in = std::fopen(path.c_str(), "r");
  if (!in) return false;
  char key[64];
  double value;
  while (std::fscanf(in, "%63s %lf", key, &value) == 2) (*result)[key] = value;
  std::fclose(in);
  return result->count("barePeriod") == 1;
}

bool WriteTwo(const std::string& path, const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  const bool ok =
      std::fwrite(a.data(), 1, a.size(), out) == a.size() && std::fwrite(b.data(), 1, b.size(), out) == b.size();
  return std::fclose(out) == 0 && ok;
}

uint64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return UINT64_MAX;
  return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

std::string ExtractionFolder() {
  char windows[MAX_PATH];
  const UINT length = GetWindowsDirectoryA(windows, sizeof windows);
  return std::string(windows, length < sizeof windows ? length : 0) + "\\Installer\\" + kProductCode;
}

// Checks and removes what a run extracted, so that the next run writes the
// files afresh instead of finding them present. True when both were whole.
bool TakeAwayExtraction() {
  const std::string folder = ExtractionFolder();
  const bool whole =
      FileSize(folder + "\\main.msi") == kDatabaseSize && FileSize(folder + "\\data1.cab") == kCabinetSize;
  DeleteFileA((folder + "\\main.msi").c_str());
  DeleteFileA((folder + "\\data1.cab").c_str());
  RemoveDirectoryA(folder.c_str());
  return whole;
}

bool RunOnce(const std::string& setup, size_t stubSize, const std::string& resultPath, Result* result) {
  DeleteFileA(resultPath.c_str());
  SetEnvironmentVariableA(kResultVariable, resultPath.c_str());
  SetEnvironmentVariableA(kStubSizeVariable, std::to_string(stubSize).c_str());
  std::string output;
  uint32_t exitCode = 0;
  // /qn: should anything fail, the launcher says so by its exit code
  // instead of waiting on an error box.
  const bool ran = RunProgram(Widen("\"" + setup + "\" /qn"), &output, &exitCode);
  SetEnvironmentVariableA(kResultVariable, nullptr);
  if (!ran || exitCode != 0 || !ReadResult(resultPath, result)) {
    std::fprintf(stderr, "launcher_bench: a measured run failed (exit code %u) %s\n", exitCode, output.c_str());
    return false;
  }
  if ((*result)["exitCode"] != 0) {
    std::fprintf(stderr,
                 "launcher_bench: the launcher ended with %.0f (13: the payload does not verify with the key "
                 "this tree's launcher embeds; the bench signs with tests/keys/test-key.pem)\n",
                 (*result)["exitCode"]);
    return false;
  }
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The setup file's bytes after this program's own: the payload, made here.
bool MakePayload(bool wow64, ByteVector* stack) {
  std::string error;
  SigningKey* key = LoadSigningKey(SourcePath("tests/keys/test-key.pem"), &error);
  if (!key) {
    std::fprintf(stderr, "launcher_bench: %s\n", error.c_str());
    return false;
  }
  // The package for the architecture the launcher's probe will report.
  TestPayloadSpec plan;
  plan.packages.push_back(TestPackage{1, wow64 ? "x64" : "Intel", "1033", kProductCode, "Bench Product", {}});
  plan.cabs.push_back(TestCab{2, "1", "data1.cab", {}});
  const std::vector<PayloadFile> files = {{1, MixedContent(kDatabaseSize, kContentRatio, 1)},
                                          {2, MixedContent(kCabinetSize, kContentRatio, 2)}};
  RecordEncoding encoding;
  encoding.level = 6;  // decoding speed hardly depends on it; making the payload does
  const bool built = BuildPayload(BuildTestManifest(plan), files, key, encoding, stack, &error);
  FreeSigningKey(key);
  if (!built) std::fprintf(stderr, "launcher_bench: %s\n", error.c_str());
  return built;
}

// The setup file the runs start: this program with the payload at its tail,
// in a work folder of its own.
struct Setup {
  std::string work, path, resultPath;
  size_t stubSize = 0;
  double fileSize = 0;     // bytes
  double compressed = 0;   // the payload's bytes
};

bool WriteSetup(const ByteVector& stack, Setup* setup) {
  char ownPath[MAX_PATH], temp[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, ownPath, sizeof ownPath);
  const std::vector<uint8_t> stub = ReadWholeFile(std::string(ownPath, length));
  GetTempPathA(sizeof temp, temp);
  setup->work = std::string(temp) + "msilaunch-bench";
  CreateDirectoryA(setup->work.c_str(), nullptr);
  setup->path = setup->work + "\\setup.exe";
  setup->resultPath = setup->work + "\\result.txt";
  setup->stubSize = stub.size();
  setup->fileSize = static_cast<double>(stub.size() + stack.size());
  setup->compressed = static_cast<double>(stack.size());
  if (stub.empty() || !WriteTwo(setup->path, stub, stack)) {
    std::fprintf(stderr, "launcher_bench: cannot write %s\n", setup->path.c_str());
    return false;
  }
  return true;
}

void RemoveSetup(const Setup& setup) {
  DeleteFileA(setup.path.c_str());
  DeleteFileA(setup.resultPath.c_str());
  RemoveDirectoryA(setup.work.c_str());
}

constexpr double kContentSize = static_cast<double>(kDatabaseSize + kCabinetSize);

void PrintHeading(const Setup& setup, bool wow64) {
  std::printf("The launcher end to end under Wine (%s): one package of %.0f MiB (main.msi %.0f MiB, data1.cab %.0f "
              "MiB)\nthat compresses %.2f:1, in a setup file of %.1f MiB (this program, %.1f MiB, and the payload at "
              "its tail);\na stand-in msiexec that ends at once; windows unmanaged, as Xvfb runs no window "
              "manager.\nSeconds from RunLauncher's start; the floor is measured in the same process right after "
              "each run.\n\n",
              sizeof(void*) == 8 ? "x86-64 build" : (wow64 ? "32-bit build under WOW64" : "32-bit build"),
              MiB(kContentSize), MiB(kDatabaseSize), MiB(kCabinetSize), kContentSize / setup.compressed,
              MiB(setup.fileSize), MiB(static_cast<double>(setup.stubSize)));
}

// kRuns measured runs against the stand-in msiexec, each with its derived
// values (tick period, floor, ratio); false when one failed.
bool RunAll(const Setup& setup, std::vector<Result>* results) {
  ScopedStandInMsiexec msiexec(0);
  if (!msiexec.ready()) {
    std::fprintf(stderr, "launcher_bench: cannot put the stand-in msiexec in place\n");
    return false;
  }
  TakeAwayExtraction();
  for (int run = 0; run < kRuns; ++run) {
    Result r;
    if (!RunOnce(setup.path, setup.stubSize, setup.resultPath, &r)) return false;
    if (!TakeAwayExtraction()) {
      std::fprintf(stderr, "launcher_bench: a run did not leave main.msi and data1.cab whole\n");
      return false;
    }
    const double ticks = r["ticks"];
    r["period"] = ticks > 1 ? (r["lastTick"] - r["firstTick"]) / (ticks - 1) : 0;
    r["floor"] = r["decode"] + ticks * r["barePeriod"];
    r["ratio"] = r["msiexec"] / r["floor"];
    results->push_back(r);
  }
  return true;
}

struct Row {
  const char* label;
  double (*value)(Result&);
  const char* format;
};

// Each phase, one column a run.
void PrintRuns(std::vector<Result>& results) {
  const Row rows[] = {
      {"loading and decoding", [](Result& r) { return r["fileSetBuilt"]; }, "%8.3f"},
      {"  own file read", [](Result& r) { return r["ownFileRead"]; }, "%8.3f"},
      {"  start-up done", [](Result& r) { return r["loaded"]; }, "%8.3f"},
      {"  selection, file set", [](Result& r) { return r["fileSetBuilt"] - r["loaded"]; }, "%8.3f"},
      {"folder and files", [](Result& r) { return r["dialog"] - r["fileSetBuilt"]; }, "%8.3f"},
      {"writing", [](Result& r) { return r["dialogEnd"] - r["dialog"]; }, "%8.3f"},
      {"  window start", [](Result& r) { return r["firstTick"] - r["dialog"]; }, "%8.3f"},
      {"  ticks", [](Result& r) { return r["ticks"]; }, "%8.0f"},
      {"  mean tick period, ms", [](Result& r) { return r["period"] * 1000; }, "%8.2f"},
      {"    work in a tick, ms", [](Result& r) { return r["tickWork"] / r["ticks"] * 1000; }, "%8.2f"},
      {"      WriteFile, ms", [](Result& r) { return r["writeSeconds"] / r["ticks"] * 1000; }, "%8.2f"},
      {"      bar, ms", [](Result& r) { return r["barSeconds"] / r["ticks"] * 1000; }, "%8.2f"},
      {"  window end", [](Result& r) { return r["dialogEnd"] - r["lastTick"]; }, "%8.3f"},
      {"to msiexec's start", [](Result& r) { return r["msiexec"] - r["dialogEnd"]; }, "%8.3f"},
      {"total", [](Result& r) { return r["msiexec"]; }, "%8.3f"},
      {"floor", [](Result& r) { return r["floor"]; }, "%8.3f"},
      {"  decoding alone", [](Result& r) { return r["decode"]; }, "%8.3f"},
      {"  bare tick period, ms", [](Result& r) { return r["barePeriod"] * 1000; }, "%8.2f"},
      {"total / floor", [](Result& r) { return r["ratio"]; }, "%8.3f"},
      {"peak working set, MiB", [](Result& r) { return MiB(r["peakWorkingSet"]); }, "%8.1f"},
      {"  at RunLauncher's start", [](Result& r) { return MiB(r["startWorkingSet"]); }, "%8.1f"},
  };
  std::printf("%-26s", "");
  for (int run = 1; run <= kRuns; ++run) std::printf("   run %d", run);
  std::printf("\n");
  for (const Row& row : rows) {
    std::printf("%-26s", row.label);
    for (Result& r : results) std::printf(row.format, row.value(r));
    std::printf("\n");
  }
}

std::vector<double> Each(std::vector<Result>& results, const char* name) {
  std::vector<double> values;
  for (Result& r : results) values.push_back(r[name]);
  return values;
}

double Least(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

// The verdicts: total against floor, and the peak working set.
void PrintVerdicts(const Setup& setup, std::vector<Result>& results) {
  const std::vector<double> ratios = Each(results, "ratio"), totals = Each(results, "msiexec"),
                            decodes = Each(results, "decode"), periods = Each(results, "barePeriod");
  // Other processes on the machine only ever add time, so the least of each
  // measurement is the closest to what it costs; the verdict compares those.
  const double ticks = results.front()["ticks"];
  const double floor = Least(decodes) + ticks * Least(periods);
  const double ratio = Least(totals) / floor;
  std::printf("\ntotal / floor, the least of each over %d runs: %.3f / (%.3f + %.0f x %.2f ms) = %.3f "
              "(goal <= %.2f): %s\n",
              kRuns, Least(totals), Least(decodes), ticks, Least(periods) * 1000, ratio, kRatioGoal,
              ratio <= kRatioGoal ? "met" : "MISSED");
  std::printf("  per run: median %.3f, from %.3f to %.3f\n", Median(ratios), Least(ratios),
              *std::max_element(ratios.begin(), ratios.end()));
  const double peak = Median(Each(results, "peakWorkingSet")), start = Median(Each(results, "startWorkingSet"));
  const double memoryGoal = setup.fileSize + kContentSize + kMemorySlack;
  std::printf("peak working set, median: %.1f MiB; goal <= file %.1f + content %.1f + %.0f = %.1f MiB: %s\n",
              MiB(peak), MiB(setup.fileSize), MiB(kContentSize), MiB(kMemorySlack), MiB(memoryGoal),
              peak <= memoryGoal ? "met" : "MISSED");
  // What the run added, next to what it must hold at once: the payload
  // block (the file without this program) and the decoded content.
  const double payloadSize = setup.fileSize - static_cast<double>(setup.stubSize);
  std::printf("  %.1f MiB before RunLauncher (Wine and this program), %.1f MiB added by the run: the payload block "
              "%.1f\n  + the content %.1f + %.1f MiB more\n",
              MiB(start), MiB(peak - start), MiB(payloadSize), MiB(kContentSize),
              MiB(peak - start - payloadSize - kContentSize));
}

int RunBench() {
  const bool wow64 = ProbeWow64() != 0;
  Setup setup;
  {
    ByteVector stack;  // 30-odd MiB: gone before the runs
    if (!MakePayload(wow64, &stack) || !WriteSetup(stack, &setup)) return 1;
  }
  PrintHeading(setup, wow64);
  std::vector<Result> results;
  const bool ran = RunAll(setup, &results);
  RemoveSetup(setup);
  if (!ran) return 1;
  PrintRuns(results);
  PrintVerdicts(setup, results);
  return 0;
}

}  // namespace

int main() {
  const std::string resultPath = Environment(kResultVariable);
  return resultPath.empty() ? RunBench() : RunMeasured(resultPath);
}
