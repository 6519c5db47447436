#pragma once
// How the secondary windows (alarm setpoints, configuration, factory record) are opened
// from the main window and left again: the main window hides, the secondary window shows;
// its title-bar close is refused while its close lock is set, and only its return button,
// which clears the lock first, unloads it and shows the main window again.
#include <QPointer>
#include <QWidget>

#include <functional>

class QCloseEvent;

namespace hx {

class SecondaryWindow : public QWidget {
    Q_OBJECT
  public:
    // The window returns to mainWindow; it is destroyed when it unloads.
    explicit SecondaryWindow(QWidget* mainWindow);

    bool closeLock() const { return closeLock_; }
    // The return button's three steps: clear the close lock, unload, show the main window.
    void returnToMain();

  protected:
    // A window's load sets the lock.
    void setCloseLock(bool locked) { closeLock_ = locked; }
    void closeEvent(QCloseEvent* event) override;

  private:
    QPointer<QWidget> mainWindow_;
    bool closeLock_ = false;
};

// Hides the main window, creates the secondary window when it does not exist (its load
// runs again after every return) and shows it. Returns the window.
template <class Window>
Window* openSecondaryWindow(QWidget* mainWindow, QPointer<Window>& slot,
                            const std::function<Window*(QWidget*)>& create) {
    if (!slot && !create) return nullptr; // nothing to open: the main window stays
    if (mainWindow) mainWindow->hide();
    if (!slot) slot = create(mainWindow);
    if (slot) {
        slot->show();
        slot->raise();
        slot->activateWindow();
    }
    return slot.data();
}

} // namespace hx
