#include "Publisher.h"

#include "journal/EventJournal.h"
#include "logging/SqliteRecordStore.h"
#include "publish/ClockTimer.h"
#include "publish/PublishCursor.h"

#include <QFile>
#include <QFileInfo>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace hx {

QString publisherStatusText(const PublisherStatus& status) {
    QString text = QStringLiteral("MQTT: ");
    switch (status.state) {
    case PublisherStatus::State::Connecting:
        text += QStringLiteral("正在连接 ") + status.broker;
        break;
    case PublisherStatus::State::Connected:
        text += QStringLiteral("已连接 ") + status.broker;
        break;
    case PublisherStatus::State::Retrying:
        text += QStringLiteral("连接中断, 正在重试 ") + status.broker;
        break;
    case PublisherStatus::State::Refused:
        text += QStringLiteral("代理拒绝登录 ") + status.broker;
        break;
    }
    if (status.state != PublisherStatus::State::Connected && !status.reason.isEmpty())
        text += QStringLiteral(": ") + status.reason;
    if (status.backlog > 0) text += QStringLiteral("  待发记录 %1 条").arg(status.backlog);
    if (status.overwrittenCount > 0)
        text += QStringLiteral("  (中断过长, %1 条记录发送前已被覆盖)").arg(status.overwrittenCount);
    else if (status.recordsOverwritten)
        text += QStringLiteral("  (中断过长, 部分记录已被覆盖)");
    if (status.cursorDamaged) text += QStringLiteral("  发布位置文件无法读取, 已从最早的记录重发");
    if (!status.cursorError.isEmpty()) text += QStringLiteral("  发布位置无法保存: ") + status.cursorError;
    if (!status.warning.isEmpty()) text += QStringLiteral("  注意: ") + status.warning;
    return text;
}

bool publisherHealthy(const PublisherStatus& status) {
    return status.state == PublisherStatus::State::Connected ||
           status.state == PublisherStatus::State::Connecting;
}

namespace {

// Records handed to the broker and not yet acknowledged, at most.
constexpr size_t kWindow = 200;
// A database that could not be opened or read is tried again this often.
constexpr int kRetrySeconds = 2;
// Acknowledgements left unread while records go out live (one a second) are read this long
// after the last hand-over when no other follows.
constexpr int kLateReadSeconds = 2;
// A failed connection is tried again after 1 s, doubling up to this.
constexpr int kLongestRetrySeconds = 10;
// At the end, the broker's acknowledgement of "offline" is waited for at most this long (the
// cursors are saved after it: all within a second).
constexpr int kFinalWaitMs = 800;

QString connackReason(int rc) {
    switch (rc) {
    case 1:
        return QStringLiteral("协议版本不被接受");
    case 2:
        return QStringLiteral("客户标识被拒绝");
    case 3:
        return QStringLiteral("代理服务不可用");
    case 4:
        return QStringLiteral("用户名或密码错误");
    case 5:
        return QStringLiteral("未获授权");
    default:
        return QString::fromUtf8(mosquitto_connack_string(rc));
    }
}

// Why a connection failed or broke, in the operator's words. error: errno right after the
// failing call, on the thread that made it; detail: libmosquitto's last error message (its
// TLS errors say there what went wrong).
QString errorReason(int rc, int error, const QString& detail = {}) {
    switch (rc) {
    case MOSQ_ERR_ERRNO:
        switch (error) {
        case ECONNREFUSED:
            return QStringLiteral("连接被拒绝 (代理未运行?)");
        case ETIMEDOUT:
            return QStringLiteral("连接超时");
        case EHOSTUNREACH:
        case ENETUNREACH:
            return QStringLiteral("网络不可达");
        case ECONNRESET:
        case EPIPE:
            return QStringLiteral("连接被对方断开");
        default:
            return QString::fromLocal8Bit(std::strerror(error));
        }
    case MOSQ_ERR_CONN_LOST:
        return QStringLiteral("连接丢失");
    case MOSQ_ERR_KEEPALIVE:
        return QStringLiteral("代理无应答");
    case MOSQ_ERR_EAI:
        return QStringLiteral("无法解析主机名");
    case MOSQ_ERR_PROTOCOL:
        return QStringLiteral("协议错误");
    case MOSQ_ERR_TLS:
        if (detail.contains(QLatin1String("certificate verify failed")))
            return QStringLiteral("代理的证书未通过验证 (颁发机构应与 HX5800_MQTT_CA 一致)");
        return QStringLiteral("TLS 错误") + (detail.isEmpty() ? QString() : QStringLiteral(": ") + detail);
    default:
        return QString::fromUtf8(mosquitto_strerror(rc));
    }
}

std::once_flag libraryInit;

} // namespace

