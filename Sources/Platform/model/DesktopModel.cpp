#include "Platform/model/DesktopModel.hpp"

#include "Platform/model/ForeignText.hpp"

#include <unistd.h>

namespace quellan::platform {
namespace {

/// The "AXSubrole" a window of `kind` answers.
std::string_view subroleFor(WindowKind kind) {
    switch (kind) {
    case WindowKind::standard:
        return ax::kStandardWindowSubrole;
    case WindowKind::dialog:
        return "AXDialog";
    case WindowKind::floating:
        return "AXFloatingWindow";
    case WindowKind::auxiliary:
        return "AXUnknown";
    case WindowKind::desktopPart:
        return "AXSystemFloatingWindow";
    }
    return "AXUnknown";
}

} // namespace

DesktopModel::DesktopModel(Feed& feed, std::string refusalNotice, std::function<SteadyClock::time_point()> steadyNow)
    : feed_(feed), refusalNotice_(std::move(refusalNotice)), steadyNow_(std::move(steadyNow)) {}

// --- fed by the backend ------------------------------------------------------

void DesktopModel::show(std::vector<Window> frontToBack) {
    shown_ = true;
    windows_.clear();
    applications_.clear();
    for (Window& window : frontToBack) {
        Application& application = applications_[window.application];
        if (!application.name) application.name = window.applicationName;
        if (window.kind != WindowKind::desktopPart) {
            application.regular = true;
            if (window.shown) application.windows.push_back(window.key);
        }
        windows_.insert_or_assign(window.key, std::move(window));
    }
    for (auto& [processIdentifier, application] : applications_) {
        if (!application.name) application.name = processName(processIdentifier);
    }
}

const DesktopModel::Window* DesktopModel::window(Key key) const {
    const auto found = windows_.find(key);
    return found == windows_.end() ? nullptr : &found->second;
}

void DesktopModel::requestsRead() {
    requests_.ponged(steadyNow());
    if (requests_.wantsPing()) pingRequests();
}

void DesktopModel::pingRequests() {
    feed_.sendPing();
    requests_.pinged(steadyNow(), looks_);
}

void DesktopModel::settleRequests() {
    const auto minimized = [&](Key key) -> std::optional<bool> {
        const Window* found = window(key);
        return found == nullptr ? std::nullopt : std::optional(found->minimized);
    };
    if (requests_.settle(minimized, steadyNow()) && noticeHandler_) noticeHandler_(refusalNotice_);
}

void DesktopModel::tellChange() {
    if (changeHandler_) changeHandler_();
}

void DesktopModel::moveFocus(std::optional<Key> window, double instant) {
    if (window == focused_) return;
    focused_ = window;
    if (window) {
        focusLog_.gained(*window, instant);
    } else {
        focusLog_.lost(instant);
    }
}

std::int32_t DesktopModel::applicationFor(std::optional<std::int32_t> processIdentifier, const std::string& appId) {
    if (processIdentifier && *processIdentifier > 0) return *processIdentifier;
    if (appId == "quellan") return this->processIdentifier();
    const auto [entry, added] = applicationByAppId_.try_emplace(appId, nextSyntheticApplication_);
    if (added) ++nextSyntheticApplication_;
    return entry->second;
}

double DesktopModel::wallNow() {
    auto* installed = platform::installed().clock;
    return installed != nullptr ? installed->now() : clock::systemClock().now();
}

void DesktopModel::ensureShown() {
    if (!shown_ || feed_.lost()) feed_.refresh();
}

// --- trust and looks ---------------------------------------------------------

bool DesktopModel::isProcessTrusted() { return feed_.trusted(); }

bool DesktopModel::isProcessTrustedWithOptions(const ax::TrustCheckOptions& options) {
    const bool trusted = feed_.trusted();
    if (!trusted && options.prompt && trustPromptHandler_) trustPromptHandler_();
    return trusted;
}

void DesktopModel::beginLook() {
    ++looks_;
    feed_.refresh();
}

// --- workspace ---------------------------------------------------------------

workspace::RunningApplication DesktopModel::describe(std::int32_t processIdentifier,
                                                     const Application& application) const {
    workspace::RunningApplication described;
    described.processIdentifier = processIdentifier;
    described.activationPolicy =
        application.regular ? workspace::ActivationPolicy::regular : workspace::ActivationPolicy::accessory;
    described.localizedName = application.name;
    return described;
}

std::optional<workspace::RunningApplication> DesktopModel::frontmostApplication() {
    ensureShown();
    const Window* focused = focused_ ? window(*focused_) : nullptr;
    if (focused == nullptr) return std::nullopt;
    const auto application = applications_.find(focused->application);
    if (application == applications_.end()) return std::nullopt;
    return describe(application->first, application->second);
}

std::vector<workspace::RunningApplication> DesktopModel::runningApplications() {
    ensureShown();
    std::vector<workspace::RunningApplication> running;
    running.reserve(applications_.size());
    for (const auto& [processIdentifier, application] : applications_)
        running.push_back(describe(processIdentifier, application));
    return running;
}

std::int32_t DesktopModel::processIdentifier() { return static_cast<std::int32_t>(getpid()); }

// --- elements and their attributes -------------------------------------------

ax::Element DesktopModel::createApplication(std::int32_t processIdentifier) {
    return elements_.make(ax::ElementObject{.isApplication = true, .processIdentifier = processIdentifier});
}

const DesktopModel::Window* DesktopModel::windowOf(const ax::Element& element) {
    const ax::ElementObject* object = elements_.find(element);
    return object == nullptr || object->isApplication ? nullptr : window(object->window);
}

ax::Error DesktopModel::copyAttributeValue(const ax::Element& element, std::string_view attribute, ax::Value& value) {
    value = ax::Value();
    const ax::ElementObject* object = elements_.find(element);
    if (object == nullptr) return ax::kInvalidElement;
    const ax::ElementObject target = *object; // making elements below may move the table
    ensureShown();
    if (feed_.lost()) return ax::kCannotComplete;

    if (target.isApplication) {
        const auto application = applications_.find(target.processIdentifier);
        // An application that owns no window is unknown to the desktop.
        if (application == applications_.end()) return ax::kCannotComplete;
        if (attribute == ax::kFocusedWindowAttribute) {
            const Window* focused = focused_ ? window(*focused_) : nullptr;
            if (focused == nullptr || focused->application != target.processIdentifier) return ax::kNoValue;
            value = ax::Value::element(elements_.make(ax::ElementObject{.window = focused->key}));
            return ax::kSuccess;
        }
        if (attribute == ax::kWindowsAttribute) {
            ax::Value::List list;
            list.reserve(application->second.windows.size());
            for (const Key key : application->second.windows)
                list.push_back(ax::Value::element(elements_.make(ax::ElementObject{.window = key})));
            value = ax::Value::list(std::move(list));
            return ax::kSuccess;
        }
        return ax::kAttributeUnsupported;
    }

    const Window* found = window(target.window);
    if (found == nullptr) return ax::kInvalidElement;
    if (attribute == ax::kRoleAttribute) {
        value = ax::Value::text(std::string(ax::kWindowRole));
    } else if (attribute == ax::kSubroleAttribute) {
        value = ax::Value::text(std::string(subroleFor(found->kind)));
    } else if (attribute == ax::kMinimizedAttribute) {
        // Asked and not yet answered counts as minimized: it is on its way,
        // so it is neither counted against the limit nor chosen again.
        value = ax::Value::boolean(found->minimized || requests_.isPending(found->key));
    } else if (attribute == ax::kTitleAttribute) {
        if (!found->title) return ax::kNoValue;
        value = ax::Value::text(*found->title);
    } else {
        return ax::kAttributeUnsupported;
    }
    return ax::kSuccess;
}

ax::Error DesktopModel::isAttributeSettable(const ax::Element& element, std::string_view attribute, bool& settable) {
    settable = false;
    const ax::ElementObject* object = elements_.find(element);
    if (object == nullptr) return ax::kInvalidElement;
    const ax::ElementObject target = *object;
    ensureShown();
    if (feed_.lost()) return ax::kCannotComplete;
    if (target.isApplication) return ax::kSuccess;
    const Window* found = window(target.window);
    if (found == nullptr) return ax::kInvalidElement;
    if (attribute == ax::kMinimizedAttribute) settable = found->minimizable && !requests_.refuses(steadyNow());
    return ax::kSuccess;
}

ax::Error DesktopModel::setAttributeValue(const ax::Element& element, std::string_view attribute,
                                          const ax::Value& value) {
    const ax::ElementObject* object = elements_.find(element);
    if (object == nullptr) return ax::kInvalidElement;
    if (object->isApplication || attribute != ax::kMinimizedAttribute) return ax::kAttributeUnsupported;
    const bool* flag = value.asBoolean();
    if (flag == nullptr) return ax::kFailure;
    // Restoring is not offered: some desktops restore a window only by activating it.
    if (!*flag) return ax::kAttributeUnsupported;
    return minimize(object->window);
}

std::optional<std::uint64_t> DesktopModel::stackingPosition(const ax::Element& element) {
    const Window* found = windowOf(element);
    return found == nullptr ? std::nullopt : found->stackingPosition;
}

std::optional<double> DesktopModel::appearedAt(const ax::Element& element) {
    const Window* found = windowOf(element);
    return found == nullptr ? std::nullopt : found->appearedAt;
}

// --- minimizing --------------------------------------------------------------

ax::Error DesktopModel::minimize(Key window) {
    if (feed_.lost()) return ax::kCannotComplete;
    const auto now = steadyNow();
    if (requests_.isPending(window)) return ax::kSuccess;
    if (!requests_.mayAsk(window, now)) return ax::kCannotComplete;
    if (!feed_.mayMinimize(window)) return ax::kCannotComplete;
    // A desktop that has not read what an earlier look asked is behind:
    // what it will focus meanwhile is unknown, so nothing more is asked
    // until it has caught up.
    if (requests_.behind(now, looks_)) return ax::kCannotComplete;
    // The window in use is never touched.
    if (focused_ == window) return ax::kCannotComplete;
    if (!feed_.sendMinimize(window)) return ax::kCannotComplete;
    requests_.sent(window, now);
    if (requests_.wantsPing()) pingRequests();
    return ax::kSuccess;
}

// --- focus and changes -------------------------------------------------------

std::vector<ax::FocusChange> DesktopModel::takeFocusChanges() {
    feed_.readArrived();
    std::vector<ax::FocusChange> changes;
    for (const auto& [key, instant] : focusLog_.take()) {
        if (const Window* found = window(key))
            changes.push_back({elements_.make(ax::ElementObject{.window = key}), found->application, instant});
    }
    return changes;
}

bool DesktopModel::observeDesktopChanges(std::function<void()> onChange) {
    changeHandler_ = std::move(onChange);
    requests_.setWake(changeHandler_);
    return true;
}

bool DesktopModel::desktopSettled() {
    // First what has arrived: nothing will announce it again.
    feed_.readArrived();
    return !feed_.lost() && feed_.settled() && focusLog_.empty() && !requests_.anyPending();
}

} // namespace quellan::platform
