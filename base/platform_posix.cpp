// Native defaults of the platform seam: the C library stands in for the
// process heap, a thread-local variable for the last error, UTF-8 for the
// ANSI code page, and OpenSSL for the CryptoAPI message decoder. This is what
// the unit tests, the fuzz targets and the packer run on.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include "base/error_pair.h"
#include "base/platform.h"
#include "base/signed_message_openssl.h"
#include "base/upper_case.h"
#include "base/utf8.h"

namespace {

thread_local uint32_t lastError = 0;

// Each block carries its size in front so that growing can zero the added
// room, as LocalReAlloc with LMEM_ZEROINIT does.
struct alignas(std::max_align_t) BlockHeader {
  uint32_t size;
};

void* NativeAllocBlock(uint32_t size, uint32_t flags) {
  auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
  if (!header) {
    lastError = ErrorCode::NotEnoughMemory;
    return nullptr;
  }
  header->size = size;
  if (flags & kBlockZeroed) std::memset(header + 1, 0, size);
  return header + 1;
}

void* NativeGrowBlock(void* block, uint32_t size, uint32_t flags) {
  if (!block) return NativeAllocBlock(size, flags);
  BlockHeader* old = static_cast<BlockHeader*>(block) - 1;
  const uint32_t oldSize = old->size;
  auto* header = static_cast<BlockHeader*>(std::realloc(old, sizeof(BlockHeader) + size));
  if (!header) {
    lastError = ErrorCode::NotEnoughMemory;
    return nullptr;
  }
  header->size = size;
  if ((flags & kBlockZeroed) && size > oldSize)
    std::memset(reinterpret_cast<uint8_t*>(header + 1) + oldSize, 0, size - oldSize);
  return header + 1;
}

void NativeFreeBlock(void* block) {
  if (block) std::free(static_cast<BlockHeader*>(block) - 1);
}

uint32_t NativeLastError() { return lastError; }
void NativeSetLastErrorCode(uint32_t code) { lastError = code; }

// UTF-16LE to UTF-8; unpaired surrogates become '?'. With outSize 0 it
// measures. Like WideCharToMultiByte it fails (0) when the output is too small.
int NativeWideToAnsi(const char16_t* text, int units, char* out, int outSize) {
  if (units < 0) {
    units = 0;
    while (text[units]) ++units;
    ++units;
  }
  int needed = 0;
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1 && outSize == 0) break;
    if (pass == 1 && needed > outSize) {
      lastError = ErrorCode::InsufficientBuffer;
      return 0;
    }
    int at = 0;
    for (int i = 0; i < units; ++i) {
      uint32_t c = text[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        c = '?';
      }
      uint8_t bytes[4];
      int n;
      if (c < 0x80) { bytes[0] = static_cast<uint8_t>(c); n = 1; }
      else if (c < 0x800) { bytes[0] = static_cast<uint8_t>(0xC0 | c >> 6); bytes[1] = static_cast<uint8_t>(0x80 | (c & 0x3F)); n = 2; }
      else if (c < 0x10000) { bytes[0] = static_cast<uint8_t>(0xE0 | c >> 12); bytes[1] = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F)); bytes[2] = static_cast<uint8_t>(0x80 | (c & 0x3F)); n = 3; }
      else { bytes[0] = static_cast<uint8_t>(0xF0 | c >> 18); bytes[1] = static_cast<uint8_t>(0x80 | ((c >> 12) & 0x3F)); bytes[2] = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F)); bytes[3] = static_cast<uint8_t>(0x80 | (c & 0x3F)); n = 4; }
      if (pass == 1) std::memcpy(out + at, bytes, n);
      at += n;
    }
    needed = at;
  }
  if (needed == 0) lastError = ErrorCode::InvalidParameter;  // as for an empty input
  return needed;
}

// There is no system message table here: every code is "without text".
uint32_t NativeSystemMessageText(uint32_t, char*, uint32_t) { return 0; }

// There is no module file name to speak of natively; tests inject one.
uint32_t NativeModuleFileName(char* buffer, uint32_t capacity) {
  static const char kName[] = "msilaunch";
  if (capacity == 0) return 0;
  const uint32_t length = sizeof kName - 1;
  const uint32_t stored = length < capacity ? length : capacity;
  std::memcpy(buffer, kName, stored);
  if (stored < capacity) buffer[stored] = '\0';
  return stored;
}

// Natively a file handle is a FILE*.
int NativeWriteFileBytes(void* handle, const uint8_t* data, uint32_t size, uint32_t* written) {
  const size_t stored = std::fwrite(data, 1, size, static_cast<std::FILE*>(handle));
  *written = static_cast<uint32_t>(stored);
  if (stored != size) lastError = ErrorCode::DiskFull;
  return stored == size;
}

int NativeCloseFileHandle(void* handle) { return std::fclose(static_cast<std::FILE*>(handle)) == 0; }

