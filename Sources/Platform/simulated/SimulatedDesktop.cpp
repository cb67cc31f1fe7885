#include "Platform/simulated/SimulatedDesktop.hpp"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace quellan::simulated {
namespace {

// Hashes look like the platform's: large, unrelated to creation order.
std::uint64_t defaultHash(WindowID id) { return static_cast<std::uint64_t>(id) * 0x9E3779B97F4A7C15ULL; }

} // namespace

SimulatedDesktop::SimulatedDesktop() = default;

SimulatedDesktop::~SimulatedDesktop() {
    // Elements still alive here would reach a destroyed backend later.
    if (!elements_.empty()) {
        std::fprintf(stderr, "simulated desktop: %zu element(s) still alive at teardown\n", elements_.size());
    }
}

SimApplication& SimulatedDesktop::addApplication(std::int32_t processIdentifier, std::optional<std::string> name) {
    SimApplication application;
    application.info.processIdentifier = processIdentifier;
    application.info.localizedName = std::move(name);
    applications_.push_back(std::move(application));
    return applications_.back();
}

SimWindow& SimulatedDesktop::addWindow(std::int32_t processIdentifier, std::string title) {
    SimApplication& owner = application(processIdentifier);
    const WindowID id = nextWindow_++;
    SimWindow window;
    window.id = id;
    window.processIdentifier = processIdentifier;
    window.title = Read{ax::kSuccess, std::move(title)};
    window.hash = defaultHash(id);
    owner.windows.push_back(id);
    return windows_.emplace(id, std::move(window)).first->second;
}

SimApplication& SimulatedDesktop::application(std::int32_t processIdentifier) {
    if (SimApplication* found = findApplication(processIdentifier)) return *found;
    throw std::out_of_range("simulated desktop: no application " + std::to_string(processIdentifier));
}

SimWindow& SimulatedDesktop::window(WindowID id) {
    const auto found = windows_.find(id);
    if (found == windows_.end()) throw std::out_of_range("simulated desktop: no window " + std::to_string(id));
    return found->second;
}

void SimulatedDesktop::removeWindow(WindowID id) {
    const auto found = windows_.find(id);
    if (found == windows_.end()) return;
    if (SimApplication* owner = findApplication(found->second.processIdentifier)) {
        std::erase(owner->windows, id);
        if (owner->focusedWindow == id) owner->focusedWindow.reset();
    }
    windows_.erase(found);
}

void SimulatedDesktop::removeApplication(std::int32_t processIdentifier) {
    SimApplication* owner = findApplication(processIdentifier);
    if (owner == nullptr) return;
    for (const WindowID id : owner->windows)
        windows_.erase(id);
    std::erase_if(applications_,
                  [&](const SimApplication& app) { return app.info.processIdentifier == processIdentifier; });
    if (frontmostProcessIdentifier == processIdentifier) frontmostProcessIdentifier.reset();
}

void SimulatedDesktop::focus(WindowID id) {
    SimWindow& focused = window(id);
    application(focused.processIdentifier).focusedWindow = id;
    frontmostProcessIdentifier = focused.processIdentifier;
    if (reportsFocusChanges) focusChanges_.emplace_back(id, time);
}

std::vector<ax::FocusChange> SimulatedDesktop::takeFocusChanges() {
    std::vector<ax::FocusChange> changes;
    for (const auto& [id, instant] : focusChanges_) {
        if (hasWindow(id)) changes.push_back({makeWindowElement(id), window(id).processIdentifier, instant});
    }
    focusChanges_.clear();
    return changes;
}

std::optional<std::uint64_t> SimulatedDesktop::stackingPosition(const ax::Element& element) {
    const ElementObject* object = objectFor(element, "stackingPosition");
    return object != nullptr && !object->isApplication && hasWindow(object->window)
               ? window(object->window).stackingPosition
               : std::nullopt;
}

std::optional<double> SimulatedDesktop::appearedAt(const ax::Element& element) {
    const ElementObject* object = objectFor(element, "appearedAt");
    return object != nullptr && !object->isApplication && hasWindow(object->window) ? window(object->window).appearedAt
                                                                                    : std::nullopt;
}

ax::Element SimulatedDesktop::makeWindowElement(WindowID id) {
    return newElement(ElementObject{.isApplication = false, .window = id});
}

platform::Backends SimulatedDesktop::backends() {
    return platform::Backends{.accessibility = this, .workspace = this, .clock = this};
}

SimApplication* SimulatedDesktop::findApplication(std::int32_t processIdentifier) {
    for (auto& app : applications_) {
        if (app.info.processIdentifier == processIdentifier) return &app;
    }
    return nullptr;
}

void SimulatedDesktop::log(std::string entry) {
    if (onCall) {
        // Moved out while it runs, so a hook that scripts the desktop cannot
        // run itself again through the calls it makes.
        const auto hook = std::exchange(onCall, nullptr);
        hook(entry);
        if (!onCall) onCall = hook;
    }
    if (logCalls) calls_.push_back(std::move(entry));
}

