#include "gui/platform/QtEventLoop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <map>
#include <vector>

namespace morvane::platform {
namespace {

class QtEventLoop final : public EventLoop {
public:
    QtEventLoop() : context_(new QObject) {}
    ~QtEventLoop() override {
        for (auto& [id, t] : timers_)
            delete t;
        for (auto& [id, w] : watches_)
            removeNotifiers(w);
        delete context_;
    }

    void post(Callback fn) override {
        QMetaObject::invokeMethod(context_, std::move(fn), Qt::QueuedConnection);
    }

    TimerId addTimer(std::chrono::milliseconds interval, bool repeat, Callback fn) override {
        TimerId id = ++lastId_;
        auto* timer = new QTimer(context_);
        timer->setSingleShot(!repeat);
        timer->setInterval(static_cast<int>(std::max<long long>(0, interval.count())));
        QObject::connect(timer, &QTimer::timeout, context_, [this, id, repeat, fn = std::move(fn)] {
            Callback keep = fn; // the timer may be cancelled inside the call
            if (!repeat) cancelTimer(id);
            keep();
        });
        timers_[id] = timer;
        timer->start();
        return id;
    }

    void cancelTimer(TimerId id) override {
        auto it = timers_.find(id);
        if (it == timers_.end()) return;
        it->second->stop();
        it->second->deleteLater();
        timers_.erase(it);
    }

    WatchId watchFd(int fd, unsigned events, IoCallback fn) override {
        WatchId id = ++lastId_;
        Watch& w = watches_[id];
        w.fd = fd;
        w.callback = std::move(fn);
        w.read = new QSocketNotifier(fd, QSocketNotifier::Read, context_);
        w.write = new QSocketNotifier(fd, QSocketNotifier::Write, context_);
        QObject::connect(w.read, &QSocketNotifier::activated, context_,
                         [this, id] { fire(id, ioRead); });
        QObject::connect(w.write, &QSocketNotifier::activated, context_,
                         [this, id] { fire(id, ioWrite); });
        setWatchEvents(id, events);
        return id;
    }

    void setWatchEvents(WatchId id, unsigned events) override {
        auto it = watches_.find(id);
        if (it == watches_.end()) return;
        it->second.events = events;
        it->second.read->setEnabled(events & ioRead);
        it->second.write->setEnabled(events & ioWrite);
    }

    void unwatch(WatchId id) override {
        auto it = watches_.find(id);
        if (it == watches_.end()) return;
        removeNotifiers(it->second);
        watches_.erase(it);
    }

    void run() override {
        QEventLoop loop;
        loops_.push_back(&loop);
        loop.exec();
        loops_.pop_back();
    }

    void quit() override {
        if (!loops_.empty()) loops_.back()->quit();
    }

    void processEvents(std::chrono::milliseconds maxWait) override {
        auto* dispatcher = QAbstractEventDispatcher::instance();
        if (!dispatcher) return;
        if (maxWait.count() == 0) {
            dispatcher->processEvents(QEventLoop::AllEvents);
            return;
        }
        QTimer wake;
        wake.setSingleShot(true);
        if (maxWait.count() > 0) wake.start(static_cast<int>(maxWait.count()));
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }

private:
    struct Watch {
        int fd = -1;
        unsigned events = 0;
        IoCallback callback;
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    static void removeNotifiers(Watch& w) {
        for (QSocketNotifier* n : {w.read, w.write}) {
            n->setEnabled(false);
            n->deleteLater(); // it may be the one whose signal is running
        }
    }

    void fire(WatchId id, unsigned event) {
        auto it = watches_.find(id);
        if (it == watches_.end() || !(it->second.events & event)) return;
        IoCallback cb = it->second.callback;
        cb(it->second.fd, event);
    }

    QObject* context_;
    std::map<TimerId, QTimer*> timers_;
    std::map<WatchId, Watch> watches_;
    std::vector<QEventLoop*> loops_;
    std::uint64_t lastId_ = 0;
};

} // namespace

std::unique_ptr<EventLoop> makeQtEventLoop() {
    return std::make_unique<QtEventLoop>();
}

} // namespace morvane::platform
