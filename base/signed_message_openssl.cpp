#include "base/signed_message_openssl.h"

#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <new>

#include "base/error_pair.h"

namespace {

// Leaves a code as CryptoAPI would leave it in the last error.
void Fail(uint32_t code) { gPlatform.SetLastErrorCode(code); }

}  // namespace

struct SignedMessage {
  PKCS7* pkcs7 = nullptr;
};

struct Certificate {
  X509* x509 = nullptr;
  char oid[256];  // text of the extension last asked for
};

SignedMessage* OpenSslOpenSignedMessage() {
  auto* message = new (std::nothrow) SignedMessage;
  if (!message) Fail(ErrorCode::NotEnoughMemory);
  return message;
}

int OpenSslUpdateSignedMessage(SignedMessage* message, const uint8_t* data, uint32_t size) {
  if (!message || message->pkcs7) {
    Fail(ErrorCode::InvalidArg);
    return 0;
  }
  // d2i reads one DER element and ignores what follows it, as CryptMsgUpdate
  // does with the padding and any record stack behind the signature.
  const unsigned char* p = data;
  PKCS7* pkcs7 = d2i_PKCS7(nullptr, &p, static_cast<long>(size));
  if (!pkcs7 || !PKCS7_type_is_signed(pkcs7) || !pkcs7->d.sign) {
    PKCS7_free(pkcs7);
    Fail(ErrorCode::CryptAsn1Error);
    return 0;
  }
  message->pkcs7 = pkcs7;
  return 1;
}

static STACK_OF(X509) * Certificates(SignedMessage* message) {
  return message && message->pkcs7 ? message->pkcs7->d.sign->cert : nullptr;
}

int OpenSslGetCertificateCount(SignedMessage* message, uint32_t* count) {
  if (!message || !message->pkcs7) {
    Fail(ErrorCode::InvalidArg);
    return 0;
  }
  STACK_OF(X509)* certs = Certificates(message);
  *count = certs ? static_cast<uint32_t>(sk_X509_num(certs)) : 0;
  return 1;
}

int OpenSslGetCertificateEncoding(SignedMessage* message, uint32_t index, uint8_t* buffer, uint32_t* size) {
  STACK_OF(X509)* certs = Certificates(message);
  if (!certs || index >= static_cast<uint32_t>(sk_X509_num(certs))) {
    Fail(ErrorCode::InvalidArg);
    return 0;
  }
  X509* cert = sk_X509_value(certs, static_cast<int>(index));
  const int length = i2d_X509(cert, nullptr);
  if (length <= 0) {
    Fail(ErrorCode::CryptAsn1Error);
    return 0;
  }
  if (!buffer) {
    *size = static_cast<uint32_t>(length);
    return 1;
  }
  if (*size < static_cast<uint32_t>(length)) {
    *size = static_cast<uint32_t>(length);
    Fail(234);  // ERROR_MORE_DATA
    return 0;
  }
  unsigned char* out = buffer;
  i2d_X509(cert, &out);
  *size = static_cast<uint32_t>(length);
  return 1;
}

Certificate* OpenSslDecodeCertificate(const uint8_t* der, uint32_t size) {
  const unsigned char* p = der;
  X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(size));
  if (!x509) {
    Fail(ErrorCode::CryptAsn1Error);
    return nullptr;
  }
  auto* certificate = new (std::nothrow) Certificate;
  if (!certificate) {
    X509_free(x509);
    Fail(ErrorCode::NotEnoughMemory);
    return nullptr;
  }
  certificate->x509 = x509;
  return certificate;
}

uint32_t OpenSslGetExtensionCount(const Certificate* certificate) {
  const int n = X509_get_ext_count(certificate->x509);
  return n > 0 ? static_cast<uint32_t>(n) : 0;
}

int OpenSslGetExtension(const Certificate* certificate, uint32_t index, CertificateExtension* extension) {
  X509_EXTENSION* ext = X509_get_ext(certificate->x509, static_cast<int>(index));
  if (!ext) {
    Fail(ErrorCode::InvalidArg);
    return 0;
  }
  auto* mutableCertificate = const_cast<Certificate*>(certificate);
  const int length = OBJ_obj2txt(mutableCertificate->oid, sizeof mutableCertificate->oid,
                                 X509_EXTENSION_get_object(ext), 1);
  // An OID too long for the buffer cannot be the payload OID; present it
  // as empty rather than cut, so that a prefix never matches.
  if (length < 0 || static_cast<size_t>(length) >= sizeof mutableCertificate->oid)
    mutableCertificate->oid[0] = '\0';
  const ASN1_OCTET_STRING* value = X509_EXTENSION_get_data(ext);
  extension->oid = mutableCertificate->oid;
  extension->critical = X509_EXTENSION_get_critical(ext) ? 1 : 0;
  extension->value = ASN1_STRING_get0_data(value);
  extension->valueSize = static_cast<uint32_t>(ASN1_STRING_length(value));
  return 1;
}

void OpenSslFreeCertificate(Certificate* certificate) {
  if (!certificate) return;
  X509_free(certificate->x509);
  delete certificate;
}

void OpenSslCloseSignedMessage(SignedMessage* message) {
  if (!message) return;
  PKCS7_free(message->pkcs7);
  delete message;
}
