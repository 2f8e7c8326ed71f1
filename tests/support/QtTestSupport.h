#pragma once
// A QApplication for offscreen GUI tests, and a way to let queued events run.

#include <QApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << '{' << l.join("\", \"").toStdString() << '}';
}

namespace morvane::testing {

inline QApplication& qtApp() {
    static int argc = 1;
    static char name[] = "morvane-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Runs the event loop until done() holds or the time is up; returns done().
template <class Pred> bool processUntil(Pred done, int timeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

inline void settle() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

} // namespace morvane::testing
