#include "app/signalwatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace lumbrio {
namespace {

int g_signalFds[2] = {-1, -1}; // [0] written by the handler, [1] read by the loop

void onTerminationSignal(int signalNumber)
{
    const int saved = errno;
    const char byte = static_cast<char>(signalNumber);
    // Nothing but write() is safe here; a full pipe only means a signal is already pending.
    [[maybe_unused]] const ssize_t n = ::write(g_signalFds[0], &byte, 1);
    errno = saved;
}

} // namespace

UnixSignalWatcher::UnixSignalWatcher(QObject *parent) : QObject(parent)
{
    if (g_signalFds[0] >= 0)
        throw std::logic_error("UnixSignalWatcher: only one instance per process");
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalFds) != 0)
        throw std::runtime_error("UnixSignalWatcher: socketpair failed");
    ::fcntl(g_signalFds[0], F_SETFL, ::fcntl(g_signalFds[0], F_GETFL) | O_NONBLOCK);

    m_notifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignalWatcher::readSignal);

    struct sigaction sa = {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
}

UnixSignalWatcher::~UnixSignalWatcher()
{
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    delete m_notifier;
    ::close(g_signalFds[0]);
    ::close(g_signalFds[1]);
    g_signalFds[0] = g_signalFds[1] = -1;
}

void UnixSignalWatcher::readSignal()
{
    char byte = 0;
    if (::read(g_signalFds[1], &byte, 1) == 1)
        emit terminationRequested(static_cast<unsigned char>(byte));
}

} // namespace lumbrio
