#include "barerelay.h"

#include <QTcpSocket>

bool BareRelay::listen() {
    connect(&m_server, &QTcpServer::newConnection, this, &BareRelay::onNewConnection);
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void BareRelay::onNewConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        int index = 0;
        while (index < int(m_peers.size()) && m_peers[index].socket)
            ++index;
        if (index == int(m_peers.size()))
            m_peers.emplace_back();
        m_peers[index].socket = socket;
        m_peers[index].pending.clear();
        connect(socket, &QTcpSocket::readyRead, this, [this, index] { onReadyRead(index); });
        connect(socket, &QTcpSocket::disconnected, this, [this, index, socket] {
            m_peers[index].socket = nullptr;
            socket->deleteLater();
        });
        socket->write("0:8:0\r\n");
    }
}

void BareRelay::onReadyRead(int index) {
    Peer& from = m_peers[index];
    from.pending += from.socket->readAll();
    const QByteArray prefix = QByteArray::number(index) + ':';
    qsizetype start = 0;
    for (qsizetype end; (end = from.pending.indexOf("\r\n", start)) >= 0; start = end + 2) {
        if (end == start)
            continue;
        const QByteArray line = prefix + from.pending.mid(start, end - start + 2);
        for (int i = 0; i < int(m_peers.size()); ++i)
            if (i != index && m_peers[i].socket)
                m_peers[i].socket->write(line);
    }
    from.pending.remove(0, start);
}
