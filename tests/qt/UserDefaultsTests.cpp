#include "Platform/qt/FileUserDefaults.hpp"
#include "Platform/qt/QtDesktop.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quellan::qt {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<fs::path> backupsIn(const fs::path& directory) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(directory)) {
        if (entry.path().filename().string().starts_with("quellan.conf.corrupt-")) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

class UserDefaultsFile : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quellan-defaults-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        directory_ = root_ / "config" / "quellan";
        path_ = directory_ / "quellan.conf";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(root_, fs::perms::owner_all, ignored);
        fs::remove_all(root_, ignored);
    }
    std::unique_ptr<FileUserDefaults> open() {
        return std::make_unique<FileUserDefaults>(path_.string(),
                                                  [this](const std::string& line) { messages_.push_back(line); });
    }

    fs::path root_, directory_, path_;
    std::vector<std::string> messages_;
};

TEST_F(UserDefaultsFile, MissingFileGivesDefaultsAndTheFirstChangeCreatesIt) {
    auto defaults = open();
    EXPECT_EQ(defaults->integerForKey("WindowLimit"), 0);
    EXPECT_FALSE(defaults->boolForKey("LaunchAtLogin"));
    EXPECT_FALSE(fs::exists(path_)) << "reading alone must not write";
    defaults->setInteger(4, "WindowLimit");
    EXPECT_TRUE(defaults->saved());
    EXPECT_TRUE(fs::exists(path_));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(UserDefaultsFile, EveryChangeReachesTheFileAtOnce) {
    auto writer = open();
    writer->setInteger(7, "WindowLimit");
    writer->setBool(true, "LaunchAtLogin");
    writer->setInteger(-3, "Offset");
    EXPECT_EQ(open()->integerForKey("WindowLimit"), 7);
    writer->setInteger(2, "WindowLimit");
    writer->setBool(false, "LaunchAtLogin");

    auto reader = open();
    EXPECT_EQ(reader->integerForKey("WindowLimit"), 2);
    EXPECT_FALSE(reader->boolForKey("LaunchAtLogin"));
    EXPECT_EQ(reader->integerForKey("Offset"), -3);
    // Mixed reads convert as the in-memory defaults do.
    writer->setBool(true, "Flag");
    EXPECT_EQ(open()->integerForKey("Flag"), 1);
    EXPECT_TRUE(open()->boolForKey("Offset"));
    // Written through a temporary file renamed over the old one: none is left behind.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory_))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"quellan.conf"});
    EXPECT_TRUE(messages_.empty());
}

struct Unreadable {
    const char* name;
    std::function<void(const fs::path& path)> make;
    // The kept file's content, to compare after the move; none for a directory.
    std::optional<std::string> content;
};

void PrintTo(const Unreadable& unreadable, std::ostream* out) { *out << unreadable.name; }

class CorruptSettings : public UserDefaultsFile, public ::testing::WithParamInterface<Unreadable> {};

// Defaults from whatever is there, and that thing kept, byte for byte,
// beside the new file the first change writes.
TEST_P(CorruptSettings, GiveDefaultsAndAreKeptAsideAtTheFirstChange) {
    fs::create_directories(directory_);
    GetParam().make(path_);

    auto defaults = open();
    EXPECT_EQ(defaults->integerForKey("WindowLimit"), 0);
    EXPECT_FALSE(defaults->boolForKey("LaunchAtLogin"));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find(path_.string()), std::string::npos) << messages_[0];
    EXPECT_TRUE(backupsIn(directory_).empty()) << "nothing moves before a change";

    defaults->setInteger(5, "WindowLimit");
    EXPECT_TRUE(defaults->saved());
    const auto backups = backupsIn(directory_);
    ASSERT_EQ(backups.size(), 1u);
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_NE(messages_[1].find(backups[0].string()), std::string::npos) << messages_[1];
    if (GetParam().content) {
        EXPECT_EQ(readFile(backups[0]), *GetParam().content);
    } else {
        EXPECT_TRUE(fs::is_directory(backups[0]));
        EXPECT_EQ(readFile(backups[0] / "inside"), "kept");
    }
    auto reopened = open();
    EXPECT_EQ(reopened->integerForKey("WindowLimit"), 5);
    EXPECT_EQ(messages_.size(), 2u) << "the new file reads cleanly";
    // Only the first change moves anything.
    defaults->setInteger(6, "WindowLimit");
    EXPECT_EQ(backupsIn(directory_).size(), 1u);
}

const std::string kGarbage("\x7f"
                           "ELF\x02\x01\x01\0\0\0garbage\xff\xfe",
                           19);

