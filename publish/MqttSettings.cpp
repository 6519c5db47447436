#include "MqttSettings.h"

#include <QFile>
#include <QSysInfo>
#include <QUrl>

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

std::optional<MqttSettings> mqttSettingsFromEnvironment(const QString& databasePath, int moduleAddress,
                                                        QString* error) {
    error->clear();
    const QString address = qEnvironmentVariable("HX5800_MQTT");
    if (address.isEmpty()) return std::nullopt;
    MqttSettings settings;
    if (!parseBrokerAddress(address, &settings, error)) return std::nullopt;
    settings.caFile = qEnvironmentVariable("HX5800_MQTT_CA");
    if (settings.tls && !settings.caFile.isEmpty() && !QFile::exists(settings.caFile)) {
        *error = QStringLiteral("找不到 HX5800_MQTT_CA 证书 %1").arg(settings.caFile);
        return std::nullopt;
    }
    settings.user = qEnvironmentVariable("HX5800_MQTT_USER");
    const QString passwordFile = qEnvironmentVariable("HX5800_MQTT_PASSWORD_FILE");
    if (!passwordFile.isEmpty()) {
        QFile file(passwordFile);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("无法读取密码文件 %1: %2").arg(passwordFile, file.errorString());
            return std::nullopt;
        }
        settings.password = QString::fromUtf8(file.readLine()).trimmed();
    }
    settings.topicPrefix = qEnvironmentVariable("HX5800_MQTT_TOPIC");
    while (settings.topicPrefix.endsWith(QLatin1Char('/')))
        settings.topicPrefix.chop(1);
    if (settings.topicPrefix.isEmpty())
        settings.topicPrefix =
            QStringLiteral("hx5800/%1/%2").arg(QSysInfo::machineHostName()).arg(moduleAddress);
    settings.databasePath = databasePath;
    return settings;
}

} // namespace hx
