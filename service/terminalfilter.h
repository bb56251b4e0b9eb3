#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace lumbrio {

/// Which peer addresses may talk to the server: a comma-separated list of addresses and
/// networks (192.168.1.20, 192.168.1.0/24, fd00::/8). An empty list allows every address.
class TerminalFilter
{
public:
    /// Parses the list; entries that are neither an address nor a network are returned in
    /// invalid and allow nothing, so a mistyped list never lets everybody in.
    static TerminalFilter parse(const QString &list, QStringList *invalid = nullptr);

    bool allows(const QHostAddress &peer) const;

private:
    bool m_everybody = true;
    QList<QPair<QHostAddress, int>> m_networks;
};

} // namespace lumbrio
