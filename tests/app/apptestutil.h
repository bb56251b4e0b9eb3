#pragma once

#include "dataserver/storetool.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

namespace lumbrio::testing {

/// A temporary folder holding a demo store (Srv_Drel.db) made by the store tool's own code,
/// and a Conf.ini written by the test.
class StoreFolder
{
public:
    StoreFolder()
    {
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        m_storeStatus = runStoreTool({QStringLiteral("demo"), storePath()}, outStream, errStream);
        m_storeMessages = out + err;
    }

    bool storeReady() const { return m_storeStatus == 0; }
    QString storeMessages() const { return m_storeMessages; }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString storePath() const { return path(QStringLiteral("Srv_Drel.db")); }
    QString confPath() const { return path(QStringLiteral("Conf.ini")); }

    /// Writes Conf.ini; BASE defaults to the store beside it.
    void writeConf(const QString &text) const
    {
        QFile file(confPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
    }

private:
    QTemporaryDir m_dir;
    int m_storeStatus = -1;
    QString m_storeMessages;
};

/// A TCP port that was free a moment ago on every address.
inline quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::Any, 0))
        return 0;
    return probe.serverPort();
}

} // namespace lumbrio::testing
