#include "app/debugtext.h"
#include "app/instanceguard.h"
#include "app/runmode.h"
#include "app/signalwatcher.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

namespace lumbrio {
namespace {

std::string uniqueLockName()
{
    return "lumbrio-test-lock-" + std::to_string(::getpid());
}

TEST(InstanceGuard, SecondHolderIsRefusedUntilTheFirstEnds)
{
    const std::string name = uniqueLockName();
    auto first = std::make_unique<InstanceGuard>(name);
    ASSERT_EQ(first->estado(), InstanceGuard::Estado::Adquirido);
    {
        const InstanceGuard second(name);
        EXPECT_EQ(second.estado(), InstanceGuard::Estado::YaExiste);
    }
    // The refused guard released nothing: the first still holds the name.
    EXPECT_EQ(InstanceGuard(name).estado(), InstanceGuard::Estado::YaExiste);
    first.reset();
    EXPECT_EQ(InstanceGuard(name).estado(), InstanceGuard::Estado::Adquirido);
}

TEST(InstanceGuard, LockIsNotInheritedByChildPrograms)
{
    const std::string name = uniqueLockName() + "-exec";
    const InstanceGuard guard(name);
    ASSERT_EQ(guard.estado(), InstanceGuard::Estado::Adquirido);
    // A child that outlives us must not keep the lock: every socket descriptor of ours is
    // close-on-exec.
    bool sawSocket = false;
    for (int fd = 3; fd < 1024; ++fd) {
        char link[64];
        char target[256] = {};
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        if (::readlink(link, target, sizeof target - 1) > 0 &&
            std::string(target).rfind("socket:", 0) == 0) {
            sawSocket = true;
            EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "descriptor " << fd;
        }
    }
    EXPECT_TRUE(sawSocket);
}

TEST(DebugText, ControlBytesAreNamed)
{
    struct Case
    {
        QString text;
        QString shown;
    };
    const Case cases[] = {
        {QStringLiteral("R\x02"
                        "01|7501\x03"),
         QStringLiteral("R<STX>01|7501<ETX>")},
        {QStringLiteral("\x04\r\n\t\x7f"), QStringLiteral("<EOT><CR><LF><TAB><DEL>")},
        {QString(QChar(0)), QStringLiteral("<NUL>")},
        {QStringLiteral("SE ENVIÓ: JABÓN"), QStringLiteral("SE ENVIÓ: JABÓN")},
        {QString(), QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.shown.toStdString());
        EXPECT_EQ(visibleControls(c.text), c.shown);
    }
}

TEST(DebugText, LineIsWrittenWholeAndFlushed)
{
    std::FILE *out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    writeDebugLine(out, QStringLiteral("SE ENVIÓ:\x02 |\x03\x04"));
    std::rewind(out);
    char buffer[128] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, out);
    std::fclose(out);
    EXPECT_EQ(std::string(buffer, n), "SE ENVIÓ:<STX> |<ETX><EOT>\n");
}

TEST(DebugText, CarriageReturnOfStartMessagesBecomesLineBreak)
{
    EXPECT_EQ(displayText(QStringLiteral("a\r      b")), QStringLiteral("a\n      b"));
}

TEST(RunMode, HeadlessWithoutDisplayOrWhenAsked)
{
    struct Case
    {
        const char *display;
        const char *wayland;
        const char *headless;
        bool expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, true}, {"", "", nullptr, true},
        {":0", nullptr, nullptr, false},   {nullptr, "wayland-0", nullptr, false},
        {":0", nullptr, "1", true},        {":0", nullptr, "0", false},
        {":0", nullptr, "", false},        {nullptr, nullptr, "0", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.display ? c.display : "(unset)") << " "
                                          << (c.wayland ? c.wayland : "(unset)") << " "
                                          << (c.headless ? c.headless : "(unset)"));
        EXPECT_EQ(headlessMode(c.display, c.wayland, c.headless), c.expected);
    }
}

TEST(UnixSignalWatcher, SignalsReachTheEventLoop)
{
    UnixSignalWatcher watcher;
    QSignalSpy spy(&watcher, &UnixSignalWatcher::terminationRequested);
    // Raised before anything waits: the byte waits in the socket pair until the loop runs.
    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_EQ(::raise(SIGINT), 0);
    while (spy.count() < 2)
        ASSERT_TRUE(spy.wait(10000));
    EXPECT_EQ(spy.at(0).at(0).toInt(), SIGTERM);
    EXPECT_EQ(spy.at(1).at(0).toInt(), SIGINT);
}

TEST(UnixSignalWatcher, OnlyOneAtATime)
{
    UnixSignalWatcher watcher;
    EXPECT_THROW(UnixSignalWatcher second, std::logic_error);
}

} // namespace
} // namespace lumbrio
