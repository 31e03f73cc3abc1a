#pragma once
// SHA-256 of a byte stream fed in pieces, for reports of what was written.

#include <cstddef>
#include <memory>
#include <string>

namespace tarnwell {

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const void* data, std::size_t size);
    // Lower-case hex of everything fed so far, as sha256sum prints it.
    std::string HexDigest() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tarnwell
