// The window source over the accessibility interface: which windows count.
#include "Quellan/AccessibilityWindowSource.hpp"

#include "Platform/Clock.hpp"
#include "Sorting/StableMergeSort.hpp"

#include <algorithm>
#include <utility>

namespace quellan {
namespace {

// A failure after half the messaging timeout is a timeout: an answer, even
// a refusal, comes in milliseconds.
constexpr double kTimedOutAfter = ax::kMessagingTimeoutSeconds / 2;
constexpr double kFirstPause = 5;
constexpr double kLongestPause = 80;

/// Watches the calls made to one application for one that timed out. The
/// clock is read once per call: each call is timed from the one before.
class CallWatch {
public:
    CallWatch() : lastReading_(clock::now()) {}

    ax::Error operator()(ax::Error error) {
        const double now = clock::now();
        if (error == ax::kCannotComplete && now - lastReading_ >= kTimedOutAfter) timedOut_ = true;
        lastReading_ = now;
        return error;
    }
    bool timedOut() const { return timedOut_; }

private:
    double lastReading_;
    bool timedOut_ = false;
};

/// Reads a text attribute; none when the read fails or gives no text.
std::optional<std::string> readText(const ax::Element& element, std::string_view attribute, CallWatch& watch) {
    ax::Value value;
    if (watch(ax::copyAttributeValue(element, attribute, value)) != ax::kSuccess) return std::nullopt;
    if (const std::string* text = value.asText()) return *text;
    return std::nullopt;
}

bool hasText(const ax::Element& element, std::string_view attribute, std::string_view expected, CallWatch& watch) {
    const auto text = readText(element, attribute, watch);
    return text && *text == expected;
}

/// Role, subrole, minimized and settable, in that order, stopping at the
/// first that fails: at most four requests per window.
bool isCandidateWindow(const ax::Element& window, CallWatch& watch) {
    if (!hasText(window, ax::kRoleAttribute, ax::kWindowRole, watch)) return false;
    if (!hasText(window, ax::kSubroleAttribute, ax::kStandardWindowSubrole, watch)) return false;
    ax::Value minimized;
    if (watch(ax::copyAttributeValue(window, ax::kMinimizedAttribute, minimized)) == ax::kSuccess) {
        // Anything but a plain true (a failed read, null, another kind)
        // counts as not minimized.
        if (const bool* flag = minimized.asBoolean(); flag && *flag) return false;
    } else if (watch.timedOut()) {
        return false;
    }
    bool settable = false;
    return watch(ax::isAttributeSettable(window, ax::kMinimizedAttribute, settable)) == ax::kSuccess && settable;
}

bool isCandidateApplication(const workspace::RunningApplication& application, std::int32_t ownProcessIdentifier) {
    return application.processIdentifier != ownProcessIdentifier && !application.isTerminated &&
           !application.isHidden && application.activationPolicy == workspace::ActivationPolicy::regular;
}

} // namespace

std::string windowIdentifier(std::int32_t processIdentifier, std::uint64_t elementHash) {
    std::string id = std::to_string(processIdentifier);
    id += ':';
    id += std::to_string(elementHash);
    return id;
}

AccessibilityWindowSource::AccessibilityWindowSource() : ownProcessIdentifier_(workspace::processIdentifier()) {}

WindowSnapshot AccessibilityWindowSource::snapshot() {
    WindowSnapshot snapshot;
    if (!ax::isProcessTrusted()) return snapshot;
    // Every answer below comes from the desktop as it stands now.
    ax::beginLook();

    const auto frontmost = workspace::frontmostApplication();
    const std::int32_t frontmostProcessIdentifier = frontmost ? frontmost->processIdentifier : 0;

    // Taken after the read above, so a change it saw is not left for the next snapshot.
    const std::vector<ax::FocusChange> focusChanges = ax::takeFocusChanges();

    std::vector<workspace::RunningApplication> applications;
    for (auto& application : workspace::runningApplications()) {
        if (isCandidateApplication(application, ownProcessIdentifier_)) applications.push_back(std::move(application));
    }
    stableMergeSort(applications,
                    [](const auto& a, const auto& b) { return a.processIdentifier < b.processIdentifier; });

    const double now = clock::now();
    std::erase_if(pauses_, [&](const auto& entry) {
        return std::ranges::none_of(applications, [&](const auto& a) { return a.processIdentifier == entry.first; });
    });
    for (const auto& application : applications) {
        const auto paused = pauses_.find(application.processIdentifier);
        // A pause that ends further off than its length began before the
        // clock was set back.
        if (paused != pauses_.end() && now < paused->second.retryAt &&
            paused->second.retryAt - now <= paused->second.length) {
            snapshot.unansweredProcessIdentifiers.push_back(application.processIdentifier);
            continue;
        }
        const bool isFrontmost = frontmost && application.processIdentifier == frontmostProcessIdentifier;
        if (readApplication(application, isFrontmost, snapshot)) {
            if (paused != pauses_.end()) pauses_.erase(paused);
            continue;
        }
        Pause& pause = pauses_[application.processIdentifier];
        pause.length = pause.length == 0 ? kFirstPause : std::min(2 * pause.length, kLongestPause);
        pause.retryAt = clock::now() + pause.length;
        snapshot.unansweredProcessIdentifiers.push_back(application.processIdentifier);
    }
    for (const ax::FocusChange& change : focusChanges) {
        std::string id = windowIdentifier(change.processIdentifier, ax::hash(change.window));
        const bool listed = std::ranges::any_of(snapshot.windows, [&](const auto& window) { return window.id == id; });
        if (listed) snapshot.focusedSinceLastSnapshot.push_back({std::move(id), change.instant});
    }
    return snapshot;
}

bool AccessibilityWindowSource::readApplication(const workspace::RunningApplication& application, bool frontmost,
                                                WindowSnapshot& snapshot) const {
    CallWatch watch;
    const ax::Element applicationElement = ax::createApplication(application.processIdentifier);

    // The focused window is read before the list, and only for the
    // frontmost application.
    ax::Element focused;
    if (frontmost) {
        ax::Value value;
        if (watch(ax::copyAttributeValue(applicationElement, ax::kFocusedWindowAttribute, value)) == ax::kSuccess) {
            if (const ax::Element* element = value.asElement()) focused = *element;
        }
        if (watch.timedOut()) return false;
    }

    ax::Value windows;
    if (watch(ax::copyAttributeValue(applicationElement, ax::kWindowsAttribute, windows)) != ax::kSuccess)
        return !watch.timedOut();
    const ax::Value::List* list = windows.asList();
    if (list == nullptr) return true;

    const std::size_t firstOfApplication = snapshot.windows.size();
    const auto abandon = [&] {
        snapshot.windows.resize(firstOfApplication);
        return false;
    };
    std::optional<std::string> current;
    const std::string applicationName = application.localizedName.value_or("Unknown App");
    for (const ax::Value& entry : *list) {
        // A list that mixes in other values keeps its elements.
        const ax::Element* window = entry.asElement();
        if (window == nullptr) continue;
        if (!isCandidateWindow(*window, watch)) {
            if (watch.timedOut()) return abandon();
            continue;
        }
        std::string id = windowIdentifier(application.processIdentifier, ax::hash(*window));
        std::optional<std::string> title = readText(*window, ax::kTitleAttribute, watch);
        if (watch.timedOut()) return abandon();
        ManagedWindow record{
            .id = std::move(id),
            .element = *window,
            .applicationName = applicationName,
            .title = std::move(title).value_or("Untitled Window"),
            .stackingPosition = ax::stackingPosition(*window),
            .appearedAt = ax::appearedAt(*window),
        };
        if (focused && ax::equal(record.element, focused)) current = record.id;
        snapshot.windows.push_back(std::move(record));
    }
    if (current) snapshot.currentWindowID = std::move(current);
    // The application element, the focused element and the list are
    // released here; recorded windows live on in their records.
    return true;
}

bool AccessibilityWindowSource::observeChanges(std::function<void()> onChange) {
    return ax::observeDesktopChanges(std::move(onChange));
}

bool AccessibilityWindowSource::settled() { return pauses_.empty() && ax::desktopSettled(); }

} // namespace quellan
