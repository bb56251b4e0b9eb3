#pragma once

#include <QObject>

class QSocketNotifier;

namespace lumbrio {

/// Turns SIGTERM and SIGINT into a signal on the event loop. The handler itself only writes one
/// byte to a socket pair; everything else happens in the loop, so the normal shutdown order runs.
/// A signal that arrives before the loop runs waits in the socket pair until it does.
class UnixSignalWatcher final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UnixSignalWatcher)

public:
    /// Installs the handlers; only one watcher may exist in a process.
    explicit UnixSignalWatcher(QObject *parent = nullptr);
    ~UnixSignalWatcher() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace lumbrio
