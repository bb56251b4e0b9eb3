#include "service/terminalfilter.h"

namespace lumbrio {

TerminalFilter TerminalFilter::parse(const QString &list, QStringList *invalid)
{
    TerminalFilter filter;
    const QStringList entries = list.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &raw : entries) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty())
            continue;
        filter.m_everybody = false;
        QPair<QHostAddress, int> network = entry.contains(QLatin1Char('/'))
                                               ? QHostAddress::parseSubnet(entry)
                                               : QPair<QHostAddress, int>(QHostAddress(entry), -1);
        if (network.first.isNull()) {
            if (invalid != nullptr)
                invalid->append(entry);
            continue;
        }
        if (network.second < 0)
            network.second = network.first.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
        filter.m_networks.append(network);
    }
    return filter;
}

bool TerminalFilter::allows(const QHostAddress &peer) const
{
    if (m_everybody)
        return true;
    // The listener takes IPv4 terminals on its IPv6 socket as mapped addresses.
    QHostAddress address = peer;
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    if (isV4)
        address = QHostAddress(v4);
    for (const auto &network : m_networks) {
        if (address.isInSubnet(network))
            return true;
    }
    return false;
}

} // namespace lumbrio