// The publisher's own thread: the connection, the ring reader and the cursor.
class PublisherWorker : public QObject {
  public:
    PublisherWorker(Publisher& owner, MqttSettings settings, Clock& clock)
        : owner_(owner), settings_(std::move(settings)), cursorPath_(cursorPathFor(settings_.databasePath)),
          cursorTimer_(clock, settings_.cursorWriteSeconds, this), retryTimer_(clock, kRetrySeconds, this),
          reconnectTimer_(clock, 1, this), lateReadTimer_(clock, kLateReadSeconds, this),
          housekeepingTimer_(new QTimer(this)), journal_(EventJournal::pathBeside(settings_.databasePath)),
          eventCursorPath_(eventCursorPathFor(journal_.path())) {
        cursorTimer_.onDue([this] {
            saveCursor();
            publishStatus();
        });
        retryTimer_.onDue([this] {
            if (!ready_) prepareRing();
            pump();
            updateNotifiers();
        });
        reconnectTimer_.onDue([this] { reconnect(); });
        lateReadTimer_.onDue([this] { service(); });
        // Between messages the keep-alive's ping goes out at most a quarter of it late: well
        // before the broker's patience (one and a half times it) runs out. libmosquitto times
        // the ping on real time, and the broker its patience: this wait is real time too.
        housekeepingTimer_->setInterval(settings_.keepAliveSeconds * 1000 / 4);
        QObject::connect(housekeepingTimer_, &QTimer::timeout, this, [this] { service(); });
        status_.broker = settings_.brokerText();
        status_.warning = settings_.warning;
        if (settings_.clientId.isEmpty())
            settings_.clientId = stableClientId(settings_.host, settings_.topicPrefix, 0);
    }

    ~PublisherWorker() override {
        if (mosq_) mosquitto_destroy(mosq_);
    }

    void begin() {
        std::call_once(libraryInit, [] { mosquitto_lib_init(); });
        saveCursor(); // what the constructor established, written here: not on the windows' thread
        prepareRing();
        setUp();
    }

    // The client and its first attempt. A step that fails (no client, a TLS set-up, an
    // authority file not there yet) is told and tried again, as a failed connection is.
    void setUp() {
        const auto failed = [this](const QString& reason) {
            if (mosq_) mosquitto_destroy(mosq_);
            mosq_ = nullptr;
            setState(PublisherStatus::State::Retrying, reason);
            reconnectTimer_.start(retryDelaySeconds_);
        };
        mosq_ = mosquitto_new(settings_.clientId.constData(), true, this);
        if (!mosq_)
            return failed(QStringLiteral("无法创建客户端: ") + QString::fromLocal8Bit(std::strerror(errno)));
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_max_inflight_messages_set(mosq_, kWindow);
        mosquitto_connect_callback_set(mosq_, &PublisherWorker::onConnect);
        mosquitto_disconnect_callback_set(mosq_, &PublisherWorker::onDisconnect);
        mosquitto_publish_callback_set(mosq_, &PublisherWorker::onPublish);
        mosquitto_log_callback_set(mosq_, &PublisherWorker::onLog);
        const QByteArray will = offlineMessage();
        const QByteArray statusTopic = topic(QStringLiteral("status"));
        mosquitto_will_set(mosq_, statusTopic.constData(), will.size(), will.constData(), 1, true);
        if (!settings_.user.isEmpty())
            mosquitto_username_pw_set(mosq_, settings_.user.toUtf8().constData(),
                                      settings_.password.isEmpty() ? nullptr
                                                                   : settings_.password.toUtf8().constData());
        if (settings_.tls) {
            const QByteArray ca = settings_.caFile.toUtf8();
            if (!ca.isEmpty() && !QFileInfo::exists(settings_.caFile))
                return failed(QStringLiteral("找不到 HX5800_MQTT_CA 证书 ") + settings_.caFile);
            const int rc =
                mosquitto_tls_set(mosq_, ca.isEmpty() ? nullptr : ca.constData(),
                                  ca.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
            if (rc != MOSQ_ERR_SUCCESS)
                return failed(QStringLiteral("TLS 设置失败: ") + errorReason(rc, errno, lastError_));
        }
        // The first attempt may wait for a name lookup: this thread, never the windows'.
        const int rc = mosquitto_connect_async(mosq_, settings_.host.toUtf8().constData(), settings_.port,
                                               settings_.keepAliveSeconds);
        const int error = errno;
        // On the loopback a TLS handshake may already fail here, with its message logged.
        if (rc != MOSQ_ERR_SUCCESS) return attemptFailed(rc, error);
        lastError_.clear();
        watchSocket(true);
    }

    void finish() {
        if (!mosq_) return;
        reconnectTimer_.stop();
        if (connected_) {
            const QByteArray message = offlineMessage();
            const QByteArray statusTopic = topic(QStringLiteral("status"));
            int mid = 0;
            if (mosquitto_publish(mosq_, &mid, statusTopic.constData(), message.size(), message.constData(),
                                  1, true) == MOSQ_ERR_SUCCESS) {
                // The windows wait for this: a second at most for the broker's acknowledgement.
                finalMid_ = mid;
                const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFinalWaitMs);
                while (!finalAcked_ && connected_ && std::chrono::steady_clock::now() < until)
                    if (mosquitto_loop(mosq_, 50, 1) != MOSQ_ERR_SUCCESS) break;
            }
        }
        unwatchSocket();
        mosquitto_disconnect(mosq_);
        mosquitto_loop(mosq_, 0, 1); // the disconnect goes out
        saveCursor();
    }

