#pragma once
// TLocalLoad: a local file read into its document a slice at a time on the event loop, so that
// the window paints and answers between slices. The first slice is read at once: a file that
// fits in it is whole when Start returns.

#include "core/editor/SliceLoad.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

namespace morvane::app {

class TLocalLoad : public QObject {
    Q_OBJECT
public:
    // Bytes per slice: a few tens of milliseconds of loading, so the event loop's share of a
    // fast load is negligible and a click waits no longer than that.
    static constexpr std::size_t kSliceBytes = 8u << 20;
    // A slice of a slow disk ends after this long, whatever it has read.
    static constexpr int kSliceMs = 40;
    // Progress shows once a load has taken this long.
    static constexpr int kQuietMs = 500;
    // Tests make loads of small files long: smaller slices, progress from the first one.
    static void SetSlicing(std::size_t sliceBytes, int quietMs);

    TLocalLoad(std::unique_ptr<editor::TSliceLoad> load, QObject* parent);
    ~TLocalLoad() override;

    // Reads the first slice now; the rest follow on the event loop. whole: reads it all now.
    void Start(bool whole = false);
    // Stops reading; onFinished reports Cancelled.
    void Cancel();
    bool Running() const { return load_->Status() == editor::TSliceLoad::State::Reading; }
    const editor::TSliceLoad& Load() const { return *load_; }
    // Whether the load has taken long enough to show its progress.
    bool ProgressDue() const;
    // "Loading big.log: 37%".
    std::string ProgressText() const;

    // After each slice once progress is due.
    std::function<void()> onProgress;
    // Once, when the load is done, failed or cancelled (possibly from within Start).
    std::function<void()> onFinished;

    // Loads running in the whole program.
    static int RunningCount();
    // Runs then once no load is running (at once when none is).
    static void WhenNoneRunning(QObject* context, std::function<void()> then);

private:
    void Slice(bool timed);
    void Finished();

    std::unique_ptr<editor::TSliceLoad> load_;
    QTimer timer_;
    QElapsedTimer started_;
    bool counted_ = false;
};

} // namespace morvane::app
