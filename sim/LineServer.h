#pragma once
// The serving side of the simulator: owns the line (a new pseudo-terminal or an existing
// device) or, as a Modbus TCP gateway would, a listening socket and its connections; receives
// requests with libmodbus, lets the addressed instrument's Responder answer them, and reads
// run-time commands from standard input between requests. One request is served at a time,
// so the answers of the instruments on a line never overlap, as on one shared wire.
#include "sim/Bus.h"
#include "sim/Console.h"
#include "sim/SimOptions.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

typedef struct _modbus modbus_t;

namespace hx::sim {

class LineServer {
  public:
    explicit LineServer(SimOptions options);
    ~LineServer();
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    // Opens the line; on failure `error` says why.
    bool open(std::string& error);
    // Serves until "quit", SIGTERM or SIGINT. Returns the exit status.
    int run();

  private:
    bool openPty(std::string& error);
    bool openDevice(std::string& error);
    bool openTcp(std::string& error);
    void acceptClient();
    void closeClient(int fd);
    bool newContext(std::string& error);
    double seconds() const;
    void serveRequest();
    // A request's frame (slave, PDU, CRC), or nullopt after a bad or foreign frame was dealt with.
    std::optional<std::vector<uint8_t>> receiveFrame(uint8_t* request, int& length);
    void send(const std::vector<uint8_t>& frame);
    // Waits `ms` for the answer delay while still taking commands.
    void waitTakingCommands(int ms);
    // Waits for a moment of the steady clock (the answer pacing), without taking commands.
    void waitUntil(std::chrono::steady_clock::time_point deadline);
    void readCommands();
    void log(const std::string& text) const;

    SimOptions options_;
    Bus bus_;
    Console console_;
    modbus_t* ctx_ = nullptr;
    int lineFd_ = -1;          // what libmodbus reads: the pty master or the device
    int clientEndFd_ = -1;     // our own hold on the pty's client end, so the master never sees hang-up
    int listenFd_ = -1;        // --tcp: the listening socket
    std::vector<int> clients_; // --tcp: the open connections
    int client_ = -1;          // --tcp: the connection whose request is being served
    std::string servedName_;   // what the ready line names
    std::string clientEndName_;
    bool linkMade_ = false;
    bool stdinOpen_ = true;
    bool quit_ = false;
    std::string stdinBuffer_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

} // namespace hx::sim
