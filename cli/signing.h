#pragma once
// Authenticode signatures: a program is signed by osslsigncode as `qef pack` makes it,
// and `qef info` reads who signed one from its certificate table.
#include <cstddef>
#include <cstdint>

#include "core/text.h"

namespace qef {

// What --sign-pkcs12, --sign-password-file and --timestamp gave.
struct SigningOptions {
  Text pkcs12;         // empty: the program is not signed
  Text password_file;  // the certificate's password, on the file's one line
  Text timestamp;      // a time-stamp server's address passed on, or empty
};

// Everything that can refuse signing, before any work: osslsigncode on PATH (`tool`
// receives its file), the password file holding one line, and the PKCS#12 file opening
// with that password. 0, or a code with a message.
int32_t PrepareSigning(const SigningOptions& options, Text& tool, Text& message);

// Signs the program `input` into `output`, a name nothing has (osslsigncode makes the
// file and refuses to write over one). 0, or kFailed with a message; a failed run
// leaves no `output`.
int32_t SignProgram(const SigningOptions& options, const Text& tool, const Text& input, const Text& output,
                    Text& message);

// The signer's subject ("/CN=.../O=...") from a program's certificate table (its
// WIN_CERTIFICATE entries as the file holds them). 0; kBadArgument when the table
// holds no signature that can be read.
int32_t ReadSigner(const unsigned char* table, size_t size, Text& signer);

}  // namespace qef
