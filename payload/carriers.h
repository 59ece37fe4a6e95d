// Where payloads travel inside the launcher's own file: in a certificate
// extension of its Authenticode signature, or as a record stack at its end.
#pragma once

#include <cstdint>

#include "base/error_pair.h"
#include "payload/payload_key.h"
#include "payload/payload_list.h"

// "1.2.840.113556.1.8000.2554.2951.50896.53846.17503.37240.13145692.12219546"
extern const char PayloadExtensionOid[];

// Both carriers give the list the key they verify with (SetPayloadListKey),
// so that the list's other records are verified with it too.
//
// Appends one item per non-critical PayloadExtensionOid extension of any
// certificate in the file's signature, each with its manifest read and
// verified. (0, 789) when the file has no usable signature or no such
// extension. Items appended before a failure stay in the list.
ErrorPair ReadCertificatePayloads(const uint8_t* file, uint32_t fileSize, PayloadList* list);

// Takes the whole file as one payload whose record stack ends at its last
// byte; appends it when its manifest reads and verifies.
ErrorPair ReadTailPayload(const uint8_t* file, uint32_t fileSize, PayloadList* list);

// The same with another key (null: no key), for the packer's tools, which
// read payloads made with any key.
ErrorPair ReadCertificatePayloadsWithKey(const PayloadKey* key, const uint8_t* file, uint32_t fileSize,
                                         PayloadList* list);
ErrorPair ReadTailPayloadWithKey(const PayloadKey* key, const uint8_t* file, uint32_t fileSize, PayloadList* list);