INSTANTIATE_TEST_SUITE_P(
    Kinds, CorruptSettings,
    ::testing::Values(Unreadable{"Garbage", [](const fs::path& path) { writeFile(path, kGarbage); }, kGarbage},
                      Unreadable{"Directory",
                                 [](const fs::path& path) {
                                     fs::create_directory(path);
                                     writeFile(path / "inside", "kept");
                                 },
                                 std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// Runs `body` where the file's permissions count: as another user when the
// tests run as root, who may read anything. Returns the body's verdict.
bool withoutPrivileges(const fs::path& root, const std::function<bool()>& body) {
    if (geteuid() != 0) return body();
    fs::permissions(root, fs::perms::all, fs::perm_options::replace);
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_directory()) fs::permissions(entry.path(), fs::perms::all, fs::perm_options::replace);
    }
    const pid_t child = fork();
    if (child == 0) {
        const uid_t nobody = 65534;
        if (setresgid(nobody, nobody, nobody) != 0 || setresuid(nobody, nobody, nobody) != 0) _exit(2);
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(UserDefaultsFile, FileWithoutReadPermissionGivesDefaultsAndIsKept) {
    fs::create_directories(directory_);
    writeFile(path_, "WindowLimit = 3\n");
    fs::permissions(path_, fs::perms::none, fs::perm_options::replace);
    const bool behaved = withoutPrivileges(root_, [&] {
        std::vector<std::string> lines;
        FileUserDefaults defaults(path_.string(), [&](const std::string& line) { lines.push_back(line); });
        const bool defaulted = defaults.integerForKey("WindowLimit") == 0 && lines.size() == 1 &&
                               lines[0].find("Permission denied") != std::string::npos;
        defaults.setInteger(8, "WindowLimit");
        return defaulted && defaults.saved() && lines.size() == 2;
    });
    EXPECT_TRUE(behaved);
    const auto backups = backupsIn(directory_);
    ASSERT_EQ(backups.size(), 1u);
    fs::permissions(backups[0], fs::perms::owner_read, fs::perm_options::add);
    EXPECT_EQ(readFile(backups[0]), "WindowLimit = 3\n");
    EXPECT_EQ(open()->integerForKey("WindowLimit"), 8);
}

TEST_F(UserDefaultsFile, SecondCorruptionInTheSameSecondKeepsBothFiles) {
    fs::create_directories(directory_);
    writeFile(path_, "first\n");
    open()->setBool(true, "A");
    writeFile(path_, "second\n");
    open()->setBool(true, "B");
    const auto backups = backupsIn(directory_);
    ASSERT_EQ(backups.size(), 2u);
    std::vector<std::string> contents{readFile(backups[0]), readFile(backups[1])};
    std::sort(contents.begin(), contents.end());
    EXPECT_EQ(contents, (std::vector<std::string>{"first\n", "second\n"}));
}

TEST_F(UserDefaultsFile, UnwritablePlaceKeepsSettingsInMemoryAndSaysSoOnce) {
    // A file where the directory should be: nothing can be created there.
    fs::create_directories(root_ / "config");
    writeFile(root_ / "config" / "quellan", "not a directory\n");
    auto defaults = open();
    EXPECT_TRUE(messages_.empty()) << "a missing file is no fault";
    defaults->setInteger(4, "WindowLimit");
    defaults->setBool(true, "LaunchAtLogin");
    EXPECT_FALSE(defaults->saved());
    EXPECT_EQ(defaults->integerForKey("WindowLimit"), 4);
    EXPECT_TRUE(defaults->boolForKey("LaunchAtLogin"));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find("memory"), std::string::npos) << messages_[0];
    EXPECT_EQ(readFile(root_ / "config" / "quellan"), "not a directory\n");
}

TEST(SettingsPath, FollowsXdgConfigHomeOnlyWhenAbsolute) {
    EXPECT_EQ(settingsPathFor("/xdg", "/home/ada"), "/xdg/quellan/quellan.conf");
    EXPECT_EQ(settingsPathFor(nullptr, "/home/ada"), "/home/ada/.config/quellan/quellan.conf");
    EXPECT_EQ(settingsPathFor("", "/home/ada"), "/home/ada/.config/quellan/quellan.conf");
    EXPECT_EQ(settingsPathFor("relative/dir", "/home/ada"), "/home/ada/.config/quellan/quellan.conf");
    const std::string saved = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    setenv("XDG_CONFIG_HOME", "/somewhere/else", 1);
    EXPECT_EQ(defaultSettingsPath(), "/somewhere/else/quellan/quellan.conf");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(defaultSettingsPath(), settingsPathFor(nullptr, std::getenv("HOME")));
    if (!saved.empty()) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

} // namespace
} // namespace quellan::qt
