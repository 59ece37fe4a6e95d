// The stand-in msiexec (tools/fake_msiexec.exe) put where the launcher finds
// msiexec in this prefix, the system directory, for the life of one scope.
#pragma once

#include <cstdint>
#include <string>

class ScopedStandInMsiexec {
 public:
  // Moves the system's msiexec.exe aside (once: a copy left aside by a test
  // that crashed is kept as the real one) and puts the stand-in in its place,
  // ending with `exitCode` and logging every command line it receives.
  explicit ScopedStandInMsiexec(uint32_t exitCode);
  // Puts the system's msiexec.exe back.
  ~ScopedStandInMsiexec();
  ScopedStandInMsiexec(const ScopedStandInMsiexec&) = delete;
  ScopedStandInMsiexec& operator=(const ScopedStandInMsiexec&) = delete;

  bool ready() const { return ready_; }
  // The path the launcher runs: <system directory>\msiexec.exe.
  const std::string& path() const { return path_; }
  // The command lines received so far, one per line, as the stand-in saw them.
  std::string CommandLines() const;
  void SetExitCode(uint32_t exitCode);

 private:
  std::string path_, aside_, log_, codeFile_;
  bool ready_ = false;
};

// Puts the system's msiexec.exe back if a stand-in is still in its place.
void RestoreSystemMsiexec();
