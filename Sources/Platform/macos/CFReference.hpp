// One owned Core Foundation reference, released when it goes.
#pragma once

#include "Platform/macos/SystemAPIs.hpp"

#include <utility>

namespace quellan::mac {

template <typename Ref> class CFReference {
public:
    CFReference() noexcept = default;
    /// Takes over a reference the caller owns (from a Create or Copy call); null is fine.
    static CFReference adopt(Ref ref) noexcept { return CFReference(ref); }
    /// Adds a reference of its own to one the caller only borrows.
    static CFReference retain(Ref ref) noexcept {
        if (ref != nullptr) CFRetain(ref);
        return CFReference(ref);
    }

    CFReference(CFReference&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
    CFReference& operator=(CFReference&& other) noexcept {
        if (this != &other) {
            reset();
            ref_ = std::exchange(other.ref_, nullptr);
        }
        return *this;
    }
    CFReference(const CFReference&) = delete;
    CFReference& operator=(const CFReference&) = delete;
    ~CFReference() { reset(); }

    Ref get() const noexcept { return ref_; }
    explicit operator bool() const noexcept { return ref_ != nullptr; }
    /// Hands the reference over to the caller, who must release it.
    Ref take() noexcept { return std::exchange(ref_, nullptr); }

private:
    explicit CFReference(Ref ref) noexcept : ref_(ref) {}
    void reset() noexcept {
        if (ref_ != nullptr) CFRelease(std::exchange(ref_, nullptr));
    }

    Ref ref_ = nullptr;
};

} // namespace quellan::mac
