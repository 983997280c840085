#pragma once
// Message digests behind one small interface, so that each platform supplies them from
// its own system library: the Linux build takes them from OpenSSL's libcrypto, the
// Windows build from CNG (bcrypt).

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvella {

enum class DigestAlgorithm { Md5, Sha1, Sha256 };

// "md5", "sha1", "sha256": the names the tool takes and prints.
std::string_view DigestName(DigestAlgorithm algorithm);
std::optional<DigestAlgorithm> DigestFromName(std::string_view name);
// A comma-separated list of names, each once, in the order given; false (with `error`
// naming the culprit) for an empty list, an unknown name or a repeated one.
bool ParseDigestList(std::string_view text, std::vector<DigestAlgorithm>& algorithms,
                     std::string& error);

// One running digest.
class Digester {
 public:
  virtual ~Digester() = default;
  virtual bool Update(const void* data, std::size_t n) = 0;
  // A digester in the same state, to end a digest of a prefix while this one goes on.
  virtual std::unique_ptr<Digester> Clone() const = 0;
  // Ends the digest: its bytes in lower-case hex. False when the library failed.
  virtual bool Finish(std::string& hex) = 0;
};

// Lower-case hex of a digest's bytes, as every back end gives it.
std::string LowerHex(const unsigned char* bytes, std::size_t n);

// Made by the platform's back end; null, with `error` filled, when it cannot provide it.
std::unique_ptr<Digester> MakeDigester(DigestAlgorithm algorithm, std::string& error);

}  // namespace orvella
