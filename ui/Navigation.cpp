#include "Navigation.h"

#include <QCloseEvent>

namespace hx {

SecondaryWindow::SecondaryWindow(QWidget* mainWindow) : QWidget(nullptr), mainWindow_(mainWindow) {
    setAttribute(Qt::WA_DeleteOnClose);
}

void SecondaryWindow::closeEvent(QCloseEvent* event) {
    if (closeLock_)
        event->ignore();
    else
        event->accept();
}

void SecondaryWindow::returnToMain() {
    closeLock_ = false;
    close();
    if (mainWindow_) mainWindow_->show();
}

} // namespace hx
