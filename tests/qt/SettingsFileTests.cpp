#include "Platform/qt/FileUserDefaults.hpp"
#include "Platform/qt/InstanceLock.hpp"
#include "Platform/qt/QtDesktop.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quellan::qt {
namespace {

namespace fs = std::filesystem;
using settings::Values;
using Stored = platform::InMemoryUserDefaults::Stored;

TEST(SettingsFormat, ReadsWhatItWritesAndRejectsAnythingElseWhole) {
    const Values written{{"", Stored(true)},
                         {"with space = and # and %", Stored(false)},
                         {std::string("nul\0byte", 8), Stored(std::numeric_limits<std::int64_t>::min())},
                         {"\xC3\xA9t\xC3\xA9", Stored(std::numeric_limits<std::int64_t>::max())}};
    EXPECT_EQ(settings::parse(settings::serialize(written)).values, written);

    const struct {
        std::string bytes;
        std::optional<std::size_t> errorLine; // 0: the file as a whole
        Values values;
    } cases[] = {
        {"# by hand\n\nWindowLimit = 4\r\n  ; note\nPaused =\tfalse  \nPlus = +7\n",
         std::nullopt,
         {{"WindowLimit", Stored(std::int64_t{4})}, {"Paused", Stored(false)}, {"Plus", Stored(std::int64_t{7})}}},
        {"", std::nullopt, {}},
        {"WindowLimit = 4\nLaunch", 2, {}},
        {"WindowLimit = 4", 1, {}},
        {"WindowLimit = 4\nPaused = tr\n", 2, {}},
        {"WindowLimit = 4.5\n", 1, {}},
        {"WindowLimit = 9223372036854775808\n", 1, {}},
        {"WindowLimit = 4\nWindowLimit = 5\n", 2, {}},
        {" = 3\n", 1, {}},
        {"Window Limit = 3\n", 1, {}},
        {"Window%zz = 3\n", 1, {}},
        {std::string("Window\0Limit = 3\n", 17), 0, {}},
        {std::string(settings::kMaximumFileSize + 1, '\n'), 0, {}},
    };
    for (const auto& example : cases) {
        const settings::Parsed parsed = settings::parse(example.bytes);
        EXPECT_EQ(parsed.error ? std::optional(parsed.error->line) : std::nullopt, example.errorLine) << example.bytes;
        EXPECT_EQ(parsed.values, example.values) << example.bytes;
    }
}

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quellan-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        path_ = root_ / "config" / "quellan" / "quellan.conf";
    }
    void TearDown() override { fs::remove_all(root_); }
    std::unique_ptr<FileUserDefaults> open() {
        return std::make_unique<FileUserDefaults>(path_.string(),
                                                  [this](const std::string& line) { messages_.push_back(line); });
    }
    // What the backups of unreadable files hold, sorted.
    std::vector<std::string> keptAside() {
        std::vector<std::string> contents;
        for (const auto& entry : fs::directory_iterator(path_.parent_path()))
            if (entry.path().filename().string().starts_with("quellan.conf.corrupt-"))
                contents.push_back(readFile(entry.path()));
        std::sort(contents.begin(), contents.end());
        return contents;
    }

    fs::path root_, path_;
    std::vector<std::string> messages_;
};

TEST_F(SettingsFile, EveryChangeReachesTheFileWhichIsCreatedOnlyByAChange) {
    auto writer = open();
    EXPECT_EQ(writer->integerForKey("WindowLimit"), 0);
    EXPECT_FALSE(fs::exists(path_)) << "reading alone must not write";
    writer->setInteger(7, "WindowLimit");
    EXPECT_TRUE(writer->saved());
    EXPECT_EQ(open()->integerForKey("WindowLimit"), 7);
    writer->setBool(true, "LaunchAtLogin");
    EXPECT_TRUE(open()->boolForKey("LaunchAtLogin"));
    EXPECT_TRUE(messages_.empty());
}

// Defaults from an unreadable file, which is kept byte for byte beside the
// new file the first change writes, even when that happens twice in a second.
TEST_F(SettingsFile, UnreadableFileGivesDefaultsAndIsKeptAsideAtTheFirstChange) {
    fs::create_directories(path_.parent_path());
    const std::string garbage("\x7f\x45LF\0garbage\xff\n", 14); // "\x7fELF" would read as one escape
    std::ofstream(path_, std::ios::binary) << garbage;
    auto defaults = open();
    EXPECT_EQ(defaults->integerForKey("WindowLimit"), 0);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find(path_.string()), std::string::npos) << messages_[0];
    EXPECT_TRUE(keptAside().empty()) << "nothing moves before a change";
    defaults->setInteger(5, "WindowLimit");
    defaults->setInteger(6, "WindowLimit");
    EXPECT_EQ(keptAside(), std::vector<std::string>{garbage});
    EXPECT_EQ(open()->integerForKey("WindowLimit"), 6);

    std::ofstream(path_, std::ios::binary) << "second\n";
    open()->setBool(true, "LaunchAtLogin");
    EXPECT_EQ(keptAside(), (std::vector<std::string>{"second\n", garbage}));
}

