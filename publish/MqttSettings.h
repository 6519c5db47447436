#pragma once
// Where the publisher sends and as whom, from the environment: off unless HX5800_MQTT names a
// broker. The password comes from a file (HX5800_MQTT_PASSWORD_FILE), never from the command
// line, where every user of the machine could read it.
#include <QString>

#include <optional>

namespace hx {

struct MqttSettings {
    QString host;
    int port = 1883;
    bool tls = false;          // mqtts://
    QString caFile;            // HX5800_MQTT_CA: the authority the broker's certificate must come from
    QString user;              // HX5800_MQTT_USER
    QString password;          // the first line of HX5800_MQTT_PASSWORD_FILE
    QString topicPrefix;       // HX5800_MQTT_TOPIC, or hx5800/<host name>/<module address>
    QString databasePath;      // the recording the records come from; the cursor lives beside it
    int keepAliveSeconds = 15; // the broker counts the program gone after 1.5 times this in silence

    QString brokerText() const { return host + QLatin1Char(':') + QString::number(port); }
};

// nullopt with an empty *error when HX5800_MQTT is not set (publishing off); nullopt with
// *error when it is set but cannot be used (a wrong address, an unreadable password file).
std::optional<MqttSettings> mqttSettingsFromEnvironment(const QString& databasePath, int moduleAddress,
                                                        QString* error);

// "mqtt://host:1883", "mqtts://host" (port 8883): false with *error for anything else.
bool parseBrokerAddress(const QString& text, MqttSettings* settings, QString* error);

} // namespace hx
