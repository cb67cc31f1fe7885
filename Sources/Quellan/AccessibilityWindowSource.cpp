#include "Quellan/AccessibilityWindowSource.hpp"

namespace quellan {

std::string windowIdentifier(std::int32_t processIdentifier, std::uint64_t elementHash) {
    std::string id = std::to_string(processIdentifier);
    id += ':';
    id += std::to_string(elementHash);
    return id;
}

} // namespace quellan
