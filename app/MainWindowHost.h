#pragma once
// What the main window asks of the program around it: the windows its buttons open, and what
// the journal, the recorder and the publisher know for its status table and status line. The
// program implements it; a window without a host opens nothing and shows no such parts.
#include "app/StatusLine.h"

#include <QString>

#include <array>
#include <optional>
#include <utility>

class QWidget;

namespace hx {

class MainWindowHost {
  public:
    enum class Window { Alarm, Config, Factory, Events };
    // A new window of that kind, its parent the main window.
    virtual QWidget* createWindow(Window window, QWidget* mainWindow) = 0;
    // Rows of the status table (1..26) with a raised alarm not yet acknowledged.
    virtual std::array<bool, 27> unacknowledgedRows() { return {}; }
    // The journal's part of the status line (empty when nothing to say).
    virtual QString eventStatus() { return {}; }
    // The recorder's health; none until the recorder exists.
    virtual std::optional<RecordingHealth> recordingHealth() { return std::nullopt; }
    // The broker's state and whether it is fine; empty while publishing is off.
    virtual std::pair<QString, bool> publishingStatus() { return {QString(), true}; }

  protected:
    ~MainWindowHost() = default;
};

} // namespace hx
