// The signed-message decoder of the native build: OpenSSL's PKCS#7 and X.509
// parsers behind the same calls the Windows build makes through CryptoAPI.
// Used as the native defaults of the platform seam (base/platform.h).
#pragma once

#include "base/platform.h"

SignedMessage* OpenSslOpenSignedMessage();
int OpenSslUpdateSignedMessage(SignedMessage* message, const uint8_t* data, uint32_t size);
int OpenSslGetCertificateCount(SignedMessage* message, uint32_t* count);
int OpenSslGetCertificateEncoding(SignedMessage* message, uint32_t index, uint8_t* buffer, uint32_t* size);
Certificate* OpenSslDecodeCertificate(const uint8_t* der, uint32_t size);
uint32_t OpenSslGetExtensionCount(const Certificate* certificate);
int OpenSslGetExtension(const Certificate* certificate, uint32_t index, CertificateExtension* extension);
void OpenSslFreeCertificate(Certificate* certificate);
void OpenSslCloseSignedMessage(SignedMessage* message);
