// Creation of the window monitor.
#include "Quellan/WindowMonitor.hpp"

namespace quellan {

std::shared_ptr<WindowMonitor> WindowMonitor::create(std::shared_ptr<WindowSource> source,
                                                     std::shared_ptr<platform::UserDefaults> defaults) {
    return std::make_shared<WindowMonitor>(Passkey{}, std::move(source), std::move(defaults));
}

WindowMonitor::WindowMonitor(Passkey, std::shared_ptr<WindowSource> source,
                             std::shared_ptr<platform::UserDefaults> defaults)
    : source_(std::move(source)), defaults_(std::move(defaults)) {}

} // namespace quellan