    void noteRecord(const StoredRecord& record) {
        HandOver handOver(*this);
        if (ready_ && record.id != newest_) ++unacked_;
        newest_ = record.id;
        if (ready_ && unacked_ > kRingSize - 1) ringWentRound(record);
        // The usual case, the record after the last one sent: as the recorder stored it, without
        // reading it back from the ring.
        if (ready_ && connected_ && sent_.size() < kWindow && record.id == sentUpTo_ % kRingSize + 1)
            sendRecord(record);
        pump();
    }

    void setProgramState(const ProgramState& state) {
        if (programState_ && *programState_ == state) return;
        HandOver handOver(*this);
        programState_ = state;
        if (connected_) sendStatus();
    }

    void setAlarmStates(const std::array<bool, kAlarmStates>& states) {
        HandOver handOver(*this);
        for (int i = 0; i < kAlarmStates; ++i) {
            if (alarms_[i] == states[i]) continue;
            alarms_[i] = states[i];
            if (connected_) sendAlarm(i);
        }
    }

    // The journal stored events: those after the last one sent go out.
    void noteEvents() {
        HandOver handOver(*this);
        pumpEvents();
    }

  private:
    struct Sent {
        int mid = 0;
        PublishCursor record;
        bool acked = false;
    };
    struct SentEvent {
        int mid = 0;
        EventCursor event;
        bool acked = false;
    };

    // libmosquitto's callbacks come within its calls on this thread; what they send is queued
    // and goes out when the socket is next writable.
    static void onConnect(mosquitto*, void* obj, int rc) {
        static_cast<PublisherWorker*>(obj)->connected(rc);
    }
    static void onDisconnect(mosquitto*, void* obj, int rc) {
        auto* self = static_cast<PublisherWorker*>(obj);
        const int error = errno;
        self->disconnected(rc, rc == 0 ? QString() : errorReason(rc, error, self->lastError_));
    }
    static void onLog(mosquitto*, void* obj, int level, const char* text) {
        if (level == MOSQ_LOG_ERR) static_cast<PublisherWorker*>(obj)->lastError_ = QString::fromUtf8(text);
    }
    static void onPublish(mosquitto*, void* obj, int mid) {
        auto* self = static_cast<PublisherWorker*>(obj);
        if (mid == self->finalMid_) self->finalAcked_ = true;
        self->acknowledged(mid);
    }

