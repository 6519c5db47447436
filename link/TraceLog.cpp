#include "link/TraceLog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <QDateTime>

namespace hx {

uint16_t modbusCrc(std::span<const uint8_t> bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

std::vector<uint8_t> rtuFrame(uint8_t slave, std::span<const uint8_t> pdu) {
    std::vector<uint8_t> frame;
    frame.reserve(pdu.size() + 3);
    frame.push_back(slave);
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    const uint16_t crc = modbusCrc(frame);
    frame.push_back(uint8_t(crc & 0xFF));
    frame.push_back(uint8_t(crc >> 8));
    return frame;
}

std::vector<uint8_t> mbapFrame(uint16_t transactionId, uint8_t unit, std::span<const uint8_t> pdu) {
    const size_t length = pdu.size() + 1; // the unit and the pdu
    std::vector<uint8_t> frame{uint8_t(transactionId >> 8), uint8_t(transactionId), 0,   0,
                               uint8_t(length >> 8),        uint8_t(length),        unit};
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    return frame;
}

std::string hexText(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (uint8_t b : bytes) {
        if (!text.empty()) text += ' ';
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

std::unique_ptr<TraceLog> TraceLog::fromEnvironment() {
    const char* path = std::getenv("HX5800_TRACE");
    if (!path || !*path) return nullptr;
    return std::make_unique<TraceLog>(path);
}

TraceLog::TraceLog(std::string path, int64_t maxBytes) : path_(std::move(path)), maxBytes_(maxBytes) {}

TraceLog::~TraceLog() {
    if (file_) std::fclose(file_);
}

bool TraceLog::open() {
    file_ = std::fopen(path_.c_str(), "a");
    if (!file_) {
        // Commissioning goes on without the log; said once, not tried again.
        std::fprintf(stderr, "hx5800: cannot write the traffic log %s: %s\n", path_.c_str(),
                     std::strerror(errno));
        broken_ = true;
        return false;
    }
    std::fseek(file_, 0, SEEK_END);
    size_ = std::ftell(file_);
    return true;
}

void TraceLog::rotate() {
    std::fclose(file_);
    file_ = nullptr;
    const std::string older = path_ + ".1";
    std::rename(path_.c_str(), older.c_str());
}

void TraceLog::transaction(std::span<const uint8_t> request, Answer kind, std::span<const uint8_t> answer,
                           std::string_view outcome, std::chrono::microseconds took) {
    std::string line = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toStdString();
    line += "\treq ";
    line += hexText(request);
    line += "\tans ";
    line += kind == Answer::Frame ? hexText(answer) : kind == Answer::None ? "-" : "?";
    line += '\t';
    line += outcome;
    char ms[32];
    std::snprintf(ms, sizeof ms, "\t%.1f ms\n", double(took.count()) / 1000.0);
    line += ms;

    if (broken_ || (!file_ && !open())) return;
    if (size_ > 0 && size_ + int64_t(line.size()) > maxBytes_) {
        rotate();
        if (!open()) return;
    }
    if (std::fwrite(line.data(), 1, line.size(), file_) == line.size()) size_ += int64_t(line.size());
    // Each line reaches the file at once: the log is read while the program runs, or after it crashed.
    std::fflush(file_);
}

} // namespace hx
