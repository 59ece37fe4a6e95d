#include "packer/writer/private_key.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "packer/io/file_io.h"

namespace {

// What OpenSSL's request for a passphrase found.
struct PassphraseRequest {
  const PassphraseSource* source;
  bool asked = false;     // the key is encrypted
  std::string given;      // where the passphrase handed over came from; empty: none was
  std::string passphrase; // what was handed over, for OpenSSL's next decoder to ask again
  std::string problem;    // why none could be handed over, when that is not for lack of a terminal
};

// The first line of the passphrase file, or false with *problem set.
bool ReadPassphraseFile(const std::string& path, std::string* passphrase, std::string* problem) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes, problem)) return false;
  passphrase->assign(bytes.begin(), bytes.end());
  passphrase->erase(std::min(passphrase->find('\n'), passphrase->size()));
  if (!passphrase->empty() && passphrase->back() == '\r') passphrase->pop_back();
  OPENSSL_cleanse(bytes.data(), bytes.size());
  return true;
}

pem_password_cb SupplyPassphrase;

// OpenSSL calls this only for an encrypted key; `context` is the
// PassphraseRequest. Returns the passphrase's length, or -1 for none.
int SupplyPassphrase(char* buffer, int size, int rwflag, void* context) {
  auto* request = static_cast<PassphraseRequest*>(context);
  request->asked = true;
  std::string& passphrase = request->passphrase;
  // OpenSSL may try more than one decoder on a key, each asking anew: the
  // user types it once.
  if (request->given.empty()) {
    if (!request->source->filePath.empty()) {
      if (!ReadPassphraseFile(request->source->filePath, &passphrase, &request->problem)) return -1;
      request->given = "from --passphrase-file " + request->source->filePath;
    } else if (ReadEnvironmentVariable(kPassphraseVariable, &passphrase)) {
      request->given = std::string("from ") + kPassphraseVariable;
    } else if (StandardInputIsTerminal()) {
      // OpenSSL's own prompt, on the terminal, without echo.
      const int length = PEM_def_callback(buffer, size, rwflag, nullptr);
      if (length < 0) return length;
      passphrase.assign(buffer, static_cast<size_t>(length));
      request->given = "typed";
    } else {
      return -1;
    }
  }
  if (passphrase.size() > static_cast<size_t>(size)) {
    request->problem = "the passphrase " + request->given + " is longer than " + std::to_string(size) + " bytes";
    return -1;
  }
  std::memcpy(buffer, passphrase.data(), passphrase.size());
  return static_cast<int>(passphrase.size());
}

}  // namespace

evp_pkey_st* ReadPemPrivateKey(std::FILE* file, const std::string& path, const PassphraseSource& passphrase,
                               std::string* error) {
  error->clear();
  PassphraseRequest request;
  request.source = &passphrase;
  EVP_PKEY* key = PEM_read_PrivateKey(file, nullptr, SupplyPassphrase, &request);
  ERR_clear_error();
  OPENSSL_cleanse(&request.passphrase[0], request.passphrase.size());
  if (key != nullptr) return key;
  if (!request.problem.empty()) {
    *error = path + " is encrypted, and its passphrase cannot be read: " + request.problem;
  } else if (!request.given.empty()) {
    // A wrong passphrase mostly fails to decrypt, and otherwise decrypts to
    // bytes that are no key: either way it is the passphrase.
    *error = "wrong passphrase for " + path + " (" + request.given + ")";
  } else if (request.asked) {
    *error = path + " is encrypted: give its passphrase with pack --passphrase-file FILE or in the environment "
             "variable " + std::string(kPassphraseVariable) + " (standard input is not a terminal to ask on)";
  }
  return nullptr;
}
