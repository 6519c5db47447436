#include "MqttSettings.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>
#include <QUrl>

#include <sys/stat.h>

namespace hx {

bool parseBrokerAddress(const QString& text, MqttSettings* settings, QString* error) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) ||
        url.host().isEmpty() || !url.userInfo().isEmpty()) {
        *error = QStringLiteral("HX5800_MQTT 应为 mqtt://主机:端口 或 mqtts://主机:端口: %1").arg(text);
        return false;
    }
    settings->tls = scheme == QLatin1String("mqtts");
    settings->host = url.host();
    settings->port = url.port(settings->tls ? 8883 : 1883);
    return true;
}

bool isPublishableTopic(const QString& prefix) {
    if (prefix.isEmpty() || prefix.contains(QLatin1Char('+')) || prefix.contains(QLatin1Char('#')) ||
        prefix.contains(QChar(0)))
        return false;
    const QStringList levels = prefix.split(QLatin1Char('/'));
    return std::none_of(levels.begin(), levels.end(), [](const QString& level) { return level.isEmpty(); });
}

QString lineTopicName(const QString& line) {
    QString name = line.trimmed();
    if (name.startsWith(QLatin1Char('/'))) name = name.section(QLatin1Char('/'), -1);
    static const QRegularExpression other(QStringLiteral("[^0-9A-Za-z]+"));
    name.replace(other, QStringLiteral("-"));
    while (name.startsWith(QLatin1Char('-')))
        name.remove(0, 1);
    while (name.endsWith(QLatin1Char('-')))
        name.chop(1);
    return name.isEmpty() ? QStringLiteral("line") : name;
}

QByteArray stableClientId(const QString& host, const QString& line, int moduleAddress) {
    const QByteArray key =
        (host + QLatin1Char('\n') + line + QLatin1Char('\n') + QString::number(moduleAddress)).toUtf8();
    return "hx5800" + QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16);
}

std::optional<MqttSettings> mqttSettingsFromEnvironment(const QString& databasePath, const QString& line,
                                                        int moduleAddress, QString* error) {
    error->clear();
    const QString address = qEnvironmentVariable("HX5800_MQTT");
    if (address.isEmpty()) return std::nullopt;
    MqttSettings settings;
    if (!parseBrokerAddress(address, &settings, error)) return std::nullopt;
    // A missing authority file is told by the publisher and looked for again at every attempt.
    settings.caFile = qEnvironmentVariable("HX5800_MQTT_CA");
    settings.user = qEnvironmentVariable("HX5800_MQTT_USER");
    const QString passwordFile = qEnvironmentVariable("HX5800_MQTT_PASSWORD_FILE");
    if (!passwordFile.isEmpty()) {
        QFile file(passwordFile);
        struct stat info {};
        if (!file.open(QIODevice::ReadOnly) || ::fstat(file.handle(), &info) != 0) {
            *error = QStringLiteral("无法读取密码文件 %1: %2").arg(passwordFile, file.errorString());
            return std::nullopt;
        }
        // As ssh refuses a private key others may read.
        if (info.st_mode & (S_IRWXG | S_IRWXO)) {
            *error = QStringLiteral("密码文件 %1 其他用户可读, 未使用 (应只许所有者读写: chmod 600)")
                         .arg(passwordFile);
            return std::nullopt;
        }
        settings.password = QString::fromUtf8(file.readLine()).trimmed();
    }
    const QString host = QSysInfo::machineHostName();
    settings.topicPrefix = qEnvironmentVariable("HX5800_MQTT_TOPIC");
    while (settings.topicPrefix.endsWith(QLatin1Char('/')))
        settings.topicPrefix.chop(1);
    if (qEnvironmentVariableIsEmpty("HX5800_MQTT_TOPIC"))
        settings.topicPrefix =
            QStringLiteral("hx5800/%1/%2/%3").arg(host, lineTopicName(line)).arg(moduleAddress);
    if (!isPublishableTopic(settings.topicPrefix)) {
        *error = QStringLiteral("HX5800_MQTT_TOPIC 不可用 (不得含 + 或 #, 各级不得为空): %1")
                     .arg(settings.topicPrefix);
        return std::nullopt;
    }
    settings.clientId = stableClientId(host, line, moduleAddress);
    if (!settings.tls && !settings.user.isEmpty())
        settings.warning = QStringLiteral("用户名和密码以明文传送 (用 mqtts:// 加密)");
    else if (!settings.tls && !settings.caFile.isEmpty())
        settings.warning = QStringLiteral("HX5800_MQTT_CA 仅用于 mqtts://, 此处未用");
    settings.databasePath = databasePath;
    return settings;
}

} // namespace hx
