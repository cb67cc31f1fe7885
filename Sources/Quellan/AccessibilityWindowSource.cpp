// The window source over the accessibility interface: which windows count.
#include "Quellan/AccessibilityWindowSource.hpp"

#include "Platform/Workspace.hpp"
#include "Sorting/StableMergeSort.hpp"

#include <algorithm>
#include <utility>

namespace quellan {
namespace {

/// Reads a text attribute; none when the read fails or gives no text.
std::optional<std::string> readText(const ax::Element& element, std::string_view attribute) {
    ax::Value value;
    if (ax::copyAttributeValue(element, attribute, value) != ax::kSuccess) return std::nullopt;
    if (const std::string* text = value.asText()) return *text;
    return std::nullopt;
}

bool hasText(const ax::Element& element, std::string_view attribute, std::string_view expected) {
    const auto text = readText(element, attribute);
    return text && *text == expected;
}

/// Role, subrole, minimized and settable, in that order, stopping at the
/// first that fails: at most four requests per window.
bool isCandidateWindow(const ax::Element& window) {
    if (!hasText(window, ax::kRoleAttribute, ax::kWindowRole)) return false;
    if (!hasText(window, ax::kSubroleAttribute, ax::kStandardWindowSubrole)) return false;
    ax::Value minimized;
    if (ax::copyAttributeValue(window, ax::kMinimizedAttribute, minimized) == ax::kSuccess) {
        // Anything but a plain true (a failed read, null, another kind)
        // counts as not minimized.
        if (const bool* flag = minimized.asBoolean(); flag && *flag) return false;
    }
    bool settable = false;
    return ax::isAttributeSettable(window, ax::kMinimizedAttribute, settable) == ax::kSuccess && settable;
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

    for (const auto& application : applications) {
        const ax::Element applicationElement = ax::createApplication(application.processIdentifier);

        // The focused window is read before the list, and only for the
        // frontmost application.
        ax::Element focused;
        if (frontmost && application.processIdentifier == frontmostProcessIdentifier) {
            ax::Value value;
            if (ax::copyAttributeValue(applicationElement, ax::kFocusedWindowAttribute, value) == ax::kSuccess) {
                if (const ax::Element* element = value.asElement()) focused = *element;
            }
        }

        ax::Value windows;
        if (ax::copyAttributeValue(applicationElement, ax::kWindowsAttribute, windows) != ax::kSuccess) continue;
        const ax::Value::List* list = windows.asList();
        if (list == nullptr) continue;

        const std::string applicationName = application.localizedName.value_or("Unknown App");
        for (const ax::Value& entry : *list) {
            // A list that mixes in other values keeps its elements.
            const ax::Element* window = entry.asElement();
            if (window == nullptr || !isCandidateWindow(*window)) continue;
            ManagedWindow record{
                .id = windowIdentifier(application.processIdentifier, ax::hash(*window)),
                .element = *window,
                .applicationName = applicationName,
                .title = readText(*window, ax::kTitleAttribute).value_or("Untitled Window"),
                .stackingPosition = ax::stackingPosition(*window),
            };
            if (focused && ax::equal(record.element, focused)) snapshot.currentWindowID = record.id;
            snapshot.windows.push_back(std::move(record));
        }
        // The application element, the focused element and the list are
        // released here; recorded windows live on in their records.
    }
    for (const ax::FocusChange& change : focusChanges) {
        std::string id = windowIdentifier(change.processIdentifier, ax::hash(change.window));
        const bool listed = std::ranges::any_of(snapshot.windows, [&](const auto& window) { return window.id == id; });
        if (listed) snapshot.focusedSinceLastSnapshot.push_back({std::move(id), change.instant});
    }
    return snapshot;
}

} // namespace quellan
