// The element objects of a backend whose elements stand for an application
// (by process id) or a window (by a number of the backend's own), with their
// counted references, equality and hash. Shared by the X11 and Wayland backends.
#pragma once

#include "Platform/Accessibility.hpp"

#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace quellan::ax {

struct ElementObject {
    bool isApplication = false;
    std::int32_t processIdentifier = 0;
    std::uint64_t window = 0;
};

class ElementTable {
public:
    explicit ElementTable(AccessibilityBackend* owner) : owner_(owner) {}

    /// A new element for `object`, holding the one reference it starts with.
    Element make(ElementObject object);
    /// The object of an element of this table; null for any other.
    const ElementObject* find(const Element& element) const;
    void retain(Token token) noexcept;
    void release(Token token) noexcept;
    /// The same application, or the same window.
    bool equal(const Element& a, const Element& b) const;
    /// The process id for an application, the window's number for a window; 0 for no element of this table.
    std::uint64_t hash(const Element& element) const;
    std::size_t size() const { return objects_.size(); }

private:
    struct Counted {
        ElementObject object;
        int references = 1;
    };
    AccessibilityBackend* owner_;
    std::unordered_map<Token, Counted> objects_;
    Token next_ = 1;
};

} // namespace quellan::ax
