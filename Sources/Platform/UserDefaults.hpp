// The user-defaults database the monitor keeps its settings in.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

namespace quellan::platform {

/// Typed key-value settings. A missing integer reads as 0 and a missing
/// boolean as false; a write takes effect at once.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    virtual std::int64_t integerForKey(std::string_view key) const = 0;
    virtual bool boolForKey(std::string_view key) const = 0;
    /// Whether anything is stored under `key`: tells a stored 0 from none.
    virtual bool hasValueForKey(std::string_view key) const = 0;
    virtual void setInteger(std::int64_t value, std::string_view key) = 0;
    virtual void setBool(bool value, std::string_view key) = 0;
};

/// Defaults held in memory only: for tests and for a session whose
/// settings store cannot be used.
class InMemoryUserDefaults : public UserDefaults {
public:
    using Stored = std::variant<std::int64_t, bool>;

    std::int64_t integerForKey(std::string_view key) const override;
    bool boolForKey(std::string_view key) const override;
    bool hasValueForKey(std::string_view key) const override { return values_.contains(key); }
    void setInteger(std::int64_t value, std::string_view key) override;
    void setBool(bool value, std::string_view key) override;

    /// Every value as stored, for tests that check what was written.
    const std::map<std::string, Stored, std::less<>>& values() const { return values_; }
    /// How many writes were made, a rewrite of the same value included.
    int writeCount() const { return writeCount_; }

private:
    std::map<std::string, Stored, std::less<>> values_;
    int writeCount_ = 0;
};

/// The standard defaults of the user, which the program keeps its settings
/// in. The program installs them at start; without any installed, asking for
/// them is a programming error (a message, then abort).
std::shared_ptr<UserDefaults> standardUserDefaults();
/// Installs `defaults` as the standard ones and returns those installed before.
std::shared_ptr<UserDefaults> installStandardUserDefaults(std::shared_ptr<UserDefaults> defaults);

} // namespace quellan::platform
