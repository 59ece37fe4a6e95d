// Reading a PEM private key that may be encrypted, and where its passphrase
// comes from: the file given (pack --passphrase-file), else the environment
// variable MSILAUNCH_PACK_PASSPHRASE, else the terminal, asked only when
// standard input is one. Nothing here prompts on a pipe, so a build job
// without a passphrase fails at once instead of waiting.
#pragma once

#include <cstdio>
#include <string>

// OpenSSL's EVP_PKEY.
struct evp_pkey_st;

// The variable the passphrase is read from when no file is given.
constexpr char kPassphraseVariable[] = "MSILAUNCH_PACK_PASSPHRASE";

// Where the passphrase of an encrypted key comes from. The file's first line
// is the passphrase (a trailing "\r" dropped); so is the variable's whole
// value.
struct PassphraseSource {
  std::string filePath;  // empty: the variable, then the terminal
};

// Reads the first PEM private key of `file` (from where it stands), `path`
// naming it in messages. The caller owns the key. Null on failure, with
// *error saying plainly that the key is encrypted and how to give its
// passphrase when none can be had, or that the passphrase is wrong when the
// one given does not decrypt it; *error empty when `file` holds no PEM
// private key, which the caller words. No passphrase outlives the call.
evp_pkey_st* ReadPemPrivateKey(std::FILE* file, const std::string& path, const PassphraseSource& passphrase,
                               std::string* error);
