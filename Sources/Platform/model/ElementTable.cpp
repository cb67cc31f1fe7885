#include "Platform/model/ElementTable.hpp"

namespace quellan::ax {

Element ElementTable::make(ElementObject object) {
    const Token token = next_++;
    objects_.emplace(token, Counted{object});
    return Element(owner_, token);
}

const ElementObject* ElementTable::find(const Element& element) const {
    if (element.backend() != owner_) return nullptr;
    const auto found = objects_.find(element.token());
    return found == objects_.end() ? nullptr : &found->second.object;
}

void ElementTable::retain(Token token) noexcept {
    if (const auto found = objects_.find(token); found != objects_.end()) ++found->second.references;
}

void ElementTable::release(Token token) noexcept {
    const auto found = objects_.find(token);
    if (found != objects_.end() && --found->second.references == 0) objects_.erase(found);
}

bool ElementTable::equal(const Element& a, const Element& b) const {
    const ElementObject* first = find(a);
    const ElementObject* second = find(b);
    if (first == nullptr || second == nullptr || first->isApplication != second->isApplication) return false;
    return first->isApplication ? first->processIdentifier == second->processIdentifier
                                : first->window == second->window;
}

std::uint64_t ElementTable::hash(const Element& element) const {
    const ElementObject* object = find(element);
    if (object == nullptr) return 0;
    return object->isApplication ? static_cast<std::uint32_t>(object->processIdentifier) : object->window;
}

} // namespace quellan::ax
