// The seam between the portable core and the operating system.
//
// Portable code (record stack, decoding, carriers, manifest, selection, file
// set and writer, error text) never includes <windows.h>: it reaches the system only
// through the table below. Each entry has a name, a current pointer and a
// default; the Windows build's defaults call the Win32 API (through the
// Win32 table of base/win32_calls.h), the native build's defaults use the
// C library and OpenSSL. Tests swap an entry to make a chosen call fail with
// a chosen last error (tests/support/fault_injection.h).
#pragma once

#include <cstddef>
#include <cstdint>

struct SignedMessage;  // an opened PKCS#7 signed message (opaque)
struct Certificate;    // a decoded X.509 certificate (opaque)

// One extension of a decoded certificate; the views live as long as the
// certificate.
struct CertificateExtension {
  const char* oid;       // dotted-decimal text, zero-terminated
  uint32_t critical;     // non-zero when marked critical
  const uint8_t* value;  // the content octets of extnValue
  uint32_t valueSize;
};

// Flags of AllocBlock / GrowBlock.
constexpr uint32_t kBlockZeroed = 1;

// X(return type, name, parameter list, argument list, value on injected failure)
// A failing call leaves its code in the last error, as the system does.
#define MSILAUNCH_PLATFORM_CALLS(X)                                                             \
  /* LocalAlloc: LMEM_FIXED, plus LMEM_ZEROINIT with kBlockZeroed. Null on failure. */         \
  X(void*, AllocBlock, (uint32_t size, uint32_t flags), (size, flags), nullptr)                 \
  /* LocalReAlloc with LMEM_MOVEABLE (plus LMEM_ZEROINIT with kBlockZeroed, which zeroes the   \
     added room). Null on failure; the old block then stays valid. */                           \
  X(void*, GrowBlock, (void* block, uint32_t size, uint32_t flags), (block, size, flags),      \
    nullptr)                                                                                    \
  X(void, FreeBlock, (void* block), (block), (void)0)                                           \
  X(uint32_t, LastError, (), (), 0u)                                                            \
  X(void, SetLastErrorCode, (uint32_t code), (code), (void)0)                                   \
  /* WideCharToMultiByte(CP_ACP, 0, text, units, out, outSize, null, null): bytes written,     \
     or needed when outSize is 0; 0 on failure. */                                             \
  X(int, WideToAnsi, (const char16_t* text, int units, char* out, int outSize),                \
    (text, units, out, outSize), 0)                                                             \
  /* FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, code, language 1024) into at most size bytes:  \
     the characters stored, 0 when there is no text. */                                        \
  X(uint32_t, SystemMessageText, (uint32_t code, char* buffer, uint32_t size),                 \
    (code, buffer, size), 0u)                                                                   \
  /* GetModuleFileNameA(own module, buffer, capacity): characters stored; capacity when the   \
     name may be cut; 0 on failure. */                                                          \
  X(uint32_t, ModuleFileName, (char* buffer, uint32_t capacity), (buffer, capacity), 0u)        \
  /* WriteFile(handle, data, size, written, no overlapped): non-zero on success. */            \
  X(int, WriteFileBytes, (void* handle, const uint8_t* data, uint32_t size, uint32_t* written), \
    (handle, data, size, written), 0)                                                           \
  X(int, CloseFileHandle, (void* handle), (handle), 0)                                          \
  /* Signed-message access for the certificate carrier (CryptMsg* and                          \
     CertCreateCertificateContext on Windows). Ints are non-zero on success. */                 \
  X(SignedMessage*, OpenSignedMessage, (), (), nullptr)                                         \
  X(int, UpdateSignedMessage, (SignedMessage * message, const uint8_t* data, uint32_t size),   \
    (message, data, size), 0)                                                                   \
  X(int, GetCertificateCount, (SignedMessage * message, uint32_t* count), (message, count), 0) \
  /* With a null buffer, *size receives the size of certificate `index`'s DER encoding. */     \
  X(int, GetCertificateEncoding,                                                                \
    (SignedMessage * message, uint32_t index, uint8_t* buffer, uint32_t* size),                 \
    (message, index, buffer, size), 0)                                                          \
  X(Certificate*, DecodeCertificate, (const uint8_t* der, uint32_t size), (der, size), nullptr) \
  X(uint32_t, GetExtensionCount, (const Certificate* certificate), (certificate), 0u)           \
  X(int, GetExtension,                                                                          \
    (const Certificate* certificate, uint32_t index, CertificateExtension* extension),          \
    (certificate, index, extension), 0)                                                         \
  X(void, FreeCertificate, (Certificate * certificate), (certificate), (void)0)                 \
  X(void, CloseSignedMessage, (SignedMessage * message), (message), (void)0)                    \
  /* As WideToAnsi, but a character the code page lacks becomes the default character, never a \
     look-alike (WC_NO_BEST_FIT_CHARS): a best fit may be a quote or a backslash. */           \
  X(int, WideToAnsiNoBestFit, (const char16_t* text, int units, char* out, int outSize),       \
    (text, units, out, outSize), 0)                                                             \
  /* CharNextA: the next character of ANSI text, stepping over a double-byte character's      \
     trail byte; `text` itself at the terminator. */                                           \
  X(const char*, NextAnsiCharacter, (const char* text), (text), text + (*text != 0))          \
  /* MultiByteToWideChar(CP_ACP, 0, text, bytes, out, outUnits): UTF-16 units written, or      \
     needed when outUnits is 0; bytes -1 takes the terminator along. 0 on failure, also when  \
     `out` is too small. */                                                                    \
  X(int, AnsiToWide, (const char* text, int bytes, char16_t* out, int outUnits),               \
    (text, bytes, out, outUnits), 0)                                                            \
  /* CompareStringOrdinal(a, aUnits, b, bUnits, ignoring case): 1 when the file system takes   \
     the two UTF-16 names for one (ordinal, letter case aside), else 0. A comparison that       \
     fails answers 1: names not known to differ are refused as one file. */                   \
  X(int, SameNameIgnoringCase, (const char16_t* a, int aUnits, const char16_t* b, int bUnits), \
    (a, aUnits, b, bUnits), 1)                                                                  \
  /* The three file entries below name a file twice: `name` inside the held folder `folder`    \
     (a handle that keeps the folder from being renamed or removed; on Windows the file is     \
     reached relative to it, never by walking a path again) and its whole `path`, used where    \
     `folder` is null and, on Wine, to see a link that Wine's handles do not show. */           \
  /* Opens the file to hold it: read only, sharing read only, so that while it is open nobody  \
     writes, deletes or renames it; never through a link (a reparse point, seen by the handle   \
     or by the path, is closed again and refused). Null on failure. */                          \
  X(void*, OpenHeldFile, (void* folder, const char* name, const char* path), (folder, name, path), nullptr) \
  /* ReadFile(handle, buffer, size, read, no overlapped): non-zero on success; 0 bytes read at  \
     the end of the file. */                                                                    \
  X(int, ReadFileBytes, (void* handle, uint8_t* buffer, uint32_t size, uint32_t* read),        \
    (handle, buffer, size, read), 0)                                                            \
  /* The file goes; a link there goes itself on Windows, never its target. Non-zero on         \
     success. */                                                                                \
  X(int, RemoveFile, (void* folder, const char* name, const char* path), (folder, name, path), 0) \
  /* A new empty file open for writing, sharing read only; fails when anything is there          \
     already, a link included. Null on failure. */                                              \
  X(void*, CreateNewFile, (void* folder, const char* name, const char* path), (folder, name, path), nullptr)

struct PlatformCalls {
#define MSILAUNCH_DECLARE_ENTRY(ret, name, params, args, fail) ret(*name) params;
  MSILAUNCH_PLATFORM_CALLS(MSILAUNCH_DECLARE_ENTRY)
#undef MSILAUNCH_DECLARE_ENTRY
};

// The table in force, and the defaults of this build. Tests change entries of
// gPlatform and put them back from kPlatformDefaults.
extern PlatformCalls gPlatform;
extern const PlatformCalls kPlatformDefaults;

// Thin forwarders so that portable code reads like ordinary calls.
namespace platform {
#define MSILAUNCH_FORWARD_ENTRY(ret, name, params, args, fail) \
  inline ret name params { return gPlatform.name args; }
MSILAUNCH_PLATFORM_CALLS(MSILAUNCH_FORWARD_ENTRY)
#undef MSILAUNCH_FORWARD_ENTRY
}  // namespace platform
