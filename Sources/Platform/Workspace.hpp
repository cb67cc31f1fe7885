// The workspace: which applications run, which one is frontmost, and
// opening addresses; plus the program's own process identifier.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellan::workspace {

/// How an application takes part in the desktop; only `regular` ones own
/// the windows Quellan manages.
enum class ActivationPolicy : std::int64_t { regular = 0, accessory = 1, prohibited = 2 };

/// One running application as the workspace reports it.
struct RunningApplication {
    std::int32_t processIdentifier = 0;
    bool isTerminated = false;
    bool isHidden = false;
    ActivationPolicy activationPolicy = ActivationPolicy::regular;
    std::optional<std::string> localizedName;

    bool operator==(const RunningApplication&) const = default;
};

/// What a backend provides. Every call is made on the main thread.
class WorkspaceBackend {
public:
    virtual ~WorkspaceBackend() = default;

    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    virtual std::vector<RunningApplication> runningApplications() = 0;
    /// True when the address was handed to something that opens it.
    virtual bool openURL(std::string_view url) = 0;
    virtual std::int32_t processIdentifier() = 0;
};

std::optional<RunningApplication> frontmostApplication();
std::vector<RunningApplication> runningApplications();
bool openURL(std::string_view url);
/// The program's own process identifier.
std::int32_t processIdentifier();

} // namespace quellan::workspace