std::string SimulatedDesktop::describe(const ElementObject& object) const {
    return object.isApplication ? "app:" + std::to_string(object.processIdentifier)
                                : "win:" + std::to_string(object.window);
}

ax::Element SimulatedDesktop::newElement(ElementObject object) {
    const ax::Token token = nextToken_++;
    object.references = 1;
    elements_.emplace(token, object);
    ++created_;
    return ax::Element(this, token);
}

const SimulatedDesktop::ElementObject* SimulatedDesktop::objectFor(const ax::Element& element, const char* call) {
    if (element.backend() != this) {
        accountingErrors_.push_back(std::string(call) + " on an element of another backend");
        return nullptr;
    }
    const auto found = elements_.find(element.token());
    if (found == elements_.end()) {
        accountingErrors_.push_back(std::string(call) + " on released element " + std::to_string(element.token()));
        return nullptr;
    }
    return &found->second;
}

void SimulatedDesktop::retain(ax::Token token) noexcept {
    const auto found = elements_.find(token);
    if (found == elements_.end()) {
        accountingErrors_.push_back("retain of released element " + std::to_string(token));
        return;
    }
    ++found->second.references;
}

void SimulatedDesktop::release(ax::Token token) noexcept {
    const auto found = elements_.find(token);
    if (found == elements_.end()) {
        accountingErrors_.push_back("release of released element " + std::to_string(token));
        return;
    }
    if (--found->second.references == 0) elements_.erase(found);
}

ax::Value SimulatedDesktop::materialize(const Scripted& scripted) {
    return std::visit(
        [&](const auto& value) -> ax::Value {
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return ax::Value();
            } else if constexpr (std::is_same_v<T, std::string>) {
                return ax::Value::text(value);
            } else if constexpr (std::is_same_v<T, bool>) {
                return ax::Value::boolean(value);
            } else if constexpr (std::is_same_v<T, double>) {
                return ax::Value::number(value);
            } else {
                return ax::Value::element(makeWindowElement(value.window));
            }
        },
        scripted);
}

ax::Error SimulatedDesktop::deliver(const Read& read, ax::Value& value) {
    if (read.error != ax::kSuccess) return read.error;
    value = materialize(read.value);
    return ax::kSuccess;
}

bool SimulatedDesktop::timesOut(const ElementObject& object) {
    const auto window = windows_.find(object.window);
    const std::int32_t owner = object.isApplication       ? object.processIdentifier
                               : window != windows_.end() ? window->second.processIdentifier
                                                          : 0;
    const SimApplication* app = findApplication(owner);
    if (app == nullptr || !app->hangs) return false;
    time += ax::kMessagingTimeoutSeconds;
    waited_ += ax::kMessagingTimeoutSeconds;
    return true;
}

bool SimulatedDesktop::isProcessTrusted() {
    ++counts_.isProcessTrusted;
    log("AXIsProcessTrusted");
    return trusted;
}

bool SimulatedDesktop::isProcessTrustedWithOptions(const ax::TrustCheckOptions& options) {
    ++counts_.trustPrompt;
    log(options.prompt ? "AXIsProcessTrustedWithOptions prompt" : "AXIsProcessTrustedWithOptions");
    if (options.prompt && promptGrantsTrust) trusted = true;
    return trusted;
}

ax::Element SimulatedDesktop::createApplication(std::int32_t processIdentifier) {
    ++counts_.createApplication;
    log("AXUIElementCreateApplication " + std::to_string(processIdentifier));
    return newElement(ElementObject{.isApplication = true, .processIdentifier = processIdentifier});
}

ax::Error SimulatedDesktop::copyAttributeValue(const ax::Element& element, std::string_view attribute,
                                               ax::Value& value) {
    ++counts_.copyAttributeValue;
    value = ax::Value();
    const ElementObject* object = objectFor(element, "copyAttributeValue");
    if (object == nullptr) return kInvalidElement;
    log("copy " + describe(*object) + " " + std::string(attribute));
    if (timesOut(*object)) return ax::kCannotComplete;

    if (object->isApplication) {
        SimApplication* app = findApplication(object->processIdentifier);
        // An application that has quit answers like one that cannot be reached.
        if (app == nullptr) return ax::kCannotComplete;
        if (attribute == ax::kFocusedWindowAttribute) {
            if (app->focusedWindowRead) return deliver(*app->focusedWindowRead, value);
            if (!app->focusedWindow) return ax::kNoValue;
            value = ax::Value::element(makeWindowElement(*app->focusedWindow));
            return ax::kSuccess;
        }
        if (attribute == ax::kWindowsAttribute) {
            if (app->windowsError != ax::kSuccess) return app->windowsError;
            if (app->windowsReplacement) {
                value = materialize(*app->windowsReplacement);
                return ax::kSuccess;
            }
            ax::Value::List list;
            list.reserve(app->windows.size() + app->windowsExtras.size());
            for (const WindowID id : app->windows)
                list.push_back(ax::Value::element(makeWindowElement(id)));
            for (const auto& extra : app->windowsExtras)
                list.push_back(materialize(extra));
            value = ax::Value::list(std::move(list));
            return ax::kSuccess;
        }
        return ax::kAttributeUnsupported;
    }

    const auto found = windows_.find(object->window);
    if (found == windows_.end()) return kInvalidElement;
    const SimWindow& window = found->second;
    if (attribute == ax::kRoleAttribute) return deliver(window.role, value);
    if (attribute == ax::kSubroleAttribute) return deliver(window.subrole, value);
    if (attribute == ax::kMinimizedAttribute) return deliver(window.minimized, value);
    if (attribute == ax::kTitleAttribute) return deliver(window.title, value);
    return ax::kAttributeUnsupported;
}

