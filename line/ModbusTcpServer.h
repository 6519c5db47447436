#pragma once
// The line service's Modbus TCP side: clients (the windows, hx5800-config, any Modbus TCP
// master) connect and send requests framed with the MBAP header; the unit identifier names the
// instrument. The server only frames: each whole request goes to the handler, and the handler's
// answer goes back with the request's transaction id.
//
// Hand-written on QTcpServer rather than libmodbus's server calls: it lives on the event loop's
// thread beside the recorders, serves any number of clients at once without a thread each,
// never blocks on a client that stops half-way through a frame, and answers a client when the
// poll's thread is done with its request, in whatever order. The MBAP header is seven bytes.
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "line/ClientPdu.h"

class QTcpSocket;
class QTimer;

namespace hx::line {

struct ClientRequest {
    uint64_t client = 0; // the connection's own number, never used again
    QString peer;        // "127.0.0.1:53122"
    uint16_t transaction = 0;
    uint8_t unit = 0;
    Pdu pdu;
};

// ADDR:PORT ("127.0.0.1:1502", "[::1]:1502", "0.0.0.0:1502"); nullopt when it is not one.
std::optional<std::pair<QHostAddress, quint16>> listenAddressOf(const QString& text);

class ModbusTcpServer : public QObject {
    Q_OBJECT
  public:
    using Handler = std::function<void(ClientRequest)>;
    explicit ModbusTcpServer(Handler handler, QObject* parent = nullptr);
    ~ModbusTcpServer() override;

    // false with *why when the address cannot be listened on (in use, not this machine's).
    bool listen(const QHostAddress& address, quint16 port, QString* why);
    quint16 port() const { return server_.serverPort(); }

    // The answer to `request`; dropped when its client went meanwhile.
    void answer(const ClientRequest& request, const Pdu& pdu);

    // A client that stops half-way through a request this long, or sends nothing for
    // kIdleMs, is dropped; so is one with more than kMostPending requests unanswered (a flood)
    // or kMostUnread bytes of answers it does not read.
    static constexpr int kPartialFrameMs = 2000;
    static constexpr int kIdleMs = 60000;
    static constexpr int kMostPending = 8;
    static constexpr qint64 kMostUnread = 64 * 1024;
    static constexpr int kMostClients = 32;

  private:
    struct Client {
        QPointer<QTcpSocket> socket;
        QString peer;
        QByteArray buffer;
        int pending = 0;
        QTimer* partial = nullptr; // runs while a frame is half-way in
        QTimer* idle = nullptr;
    };
    void accept();
    void read(uint64_t id);
    void drop(uint64_t id, const char* why);

    QTcpServer server_;
    Handler handler_;
    std::map<uint64_t, Client> clients_;
    uint64_t nextId_ = 1;
};

} // namespace hx::line
