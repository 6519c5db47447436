#pragma once
// A real Mosquitto broker for a test (its own folder, config and free port on 127.0.0.1,
// stopped with the test), and a subscriber that collects what arrives. The subscriber keeps
// a persistent session and the broker its persistence file, so messages published while the
// subscriber reconnects after a broker restart are delivered, not lost by the test itself.
#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <mutex>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace hx::test {

class BrokerProcess {
  public:
    // user/password non-empty: the broker takes that login only.
    explicit BrokerProcess(const QString& user = {}, const QString& password = {});
    ~BrokerProcess();
    // A second listener for mqtts:// on tlsPort(), with a server certificate for 127.0.0.1 and
    // localhost signed by an authority of the test's own (caFile()). Call before start().
    bool useTls();
    bool start();  // on the same port as before, once a port was chosen
    void stop();   // SIGTERM: the broker saves its persistence and ends
    void pause();  // SIGSTOP: connections stay open, nothing is answered
    void resume(); // SIGCONT
    void quiet();  // the broker's log not on stderr (benches)
    int port() const { return port_; }
    int tlsPort() const { return tlsPort_; }
    QString caFile() const { return dir_.filePath(QStringLiteral("ca.crt")); }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(port_); }
    QString folder() const { return dir_.path(); }
    qint64 processId() const { return process_.processId(); }

  private:
    QTemporaryDir dir_;
    QProcess process_;
    int port_ = 0;
    int tlsPort_ = 0;
    QString user_, password_;
};

// In folder: ca.crt and ca.key, an authority made for the test, and server.crt and server.key,
// a certificate it signed for 127.0.0.1 and localhost; made with the openssl command.
bool makeTestCertificates(const QString& folder);

struct ReceivedMessage {
    QString topic;
    QByteArray payload;
    QJsonObject json() const;
};

class Subscriber {
  public:
    // Subscribes to filter (QoS 1) on the broker at port.
    Subscriber(int port, const QString& filter);
    ~Subscriber();
    bool waitConnected(int timeoutMs);
    std::vector<ReceivedMessage> messages() const;
    // The (slot, time) of every record message, in order of arrival.
    std::vector<std::pair<int, QString>> records() const;

  private:
    static void onConnect(mosquitto*, void*, int);
    static void onMessage(mosquitto*, void*, const mosquitto_message*);
    mosquitto* mosq_ = nullptr;
    QByteArray filter_;
    mutable std::mutex mutex_;
    std::vector<ReceivedMessage> messages_;
    bool connected_ = false;
};

// The (slot, local ISO time) of every record in the database, in time order.
std::vector<std::pair<int, QString>> recordsInDatabase(const QString& path);
// Each record once, at its first arrival (what a consumer keeps after dropping duplicates).
std::vector<std::pair<int, QString>> withoutRepeats(const std::vector<std::pair<int, QString>>& records);

} // namespace hx::test
