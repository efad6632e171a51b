#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// Stands in for the relay server in client tests: a drawing listener and a
// text listener on loopback (ports chosen by the system unless given), which
// accept every connection and keep what each connection sent.
class LoopbackPeer {
public:
    struct Channel {
        QTcpServer server;
        QList<QPointer<QTcpSocket>> sockets;
        QByteArray received; // everything received on the latest connection

        bool listen(quint16 port)
        {
            if (!server.listen(QHostAddress::LocalHost, port))
                return false;
            QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
                while (QTcpSocket* socket = server.nextPendingConnection()) {
                    sockets.append(socket);
                    received.clear();
                    QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                     [this, socket] { received += socket->readAll(); });
                }
            });
            return true;
        }
        QTcpSocket* latest() const { return sockets.isEmpty() ? nullptr : sockets.last().data(); }
        int open() const
        {
            int n = 0;
            for (const auto& s : sockets)
                n += s && s->state() == QAbstractSocket::ConnectedState;
            return n;
        }
    };

    Channel drawing;
    Channel text;

    bool listen(quint16 drawingPort = 0, quint16 textPort = 0)
    {
        return drawing.listen(drawingPort) && text.listen(textPort);
    }
    void stop()
    {
        drawing.server.close();
        text.server.close();
    }
    quint16 drawingPort() const { return drawing.server.serverPort(); }
    quint16 textPort() const { return text.server.serverPort(); }
};