    // The connection runs on this thread, driven by notifiers on libmosquitto's socket: no
    // thread of its own, so a message costs no hand-over between threads, neither going out
    // nor acknowledged.
    void watchSocket(bool renewed = false) {
        const int socket = mosquitto_socket(mosq_);
        if (renewed || socket != socket_) {
            unwatchSocket();
            socket_ = socket;
            if (socket_ < 0) return;
            readable_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Read);
            writable_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Write);
            QObject::connect(readable_.get(), &QSocketNotifier::activated, this, [this] { service(); });
            QObject::connect(writable_.get(), &QSocketNotifier::activated, this, [this] { service(); });
            housekeepingTimer_->start();
        }
        updateNotifiers();
    }

    // While records go out live, one a second, the broker's acknowledgements are not read as
    // they come but with the next hand-over, or 1.5 s after the last one when none follows: a
    // record then wakes this thread once, not twice. They are read as they come while the
    // connection is being made, while more waits for room among the unacknowledged, for the
    // last message, and when nothing awaits an acknowledgement (so a broker that goes away is
    // noticed at once).
    bool promptReads() const {
        return !connected_ || finalMid_ >= 0 || (ready_ && sentUpTo_ != newest_) || eventsHeldBack_ ||
               (sent_.empty() && sentEvents_.empty());
    }

    // A hand-over first reads what the broker sent meanwhile, then sets the notifiers once at
    // its end (each change of one costs the event loop a wake-up of its own).
    struct HandOver {
        explicit HandOver(PublisherWorker& worker) : w(worker) {
            w.handingOver_ = true;
            if (w.readable_ && !w.readable_->isEnabled()) w.service();
        }
        ~HandOver() {
            w.handingOver_ = false;
            w.updateNotifiers();
        }
        HandOver(const HandOver&) = delete;
        HandOver& operator=(const HandOver&) = delete;
        PublisherWorker& w;
    };

    void updateNotifiers() {
        if (handingOver_) return;
        if (readable_) {
            const bool prompt = promptReads();
            readable_->setEnabled(prompt);
            if (prompt)
                lateReadTimer_.stop();
            else
                lateReadTimer_.start(); // again from now: it fires only when the hand-overs stop
        }
        if (writable_) writable_->setEnabled(mosquitto_want_write(mosq_));
    }

    void unwatchSocket() {
        readable_.reset();
        writable_.reset();
        socket_ = -1;
        housekeepingTimer_->stop();
        lateReadTimer_.stop();
    }

    // The socket is readable or writable, or it is time for the keep-alive: libmosquitto does
    // what is due without waiting. After any failure, the fatal ones included (a broker
    // certificate that does not verify is told by no callback), the reason is told and the
    // connection tried again after 1 s, doubling up to 10 s.
    void service() {
        if (socket_ < 0) return;
        const bool wasConnected = connected_;
        const int rc = mosquitto_loop(mosq_, 0, 1);
        const int error = errno;
        if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(mosq_) >= 0) return watchSocket();
        unwatchSocket();
        // Not connected: the failed attempt was told already. Closed without an error (the
        // broker ended the session): the disconnect callback told it.
        if (rc != MOSQ_ERR_NO_CONN && rc != MOSQ_ERR_SUCCESS)
            disconnected(rc, (wasConnected ? QString() : QStringLiteral("无法连接: ")) +
                                 errorReason(rc, error, lastError_));
        lastError_.clear();
        reconnectTimer_.start(retryDelaySeconds_);
    }

    void reconnect() {
        retryDelaySeconds_ = std::min(retryDelaySeconds_ * 2, kLongestRetrySeconds);
        lastError_.clear();
        if (!mosq_) return setUp();
        const int rc = mosquitto_reconnect_async(mosq_);
        const int error = errno;
        if (rc != MOSQ_ERR_SUCCESS) return attemptFailed(rc, error);
        watchSocket(true);
    }

    // An attempt failed at once (a refused connection on the loopback, an unknown host name).
    void attemptFailed(int rc, int error) {
        unwatchSocket();
        disconnected(-1, QStringLiteral("无法连接: ") + errorReason(rc, error, lastError_));
        lastError_.clear();
        reconnectTimer_.start(retryDelaySeconds_);
    }

    QByteArray topic(const QString& leaf) const {
        return (settings_.topicPrefix + QLatin1Char('/') + leaf).toUtf8();
    }

    // Hands a message to the network thread; false when the connection is gone.
    bool send(const QString& leaf, const QByteArray& message, bool retain, int* mid = nullptr) {
        const QByteArray t = topic(leaf);
        const int rc =
            mosquitto_publish(mosq_, mid, t.constData(), message.size(), message.constData(), 1, retain);
        // Written at once when the socket takes it; what it did not take goes when it is writable.
        updateNotifiers();
        return rc == MOSQ_ERR_SUCCESS;
    }

    void sendStatus() {
        // "online" once the program said what its port and instrument are (within a second).
        if (programState_)
            send(QStringLiteral("status"), onlineMessage(*programState_, QDateTime::currentDateTime()), true);
    }
    void sendAlarm(int i) {
        if (alarms_[i])
            send(QStringLiteral("alarm/") + alarmStateName(i),
                 alarmMessage(i, *alarms_[i], QDateTime::currentDateTime()), true);
    }

    void connected(int rc) {
        if (rc != 0) return setState(PublisherStatus::State::Refused, connackReason(rc));
        connected_ = true;
        retryDelaySeconds_ = 1;
        setState(PublisherStatus::State::Connected, {});
        // A fresh session: whatever was in flight goes again, from the last acknowledged record.
        sent_.clear();
        sentUpTo_ = cursor_.slot;
        sendStatus();
        for (int i = 0; i < kAlarmStates; ++i)
            sendAlarm(i);
        sentEvents_.clear();
        eventsSentUpTo_.reset(); // found again from the cursor
        if (status_.overwrittenCount > reportedOverwritten_) {
            reportedOverwritten_ = status_.overwrittenCount;
            owner_.addNotice(
                notice(EventKind::PublishRecordsLost,
                       QStringLiteral("中断过长: %1 条记录在发送前已被覆盖").arg(reportedOverwritten_)));
        }
        pumpEvents();
        pump();
    }

    // rc 0: we disconnected; -1: an attempt failed; else why the connection broke.
    void disconnected(int rc, const QString& reason) {
        connected_ = false;
        sent_.clear();
        sentEvents_.clear();
        // A refused login stays shown; the broken connection after it says nothing new.
        if (status_.state == PublisherStatus::State::Refused && rc > 0) return;
        setState(PublisherStatus::State::Retrying, reason);
    }

    void acknowledged(int mid) {
        const auto it =
            std::find_if(sent_.begin(), sent_.end(), [mid](const Sent& s) { return s.mid == mid; });
        if (it == sent_.end()) return eventAcknowledged(mid);
        it->acked = true;
        bool moved = false;
        while (!sent_.empty() && sent_.front().acked) {
            cursor_ = sent_.front().record;
            sent_.pop_front();
            ++status_.acknowledged;
            if (unacked_ > 0) --unacked_;
            moved = true;
        }
        if (moved) {
            cursorDirty_ = true;
            if (!cursorTimer_.isActive()) cursorTimer_.start();
        }
        pump();
    }

    void eventAcknowledged(int mid) {
        const auto it = std::find_if(sentEvents_.begin(), sentEvents_.end(),
                                     [mid](const SentEvent& s) { return s.mid == mid; });
        if (it == sentEvents_.end()) return;
        it->acked = true;
        while (!sentEvents_.empty() && sentEvents_.front().acked) {
            eventCursor_ = sentEvents_.front().event;
            sentEvents_.pop_front();
            eventCursorDirty_ = true;
        }
        if (eventCursorDirty_ && !cursorTimer_.isActive()) cursorTimer_.start();
        // The journal is read again only when the window held events back.
        if (eventsHeldBack_ && sentEvents_.size() < kWindow / 2) pumpEvents();
    }

    // A cursor that cannot be written stays in memory and is shown; it is tried again.
    void saveCursor() {
        QString error;
        if (cursorDirty_ && writePublishCursor(cursorPath_, cursor_, &error)) cursorDirty_ = false;
        if (eventCursorDirty_ && eventCursor_ && writeEventCursor(eventCursorPath_, *eventCursor_, &error))
            eventCursorDirty_ = false;
        status_.cursorError = error;
        if ((cursorDirty_ || eventCursorDirty_) && !cursorTimer_.isActive()) cursorTimer_.start();
    }

    static JournalEvent notice(EventKind kind, const QString& text) {
        JournalEvent event;
        event.kind = kind;
        event.subject = QStringLiteral("MQTT");
        event.text = text;
        return event;
    }

  public:
    // Where the journal's events go on: after the saved cursor; without one (publishing just
    // switched on), after the newest event now (or the one the settings name), or from the
    // first when there is no journal yet;
    // with a cursor file that cannot be read, from the oldest event the journal holds. Reads
    // only: the file is written on the publisher's thread.
    bool prepareEvents() {
        if (eventCursor_) return true;
        const SavedCursor<EventCursor> saved = readPublishedEventCursor(eventCursorPath_);
        if (saved.cursor) {
            eventCursor_ = *saved.cursor;
            return true;
        }
        if (saved.damaged) {
            eventCursor_ = EventCursor{};
            cursorUnreadable(QStringLiteral("事件"), saved.reason);
        } else {
            auto newest = QFile::exists(journal_.path()) ? journal_.newestId() : std::optional<int64_t>(0);
            if (!newest) return false; // tried again at the next events
            if (settings_.firstEventsAfter) newest = std::min(*newest, *settings_.firstEventsAfter);
            const auto events =
                *newest > 0 ? journal_.after(*newest - 1, 1) : std::optional<std::vector<JournalEvent>>();
            // Its time when the journal still holds it, else the id alone.
            const bool held = events && !events->empty() && events->front().id == *newest;
            eventCursor_ = EventCursor{held ? events->front().at : 0, *newest};
        }
        eventCursorDirty_ = true;
        return true;
    }

  private:
    void cursorUnreadable(const QString& what, const QString& reason) {
        status_.cursorDamaged = true;
        owner_.addNotice(
            notice(EventKind::PublishCursorUnreadable,
                   QStringLiteral("%1发布位置文件无法读取 (%2), 从最早的%1重发").arg(what, reason)));
    }

    // Hands the journal's events after the last one sent to the broker, oldest first, at most
    // kWindow unacknowledged at a time. Where they go on is found from the cursor (by time and
    // id) when publishing (re)starts and whenever the journal was replaced by a new file.
    void pumpEvents() {
        if (!prepareEvents() || !connected_) return;
        eventsHeldBack_ = false;
        while (sentEvents_.size() < kWindow) {
            if (!eventsSentUpTo_ || journal_.generation() != journalGeneration_) {
                eventsSentUpTo_ = journal_.resumeAfter(*eventCursor_);
                if (!eventsSentUpTo_) return;
                journalGeneration_ = journal_.generation();
            }
            const int room = int(kWindow - sentEvents_.size());
            const auto events = journal_.after(*eventsSentUpTo_, room);
            if (!events) return;
            if (journal_.generation() != journalGeneration_) {
                eventsSentUpTo_.reset(); // a new file: its ids count anew
                continue;
            }
            for (const JournalEvent& e : *events) {
                SentEvent sent{0, EventCursor{e.at, e.id}, false};
                if (!send(QStringLiteral("event"),
                          eventMessage(e.id, dateTimeOfEventInstant(e.at),
                                       QString::fromLatin1(kindKey(e.kind)), e.text),
                          false, &sent.mid))
                    return;
                sentEvents_.push_back(sent);
                eventsSentUpTo_ = e.id;
            }
            if (int(events->size()) < room) return; // all there is
        }
        eventsHeldBack_ = true; // the window is full: more may wait
    }

    std::optional<StoredRecord> recordAt(int32_t slot) {
        if (slot < 1) return std::nullopt;
        const auto rows = store_->selectWindow(slot - 1, slot, 1);
        if (rows)
            for (const StoredRecord& r : *rows)
                if (r.id == slot) return r;
        return std::nullopt;
    }

    // The oldest record the ring still holds, as a cursor: the one in the slot after the
    // newest is skipped, it is overwritten within a second.
    PublishCursor oldestLeft() {
        if (!store_->hasSlot(kRingSize).value_or(false)) return PublishCursor{};
        const int32_t slot = newest_ % kRingSize + 1;
        const auto record = recordAt(slot);
        return PublishCursor{slot, record ? instantOfRecord(record->date, record->time) : 0};
    }

    // Opens the ring for reading and finds where publishing goes on: after the cursor when
    // the ring still holds that record, else from the oldest record the ring holds.
    void prepareRing() {
        saveCursor(); // what was acknowledged before the database went away
        sent_.clear();
        SqliteStoreOptions options;
        options.readOnly = true;
        store_ = std::make_unique<SqliteRecordStore>(settings_.databasePath, options);
        const auto pointer = store_ && store_->isOpen() ? store_->readPointer() : std::nullopt;
        if (!pointer || !isRingPointer(pointer->first)) {
            store_.reset();
            retryTimer_.start();
            return;
        }
        newest_ = pointer->first;
        const SavedCursor<PublishCursor> saved = readPublishCursor(cursorPath_);
        if (saved.cursor) {
            const auto record = recordAt(saved.cursor->slot);
            if (saved.cursor->slot == 0 ||
                (record && instantOfRecord(record->date, record->time) == saved.cursor->instant)) {
                cursor_ = *saved.cursor;
            } else {
                // The ring went round since (or the database was replaced): the records after
                // the cursor are gone. Go on from the oldest one left.
                cursor_ = oldestLeft();
                cursorDirty_ = true;
                status_.recordsOverwritten = true;
                owner_.addNotice(notice(EventKind::PublishRecordsLost,
                                        QStringLiteral("中断过长: 部分记录在发送前已被覆盖")));
            }
        } else if (saved.damaged) {
            // Nothing is lost for a damaged cursor: every record the ring holds goes (again).
            cursor_ = oldestLeft();
            cursorDirty_ = true;
            cursorUnreadable(QStringLiteral("记录"), saved.reason);
        } else {
            // Publishing starts now: the records stored before it was switched on are not sent.
            const auto record = recordAt(newest_);
            cursor_ = PublishCursor{newest_, record ? instantOfRecord(record->date, record->time) : 0};
            cursorDirty_ = true;
        }
        saveCursor();
        unacked_ = (newest_ - cursor_.slot + kRingSize) % kRingSize;
        sentUpTo_ = cursor_.slot;
        ready_ = true;
        publishStatus();
    }

    // The broker has been away longer than the ring: the record just stored overwrote the
    // oldest one not yet acknowledged. Publishing goes on from the oldest record left; the
    // lost ones are counted as they go.
    void ringWentRound(const StoredRecord& record) {
        const quint64 lost = quint64(unacked_ - (kRingSize - 1));
        if (status_.overwrittenCount == 0)
            owner_.addNotice(
                notice(EventKind::PublishRecordsLost, QStringLiteral("中断过长: 记录开始在发送前被覆盖")));
        status_.overwrittenCount += lost;
        status_.recordsOverwritten = true;
        unacked_ = kRingSize - 1;
        newest_ = record.id;
        cursor_ = oldestLeft();
        cursorDirty_ = true;
        if (!cursorTimer_.isActive()) cursorTimer_.start();
        sent_.clear(); // what was in flight goes again from there
        sentUpTo_ = cursor_.slot;
    }

    // Hands the records after the last one sent to the broker, oldest first, at most kWindow
    // unacknowledged at a time.
    void pump() {
        if (ready_ && connected_) {
            while (sent_.size() < kWindow && sentUpTo_ != newest_) {
                const int32_t from = sentUpTo_ % kRingSize + 1;
                int32_t to = from <= newest_ ? newest_ : kRingSize;
                to = std::min<int32_t>(to, from + int32_t(kWindow - sent_.size()) - 1);
                auto rows = store_->selectWindow(from - 1, to, to - from + 1);
                if (!rows) {
                    if (!store_->isOpen()) ready_ = false;
                    retryTimer_.start();
                    break;
                }
                std::sort(rows->begin(), rows->end(),
                          [](const StoredRecord& a, const StoredRecord& b) { return a.id < b.id; });
                for (const StoredRecord& r : *rows)
                    if (!sendRecord(r)) {
                        publishStatus();
                        return;
                    }
                sentUpTo_ = to;
            }
        }
        publishStatus();
    }

    bool sendRecord(const StoredRecord& r) {
        Sent sent{0, PublishCursor{r.id, instantOfRecord(r.date, r.time)}, false};
        if (!send(QStringLiteral("record"), recordMessage(r), false, &sent.mid)) return false;
        sent_.push_back(sent);
        sentUpTo_ = r.id;
        return true;
    }

    void setState(PublisherStatus::State state, const QString& reason) {
        status_.state = state;
        status_.reason = reason;
        publishStatus();
    }

    void publishStatus() {
        // Counted, not taken from the slots, which wrap round with the ring. Connected, a record
        // handed over and awaiting its acknowledgement is not waiting (the status line would
        // show "1" for a moment after every record).
        status_.backlog =
            ready_ ? std::max<int32_t>(0, unacked_ - (connected_ ? int32_t(sent_.size()) : 0)) : 0;
        owner_.setStatus(status_);
    }

    Publisher& owner_;
    MqttSettings settings_;
    QString cursorPath_;
    ClockTimer cursorTimer_;
    ClockTimer retryTimer_;
    ClockTimer reconnectTimer_;
    ClockTimer lateReadTimer_;
    QTimer* housekeepingTimer_;
    mosquitto* mosq_ = nullptr;
    std::unique_ptr<RecordStore> store_;
    bool ready_ = false;
    bool connected_ = false;
    PublishCursor cursor_;
    bool cursorDirty_ = false;
    int32_t sentUpTo_ = 0;
    int32_t newest_ = 0;
    int32_t unacked_ = 0; // records stored after the cursor, at most the ring less one
    quint64 reportedOverwritten_ = 0;
    std::deque<Sent> sent_;
    std::optional<ProgramState> programState_;
    std::array<std::optional<bool>, kAlarmStates> alarms_{};
    JournalReader journal_;
    QString eventCursorPath_;
    std::optional<EventCursor> eventCursor_; // the newest event the broker acknowledged
    bool eventCursorDirty_ = false;
    std::optional<int64_t> eventsSentUpTo_; // an id of the journal's current file
    uint64_t journalGeneration_ = 0;
    std::deque<SentEvent> sentEvents_;
    bool eventsHeldBack_ = false; // the window was full when the journal was last read
    PublisherStatus status_;
    std::unique_ptr<QSocketNotifier> readable_;
    std::unique_ptr<QSocketNotifier> writable_;
    int socket_ = -1;
    bool handingOver_ = false;
    int retryDelaySeconds_ = 1;
    QString lastError_; // libmosquitto's last error message, kept until the failure is told
    int finalMid_ = -1;
    bool finalAcked_ = false;
};

