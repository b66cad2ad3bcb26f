#pragma once
// What the add-photos screen asks of the world outside it, each behind a small interface
// so tests can stand in: the desktop's file manager, delayed calls on the main thread, and
// the background workers that make thumbnails.
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>
#include <functional>
#include <memory>

#include "import/BatchThumbnails.h"
#include "platform/workspace/Workspace.h"

class QTimer;

// Reveal, show the properties of, and open a file; each answers whether something took
// the request.
class FileManagerService {
public:
    virtual ~FileManagerService() = default;
    virtual bool revealFile(const QString& path) = 0;
    virtual bool showFileInfo(const QString& path) = 0;
    virtual bool openFile(const QString& path) = 0;
};

// The desktop's own services (platform::Workspace): the file manager shows the file or its
// properties, or the folder holding it when no file manager answers; files open with their
// default application.
class DesktopFileManagerService : public FileManagerService {
public:
    explicit DesktopFileManagerService(platform::Workspace& workspace = platform::Workspace::system()) : workspace_(workspace) {}
    bool revealFile(const QString& path) override;
    bool showFileInfo(const QString& path) override;
    bool openFile(const QString& path) override;

private:
    platform::Workspace& workspace_;
};

// Calls run once on the main thread after a delay; scheduling a key again replaces the
// pending call of that key.
class ScreenTimers {
public:
    virtual ~ScreenTimers() = default;
    virtual void schedule(const QString& key, int milliseconds, std::function<void()> work) = 0;
    virtual void cancel(const QString& key) = 0;
};

class QtScreenTimers : public ScreenTimers {
public:
    ~QtScreenTimers() override;
    void schedule(const QString& key, int milliseconds, std::function<void()> work) override;
    void cancel(const QString& key) override;

private:
    QHash<QString, QTimer*> timers_;
};

// A pool of `threads` that hands results to the main thread. The grid and the list have
// one each, of half the CPUs the process may use (at least one), so that both at work keep
// every CPU busy and no more.
class PooledThumbnailWorkers : public ThumbnailWorkers {
public:
    static int threadsForEachView();
    explicit PooledThumbnailWorkers(int threads = threadsForEachView());
    ~PooledThumbnailWorkers() override;
    void run(Job job) override;

private:
    QThreadPool pool_;
    std::unique_ptr<QObject> context_;  // lives on the main thread
};
