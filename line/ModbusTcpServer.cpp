#include "line/ModbusTcpServer.h"

#include <QTcpSocket>
#include <QTimer>

#include <cstdio>

namespace hx::line {

namespace {

constexpr int kHeaderBytes = 7; // transaction, protocol (0), length, unit
// The length field counts the unit identifier and the PDU (at most 253 bytes).
constexpr int kLongestLength = 254;

int wordAt(const QByteArray& bytes, int at) {
    return uint8_t(bytes[at]) << 8 | uint8_t(bytes[at + 1]);
}

} // namespace

std::optional<std::pair<QHostAddress, quint16>> listenAddressOf(const QString& text) {
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon <= 0) return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']')) host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    QHostAddress address;
    if (!ok || port < 1 || port > 65535 || !address.setAddress(host)) return std::nullopt;
    return std::pair{address, quint16(port)};
}

ModbusTcpServer::ModbusTcpServer(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
    connect(&server_, &QTcpServer::newConnection, this, &ModbusTcpServer::accept);
}

ModbusTcpServer::~ModbusTcpServer() {
    for (auto& [id, client] : clients_)
        if (client.socket) client.socket->disconnect(this);
}

bool ModbusTcpServer::listen(const QHostAddress& address, quint16 port, QString* why) {
    if (server_.listen(address, port)) return true;
    *why = server_.serverError() == QAbstractSocket::AddressInUseError
               ? QStringLiteral("the address is in use (another program listens there)")
               : server_.errorString();
    return false;
}

void ModbusTcpServer::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        if (clients_.size() >= size_t(kMostClients)) {
            std::fprintf(stderr, "hx5800-line: client %s refused: %d clients already\n",
                         qPrintable(socket->peerAddress().toString()), kMostClients);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const uint64_t id = nextId_++;
        Client& client = clients_[id];
        client.socket = socket;
        socket->setParent(this);
        client.peer = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        client.partial = new QTimer(socket);
        client.partial->setSingleShot(true);
        client.partial->setInterval(kPartialFrameMs);
        client.idle = new QTimer(socket);
        client.idle->setSingleShot(true);
        client.idle->setInterval(kIdleMs);
        client.idle->start();
        connect(client.partial, &QTimer::timeout, this,
                [this, id] { drop(id, "stopped half-way through a request"); });
        connect(client.idle, &QTimer::timeout, this, [this, id] { drop(id, "idle"); });
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { read(id); });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { drop(id, nullptr); });
    }
}

void ModbusTcpServer::read(uint64_t id) {
    const auto it = clients_.find(id);
    if (it == clients_.end() || !it->second.socket) return;
    Client& client = it->second;
    client.buffer += client.socket->readAll();
    client.idle->start();
    while (client.buffer.size() >= kHeaderBytes) {
        const int length = wordAt(client.buffer, 4);
        // A stream that is not Modbus TCP (another protocol, noise) cannot be brought back in
        // step: the client goes.
        if (wordAt(client.buffer, 2) != 0 || length < 2 || length > kLongestLength) {
            drop(id, "sent no Modbus TCP request");
            return;
        }
        if (client.buffer.size() < 6 + length) break;
        if (++client.pending > kMostPending) {
            drop(id, "sent more requests than it waits answers for");
            return;
        }
        ClientRequest request;
        request.client = id;
        request.peer = client.peer;
        request.transaction = uint16_t(wordAt(client.buffer, 0));
        request.unit = uint8_t(client.buffer[6]);
        request.pdu.assign(client.buffer.begin() + kHeaderBytes, client.buffer.begin() + 6 + length);
        client.buffer.remove(0, 6 + length);
        handler_(std::move(request));
        // The handler may have answered and the client gone at once.
        if (!clients_.count(id)) return;
    }
    if (client.buffer.isEmpty())
        client.partial->stop();
    else if (!client.partial->isActive())
        client.partial->start();
}

void ModbusTcpServer::answer(const ClientRequest& request, const Pdu& pdu) {
    const auto it = clients_.find(request.client);
    if (it == clients_.end() || !it->second.socket) return;
    Client& client = it->second;
    --client.pending;
    QByteArray frame;
    frame.reserve(kHeaderBytes + int(pdu.size()));
    const int length = int(pdu.size()) + 1;
    for (const int byte : {request.transaction >> 8, request.transaction & 0xFF, 0, 0, length >> 8,
                           length & 0xFF, int(request.unit)})
        frame.append(char(byte));
    frame.append(reinterpret_cast<const char*>(pdu.data()), qsizetype(pdu.size()));
    client.socket->write(frame);
    if (client.socket->bytesToWrite() > kMostUnread) drop(request.client, "reads no answers");
}

void ModbusTcpServer::drop(uint64_t id, const char* why) {
    const auto it = clients_.find(id);
    if (it == clients_.end()) return;
    QPointer<QTcpSocket> socket = it->second.socket;
    if (why) std::fprintf(stderr, "hx5800-line: client %s dropped: %s\n", qPrintable(it->second.peer), why);
    clients_.erase(it);
    if (!socket) return;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

} // namespace hx::line
