// The signed-message decoder of the Windows build: CryptoAPI's message and
// certificate functions, reached through the Win32 table so that tests can
// fail any of them. Used as the Windows defaults of the platform seam
// (base/platform.h); the native twin is base/signed_message_openssl.h.
//
// A SignedMessage* is the HCRYPTMSG itself and a Certificate* the
// PCCERT_CONTEXT itself: no wrapper is allocated, so no call here can fail
// for want of memory beyond what CryptoAPI itself needs.
#pragma once

#include "base/platform.h"

SignedMessage* CryptoApiOpenSignedMessage();
int CryptoApiUpdateSignedMessage(SignedMessage* message, const uint8_t* data, uint32_t size);
int CryptoApiGetCertificateCount(SignedMessage* message, uint32_t* count);
int CryptoApiGetCertificateEncoding(SignedMessage* message, uint32_t index, uint8_t* buffer, uint32_t* size);
Certificate* CryptoApiDecodeCertificate(const uint8_t* der, uint32_t size);
uint32_t CryptoApiGetExtensionCount(const Certificate* certificate);
int CryptoApiGetExtension(const Certificate* certificate, uint32_t index, CertificateExtension* extension);
// The two releases preserve the last error: they run on cleanup paths after
// a failure whose code may not have been taken yet.
void CryptoApiFreeCertificate(Certificate* certificate);
void CryptoApiCloseSignedMessage(SignedMessage* message);
