// Backend installation and the dispatch of platform calls to it.
#include "Platform/Platform.hpp"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace quellan::platform {
namespace {

Backends current;

[[noreturn]] void missingBackend(const char* which) noexcept {
    std::fprintf(stderr, "quellan: programming error: no %s backend is installed\n", which);
    std::abort();
}

} // namespace

Backends install(const Backends& backends) noexcept {
    const Backends previous = current;
    current = backends;
    return previous;
}

const Backends& installed() noexcept { return current; }

ax::AccessibilityBackend& accessibility() noexcept {
    if (current.accessibility == nullptr) missingBackend("accessibility");
    return *current.accessibility;
}

workspace::WorkspaceBackend& workspaceBackend() noexcept {
    if (current.workspace == nullptr) missingBackend("workspace");
    return *current.workspace;
}

clock::ClockBackend& clockBackend() noexcept {
    if (current.clock == nullptr) missingBackend("clock");
    return *current.clock;
}

RunLoop& mainRunLoop() noexcept {
    if (current.runLoop == nullptr) missingBackend("run loop");
    return *current.runLoop;
}

} // namespace quellan::platform

namespace quellan::ax {

using platform::accessibility;

bool isProcessTrusted() { return accessibility().isProcessTrusted(); }
bool isProcessTrustedWithOptions(const TrustCheckOptions& options) {
    return accessibility().isProcessTrustedWithOptions(options);
}
void beginLook() { accessibility().beginLook(); }
Element createApplication(std::int32_t processIdentifier) {
    return accessibility().createApplication(processIdentifier);
}
Error copyAttributeValue(const Element& element, std::string_view attribute, Value& value) {
    value = Value();
    if (!element) return kFailure;
    return accessibility().copyAttributeValue(element, attribute, value);
}
Error isAttributeSettable(const Element& element, std::string_view attribute, bool& settable) {
    settable = false;
    if (!element) return kFailure;
    return accessibility().isAttributeSettable(element, attribute, settable);
}
Error setAttributeValue(const Element& element, std::string_view attribute, const Value& value) {
    if (!element) return kFailure;
    return accessibility().setAttributeValue(element, attribute, value);
}
bool equal(const Element& a, const Element& b) {
    if (!a || !b) return !a && !b;
    return accessibility().equal(a, b);
}
std::uint64_t hash(const Element& element) { return element ? accessibility().hash(element) : 0; }
std::vector<FocusChange> takeFocusChanges() { return accessibility().takeFocusChanges(); }
std::optional<std::uint64_t> stackingPosition(const Element& window) {
    return window ? accessibility().stackingPosition(window) : std::nullopt;
}

std::optional<double> appearedAt(const Element& window) {
    return window ? accessibility().appearedAt(window) : std::nullopt;
}
bool observeDesktopChanges(std::function<void()> onChange) {
    return accessibility().observeDesktopChanges(std::move(onChange));
}
bool desktopSettled() { return accessibility().desktopSettled(); }

Element::Element(const Element& other) noexcept : backend_(other.backend_), token_(other.token_) {
    if (backend_ != nullptr) backend_->retain(token_);
}

Element::Element(Element&& other) noexcept : backend_(other.backend_), token_(other.token_) {
    other.backend_ = nullptr;
    other.token_ = 0;
}

Element& Element::operator=(const Element& other) noexcept {
    if (this != &other) {
        if (other.backend_ != nullptr) other.backend_->retain(other.token_);
        reset();
        backend_ = other.backend_;
        token_ = other.token_;
    }
    return *this;
}

Element& Element::operator=(Element&& other) noexcept {
    if (this != &other) {
        reset();
        backend_ = other.backend_;
        token_ = other.token_;
        other.backend_ = nullptr;
        other.token_ = 0;
    }
    return *this;
}

Element::~Element() { reset(); }

void Element::reset() noexcept {
    if (backend_ != nullptr) backend_->release(token_);
    backend_ = nullptr;
    token_ = 0;
}

} // namespace quellan::ax

namespace quellan::workspace {

std::optional<RunningApplication> frontmostApplication() { return platform::workspaceBackend().frontmostApplication(); }
std::vector<RunningApplication> runningApplications() { return platform::workspaceBackend().runningApplications(); }
bool openURL(std::string_view url) { return platform::workspaceBackend().openURL(url); }
std::int32_t processIdentifier() { return platform::workspaceBackend().processIdentifier(); }

} // namespace quellan::workspace

namespace quellan::clock {

Instant now() { return platform::clockBackend().now(); }

} // namespace quellan::clock
