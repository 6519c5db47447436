#pragma once
// frmSplash: the start-up window. About one and a half seconds after it loads it hands
// over to the main window and the two hidden host windows, then unloads itself.
#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;

namespace hx {

class frmSplash : public QWidget {
    Q_OBJECT
  public:
    // The three steps of the hand-over, run in this order after the splash unloaded:
    // create and show the main window, create the poll host, create the recorder.
    struct HandOver {
        std::function<void()> showMainWindow;
        std::function<void()> createMet1;
        std::function<void()> createMscom;
    };

    explicit frmSplash(HandOver handOver, QWidget* parent = nullptr);

    void Timer2_Timer();
    void Timer1_Timer();

    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    int16_t tickCount() const { return ticks_; }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    HandOver handOver_;
    int16_t ticks_ = 0;
};

} // namespace hx
