#include "digest/Digest.h"

#include <algorithm>

namespace orvella {

namespace {

constexpr DigestAlgorithm kAll[] = {DigestAlgorithm::Md5, DigestAlgorithm::Sha1,
                                    DigestAlgorithm::Sha256};

}  // namespace

std::string LowerHex(const unsigned char* bytes, std::size_t n) {
  constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * n);
  for (std::size_t i = 0; i < n; ++i) {
    hex.push_back(kDigits[bytes[i] >> 4]);
    hex.push_back(kDigits[bytes[i] & 0xF]);
  }
  return hex;
}

std::string_view DigestName(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::Md5: return "md5";
    case DigestAlgorithm::Sha1: return "sha1";
    case DigestAlgorithm::Sha256: return "sha256";
  }
  return "?";
}

std::optional<DigestAlgorithm> DigestFromName(std::string_view name) {
  for (DigestAlgorithm a : kAll)
    if (DigestName(a) == name) return a;
  return std::nullopt;
}

bool ParseDigestList(std::string_view text, std::vector<DigestAlgorithm>& algorithms,
                     std::string& error) {
  algorithms.clear();
  std::size_t at = 0;
  while (true) {
    const std::size_t comma = text.find(',', at);
    const std::string_view name = text.substr(at, comma == std::string_view::npos ? text.npos : comma - at);
    const auto algorithm = DigestFromName(name);
    if (!algorithm) {
      error = "unknown digest \"" + std::string(name) + "\" (take md5, sha1 or sha256)";
      return false;
    }
    if (std::find(algorithms.begin(), algorithms.end(), *algorithm) != algorithms.end()) {
      error = "digest \"" + std::string(name) + "\" given twice";
      return false;
    }
    algorithms.push_back(*algorithm);
    if (comma == std::string_view::npos) return true;
    at = comma + 1;
  }
}

}  // namespace orvella
