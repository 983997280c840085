// The digest back end of the Windows build: the system's CNG primitives (bcrypt.dll).
// One algorithm provider per algorithm is opened on first use and kept for the process.

#include <windows.h>
#include <bcrypt.h>

#include <mutex>
#include <vector>

#include "digest/Digest.h"

namespace orvella {

namespace {

bool Ok(NTSTATUS status) { return status >= 0; }

const wchar_t* AlgorithmId(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::Md5: return BCRYPT_MD5_ALGORITHM;
    case DigestAlgorithm::Sha1: return BCRYPT_SHA1_ALGORITHM;
    case DigestAlgorithm::Sha256: return BCRYPT_SHA256_ALGORITHM;
  }
  return nullptr;
}

// The provider of each algorithm, opened once; null when the system refuses it.
BCRYPT_ALG_HANDLE Provider(DigestAlgorithm algorithm) {
  static std::mutex lock;
  static BCRYPT_ALG_HANDLE providers[3] = {};
  static bool tried[3] = {};
  const auto i = static_cast<std::size_t>(algorithm);
  const std::lock_guard<std::mutex> hold(lock);
  if (!tried[i]) {
    tried[i] = true;
    BCRYPT_ALG_HANDLE h = nullptr;
    if (Ok(::BCryptOpenAlgorithmProvider(&h, AlgorithmId(algorithm), nullptr, 0)))
      providers[i] = h;
  }
  return providers[i];
}

struct DestroyHash {
  void operator()(void* hash) const { ::BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(hash)); }
};
using HashHandle = std::unique_ptr<void, DestroyHash>;

// The object memory of a hash lives as long as its handle, so both are kept together.
struct HashState {
  std::vector<UCHAR> object;
  HashHandle handle;
};

bool ObjectLength(BCRYPT_ALG_HANDLE provider, DWORD& length) {
  ULONG got = 0;
  return Ok(::BCryptGetProperty(provider, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&length),
                                sizeof length, &got, 0));
}

class CngDigester final : public Digester {
 public:
  explicit CngDigester(HashState state) : state_(std::move(state)) {}

  bool Update(const void* data, std::size_t n) override {
    const auto* bytes = static_cast<const UCHAR*>(data);
    // BCryptHashData takes a ULONG length; larger pieces go in parts.
    while (ok_ && n > 0) {
      const ULONG part = n > 0x40000000u ? 0x40000000u : static_cast<ULONG>(n);
      ok_ = Ok(::BCryptHashData(state_.handle.get(), const_cast<PUCHAR>(bytes), part, 0));
      bytes += part;
      n -= part;
    }
    return ok_;
  }

  std::unique_ptr<Digester> Clone() const override {
    HashState copy;
    copy.object.resize(state_.object.size());
    BCRYPT_HASH_HANDLE h = nullptr;
    if (!Ok(::BCryptDuplicateHash(state_.handle.get(), &h, copy.object.data(),
                                  static_cast<ULONG>(copy.object.size()), 0)))
      return nullptr;
    copy.handle.reset(h);
    auto clone = std::make_unique<CngDigester>(std::move(copy));
    clone->ok_ = ok_;
    return clone;
  }

  bool Finish(std::string& hex) override {
    DWORD length = 0;
    ULONG got = 0;
    if (!ok_ || !Ok(::BCryptGetProperty(state_.handle.get(), BCRYPT_HASH_LENGTH,
                                        reinterpret_cast<PUCHAR>(&length), sizeof length, &got, 0)))
      return false;
    std::vector<UCHAR> bytes(length);
    if (!Ok(::BCryptFinishHash(state_.handle.get(), bytes.data(), length, 0))) return false;
    hex = LowerHex(bytes.data(), bytes.size());
    ok_ = false;  // a hash is finished once
    return true;
  }

 private:
  HashState state_;
  bool ok_ = true;
};

}  // namespace

std::unique_ptr<Digester> MakeDigester(DigestAlgorithm algorithm, std::string& error) {
  const BCRYPT_ALG_HANDLE provider = Provider(algorithm);
  DWORD length = 0;
  HashState state;
  BCRYPT_HASH_HANDLE h = nullptr;
  if (provider && ObjectLength(provider, length)) {
    state.object.resize(length);
    if (Ok(::BCryptCreateHash(provider, &h, state.object.data(), length, nullptr, 0, 0)))
      state.handle.reset(h);
  }
  if (!state.handle) {
    error = "the system's cryptography (CNG) cannot compute " + std::string(DigestName(algorithm));
    return nullptr;
  }
  return std::make_unique<CngDigester>(std::move(state));
}

}  // namespace orvella
