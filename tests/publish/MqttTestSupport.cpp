#include "MqttTestSupport.h"

#include "logging/SqliteRecordStore.h"
#include "publish/Messages.h"
#include "support/ChildSignal.h"
#include "support/SimProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QTest>

#include <mosquitto.h>

#include <csignal>
#include <set>
#include <unistd.h>

namespace hx::test {

BrokerProcess::BrokerProcess(const QString& user, const QString& password)
    : user_(user), password_(password) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setStandardOutputFile(QProcess::nullDevice());
}

BrokerProcess::~BrokerProcess() {
    stop();
}

bool makeTestCertificates(const QString& folder) {
    const auto openssl = [&](const QStringList& arguments) {
        QProcess process;
        process.setWorkingDirectory(folder);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("openssl"), arguments);
        if (process.waitForFinished(30000) && process.exitCode() == 0) return true;
        qWarning("openssl %s: %s", qPrintable(arguments.join(' ')), process.readAll().constData());
        return false;
    };
    const QStringList key{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                          QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    QFile names(QDir(folder).filePath(QStringLiteral("server.ext")));
    if (!names.open(QIODevice::WriteOnly) || names.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n") < 0)
        return false;
    names.close();
    return openssl(QStringList{"req", "-x509"} + key +
                   QStringList{"-keyout", "ca.key", "-out", "ca.crt", "-days", "2", "-subj",
                               "/CN=hx5800 test authority"}) &&
           openssl(QStringList{"req"} + key +
                   QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost"}) &&
           openssl({"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                    "-CAcreateserial", "-out", "server.crt", "-days", "2", "-extfile", "server.ext"});
}

bool BrokerProcess::useTls() {
    tlsPort_ = unusedTcpPort();
    return makeTestCertificates(dir_.path());
}

bool BrokerProcess::start() {
    if (port_ == 0) port_ = unusedTcpPort();
    // "user root": a broker started by root keeps its rights (it would become the user
    // mosquitto, which cannot reach the test's folder); no effect for anyone else.
    QString config =
        QStringLiteral("user root\nlistener %1 127.0.0.1\npersistence true\npersistence_location %2/\n")
            .arg(port_)
            .arg(dir_.path());
    if (tlsPort_ != 0)
        config +=
            QStringLiteral(
                "listener %1 127.0.0.1\ncafile %2/ca.crt\ncertfile %2/server.crt\nkeyfile %2/server.key\n")
                .arg(tlsPort_)
                .arg(dir_.path());
    if (user_.isEmpty()) {
        config += QStringLiteral("allow_anonymous true\n");
    } else {
        const QString passwords = dir_.filePath(QStringLiteral("passwd"));
        if (QProcess::execute(QStringLiteral("mosquitto_passwd"),
                              {QStringLiteral("-b"), QStringLiteral("-c"), passwords, user_, password_}) != 0)
            return false;
        config += QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(passwords);
    }
    QFile file(dir_.filePath(QStringLiteral("mosquitto.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) return false;
    file.close();
    process_.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), file.fileName()});
    if (!process_.waitForStarted(5000)) return false;
    return QTest::qWaitFor(
        [this] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, quint16(port_));
            return socket.waitForConnected(100);
        },
        5000);
}

void BrokerProcess::quiet() {
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.setStandardErrorFile(QProcess::nullDevice());
}

void BrokerProcess::stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) process_.kill(), process_.waitForFinished(2000);
}

void BrokerProcess::pause() {
    hx::test::signalChild(process_, SIGSTOP);
}
void BrokerProcess::resume() {
    hx::test::signalChild(process_, SIGCONT);
}

QJsonObject ReceivedMessage::json() const {
    return QJsonDocument::fromJson(payload).object();
}

Subscriber::Subscriber(int port, const QString& filter) : filter_(filter.toUtf8()) {
    mosquitto_lib_init();
    static int counter = 0;
    const QByteArray id = QStringLiteral("hx-test-sub-%1-%2").arg(::getpid()).arg(++counter).toUtf8();
    mosq_ = mosquitto_new(id.constData(), false, this);
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
    mosquitto_connect_callback_set(mosq_, &Subscriber::onConnect);
    mosquitto_message_callback_set(mosq_, &Subscriber::onMessage);
    mosquitto_connect_async(mosq_, "127.0.0.1", port, 5);
    mosquitto_loop_start(mosq_);
}

Subscriber::~Subscriber() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
}

void Subscriber::onConnect(mosquitto* mosq, void* obj, int rc) {
    auto* self = static_cast<Subscriber*>(obj);
    if (rc != 0) return;
    mosquitto_subscribe(mosq, nullptr, self->filter_.constData(), 1);
    std::lock_guard lock(self->mutex_);
    self->connected_ = true;
}

void Subscriber::onMessage(mosquitto*, void* obj, const mosquitto_message* message) {
    auto* self = static_cast<Subscriber*>(obj);
    std::lock_guard lock(self->mutex_);
    self->messages_.push_back({QString::fromUtf8(message->topic),
                               QByteArray(static_cast<const char*>(message->payload), message->payloadlen)});
}

bool Subscriber::waitConnected(int timeoutMs) {
    // The subscription is acknowledged shortly after the connection; a little grace for it.
    const bool ok = QTest::qWaitFor(
        [this] {
            std::lock_guard lock(mutex_);
            return connected_;
        },
        timeoutMs);
    QTest::qWait(300);
    return ok;
}

std::vector<ReceivedMessage> Subscriber::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<std::pair<int, QString>> Subscriber::records() const {
    std::vector<std::pair<int, QString>> records;
    for (const ReceivedMessage& m : messages())
        if (m.topic.endsWith(QLatin1String("/record"))) {
            const QJsonObject o = m.json();
            records.emplace_back(o.value(QLatin1String("slot")).toInt(),
                                 o.value(QLatin1String("time")).toString());
        }
    return records;
}

std::vector<std::pair<int, QString>> recordsInDatabase(const QString& path) {
    SqliteStoreOptions options;
    options.readOnly = true;
    SqliteRecordStore store(path, options);
    std::vector<std::pair<int, QString>> records;
    store.forEachRecordInTimeOrder([&](const StoredRecord& r) {
        records.emplace_back(r.id, isoTextOfRecord(r));
        return true;
    });
    return records;
}

std::vector<std::pair<int, QString>> withoutRepeats(const std::vector<std::pair<int, QString>>& records) {
    std::set<std::pair<int, QString>> seen;
    std::vector<std::pair<int, QString>> once;
    for (const auto& r : records)
        if (seen.insert(r).second) once.push_back(r);
    return once;
}

} // namespace hx::test
