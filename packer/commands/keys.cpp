#include "packer/commands/keys.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <vector>

#include "packer/io/file_io.h"
#include "packer/writer/key_slot.h"

namespace {

std::vector<uint8_t> BioBytes(BIO* bio) {
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  return std::vector<uint8_t>(data, data + (size > 0 ? size : 0));
}

pem_password_cb RefusePassphrase;

// OpenSSL 3 tries every decoder on a PEM file, an encrypted private key's
// too, and its default would ask the terminal for the passphrase even where
// a public key is all that is looked for.
int RefusePassphrase(char*, int, int, void*) { return -1; }

}  // namespace

std::string PublicKeyPathFor(const std::string& privatePath) {
  const std::string suffix = ".pem";
  if (privatePath.size() > suffix.size() &&
      privatePath.compare(privatePath.size() - suffix.size(), suffix.size(), suffix) == 0)
    return privatePath.substr(0, privatePath.size() - suffix.size()) + ".pub.pem";
  return privatePath + ".pub.pem";
}

bool GenerateKeyPair(const std::string& privatePath, std::string* publicPath, std::string* error) {
  *publicPath = PublicKeyPathFor(privatePath);
  EVP_PKEY* key = EVP_RSA_gen(kSigningKeyBits);  // exponent 65537
  if (key == nullptr) {
    *error = "cannot generate an RSA-2048 key";
    return false;
  }
  BIO* privateBio = BIO_new(BIO_s_mem());
  BIO* publicBio = BIO_new(BIO_s_mem());
  bool encoded = privateBio != nullptr && publicBio != nullptr &&
                 PEM_write_bio_PrivateKey(privateBio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1 &&
                 PEM_write_bio_PUBKEY(publicBio, key) == 1;
  std::vector<uint8_t> privatePem, publicPem;
  if (encoded) {
    privatePem = BioBytes(privateBio);
    publicPem = BioBytes(publicBio);
  }
  BIO_free(privateBio);
  BIO_free(publicBio);
  EVP_PKEY_free(key);
  if (!encoded) {
    *error = "cannot encode the key";
    return false;
  }
  // The public half first: if the private half then fails, the stray public
  // file is removed and nothing is left.
  if (!WriteFileAtomically(*publicPath, publicPem, 0644, error)) return false;
  if (!WriteFileAtomically(privatePath, privatePem, 0600, error)) {
    RemoveFile(*publicPath);
    return false;
  }
  return true;
}

bool LoadPublicModulus(const std::string& pemPath, uint8_t modulus[256], std::string* error,
                       const PassphraseSource& passphrase) {
  std::FILE* file = OpenFileForReading(pemPath);
  if (file == nullptr) {
    *error = "cannot open " + pemPath;
    return false;
  }
  EVP_PKEY* key = PEM_read_PUBKEY(file, nullptr, RefusePassphrase, nullptr);
  ERR_clear_error();
  if (key == nullptr) {
    std::rewind(file);
    key = ReadPemPrivateKey(file, pemPath, passphrase, error);
  }
  std::fclose(file);
  if (key == nullptr) {
    if (error->empty()) *error = pemPath + " holds no PEM public or private key";
    return false;
  }
  bool loaded = HasLauncherKeyShape(key);
  if (!loaded) {
    *error = pemPath + " is not an RSA-2048 key with exponent 65537";
  } else if (!ReadKeyModulus(key, modulus)) {
    *error = "cannot read the modulus of " + pemPath;
    loaded = false;
  }
  EVP_PKEY_free(key);
  return loaded;
}

bool StampKeyFromFile(const std::string& keyPath, const std::vector<std::string>& bindPaths,
                      const std::string& stubPath, bool replace, ByteVector* stub, std::string* done,
                      std::string* error) {
  uint8_t modulus[256];
  if (!LoadPublicModulus(keyPath, modulus, error)) return false;
  std::vector<ManifestDigest> bindings;
  for (const std::string& path : bindPaths) {
    ByteVector payload;
    ManifestDigest digest;
    if (!ReadWholeFile(path, &payload, error)) return false;
    if (!ReadManifestDigest(ByteView{payload.data(), payload.size()}, modulus, &digest, error)) {
      *error = path + ": " + *error;
      return false;
    }
    bindings.push_back(digest);
  }
  ByteVector stamped;
  KeyStamp stamp = KeyStamp::Stamped;
  if (!StampKeySlot(*stub, modulus, bindings, replace, &stamped, &stamp, error)) {
    *error = stubPath + ": " + *error;
    return false;
  }
  *stub = std::move(stamped);
  const char* what = stamp == KeyStamp::AlreadyHeld ? " already there, the stub unchanged"
                     : stamp == KeyStamp::Replaced  ? " stamped over another key"
                     : stamp == KeyStamp::Bound     ? " already there, now bound"
                     : stamp == KeyStamp::Rebound   ? " already there, bound anew"
                                                    : " stamped";
  *done = "key sha256 " + KeyFingerprint(modulus) + what;
  StubKeySlot slot;
  if (FindKeySlot(ByteView{stub->data(), stub->size()}, &slot) == KeySlotSearch::Found && slot.slot.key.bindingCount)
    *done += ", bound to " + std::to_string(slot.slot.key.bindingCount) + " payload(s)";
  return true;
}
