#include "tests/tools/make_test_exes.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tests/support/files.h"

namespace {

std::string TestExeDir() { return MSILAUNCH_TEST_EXE_DIR; }

// The hex text after "<label> :" on the first line that starts with it.
std::string ValueAfter(const std::string& output, const std::string& label) {
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(label, 0) != 0) continue;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    value.erase(value.find_last_not_of(' ') + 1);
    return value;
  }
  return {};
}

}  // namespace

ByteVector LoadTestExe(const std::string& name) { return ReadWholeFile(TestExeDir() + "/" + name); }

SignatureCheck VerifyWithOsslsigncode(const ByteVector& file) {
  SignatureCheck check;
  char path[] = "/tmp/msilaunch-verify-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return check;
  const bool written = write(fd, file.data(), file.size()) == static_cast<ssize_t>(file.size());
  close(fd);
  if (written) {
    const std::string command = std::string(MSILAUNCH_OSSLSIGNCODE) + " verify -CAfile " + TestExeDir() +
                                "/signer.pem -in " + path + " 2>&1";
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) check.output.append(buffer, n);
      const int status = pclose(pipe);
      check.verified = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                       check.output.find("Signature verification: ok") != std::string::npos;
    }
  }
  unlink(path);
  check.currentDigest = ValueAfter(check.output, "Current message digest");
  check.calculatedDigest = ValueAfter(check.output, "Calculated message digest");
  check.checksumMismatch = check.output.find("invalid PE checksum") != std::string::npos;
  return check;
}