// UTF-8 holds every character, so there is nothing to fit: the same conversion.
int NativeWideToAnsiNoBestFit(const char16_t* text, int units, char* out, int outSize) {
  return NativeWideToAnsi(text, units, out, outSize);
}

// No UTF-8 trail byte looks like ASCII, so byte steps find the same ASCII
// characters that CharNextA's steps find in a double-byte code page.
const char* NativeNextAnsiCharacter(const char* text) { return *text ? text + 1 : text; }

// UTF-8 to UTF-16: a malformed or cut sequence becomes U+FFFD, as
// MultiByteToWideChar does. With outUnits 0 it measures; like the system it
// fails (0) when the output is too small.
int NativeAnsiToWide(const char* text, int bytes, char16_t* out, int outUnits) {
  const auto* in = reinterpret_cast<const uint8_t*>(text);
  const size_t length = bytes < 0 ? std::strlen(text) + 1 : static_cast<size_t>(bytes);
  int needed = 0;
  for (size_t i = 0; i < length;) {
    size_t n;
    const uint32_t c = DecodeUtf8(in + i, length - i, &n);
    i += n;
    const int units = c >= 0x10000 ? 2 : 1;
    if (outUnits > 0) {
      if (needed + units > outUnits) {
        lastError = ErrorCode::InsufficientBuffer;
        return 0;
      }
      if (units == 2) {
        out[needed] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        out[needed + 1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      } else {
        out[needed] = static_cast<char16_t>(c);
      }
    }
    needed += units;
  }
  if (needed == 0) lastError = ErrorCode::InvalidParameter;  // as for an empty input
  return needed;
}

// One UTF-16 unit in upper case by the simple mapping built in
// (base/upper_case.h), C.UTF-8's as it was loaded before: the same on every
// host, whatever locales it has. It folds a few more pairs than Windows does
// (dotless i and I), which only refuses more.
char16_t UpperUnit(char16_t unit) { return SimpleUpperCase(unit); }

int NativeSameNameIgnoringCase(const char16_t* a, int aUnits, const char16_t* b, int bUnits) {
  if (aUnits != bUnits || aUnits < 0) return 0;
  for (int i = 0; i < aUnits; ++i)
    if (UpperUnit(a[i]) != UpperUnit(b[i])) return 0;
  return 1;
}

// A file handle is a FILE*; a symbolic link is refused, never followed.
// Natively the tests hold no folder: the path names the file.
void* NativeOpenHeldFile(void*, const char*, const char* path) {
  struct stat entry {};
  const bool found = lstat(path, &entry) == 0;
  if (!found || !S_ISREG(entry.st_mode)) {
    lastError = found ? ErrorCode::CantAccessFile : ErrorCode::FileNotFound;
    return nullptr;
  }
  std::FILE* file = std::fopen(path, "rb");
  if (!file) lastError = ErrorCode::FileNotFound;
  return file;
}

int NativeReadFileBytes(void* handle, uint8_t* buffer, uint32_t size, uint32_t* read) {
  auto* file = static_cast<std::FILE*>(handle);
  *read = static_cast<uint32_t>(std::fread(buffer, 1, size, file));
  if (!std::ferror(file)) return 1;
  lastError = ErrorCode::ReadFault;
  return 0;
}

int NativeRemoveFile(void*, const char*, const char* path) {
  if (unlink(path) == 0) return 1;
  lastError = ErrorCode::FileNotFound;
  return 0;
}

void* NativeCreateNewFile(void*, const char*, const char* path) {
  const int descriptor = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  std::FILE* file = descriptor >= 0 ? fdopen(descriptor, "wb") : nullptr;
  if (!file) {
    if (descriptor >= 0) close(descriptor);
    lastError = ErrorCode::FileExists;  // what it fails for in the tests
  }
  return file;
}

}  // namespace

const PlatformCalls kPlatformDefaults = {
    NativeAllocBlock,          NativeGrowBlock,
    NativeFreeBlock,           NativeLastError,
    NativeSetLastErrorCode,    NativeWideToAnsi,
    NativeSystemMessageText,   NativeModuleFileName,
    NativeWriteFileBytes,      NativeCloseFileHandle,
    OpenSslOpenSignedMessage,  OpenSslUpdateSignedMessage,
    OpenSslGetCertificateCount, OpenSslGetCertificateEncoding,
    OpenSslDecodeCertificate,  OpenSslGetExtensionCount,
    OpenSslGetExtension,       OpenSslFreeCertificate,
    OpenSslCloseSignedMessage, NativeWideToAnsiNoBestFit,
    NativeNextAnsiCharacter,   NativeAnsiToWide,
    NativeSameNameIgnoringCase, NativeOpenHeldFile,
    NativeReadFileBytes,       NativeRemoveFile,
    NativeCreateNewFile,
};

PlatformCalls gPlatform = kPlatformDefaults;
