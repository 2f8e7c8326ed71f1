#include "gui/app/LocalLoad.h"

#include <QPointer>

#include <algorithm>

#include <utility>
#include <vector>

namespace morvane::app {

namespace {
int running = 0;
std::size_t sliceBytes = TLocalLoad::kSliceBytes;
int quietMs = TLocalLoad::kQuietMs;
std::vector<std::pair<QPointer<QObject>, std::function<void()>>> waiting;

void runWaiting() {
    auto list = std::exchange(waiting, {});
    for (auto& [context, then] : list)
        if (context) QTimer::singleShot(0, context.data(), then);
}
} // namespace

TLocalLoad::TLocalLoad(std::unique_ptr<editor::TSliceLoad> load, QObject* parent)
    : QObject(parent), load_(std::move(load)) {
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, [this] { Slice(true); });
    started_.start();
    ++running;
    counted_ = true;
}

TLocalLoad::~TLocalLoad() {
    onFinished = nullptr;
    load_->Cancel();
    if (std::exchange(counted_, false) && --running == 0) runWaiting();
}

void TLocalLoad::SetSlicing(std::size_t bytes, int quiet) {
    sliceBytes = bytes;
    quietMs = quiet;
}

bool TLocalLoad::ProgressDue() const {
    return started_.elapsed() >= quietMs;
}

int TLocalLoad::RunningCount() {
    return running;
}

void TLocalLoad::WhenNoneRunning(QObject* context, std::function<void()> then) {
    waiting.emplace_back(context, std::move(then));
    if (running == 0) runWaiting();
}

std::string TLocalLoad::ProgressText() const {
    std::string text = "Loading " + load_->Name() + ": ";
    if (load_->Size() == 0) return text + editor::SizeText(load_->BytesRead());
    return text + std::to_string(load_->Percent()) + "%";
}

void TLocalLoad::Start(bool whole) {
    if (whole) {
        while (load_->Step(sliceBytes)) {
        }
        Finished();
        return;
    }
    Slice(false);
    if (Running()) timer_.start();
}

void TLocalLoad::Cancel() {
    if (!Running()) return;
    load_->Cancel();
    Finished();
}

// A slice ends after its bytes, or on a slow disk after its time; the first one (timed false)
// only after its bytes, so that whether a small file is whole at once does not depend on the
// machine's speed.
void TLocalLoad::Slice(bool timed) {
    QElapsedTimer clock;
    clock.start();
    const std::size_t kStep = std::min<std::size_t>(1u << 20, sliceBytes);
    std::size_t done = 0;
    bool more = true;
    while (more && done < sliceBytes && !(timed && clock.elapsed() >= kSliceMs)) {
        more = load_->Step(kStep);
        done += kStep;
    }
    if (more) {
        if (ProgressDue() && onProgress) onProgress();
        return;
    }
    Finished();
}

void TLocalLoad::Finished() {
    timer_.stop();
    if (std::exchange(counted_, false)) --running;
    // Whoever waits for loads hears after the document has dealt with its own.
    if (auto then = std::exchange(onFinished, nullptr)) then();
    if (running == 0) runWaiting();
}

} // namespace morvane::app
