#include "Platform/qt/FileUserDefaults.hpp"
#include "Platform/qt/QtDesktop.hpp"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quellan::qt {
namespace {

void toStandardError(const std::string& message) { std::fprintf(stderr, "quellan: %s\n", message.c_str()); }

struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
};

std::string parentOf(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

bool exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

std::string timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

} // namespace

FileUserDefaults::FileUserDefaults(std::string path, Reporter report)
    : path_(std::move(path)), report_(report ? std::move(report) : Reporter(toStandardError)) {
    load();
}

void FileUserDefaults::load() {
    const auto unreadable = [&](const std::string& reason) {
        keepAside_ = true;
        report_("the settings file " + path_ + " cannot be used (" + reason +
                "); starting from default settings, and the file will be kept aside at the first change");
    };
    // Non-blocking, so that a FIFO at the path cannot hang the start.
    Descriptor file{open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0) {
        // Nothing there yet: the first change creates it.
        if (errno == ENOENT || errno == ENOTDIR) return;
        unreadable(std::strerror(errno));
        return;
    }
    struct stat info {};
    if (fstat(file.fd, &info) != 0) {
        unreadable(std::strerror(errno));
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        unreadable("it is a directory");
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        unreadable("it is not a regular file");
        return;
    }
    std::string bytes;
    char buffer[8192];
    while (bytes.size() <= settings::kMaximumFileSize) {
        const ssize_t count = read(file.fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            unreadable(std::strerror(errno));
            return;
        }
        if (count == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    settings::Parsed parsed = settings::parse(bytes);
    if (parsed.error) {
        unreadable(settings::describe(*parsed.error));
        return;
    }
    for (const auto& [key, value] : parsed.values) {
        if (const auto* flag = std::get_if<bool>(&value)) {
            memory_.setBool(*flag, key);
        } else {
            memory_.setInteger(std::get<std::int64_t>(value), key);
        }
    }
}

std::int64_t FileUserDefaults::integerForKey(std::string_view key) const { return memory_.integerForKey(key); }
bool FileUserDefaults::boolForKey(std::string_view key) const { return memory_.boolForKey(key); }

void FileUserDefaults::setInteger(std::int64_t value, std::string_view key) {
    memory_.setInteger(value, key);
    save();
}

void FileUserDefaults::setBool(bool value, std::string_view key) {
    memory_.setBool(value, key);
    save();
}

bool FileUserDefaults::moveAsideUnreadable(std::string& problem) {
    if (!exists(path_)) return true;
    const std::string base = path_ + ".corrupt-" + timestamp();
    std::string backup = base;
    for (int attempt = 2; exists(backup); ++attempt)
        backup = base + "-" + std::to_string(attempt);
    if (std::rename(path_.c_str(), backup.c_str()) != 0) {
        problem = "the unreadable file there could not be moved aside: " + std::string(std::strerror(errno));
        return false;
    }
    report_("kept the unreadable settings file as " + backup + "; new settings go to " + path_);
    return true;
}

void FileUserDefaults::save() {
    saved_ = false;
    const std::string directory = parentOf(path_);
    std::error_code error;
    if (!directory.empty()) std::filesystem::create_directories(directory, error);
    if (error) {
        reportUnwritable("the directory " + directory + " cannot be created: " + error.message());
        return;
    }
    if (keepAside_) {
        std::string problem;
        if (!moveAsideUnreadable(problem)) {
            reportUnwritable(problem);
            return;
        }
        keepAside_ = false;
    }
    removeStaleTemporaries();
    const std::string text = settings::serialize(memory_.values());
    // QSaveFile writes a temporary file beside the target and renames it
    // over the target on commit, so a crash never leaves half a file.
    // Unbuffered, so that a full disk fails the write itself: buffered, Qt
    // finds out only while committing and still renames an empty file over
    // the settings.
    QSaveFile file(QFile::decodeName(QByteArray::fromStdString(path_)));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        reportUnwritable(file.errorString().toStdString());
        return;
    }
    if (file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
        !file.commit()) {
        // The temporary file goes with `file`; the saved one stays as it was.
        reportUnwritable(file.errorString().toStdString());
        return;
    }
    saved_ = true;
    // A later failure is news again.
    saidUnwritable_ = false;
}

void FileUserDefaults::removeStaleTemporaries() {
    // What a save interrupted by a crash left: "<name>.XXXXXX". Only one
    // Quellan runs per user and display, so no other save is under way.
    const std::filesystem::path target(path_);
    const std::string prefix = target.filename().string() + ".";
    std::error_code error;
    for (std::filesystem::directory_iterator it(target.parent_path(), error), end; !error && it != end;
         it.increment(error)) {
        const std::filesystem::directory_entry& entry = *it;
        const std::string name = entry.path().filename().string();
        const bool temporary = name.size() == prefix.size() + 6 && name.starts_with(prefix) &&
                               std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                                           [](unsigned char c) { return std::isalnum(c) != 0; });
        std::error_code ignored;
        if (temporary && entry.is_regular_file(ignored)) std::filesystem::remove(entry.path(), ignored);
    }
}

void FileUserDefaults::reportUnwritable(const std::string& reason) {
    if (saidUnwritable_) return;
    saidUnwritable_ = true;
    report_("cannot save settings to " + path_ + " (" + reason +
            "); the settings saved before are kept there, this change is kept in memory only until Quellan quits, "
            "and saving is tried again at the next change");
}

std::unique_ptr<platform::UserDefaults> makeUserDefaults(const std::string& path,
                                                         std::function<void(const std::string&)> report) {
    return std::make_unique<FileUserDefaults>(path, std::move(report));
}

std::string settingsPathFor(const char* xdgConfigHome, const char* home) {
    std::string base;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        base = xdgConfigHome;
    } else {
        base = std::string(home != nullptr && home[0] != '\0' ? home : "") + "/.config";
    }
    return base + "/quellan/quellan.conf";
}

std::string defaultSettingsPath() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        // A session without HOME still has an account with a home directory.
        if (const passwd* account = getpwuid(getuid())) home = account->pw_dir;
    }
    return settingsPathFor(std::getenv("XDG_CONFIG_HOME"), home);
}

} // namespace quellan::qt
