#include "core/Sha256.h"

#include <nettle/sha2.h>

namespace tarnwell {

struct Sha256::State {
    sha256_ctx ctx;
};

Sha256::Sha256() : state_(std::make_unique<State>()) { sha256_init(&state_->ctx); }

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
    sha256_update(&state_->ctx, size, static_cast<const std::uint8_t*>(data));
}

std::string Sha256::HexDigest() const {
    // Digesting resets the context, so finish a copy and keep ours running.
    sha256_ctx done = state_->ctx;
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&done, sizeof digest, digest);
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * sizeof digest);
    for (std::uint8_t b : digest) {
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
    }
    return out;
}

}  // namespace tarnwell
