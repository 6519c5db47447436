#pragma once
// Where the publisher sends and as whom, from the environment: off unless HX5800_MQTT names a
// broker. The password comes from a file (HX5800_MQTT_PASSWORD_FILE) that only its owner may
// read, never from the command line, where every user of the machine could read it.
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
    QString topicPrefix;       // HX5800_MQTT_TOPIC, or hx5800/<host name>/<line>/<module address>
    QByteArray clientId;       // stable for host, line and address: a restart takes over its session
    QString warning;           // a setting that works but not as one may think (shown, not refused)
    QString databasePath;      // the recording the records come from; the cursor lives beside it
    int keepAliveSeconds = 15; // the broker counts the program gone after 1.5 times this in silence
    // The cursor file is written at most this often while acknowledgements come in: a crash
    // sends the records of at most this span again (writing it every second cost more than
    // everything else the publisher does).
    int cursorWriteSeconds = 5;
    // Publishing switched on for the first time (no event cursor yet): the journal's events
    // after this id go out (those of the program's run so far); nullopt: from now on.
    std::optional<int64_t> firstEventsAfter;

    QString brokerText() const { return host + QLatin1Char(':') + QString::number(port); }
};

// nullopt with an empty *error when HX5800_MQTT is not set (publishing off); nullopt with
// *error when it is set but cannot be used (a wrong address or topic, a password file that
// cannot be read or that others may read). line names the line in topics ("com1", "ttyUSB0",
// "gw-10-0-0-5-502"): two lines on one PC, each with an instrument at address 1, publish apart.
std::optional<MqttSettings> mqttSettingsFromEnvironment(const QString& databasePath, const QString& line,
                                                        int moduleAddress, QString* error);

// "mqtt://host:1883", "mqtts://host" (port 8883): false with *error for anything else.
bool parseBrokerAddress(const QString& text, MqttSettings* settings, QString* error);
// A topic prefix a publisher may use: levels that are not empty and no wildcard.
bool isPublishableTopic(const QString& prefix);
// A line's name as a topic level: letters, digits and '-' ("/dev/ttyUSB0" → "ttyUSB0",
// "tcp://10.0.0.5:502" → "tcp-10-0-0-5-502").
QString lineTopicName(const QString& line);
// At most 23 letters and digits (what MQTT 3.1.1 promises every broker takes), the same for
// the same host, line and address.
QByteArray stableClientId(const QString& host, const QString& line, int moduleAddress);

} // namespace hx
