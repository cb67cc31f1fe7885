// The Wayland tests' window source. Commands, one a line, on standard input
// or from the file (a FIFO) given with --commands:
//   open TITLE   a 300x200 top-level window; "opened TITLE" once it is shown
//   close TITLE  "closed TITLE"
// and "focused TITLE" whenever one of its windows gains the focus. Its
// windows carry the app_id given with --app-id.
#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <cstdio>
#include <fcntl.h>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>

namespace {

void say(const char* word, const QString& title) {
    std::printf("%s %s\n", word, title.toUtf8().constData());
    std::fflush(stdout);
}

class Window : public QWidget {
public:
    explicit Window(const QString& title) {
        setWindowTitle(title);
        resize(300, 200);
    }

protected:
    bool event(QEvent* event) override {
        // Widgets paint only once the compositor has shown their window.
        if (event->type() == QEvent::Paint && !std::exchange(shown_, true)) say("opened", windowTitle());
        if (event->type() == QEvent::WindowActivate) say("focused", windowTitle());
        return QWidget::event(event);
    }

private:
    bool shown_ = false;
};

} // namespace

int main(int argc, char** argv) {
    QString appId = "quellan-window-maker";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--app-id") appId = argv[i + 1];
        const int commands = std::string(argv[i]) == "--commands" ? open(argv[i + 1], O_RDONLY) : STDIN_FILENO;
        if (commands < 0 || dup2(commands, STDIN_FILENO) < 0) return 2;
    }
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(appId);

    std::map<QString, std::unique_ptr<Window>> windows;
    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        // The end of the commands is the end of the program.
        if (n <= 0) return QApplication::quit();
        pending.append(buffer, static_cast<std::size_t>(n));
        for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            const QString line = QString::fromUtf8(pending.substr(0, end));
            pending.erase(0, end + 1);
            const QString title = line.section(' ', 1);
            if (line.startsWith("open ")) {
                windows[title] = std::make_unique<Window>(title);
                windows[title]->show();
            } else if (line.startsWith("close ") && windows.erase(title) > 0) {
                say("closed", title);
            }
        }
    });
    return application.exec();
}
