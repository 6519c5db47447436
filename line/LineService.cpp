#include "line/LineService.h"

#include <QMetaObject>

#include <cstdio>

#include "core/FreshValues.h"
#include "line/ClientPdu.h"
#include "line/LineInstrument.h"
#include "line/LinePoll.h"
#include "link/ModbusLink.h"
#include "logging/mscom.h"
#include "publish/MqttSettings.h"

namespace hx::line {

namespace {

// The link's own number for the one line it holds.
constexpr int32_t kLinePort = 1;
// An answer from the last cycle is never older than the record interval.
constexpr int64_t kLongestAnswerAgeMs = 1000;

} // namespace

LineService::LineService(LineOptions options) : options_(std::move(options)) {
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &LineService::tick);
    recordTimer_.setInterval(mscom::kTickMs);
    connect(&recordTimer_, &QTimer::timeout, this, [this] {
        takeArrived();
        for (const auto& instrument : instruments_)
            instrument->recordTick();
    });
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
    // Then the clients' address, which another program (or another line's service) may hold.
    const auto listen = listenAddressOf(options_.listenText);
    server_ = std::make_unique<ModbusTcpServer>([this](ClientRequest request) { serve(std::move(request)); });
    QString error;
    if (!listen || !server_->listen(listen->first, listen->second, &error)) {
        *why = QStringLiteral("--listen %1: %2").arg(options_.listenText, error);
        server_.reset();
        return false;
    }
    link_ = std::make_unique<ModbusLink>();
    // No window waits for this link: a gateway far away gets the time it needs.
    link_->allowRemoteGateways();
    if (link_->openDevice(kLinePort, options_.device.toStdString(), options_.baudChoice,
                          options_.parityChoice) != 0) {
        const PortStatus status = link_->portStatus(kLinePort);
        *why = QStringLiteral("cannot open %1: %2")
                   .arg(QString::fromStdString(status.device), QString::fromStdString(status.error));
        server_.reset();
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
    // The answers wait for this thread: the instruments are touched here only.
    poll_ = std::make_unique<LinePoll>(*link_, kLinePort, options_.addresses, [this](const CycleAnswers& a) {
        const std::lock_guard lock(arrivedMutex_);
        arrived_.push_back(a);
    });
    poll_->start();
    timer_.start();
    recordTimer_.start();
    std::fprintf(stderr, "hx5800-line: recording %zu instrument(s) on %s into %s, clients on %s\n",
                 instruments_.size(), qPrintable(lineText), qPrintable(options_.dataDir),
                 qPrintable(options_.listenText));
    return true;
}

void LineService::stop() {
    timer_.stop();
    recordTimer_.stop();
    server_.reset();
    if (poll_) poll_->stop();
    instruments_.clear();
    poll_.reset();
    link_.reset();
}

void LineService::takeArrived() {
    std::vector<CycleAnswers> arrived;
    {
        const std::lock_guard lock(arrivedMutex_);
        arrived.swap(arrived_);
    }
    for (const CycleAnswers& answers : arrived)
        take(answers);
}

void LineService::take(const CycleAnswers& answers) {
    LastCycle& last = lastCycles_[answers.address];
    last.periodMs = last.answers.atMs > 0 ? answers.atMs - last.answers.atMs : 0;
    last.answers = answers;
    last.current = true;
    for (const auto& instrument : instruments_)
        if (instrument->address() == answers.address) instrument->take(answers);
}

void LineService::tick() {
    takeArrived();
    const int64_t now = FreshValues::steadyNowMs();
    for (const auto& instrument : instruments_)
        instrument->tick(now, startedMs_);
}

LineInstrument* LineService::instrumentAt(int address) const {
    for (const auto& instrument : instruments_)
        if (instrument->address() == address) return instrument.get();
    return nullptr;
}

void LineService::serve(ClientRequest request) {
    takeArrived();
    if (const uint8_t code = checkRequest(request.pdu)) {
        server_->answer(request, exceptionAnswer(request.pdu, code));
        return;
    }
    // An address not on the line is as silent as one that does not answer.
    if (!instrumentAt(request.unit) || !poll_) {
        server_->answer(request, exceptionAnswer(request.pdu, kTargetFailedToRespond));
        return;
    }
    const bool write = isWriteRequest(request.pdu);
    if (const auto last = lastCycles_.find(request.unit); !write && last != lastCycles_.end()) {
        const LastCycle& cycle = last->second;
        const int64_t age = FreshValues::steadyNowMs() - cycle.answers.atMs;
        if (cycle.current && cycle.periodMs > 0 && age < std::min(cycle.periodMs, kLongestAnswerAgeMs)) {
            if (const auto answer = answerFromCycle(request.pdu, cycle.answers)) {
                server_->answer(request, *answer);
                return;
            }
        }
    }
    // On the poll's thread, where the link is; the outcome comes back to this one.
    poll_->submit(
        [this, request, link = link_.get()] {
            const auto answer = link->forward(kLinePort, request.unit, request.pdu);
            const auto failure = link->lastFailure();
            QMetaObject::invokeMethod(
                this, [this, request, answer, failure] { finish(request, answer, failure); },
                Qt::QueuedConnection);
        },
        write);
}

void LineService::finish(const ClientRequest& request, const std::optional<Pdu>& answer,
                         const std::optional<CallFailure>& failure) {
    if (isWriteRequest(request.pdu)) {
        // What the poll brought before the write may no longer be what the instrument shows.
        if (const auto last = lastCycles_.find(request.unit); last != lastCycles_.end())
            last->second.current = false;
        if (LineInstrument* instrument = instrumentAt(request.unit))
            instrument->journal(clientWriteEvent(request.peer, request.pdu, answer, failure));
    }
    if (server_)
        server_->answer(request, answer ? *answer : exceptionAnswer(request.pdu, kTargetFailedToRespond));
}

} // namespace hx::line
