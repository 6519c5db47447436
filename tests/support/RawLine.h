#pragma once
// The client end of a serial line at the byte level, for tests that must see exactly what
// comes back (nothing, one answer, a late answer) without a Modbus library in between.
#include <QByteArray>
#include <QString>

namespace hx::test {

class RawLine {
  public:
    RawLine() = default;
    ~RawLine();
    RawLine(const RawLine&) = delete;
    RawLine& operator=(const RawLine&) = delete;

    // Opens the device raw at 9600 8N1 and throws away whatever waits in it.
    bool open(const QString& path);
    void close();
    bool send(const QByteArray& bytes);
    // Everything that arrives within `ms`, reading on until the line has been quiet for
    // `quietMs` after the last byte (0 = return at the first pause).
    QByteArray receive(int ms, int quietMs = 50);

  private:
    int fd_ = -1;
};

} // namespace hx::test
