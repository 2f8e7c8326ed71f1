// Shows one window, prints the wall-clock time of its first paint in microseconds, and quits.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>

class Window : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        if (painted_) return;
        painted_ = true;
        auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
        std::printf("%lld first-paint\n", static_cast<long long>(us));
        std::fflush(stdout);
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }

private:
    bool painted_ = false;
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Window w;
    w.resize(619, 497);
    w.show();
    return app.exec();
}
