// The digest back end of the Linux build: OpenSSL's EVP interface, which picks the
// processor's own instructions (SHA extensions, AVX2) where there are any.

#include <openssl/evp.h>

#include "digest/Digest.h"

namespace orvella {

namespace {

struct FreeContext {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, FreeContext>;

const EVP_MD* MethodOf(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::Md5: return EVP_md5();
    case DigestAlgorithm::Sha1: return EVP_sha1();
    case DigestAlgorithm::Sha256: return EVP_sha256();
  }
  return nullptr;
}

class EvpDigester final : public Digester {
 public:
  explicit EvpDigester(Context context) : context_(std::move(context)) {}

  bool Update(const void* data, std::size_t n) override {
    ok_ = ok_ && EVP_DigestUpdate(context_.get(), data, n) == 1;
    return ok_;
  }

  std::unique_ptr<Digester> Clone() const override {
    Context copy(EVP_MD_CTX_new());
    if (!copy || EVP_MD_CTX_copy_ex(copy.get(), context_.get()) != 1) return nullptr;
    auto clone = std::make_unique<EvpDigester>(std::move(copy));
    clone->ok_ = ok_;
    return clone;
  }

  bool Finish(std::string& hex) override {
    unsigned char bytes[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!ok_ || EVP_DigestFinal_ex(context_.get(), bytes, &n) != 1) return false;
    hex = LowerHex(bytes, n);
    ok_ = false;  // a context is finished once
    return true;
  }

 private:
  Context context_;
  bool ok_ = true;
};

}  // namespace

std::unique_ptr<Digester> MakeDigester(DigestAlgorithm algorithm, std::string& error) {
  Context context(EVP_MD_CTX_new());
  const EVP_MD* method = MethodOf(algorithm);
  if (!context || !method || EVP_DigestInit_ex(context.get(), method, nullptr) != 1) {
    error = "the system's digest library (libcrypto) cannot compute " +
            std::string(DigestName(algorithm));
    return nullptr;
  }
  return std::make_unique<EvpDigester>(std::move(context));
}

}  // namespace orvella
