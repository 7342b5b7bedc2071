#pragma once
// Hex texts to bytes and back, for writing known-answer tests readably.
#include <string>
#include <vector>

namespace qef::test {

inline std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

inline std::string ToHex(const unsigned char* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < n; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 15];
  }
  return hex;
}

inline std::string ToHex(const std::vector<unsigned char>& bytes) { return ToHex(bytes.data(), bytes.size()); }

}  // namespace qef::test