Publisher::Publisher(const MqttSettings& settings, Clock& clock)
    : settings_(settings), thread_(std::make_unique<QThread>()) {
    status_.broker = settings_.brokerText();
    status_.warning = settings_.warning;
    worker_ = new PublisherWorker(*this, settings_, clock);
    // Before the thread runs: an event the journal stores from now on goes out.
    worker_->prepareEvents();
    worker_->moveToThread(thread_.get());
    thread_->setObjectName(QStringLiteral("mqtt-publisher"));
    thread_->start();
    QMetaObject::invokeMethod(
        worker_, [w = worker_] { w->begin(); }, Qt::QueuedConnection);
}

Publisher::~Publisher() {
    QMetaObject::invokeMethod(
        worker_,
        [w = worker_] {
            w->finish();
            delete w;
        },
        Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
}

void Publisher::noteRecord(const StoredRecord& record, WriteOutcome outcome) {
    if (outcome == WriteOutcome::Failed) return;
    QMetaObject::invokeMethod(
        worker_, [w = worker_, record] { w->noteRecord(record); }, Qt::QueuedConnection);
}

void Publisher::setProgramState(const ProgramState& state) {
    if (handedState_ == state) return;
    handedState_ = state;
    QMetaObject::invokeMethod(
        worker_, [w = worker_, state] { w->setProgramState(state); }, Qt::QueuedConnection);
}

void Publisher::setAlarmStates(const std::array<bool, kAlarmStates>& states) {
    if (handedAlarms_ == states) return;
    handedAlarms_ = states;
    QMetaObject::invokeMethod(
        worker_, [w = worker_, states] { w->setAlarmStates(states); }, Qt::QueuedConnection);
}

void Publisher::noteEvents() {
    QMetaObject::invokeMethod(
        worker_, [w = worker_] { w->noteEvents(); }, Qt::QueuedConnection);
}

PublisherStatus Publisher::status() const {
    std::lock_guard lock(statusMutex_);
    return status_;
}

void Publisher::setStatus(const PublisherStatus& status) {
    std::lock_guard lock(statusMutex_);
    status_ = status;
}

void Publisher::addNotice(JournalEvent event) {
    std::lock_guard lock(statusMutex_);
    notices_.push_back(std::move(event));
}

std::vector<JournalEvent> Publisher::takeNotices() {
    std::lock_guard lock(statusMutex_);
    return std::exchange(notices_, {});
}

} // namespace hx
