#include "line/LineService.h"

#include <QMetaObject>

#include <cstdio>

#include "core/FreshValues.h"
#include "line/LineInstrument.h"
#include "line/LinePoll.h"
#include "link/ModbusLink.h"
#include "publish/MqttSettings.h"

namespace hx::line {

namespace {

// The link's own number for the one line it holds.
constexpr int32_t kLinePort = 1;

} // namespace

LineService::LineService(LineOptions options) : options_(std::move(options)) {
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &LineService::tick);
}

LineService::~LineService() {
    stop();
}

bool LineService::start(QString* why) {
    // The publishers' settings first: a wrong one refuses the start before the line is touched.
    const QString lineName = lineNameOf(options_.portText);
    std::vector<std::optional<MqttSettings>> publishing;
    for (const int address : options_.addresses) {
        QString error;
        publishing.push_back(mqttSettingsFromEnvironment(databasePathOf(options_.dataDir, address), lineName,
                                                         address, &error));
        if (!error.isEmpty()) {
            *why = QStringLiteral("HX5800_MQTT: %1").arg(error);
            return false;
        }
    }
    link_ = std::make_unique<ModbusLink>();
    if (link_->openDevice(kLinePort, options_.device.toStdString(), options_.baudChoice,
                          options_.parityChoice) != 0) {
        const PortStatus status = link_->portStatus(kLinePort);
        *why = QStringLiteral("cannot open %1: %2")
                   .arg(QString::fromStdString(status.device), QString::fromStdString(status.error));
        return false;
    }
    const QString lineText =
        lineName == options_.device ? lineName : QStringLiteral("%1 (%2)").arg(lineName, options_.device);
    for (size_t i = 0; i < options_.addresses.size(); ++i) {
        const int address = options_.addresses[i];
        instruments_.push_back(std::make_unique<LineInstrument>(
            address, databasePathOf(options_.dataDir, address), lineText, publishing[i]));
    }
    startedMs_ = FreshValues::steadyNowMs();
    // The answers cross to this thread as a queued call: the instruments are touched here only.
    poll_ = std::make_unique<LinePoll>(*link_, kLinePort, options_.addresses, [this](const CycleAnswers& a) {
        QMetaObject::invokeMethod(
            this, [this, a] { take(a); }, Qt::QueuedConnection);
    });
    poll_->start();
    timer_.start();
    std::fprintf(stderr, "hx5800-line: recording %zu instrument(s) on %s into %s\n", instruments_.size(),
                 qPrintable(lineText), qPrintable(options_.dataDir));
    return true;
}

void LineService::stop() {
    timer_.stop();
    if (poll_) poll_->stop();
    instruments_.clear();
    poll_.reset();
    link_.reset();
}

void LineService::take(const CycleAnswers& answers) {
    for (const auto& instrument : instruments_)
        if (instrument->address() == answers.address) instrument->take(answers);
}

void LineService::tick() {
    const int64_t now = FreshValues::steadyNowMs();
    for (const auto& instrument : instruments_)
        instrument->tick(now, startedMs_);
}

} // namespace hx::line
