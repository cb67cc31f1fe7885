// The Wayland tests' window source: opens a 300x200 top-level window for
// each title after --app-id NAME, one after the other, each once the last
// is shown (so the last opened has the focus), says "opened TITLE" as each
// is shown, and runs until it is ended.
#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <memory>

namespace {

/// A window titled the first of `titles`, which opens the window of the rest once it is shown.
class Window : public QWidget {
public:
    explicit Window(char** titles) : titles_(titles) {
        setWindowTitle(*titles);
        resize(300, 200);
        show();
    }

protected:
    // Widgets paint only once the compositor has shown their window.
    void paintEvent(QPaintEvent*) override {
        if (titles_ == nullptr) return;
        std::printf("opened %s\n", *titles_);
        std::fflush(stdout);
        if (titles_[1] != nullptr) next_ = std::make_unique<Window>(titles_ + 1);
        titles_ = nullptr;
    }

private:
    char** titles_;
    std::unique_ptr<Window> next_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 4 || QString(argv[1]) != "--app-id") return 2;
    QGuiApplication::setDesktopFileName(argv[2]);
    Window first(argv + 3);
    return application.exec();
}
