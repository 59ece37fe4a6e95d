#include "base/signed_message_cryptoapi.h"

#include "base/error_pair.h"
#include "base/win32_calls.h"

namespace {

HCRYPTMSG Handle(SignedMessage* message) { return reinterpret_cast<HCRYPTMSG>(message); }

PCCERT_CONTEXT Context(const Certificate* certificate) {
  return reinterpret_cast<PCCERT_CONTEXT>(certificate);
}

}  // namespace

SignedMessage* CryptoApiOpenSignedMessage() {
  // Message type 0: taken from the data, which must be SignedData for the
  // certificate parameters to exist at all.
  return reinterpret_cast<SignedMessage*>(
      gWin32.CryptMsgOpenToDecode(PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr));
}

int CryptoApiUpdateSignedMessage(SignedMessage* message, const uint8_t* data, uint32_t size) {
  // One final update: bytes behind the DER element (padding, a record stack)
  // are ignored by the decoder.
  return gWin32.CryptMsgUpdate(Handle(message), data, size, TRUE) ? 1 : 0;
}

int CryptoApiGetCertificateCount(SignedMessage* message, uint32_t* count) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (!gWin32.CryptMsgGetParam(Handle(message), CMSG_CERT_COUNT_PARAM, 0, &value, &size)) return 0;
  *count = value;
  return 1;
}

int CryptoApiGetCertificateEncoding(SignedMessage* message, uint32_t index, uint8_t* buffer,
                                    uint32_t* size) {
  // DWORD is unsigned long under MinGW, not uint32_t: go through a local.
  DWORD length = *size;
  if (!gWin32.CryptMsgGetParam(Handle(message), CMSG_CERT_PARAM, index, buffer, &length)) return 0;
  *size = length;
  return 1;
}

Certificate* CryptoApiDecodeCertificate(const uint8_t* der, uint32_t size) {
  PCCERT_CONTEXT context = gWin32.CertCreateCertificateContext(X509_ASN_ENCODING, der, size);
  return reinterpret_cast<Certificate*>(const_cast<CERT_CONTEXT*>(context));
}

uint32_t CryptoApiGetExtensionCount(const Certificate* certificate) {
  PCCERT_CONTEXT context = Context(certificate);
  return context && context->pCertInfo ? context->pCertInfo->cExtension : 0;
}

int CryptoApiGetExtension(const Certificate* certificate, uint32_t index, CertificateExtension* extension) {
  if (index >= CryptoApiGetExtensionCount(certificate)) {
    SetLastError(ErrorCode::InvalidArg);
    return 0;
  }
  const CERT_EXTENSION& found = Context(certificate)->pCertInfo->rgExtension[index];
  extension->oid = found.pszObjId;
  extension->critical = found.fCritical ? 1 : 0;
  extension->value = found.Value.pbData;
  extension->valueSize = found.Value.cbData;
  return 1;
}

void CryptoApiFreeCertificate(Certificate* certificate) {
  if (!certificate) return;
  const DWORD saved = GetLastError();
  gWin32.CertFreeCertificateContext(Context(certificate));
  SetLastError(saved);
}

void CryptoApiCloseSignedMessage(SignedMessage* message) {
  if (!message) return;
  const DWORD saved = GetLastError();
  gWin32.CryptMsgClose(Handle(message));
  SetLastError(saved);
}
