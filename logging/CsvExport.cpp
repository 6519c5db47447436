#include "logging/CsvExport.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "core/Clock.h"
#include "core/CursorFile.h"
#include "logging/SqliteRecordStore.h"

namespace hx {

namespace {

constexpr RecordInstant kSecondsPerDay = 86400;

RecordInstant dayOf(RecordInstant instant) {
    return instant >= 0 ? instant / kSecondsPerDay : (instant - (kSecondsPerDay - 1)) / kSecondsPerDay;
}

QString dayText(RecordInstant day) {
    return dateOfDayNumber(double(day)).toString(Qt::ISODate);
}

void appendTwoDigits(std::string& out, int value) {
    out += char('0' + value / 10);
    out += char('0' + value % 10);
}

// Formats the record lines; the date text is made once per day, not once per record.
class LineFormatter {
  public:
    void append(RecordInstant instant, const StoredRecord& record, std::string& out) {
        const RecordInstant day = dayOf(instant);
        if (day != day_ || dayText_.empty()) {
            day_ = day;
            dayText_ = dayText(day).toStdString();
        }
        const int seconds = int(instant - day * kSecondsPerDay);
        out += dayText_;
        out += 'T';
        appendTwoDigits(out, seconds / 3600);
        out += ':';
        appendTwoDigits(out, seconds / 60 % 60);
        out += ':';
        appendTwoDigits(out, seconds % 60);
        for (float value : record.values) {
            char text[32];
            // The shortest text that reads back as the stored single-precision value.
            const auto result = std::to_chars(text, text + sizeof text, value);
            out += ',';
            out.append(text, result.ptr);
        }
        out += '\n';
    }

  private:
    RecordInstant day_ = 0;
    std::string dayText_;
};

} // namespace

RecordInstant instantOfRecord(double date, double time) {
    const double day = std::isfinite(date) ? std::floor(date) : 0.0;
    return RecordInstant(day) * kSecondsPerDay + secondsOfDayFraction(time);
}

QString isoTextOfInstant(RecordInstant instant) {
    const RecordInstant day = dayOf(instant);
    const QTime time = QTime(0, 0).addSecs(int(instant - day * kSecondsPerDay));
    return dayText(day) + QLatin1Char('T') + time.toString(QStringLiteral("HH:mm:ss"));
}

std::optional<RecordInstant> instantOfIsoText(const QString& text) {
    QString t = text.trimmed();
    if (t.size() > 10 && t[10] == QLatin1Char(' ')) t[10] = QLatin1Char('T');
    QDateTime at;
    if (t.size() == 10) {
        const QDate date = QDate::fromString(t, Qt::ISODate);
        if (date.isValid()) at = QDateTime(date, QTime(0, 0));
    } else {
        at = QDateTime::fromString(t, Qt::ISODate);
    }
    if (!at.isValid()) return std::nullopt;
    // A time with a zone or offset is taken to the local wall-clock time the records carry.
    if (at.timeSpec() != Qt::LocalTime) at = at.toLocalTime();
    return RecordInstant(dayNumberOf(at.date())) * kSecondsPerDay + at.time().msecsSinceStartOfDay() / 1000;
}

bool exportRecords(const QString& databasePath, const ExportRange& range, const CsvSink& sink,
                   ExportSummary* summary, QString* error) {
    SqliteStoreOptions options;
    options.readOnly = true;
    SqliteRecordStore store(databasePath, options);
    if (!store.isOpen()) {
        *error = store.lastError();
        return false;
    }
    *summary = ExportSummary{};
    const std::optional<bool> full = store.hasSlot(kRingSize);
    if (!full) {
        *error = store.lastError();
        return false;
    }
    summary->ringFull = *full;

    LineFormatter formatter;
    std::string line;
    bool sinkRefused = false;
    const bool read = store.forEachRecordInTimeOrder([&](const StoredRecord& record) {
        const RecordInstant instant = instantOfRecord(record.date, record.time);
        if (!summary->oldestInRing) summary->oldestInRing = instant;
        if (!range.contains(instant)) return true;
        line.clear();
        formatter.append(instant, record, line);
        if (!sink(instant, line)) {
            sinkRefused = true;
            return false;
        }
        ++summary->rows;
        summary->last = instant;
        return true;
    });
    if (!read) {
        *error = store.lastError();
        return false;
    }
    if (sinkRefused) {
        *error = QStringLiteral("the output refused a line");
        return false;
    }
    return true;
}

CsvOutput::CsvOutput(const QString& pattern, std::string_view header) : pattern_(pattern), header_(header) {}

CsvOutput::~CsvOutput() {
    closeFile();
}

bool CsvOutput::put(std::string_view text) {
    std::FILE* to = file_ ? file_ : stdout;
    if (std::fwrite(text.data(), 1, text.size(), to) == text.size()) return true;
    error_ = QStringLiteral("cannot write %1: %2")
                 .arg(file_ ? QDir::toNativeSeparators(filePath_) : QStringLiteral("standard output"),
                      QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

bool CsvOutput::closeFile() {
    if (!file_) return true;
    const bool good = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!good && error_.isEmpty())
        error_ = QStringLiteral("cannot write %1: %2")
                     .arg(QDir::toNativeSeparators(filePath_), QString::fromLocal8Bit(std::strerror(errno)));
    return good;
}

bool CsvOutput::openFor(const QString& path) {
    if (!closeFile()) return false;
    filePath_ = path;
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        error_ =
            QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(info.absolutePath()));
        return false;
    }
    file_ = std::fopen(QFile::encodeName(path).constData(), "ab");
    if (!file_) {
        error_ = QStringLiteral("cannot open %1: %2")
                     .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    std::fseek(file_, 0, SEEK_END);
    return std::ftell(file_) > 0 || put(header_);
}

bool CsvOutput::write(RecordInstant instant, std::string_view line) {
    if (pattern_.isEmpty()) {
        if (!headerDone_ && !put(header_)) return false;
        headerDone_ = true;
        return put(line);
    }
    QString path = pattern_;
    if (path.contains(QLatin1String("{date}")))
        path.replace(QLatin1String("{date}"), dayText(dayOf(instant)));
    if ((!file_ || path != filePath_) && !openFor(path)) return false;
    return put(line);
}

bool CsvOutput::finish() {
    if (pattern_.isEmpty()) {
        if (!headerDone_ && !put(header_)) return false;
        headerDone_ = true;
        if (std::fflush(stdout) == 0) return true;
        error_ = QStringLiteral("cannot write standard output: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return closeFile();
}

std::optional<RecordInstant> readLastExported(const QString& path, QString* error) {
    error->clear();
    const CursorLine line = readCursorLine(path);
    if (line.state == CursorLine::State::Missing) return std::nullopt;
    const auto instant =
        line.state == CursorLine::State::Good ? instantOfIsoText(line.text) : std::optional<RecordInstant>();
    if (!instant)
        *error = QStringLiteral("%1 does not hold the date and time of a last export%2")
                     .arg(QDir::toNativeSeparators(path),
                          line.reason.isEmpty() ? QString() : QStringLiteral(" (") + line.reason + ')');
    return instant;
}

bool writeLastExported(const QString& path, RecordInstant instant, QString* error) {
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        *error =
            QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(info.absolutePath()));
        return false;
    }
    return writeCursorLine(path, isoTextOfInstant(instant), error);
}

} // namespace hx
