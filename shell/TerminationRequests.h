#pragma once
// SIGTERM (the desktop logging out, the system shutting down) and SIGINT (Ctrl+C in a
// terminal) as requests to end the application, heard on the main thread, instead of the
// process ending at once in the middle of its work. The handler only writes the signal's
// number into a pipe; everything else happens when the event loop reads it.
#include <QObject>

class QSocketNotifier;

class TerminationRequests : public QObject {
    Q_OBJECT
public:
    // Installs the handlers. Called in main before any thread; signals that come before
    // the event loop runs wait in the pipe and are heard once it does.
    static void install();

    // Tells of the requests on the thread it lives on; made after the application object.
    // Without install() it hears of none.
    explicit TerminationRequests(QObject* parent = nullptr);

signals:
    void requested(int signal);

private:
    void readPipe();
    QSocketNotifier* notifier_ = nullptr;
};

