// In-memory user defaults. Like the platform's database, an integer read
// of a stored boolean gives 0 or 1 and a boolean read of an integer tests
// it against 0.
#include "Platform/UserDefaults.hpp"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace quellan::platform {

std::int64_t InMemoryUserDefaults::integerForKey(std::string_view key) const {
    const auto found = values_.find(key);
    if (found == values_.end()) return 0;
    if (const auto* flag = std::get_if<bool>(&found->second)) return *flag ? 1 : 0;
    return std::get<std::int64_t>(found->second);
}

bool InMemoryUserDefaults::boolForKey(std::string_view key) const {
    const auto found = values_.find(key);
    if (found == values_.end()) return false;
    if (const auto* number = std::get_if<std::int64_t>(&found->second)) return *number != 0;
    return std::get<bool>(found->second);
}

void InMemoryUserDefaults::setInteger(std::int64_t value, std::string_view key) {
    values_.insert_or_assign(std::string(key), Stored(value));
    ++writeCount_;
}

void InMemoryUserDefaults::setBool(bool value, std::string_view key) {
    values_.insert_or_assign(std::string(key), Stored(value));
    ++writeCount_;
}

namespace {
std::shared_ptr<UserDefaults> standard;
} // namespace

std::shared_ptr<UserDefaults> standardUserDefaults() {
    if (!standard) {
        std::fprintf(stderr, "quellan: programming error: no standard user defaults are installed\n");
        std::abort();
    }
    return standard;
}

std::shared_ptr<UserDefaults> installStandardUserDefaults(std::shared_ptr<UserDefaults> defaults) {
    return std::exchange(standard, std::move(defaults));
}

} // namespace quellan::platform
