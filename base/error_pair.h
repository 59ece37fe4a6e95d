// The result of every fallible step: a code and the number of the site that
// produced it. The site numbers are fixed behaviour (they appear in the error
// box), never source line numbers.
#pragma once

#include <cstdint>

struct ErrorPair {
  uint32_t code;  // 0 success; else a Windows error, an HRESULT or msiexec's exit code
  uint32_t line;  // the reporting site
};

// A query for the calling thread's last system error (GetLastError on
// Windows, the seam's emulation natively). May be null.
using LastErrorQuery = uint32_t (*)();

// Builds a pair. When `lastError` is given and returns non-zero, that value
// is the code; otherwise `defaultCode` is. `line` is stored unchanged.
ErrorPair MakeErrorPair(LastErrorQuery lastError, uint32_t defaultCode, uint32_t line);

// Codes the launcher produces or tests itself, and the Win32 codes the
// native defaults of the platform seam leave where Windows would.
namespace ErrorCode {
constexpr uint32_t Success = 0;
constexpr uint32_t FileNotFound = 2;
constexpr uint32_t InvalidHandle = 6;
constexpr uint32_t NotEnoughMemory = 8;
constexpr uint32_t BadFormat = 11;
constexpr uint32_t InvalidData = 13;
constexpr uint32_t WriteFault = 29;
constexpr uint32_t ReadFault = 30;
constexpr uint32_t FileExists = 80;
constexpr uint32_t InvalidParameter = 87;
constexpr uint32_t NoProcSlots = 89;
constexpr uint32_t OpenFailed = 110;
constexpr uint32_t DiskFull = 112;
constexpr uint32_t InsufficientBuffer = 122;
constexpr uint32_t SeekOnDevice = 132;
constexpr uint32_t FilenameExcedRange = 206;  // ERROR_FILENAME_EXCED_RANGE
constexpr uint32_t MoreData = 234;
constexpr uint32_t StillActive = 259;  // STILL_ACTIVE: an exit code that says "not ended"
constexpr uint32_t NoAssociation = 1155;
constexpr uint32_t NotFound = 1168;
constexpr uint32_t Cancelled = 1223;
constexpr uint32_t FileCorrupt = 1392;
constexpr uint32_t InstallServiceFailure = 1601;
constexpr uint32_t CantAccessFile = 1920;  // ERROR_CANT_ACCESS_FILE: a link or no plain file
constexpr uint32_t CantResolveFilename = 1921;
constexpr uint32_t InvalidArg = 0x80070057u;  // E_INVALIDARG
constexpr uint32_t BadKey = 0x80090003u;      // NTE_BAD_KEY
constexpr uint32_t CryptAsn1Error = 0x80093100u;  // CRYPT_E_ASN1_ERROR
}  // namespace ErrorCode
