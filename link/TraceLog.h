#pragma once
// The traffic log for commissioning: one line per transaction on the line (time, request and
// answer frames in hex, outcome, duration), appended to the file named by HX5800_TRACE and
// bounded in size. Off unless that variable is set; the link then only tests a null pointer.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hx {

// CRC-16 of Modbus RTU (polynomial 0xA001 reflected, start 0xFFFF), low byte first on the wire.
uint16_t modbusCrc(std::span<const uint8_t> bytes);
// slave, pdu, CRC: the frame as it travels on the line.
std::vector<uint8_t> rtuFrame(uint8_t slave, std::span<const uint8_t> pdu);
// transaction id, protocol 0, length, unit, pdu: the frame as it travels to a Modbus TCP gateway.
std::vector<uint8_t> mbapFrame(uint16_t transactionId, uint8_t unit, std::span<const uint8_t> pdu);
// "01 04 00 00": bytes as two upper-case hex digits, separated by blanks.
std::string hexText(std::span<const uint8_t> bytes);

class TraceLog {
  public:
    // When the file grows past this size it becomes FILE.1 (replacing the older one) and a
    // new FILE starts: at most twice this much on disk.
    static constexpr int64_t kDefaultMaxBytes = 4 * 1024 * 1024;

    // The log named by HX5800_TRACE; null when the variable is unset or empty.
    static std::unique_ptr<TraceLog> fromEnvironment();

    explicit TraceLog(std::string path, int64_t maxBytes = kDefaultMaxBytes);
    ~TraceLog();
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    // How the answer of one transaction is shown.
    enum class Answer {
        Frame, // the answer frame is known (given)
        None,  // nothing came: "-"
        Bad,   // something came that the link rejected and did not keep: "?"
    };

    // One line: local time with milliseconds, "req" and the request frame, "ans" and the answer
    // frame ("-" or "?"), the outcome word, the duration in milliseconds with one decimal;
    // fields separated by tabs. A line that cannot be written is dropped.
    void transaction(std::span<const uint8_t> request, Answer kind, std::span<const uint8_t> answer,
                     std::string_view outcome, std::chrono::microseconds took);

    const std::string& path() const { return path_; }

  private:
    bool open();
    void rotate();

    std::string path_;
    int64_t maxBytes_;
    std::FILE* file_ = nullptr;
    int64_t size_ = 0;
    bool broken_ = false; // the file could not be opened: the log stays off
};

} // namespace hx
