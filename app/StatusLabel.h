#pragma once
// A label of the status line. Its text stays whole (for the tool tip and screen readers); what
// it shows is fitted to its width by shortening the paths in it, so the cause beside a path
// stays readable, and only when that is not enough is the end cut.
#include "app/StatusLine.h"

#include <QLabel>

namespace hx {

class StatusLabel final : public QLabel {
    Q_OBJECT
  public:
    explicit StatusLabel(QWidget* parent = nullptr) : QLabel(parent) {}
    // The text and, since it may be shown shortened, the same text as the tool tip.
    void showStatus(const QString& text);
    // The text and its style.
    void showStatus(const StatusPart& part);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace hx