TEST_F(SettingsFile, UnwritablePlaceKeepsSettingsInMemoryAndSaysSoOnce) {
    // A file where the folder should be: nothing can be created there.
    fs::create_directories(root_ / "config");
    std::ofstream(path_.parent_path()) << "not a folder\n";
    auto defaults = open();
    defaults->setInteger(4, "WindowLimit");
    defaults->setBool(true, "LaunchAtLogin");
    EXPECT_FALSE(defaults->saved());
    EXPECT_EQ(defaults->integerForKey("WindowLimit"), 4);
    EXPECT_TRUE(defaults->boolForKey("LaunchAtLogin"));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find("memory"), std::string::npos) << messages_[0];
    EXPECT_EQ(readFile(path_.parent_path()), "not a folder\n");
}

// On a real full filesystem (a small tmpfs, which needs root to mount).
TEST_F(SettingsFile, AFullDiskKeepsTheSavedFileSaysSoOnceAndSavesAtTheNextChange) {
    const fs::path folder = path_.parent_path();
    fs::create_directories(folder);
    if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::unique_ptr<const char, int (*)(const char*)> unmount(folder.c_str(), umount);
    auto defaults = open();
    defaults->setInteger(4, "windowLimit");
    const std::string saved = readFile(path_);
    {
        std::ofstream filler(folder / "filler", std::ios::binary);
        for (const std::string block(4096, 'x'); filler.write(block.data(), block.size()) && filler.flush();) {}
    }
    defaults->setInteger(7, "windowLimit");
    EXPECT_EQ(readFile(path_), saved);
    defaults->setBool(true, "inactiveMinimizeEnabled");
    EXPECT_FALSE(defaults->saved());
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find("No space left"), std::string::npos) << messages_[0];

    // Room again, and a save a crash cut short left its temporary file.
    fs::remove(folder / "filler");
    std::ofstream(folder / "quellan.conf.Xy9z8W") << "stale";
    std::ofstream(folder / "quellan.conf.keep") << "someone else's";
    defaults->setInteger(8, "windowLimit");
    EXPECT_TRUE(defaults->saved());
    EXPECT_EQ(open()->integerForKey("windowLimit"), 8);
    EXPECT_TRUE(open()->boolForKey("inactiveMinimizeEnabled"));
    EXPECT_FALSE(fs::exists(folder / "quellan.conf.Xy9z8W"));
    EXPECT_TRUE(fs::exists(folder / "quellan.conf.keep"));
    EXPECT_EQ(messages_.size(), 1u);
}

TEST(SettingsPath, FollowsXdgConfigHomeOnlyWhenAbsolute) {
    EXPECT_EQ(settingsPathFor("/xdg", "/home/ada"), "/xdg/quellan/quellan.conf");
    for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/dir"})
        EXPECT_EQ(settingsPathFor(ignored, "/home/ada"), "/home/ada/.config/quellan/quellan.conf");
}

TEST(InstanceLock, AnUnusableRuntimeFolderFallsBackSoTwoStartsStillMeet) {
    const fs::path folder = fs::temp_directory_path() / ("quellan-lock-" + std::to_string(getpid()));
    fs::create_directories(folder);
    // One that cannot be created, one under a file.
    for (const char* runtime : {"/proc/quellan-none", "/dev/null/run"}) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t first = fork();
        if (first == 0) {
            const auto held = acquireInstanceLock(runtime, ":5", folder.string());
            const char answer = held.lock ? 'y' : 'n';
            (void)!write(ready[1], &answer, 1);
            pause();
            _exit(0);
        }
        char answer = 0;
        ASSERT_EQ(read(ready[0], &answer, 1), 1);
        EXPECT_EQ(answer, 'y') << runtime;
        EXPECT_EQ(acquireInstanceLock(runtime, ":5.0", folder.string()).holder, first) << runtime;
        kill(first, SIGKILL);
        waitpid(first, nullptr, 0);
        close(ready[0]);
        close(ready[1]);
    }
    fs::remove_all(folder);
}

} // namespace
} // namespace quellan::qt
