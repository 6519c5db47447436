#pragma once
// What the windows share besides the acquisition state: the link, the two hidden host
// windows once the hand-over has created them, where the recording database lives and
// how the process ends. Tests build one with fakes.
#include "app/PortSession.h"

#include <QString>

#include <functional>
#include <memory>

namespace hx {

class Link;
class Met1;
class mscom;
class RecordStore;
struct WriteLog;

struct AppContext {
    Link* link = nullptr;
    Met1* met1 = nullptr;       // set by the hand-over, after the main window's load
    mscom* recorder = nullptr;  // likewise
    WriteLog* writes = nullptr; // the operator's writes to the instrument, for the status line
    QString databasePath;
    std::function<std::unique_ptr<RecordStore>(const QString&)> openStore;
    // Ends the process at once (exit command). Tests replace it.
    std::function<void()> endProcess;
    // The port's opening as "打开" left it, read by the status line, the journal and the publisher.
    PortSession session;
};

} // namespace hx
