// User defaults kept in a file of the settings format, rewritten whole
// and atomically on every change. Internal to the Qt backend and its tests.
#pragma once

#include "Platform/UserDefaults.hpp"
#include "Platform/qt/SettingsFormat.hpp"

#include <functional>
#include <string>

namespace quellan::qt {

class FileUserDefaults : public platform::UserDefaults {
public:
    /// Receives each line meant for the person running Quellan.
    using Reporter = std::function<void(const std::string& message)>;

    /// Reads `path` now; `report` defaults to standard error.
    explicit FileUserDefaults(std::string path, Reporter report = {});

    std::int64_t integerForKey(std::string_view key) const override;
    bool boolForKey(std::string_view key) const override;
    bool hasValueForKey(std::string_view key) const override { return memory_.hasValueForKey(key); }
    void setInteger(std::int64_t value, std::string_view key) override;
    void setBool(bool value, std::string_view key) override;

    const std::string& path() const { return path_; }
    /// True when the last change reached the file.
    bool saved() const { return saved_; }

private:
    void load();
    void save();
    bool moveAsideUnreadable(std::string& problem);
    void removeStaleTemporaries();
    void reportUnwritable(const std::string& reason);

    std::string path_;
    Reporter report_;
    platform::InMemoryUserDefaults memory_;
    // What lies at the path could not be read: keep it, do not write over it.
    bool keepAside_ = false;
    bool saidUnwritable_ = false;
    bool saved_ = false;
};

} // namespace quellan::qt
