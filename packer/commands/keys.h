// Keys of the msilaunch-pack command: making a pair, reading the public half
// that inspect, verify and extract check records with, and stamping it into
// a launcher stub's key slot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/writer/payload_writer.h"

// Where keygen puts the public half of `privatePath`: "x.pem" -> "x.pub.pem",
// any other name gets ".pub.pem" appended.
std::string PublicKeyPathFor(const std::string& privatePath);

// Makes an RSA-2048 key pair with exponent 65537 and writes the private half
// (PKCS#8 PEM, mode 0600) to `privatePath` and the public half
// (SubjectPublicKeyInfo PEM, the form MSILAUNCH_PUBLIC_KEY takes) beside it.
// Neither file is left behind on failure.
bool GenerateKeyPair(const std::string& privatePath, std::string* publicPath, std::string* error);

// Reads a PEM public key, or the public half of a PEM private key, and
// stores its modulus least significant byte first. The launcher's key blob
// fixes the size at 2048 bits and the exponent at 65537, so any other key
// is refused with *error set. An encrypted private key is decrypted with
// the passphrase from `passphrase` (ReadPemPrivateKey).
bool LoadPublicModulus(const std::string& pemPath, uint8_t modulus[256], std::string* error,
                       const PassphraseSource& passphrase = PassphraseSource());

// Stamps the public key at `keyPath` into the key slot of *stub, the bytes of
// the file `stubPath`, bound to the manifests of the payloads at `bindPaths`
// (each must verify with the key), or with no new bindings when there are
// none (StampKeySlot: an empty slot, or another key with `replace`; the same
// key and bindings leave the stub as it is). True with *stub stamped and
// *done saying what happened, the key's fingerprint and how many payloads
// the slot binds; false with *error saying why, *stub unchanged.
bool StampKeyFromFile(const std::string& keyPath, const std::vector<std::string>& bindPaths,
                      const std::string& stubPath, bool replace, ByteVector* stub, std::string* done,
                      std::string* error);
