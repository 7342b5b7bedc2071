// Signing through osslsigncode, which is run rather than rebuilt here; the certificate
// and its password are checked with libcrypto first, so that a wrong password is found
// before anything is packed.
#include "cli/signing.h"

#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <vector>

#include "cli/archive.h"
#include "cli/console.h"
#include "core/result.h"
#include "fs/fs.h"

namespace qef {

namespace {

const uint32_t kPasswordFileLimit = 4096;
const uint16_t kCertificateTypePkcs7 = 2;  // WIN_CERT_TYPE_PKCS_SIGNED_DATA

uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// The password as osslsigncode reads it: the file with its trailing line ends
// removed. A second line would be taken into the password there, so it is refused.
int32_t ReadCertificatePassword(const Text& file, Text& password, Text& message) {
  std::vector<unsigned char> bytes;
  uint64_t size = 0;
  if (!RegularFileSize(file, size) || size >= kPasswordFileLimit || ReadWholeFile(file, bytes) != kOk) {
    message.Format(size >= kPasswordFileLimit ? "the certificate password file %s is too long"
                                              : "cannot read the certificate password file %s",
                   file.Str());
    return kCannotOpen;
  }
  while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r')) bytes.pop_back();
  for (unsigned char c : bytes) {
    if (c == '\n' || c == '\r' || c == 0) {
      message.Format("the certificate password file %s must hold the password on one line", file.Str());
      return kBadArgument;
    }
  }
  bytes.push_back(0);
  password = reinterpret_cast<const char*>(bytes.data());
  return kOk;
}

}  // namespace

int32_t PrepareSigning(const SigningOptions& options, Text& tool, Text& message) {
  tool = FindProgram("osslsigncode");
  if (tool.IsEmpty()) {
    message = "signing needs osslsigncode, which is not on PATH (on Debian: apt install osslsigncode)";
    return kCannotOpen;
  }
  Text password;
  int32_t r = ReadCertificatePassword(options.password_file, password, message);
  if (r != kOk) return r;
  std::vector<unsigned char> bytes;
  if (ReadWholeFile(options.pkcs12, bytes) != kOk) {
    message.Format("cannot read the certificate %s: %s", options.pkcs12.Str(), WhyNotAFile(options.pkcs12));
    return kCannotOpen;
  }
  const unsigned char* p = bytes.data();
  PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(bytes.size()));
  if (p12 == nullptr) {
    message.Format("the certificate %s is not a PKCS#12 file", options.pkcs12.Str());
    return kBadArgument;
  }
  // The MAC over the file is keyed by the password: it checks the password without
  // decrypting the key, which needs no cipher the file happens to use.
  bool opens = PKCS12_mac_present(p12) ? PKCS12_verify_mac(p12, password.Str(), password.GetLength()) == 1 : true;
  if (!opens && password.IsEmpty()) opens = PKCS12_verify_mac(p12, nullptr, 0) == 1;
  PKCS12_free(p12);
  if (!opens) {
    message.Format("the password in %s does not open the certificate %s", options.password_file.Str(),
                   options.pkcs12.Str());
    return kBadArgument;
  }
  return kOk;
}

int32_t SignProgram(const SigningOptions& options, const Text& tool, const Text& input, const Text& output,
                    Text& message) {
  std::vector<Text> arguments = {tool, "sign", "-pkcs12", options.pkcs12, "-readpass", options.password_file};
  if (!options.timestamp.IsEmpty()) {
    arguments.push_back("-t");
    arguments.push_back(options.timestamp);
  }
  arguments.push_back("-in");
  arguments.push_back(input);
  arguments.push_back("-out");
  arguments.push_back(output);
  int32_t status = 0;
  int32_t r = RunProgram(arguments, status);
  if (r == kOk && status == 0) return kOk;
  RemoveFile(output);
  if (r != kOk)
    message.Format("cannot run %s", tool.Str());
  else
    message.Format("osslsigncode could not sign the program (status %d; its message is above)",
                   static_cast<int>(status));
  return kFailed;
}

int32_t ReadSigner(const unsigned char* table, size_t size, Text& signer) {
  // WIN_CERTIFICATE: length, revision, type, then the PKCS#7 SignedData.
  if (size < 8 || Le32(table) < 8 || Le32(table) > size || (table[6] | table[7] << 8) != kCertificateTypePkcs7)
    return kBadArgument;
  const unsigned char* p = table + 8;
  PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(Le32(table) - 8));
  if (p7 == nullptr) return kBadArgument;
  int32_t r = kBadArgument;
  STACK_OF(X509)* signers = PKCS7_get0_signers(p7, nullptr, 0);
  if (signers != nullptr && sk_X509_num(signers) > 0) {
    char* name = X509_NAME_oneline(X509_get_subject_name(sk_X509_value(signers, 0)), nullptr, 0);
    if (name != nullptr) {
      signer = name;
      OPENSSL_free(name);
      r = kOk;
    }
  }
  sk_X509_free(signers);
  PKCS7_free(p7);
  return r;
}

}  // namespace qef