ax::Error SimulatedDesktop::isAttributeSettable(const ax::Element& element, std::string_view attribute,
                                                bool& settable) {
    ++counts_.isAttributeSettable;
    settable = false;
    const ElementObject* object = objectFor(element, "isAttributeSettable");
    if (object == nullptr) return kInvalidElement;
    log("settable " + describe(*object) + " " + std::string(attribute));
    if (timesOut(*object)) return ax::kCannotComplete;
    if (object->isApplication) return ax::kSuccess;
    const auto found = windows_.find(object->window);
    if (found == windows_.end()) return kInvalidElement;
    if (attribute != ax::kMinimizedAttribute) return ax::kSuccess;
    if (found->second.settableError != ax::kSuccess) return found->second.settableError;
    settable = found->second.settable;
    return ax::kSuccess;
}

ax::Error SimulatedDesktop::setAttributeValue(const ax::Element& element, std::string_view attribute,
                                              const ax::Value& value) {
    ++counts_.setAttributeValue;
    const ElementObject* object = objectFor(element, "setAttributeValue");
    if (object == nullptr) return kInvalidElement;
    log("set " + describe(*object) + " " + std::string(attribute));
    if (timesOut(*object)) return ax::kCannotComplete;
    if (object->isApplication) return ax::kAttributeUnsupported;
    const auto found = windows_.find(object->window);
    if (found == windows_.end()) return kInvalidElement;
    SimWindow& window = found->second;
    if (attribute != ax::kMinimizedAttribute) return ax::kAttributeUnsupported;
    const bool* flag = value.asBoolean();
    if (flag == nullptr) return ax::kFailure;
    if (window.minimizeResult != ax::kSuccess) return window.minimizeResult;
    window.minimized = Read{ax::kSuccess, *flag};
    if (*flag) minimized_.push_back(window.id);
    return ax::kSuccess;
}

bool SimulatedDesktop::equal(const ax::Element& a, const ax::Element& b) {
    ++counts_.equal;
    const ElementObject* first = objectFor(a, "equal");
    const ElementObject* second = objectFor(b, "equal");
    if (first == nullptr || second == nullptr) return false;
    log("equal " + describe(*first) + " " + describe(*second));
    if (first->isApplication != second->isApplication) return false;
    return first->isApplication ? first->processIdentifier == second->processIdentifier
                                : first->window == second->window;
}

std::uint64_t SimulatedDesktop::hash(const ax::Element& element) {
    ++counts_.hash;
    const ElementObject* object = objectFor(element, "hash");
    if (object == nullptr) return 0;
    log("hash " + describe(*object));
    if (object->isApplication) return static_cast<std::uint64_t>(object->processIdentifier);
    const auto found = windows_.find(object->window);
    // A window that is gone keeps hashing as it did, like a platform object would.
    return found == windows_.end() ? defaultHash(object->window) : found->second.hash;
}

std::optional<workspace::RunningApplication> SimulatedDesktop::frontmostApplication() {
    ++counts_.frontmostApplication;
    log("frontmostApplication");
    if (!frontmostProcessIdentifier) return std::nullopt;
    if (SimApplication* app = findApplication(*frontmostProcessIdentifier)) return app->info;
    return std::nullopt;
}

std::vector<workspace::RunningApplication> SimulatedDesktop::runningApplications() {
    ++counts_.runningApplications;
    log("runningApplications");
    std::vector<workspace::RunningApplication> running;
    running.reserve(applications_.size());
    for (const auto& app : applications_)
        running.push_back(app.info);
    return running;
}

bool SimulatedDesktop::openURL(std::string_view url) {
    ++counts_.openURL;
    log("openURL " + std::string(url));
    openedURLs_.emplace_back(url);
    return openURLResult;
}

std::int32_t SimulatedDesktop::processIdentifier() {
    ++counts_.processIdentifier;
    log("processIdentifier");
    return ownProcessIdentifier;
}

clock::Instant SimulatedDesktop::now() {
    ++counts_.clockReads;
    return time;
}

} // namespace quellan::simulated
