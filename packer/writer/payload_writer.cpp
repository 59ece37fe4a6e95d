#include "packer/writer/payload_writer.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>

#include "base/utf8.h"
#include "packer/io/file_io.h"
#include "packer/writer/private_key.h"

struct SigningKey {
  EVP_PKEY* pkey;
};

namespace {

std::string OpenSslReason(const char* what) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  std::string text = what;
  if (code) {
    char reason[256];
    ERR_error_string_n(code, reason, sizeof reason);
    text += ": ";
    text += reason;
  }
  return text;
}

void PutU32(ByteVector* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutUnit(ByteVector* out, uint32_t unit) {
  out->push_back(static_cast<uint8_t>(unit));
  out->push_back(static_cast<uint8_t>(unit >> 8));
}

// UTF-8 to UTF-16LE. Malformed sequences become U+FFFD rather than failing:
// manifest texts come from command lines and file names, and a replacement
// character in a product name is better than a refused payload.
void AppendUtf16(ByteVector* out, const std::string& text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  for (size_t i = 0; i < text.size();) {
    size_t taken;
    uint16_t units[2];
    const size_t count = EncodeUtf16(DecodeUtf8(bytes + i, text.size() - i, &taken), units);
    i += taken;
    for (size_t k = 0; k < count; ++k) PutUnit(out, units[k]);
  }
}

}  // namespace

bool HasLauncherKeyShape(const EVP_PKEY* key) {
  constexpr unsigned long kExponent = 65537;
  BIGNUM* exponent = nullptr;
  const bool fits = EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA && EVP_PKEY_get_bits(key) == kSigningKeyBits &&
                    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &exponent) == 1 &&
                    BN_is_word(exponent, kExponent);
  BN_free(exponent);
  return fits;
}

bool ReadKeyModulus(const EVP_PKEY* key, uint8_t modulus[256]) {
  BIGNUM* n = nullptr;
  const bool read = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) == 1 && BN_bn2lebinpad(n, modulus, 256) == 256;
  BN_free(n);
  if (!read) std::fill(modulus, modulus + 256, 0);
  return read;
}

SigningKey* LoadSigningKey(const std::string& pemPath, std::string* error, const PassphraseSource& passphrase) {
  std::FILE* file = OpenFileForReading(pemPath);
  if (!file) {
    *error = "cannot open " + pemPath;
    return nullptr;
  }
  EVP_PKEY* pkey = ReadPemPrivateKey(file, pemPath, passphrase, error);
  std::fclose(file);
  if (!pkey) {
    if (error->empty()) *error = "no PEM private key in " + pemPath;
    return nullptr;
  }
  if (!HasLauncherKeyShape(pkey)) {
    *error = pemPath + " is not an RSA-2048 key with exponent 65537";
    EVP_PKEY_free(pkey);
    return nullptr;
  }
  return new SigningKey{pkey};
}

void FreeSigningKey(SigningKey* key) {
  if (!key) return;
  EVP_PKEY_free(key->pkey);
  delete key;
}

void SigningKeyModulus(const SigningKey* key, uint8_t modulus[256]) { ReadKeyModulus(key->pkey, modulus); }

std::string PackageEntryText(const std::string& architecture, const std::string& lcids,
                             const std::string& productCode, const std::string& productName) {
  return architecture + '\\' + lcids + '\\' + productCode + '\\' + productName;
}

std::string CabEntryText(const std::string& packageIds, const std::string& fileName) {
  return "cab\\" + packageIds + '\\' + fileName;
}

void AppendManifestEntry(ByteVector* manifest, uint32_t id, const std::string& text) {
  ByteVector units;
  AppendUtf16(&units, text);
  PutUnit(&units, 0);  // the terminating NUL counts in the byte length
  PutU32(manifest, id);
  PutU32(manifest, static_cast<uint32_t>(units.size()));
  manifest->insert(manifest->end(), units.begin(), units.end());
}

