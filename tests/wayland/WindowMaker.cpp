// The Wayland tests' window source: opens a 300x200 top-level window for
// each title after --app-id NAME, one after the other, each once the last
// is shown (so the last opened has the focus), says "opened TITLE" as each
// is shown, and runs until it is ended.
#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace {

class Window : public QWidget {
public:
    Window(const QString& title, std::function<void()> shown) : shown_(std::move(shown)) {
        setWindowTitle(title);
        resize(300, 200);
    }

protected:
    bool event(QEvent* event) override {
        // Widgets paint only once the compositor has shown their window.
        if (event->type() == QEvent::Paint && shown_) {
            std::printf("opened %s\n", windowTitle().toUtf8().constData());
            std::fflush(stdout);
            std::exchange(shown_, {})();
        }
        return QWidget::event(event);
    }

private:
    std::function<void()> shown_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 3 || QString(argv[1]) != "--app-id") return 2;
    QGuiApplication::setDesktopFileName(argv[2]);
    std::vector<std::unique_ptr<Window>> windows;
    std::function<void(int)> openFrom = [&](int index) {
        if (index >= argc) return;
        windows.push_back(std::make_unique<Window>(argv[index], [&, index] { openFrom(index + 1); }));
        windows.back()->show();
    };
    openFrom(3);
    return application.exec();
}
