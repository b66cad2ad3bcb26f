#pragma once
// Renders the effects screen's preview in the background. Each request carries a snapshot
// taken on the main thread (the preview-sized copy of the photo, never the full photo, and
// the step's size-relative list); requests are numbered, a newer request replaces one not
// yet started, and only the result of the newest request is delivered, on the renderer's
// thread.
//
// A slider drag asks for a picture every few milliseconds: the background thread waits a
// moment for the next request before it ends, and meanwhile keeps the filter engine's
// working memory, so that each picture does not first map and fault in fresh pages.
#include <QImage>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QVariantList>
#include <atomic>
#include <condition_variable>

#include "records/AppliedFilter.h"
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

struct PreviewJob {
    QImage preview;           // the picture to render on (preview-sized)
    QString photoPath;        // the photo's file, for effects that read its dates
    QString filterName;       // empty: the picture is shown as it is
    QVariantList parameters;  // size-relative, as a stored step keeps them
    QList<AppliedFilter> above;  // batch steps drawn over the effect, in order
    double photoScale = 1.0;     // pixels of the photo to one of `preview`
    quint64 generation = 0;   // filled in by request()
};

class PreviewRenderer : public QObject {
    Q_OBJECT
public:
    // Runs a piece of background work; the default hands it to the renderer's own pool.
    using Executor = std::function<void(std::function<void()>)>;

    explicit PreviewRenderer(QObject* parent = nullptr);
    ~PreviewRenderer() override;

    // Tests pass an executor that runs the work at once, on the calling thread (which then
    // never waits for a next request).
    void setExecutor(Executor executor) {
        executor_ = std::move(executor);
        lingerMs_ = 0;
    }
    // How long the background thread waits for a next request (tests lengthen it).
    void setLinger(int milliseconds) { lingerMs_ = milliseconds; }
    static Executor inlineExecutor() {
        return [](std::function<void()> work) { work(); };
    }

    // Queues a render; returns its number.
    quint64 request(PreviewJob job);
    quint64 latestGeneration() const { return latest_.load(); }
    // Waits until every request is rendered and delivered to the event queue (tests and
    // benchmarks); false on timeout.
    bool waitForIdle(int milliseconds);

    // One render, as the worker does it: the effect applied through the engine.
    static QImage render(const PreviewJob& job);

signals:
    void rendered(const QImage& image, quint64 generation);

private:
    static QImage renderEffects(const PreviewJob& job);
    void drain();
    void deliver(const QImage& image, quint64 generation);

    Executor executor_;
    std::atomic<int> lingerMs_{1000};  // how long the background thread waits for a next request
    std::atomic<quint64> latest_{0};
    std::mutex mutex_;
    std::condition_variable wake_;  // a request came, or the renderer is going
    std::condition_variable idle_;  // nothing pending and nothing being rendered
    std::optional<PreviewJob> pending_;
    bool busy_ = false;       // drain() is running
    bool rendering_ = false;  // a job is out of pending_ and not yet delivered
    bool stopping_ = false;
    QThreadPool pool_;  // last member: destroyed first, waiting for work that uses the others
};
