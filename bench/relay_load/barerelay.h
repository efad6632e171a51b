#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpServer>
#include <vector>

class QTcpSocket;

// The reference for the figures: the least a drawing relay can do. It frames
// at "\r\n", puts the sender's index in front and writes the line to every
// other connection: no endpoint arrays, no bookkeeping, no history. Each
// newcomer gets "0:8:0" so that the load clients see a greeting end.
class BareRelay : public QObject {
    Q_OBJECT
public:
    bool listen(); // on 127.0.0.1, a port of the system's choice
    quint16 port() const { return m_server.serverPort(); }

private:
    struct Peer {
        QTcpSocket* socket = nullptr;
        QByteArray pending;
    };
    void onNewConnection();
    void onReadyRead(int index);

    QTcpServer m_server;
    std::vector<Peer> m_peers;
};