bool CompressContent(const uint8_t* content, size_t contentSize, int level, ByteVector* out,
                     std::string* error) {
  // zlib's lengths are 32 bits on Windows; the launcher's are everywhere.
  if (!FitsLauncherFile(contentSize)) {
    *error = "content larger than 4 GiB - 1";
    return false;
  }
  uLongf size = compressBound(static_cast<uLong>(contentSize));
  out->resize(size);
  const int status = compress2(out->data(), &size, content, static_cast<uLong>(contentSize), level);
  if (status != Z_OK) {
    out->clear();
    *error = std::string("zlib compress2 failed: ") + zError(status);
    return false;
  }
  out->resize(size);
  return true;
}

bool SignBytes(const SigningKey* key, const uint8_t* bytes, size_t size, ByteVector* signature,
               std::string* error) {
  if (!key) {
    *error = "signing needs a private key";
    return false;
  }
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  size_t length = 0;
  // RSA keys sign with PKCS#1 v1.5 padding unless told otherwise.
  bool ok = context && EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key->pkey) == 1 &&
            EVP_DigestSign(context, nullptr, &length, bytes, size) == 1;
  if (ok) {
    signature->resize(length);
    ok = EVP_DigestSign(context, signature->data(), &length, bytes, size) == 1;
    signature->resize(length);
  }
  EVP_MD_CTX_free(context);
  if (!ok) {
    signature->clear();
    *error = OpenSslReason("RSA signing failed");
  }
  return ok;
}

void AppendRawRecord(ByteVector* stack, const Guid16& type, uint32_t id, const ByteVector& data,
                     const ByteVector& signature) {
  stack->insert(stack->end(), data.begin(), data.end());
  stack->insert(stack->end(), signature.begin(), signature.end());
  uint8_t trailer[kRecordTrailerSize];
  WriteRecordTrailer(RecordTrailer{type, id, static_cast<uint32_t>(signature.size()),
                                   static_cast<uint32_t>(data.size())},
                     trailer);
  stack->insert(stack->end(), trailer, trailer + kRecordTrailerSize);
}

bool EncodeRecord(const uint8_t* content, size_t contentSize, const SigningKey* key, const RecordEncoding& encoding,
                  ByteVector* data, ByteVector* signature, std::string* error) {
  signature->clear();
  if (encoding.compress) {
    if (!encoding.compressor(content, contentSize, encoding.level, data, error)) return false;
  } else {
    data->assign(content, content + contentSize);
  }
  if (!encoding.sign) return true;
  const uint8_t* signedBytes = encoding.signStoredBytes ? data->data() : content;
  const size_t signedSize = encoding.signStoredBytes ? data->size() : contentSize;
  return SignBytes(key, signedBytes, signedSize, signature, error);
}

bool AppendRecord(ByteVector* stack, const Guid16& type, uint32_t id, const uint8_t* content,
                  size_t contentSize, const SigningKey* key, const RecordEncoding& encoding,
                  std::string* error) {
  // Checked before compressing: a file this large would take long to
  // compress only to be refused.
  if (!FitsLauncherFile(contentSize)) {
    *error = "a file of " + std::to_string(contentSize) + " bytes is too large for a record";
    return false;
  }
  ByteVector data, signature;
  if (!EncodeRecord(content, contentSize, key, encoding, &data, &signature, error)) return false;
  if (!FitsLauncherFile(static_cast<uint64_t>(stack->size()) + data.size() + signature.size() + kRecordTrailerSize)) {
    *error = "the payload passes 4 GiB, more than the launcher can read";
    return false;
  }
  AppendRawRecord(stack, type, id, data, signature);
  return true;
}

bool BuildPayload(const ByteVector& manifest, const std::vector<PayloadFile>& files, const SigningKey* key,
                  const RecordEncoding& encoding, ByteVector* stack, std::string* error,
                  const BuildProgress& progress) {
  auto append = [&](const Guid16& type, uint32_t id, const ByteVector& content) {
    if (!AppendRecord(stack, type, id, content.data(), content.size(), key, encoding, error)) return false;
    if (progress.report != nullptr) progress.report(progress.context, content.size());
    return true;
  };
  // The walk stops at the manifest record, so it must be the lowest.
  if (!append(ManifestRecordType, 0, manifest)) return false;
  for (const PayloadFile& file : files)
    if (!append(FileRecordType, file.id, file.content)) return false;
  return true;
}
