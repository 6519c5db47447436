#include "frmSplash.h"

#include "app/SplashPicture.h"
#include "core/SharedState.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace hx {

frmSplash::frmSplash(HandOver handOver, QWidget* parent) : QWidget(parent), handOver_(std::move(handOver)) {
    setObjectName("frmSplash");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);

    auto* picture = new QLabel(this);
    picture->setObjectName("Image1");
    picture->setPixmap(splashPicture(QSize(420, 300)));
    picture->setAlignment(Qt::AlignCenter);
    auto* text = new QLabel(QStringLiteral("系统正在初始化数据引擎，请稍后。。。。。。"), this);
    text->setObjectName("Label1");
    text->setAlignment(Qt::AlignCenter);
    QFont font = text->font();
    font.setPointSizeF(12);
    text->setFont(font);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->addWidget(picture);
    layout->addWidget(text);
    setStyleSheet(QStringLiteral("frmSplash { background: rgb(220,228,236); }"));

    Timer2 = new QTimer(this);
    Timer2->setObjectName("Timer2");
    Timer2->setInterval(200);
    connect(Timer2, &QTimer::timeout, this, &frmSplash::Timer2_Timer);
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &frmSplash::Timer1_Timer);

    // Load: the chart's span before any other window exists, then start the countdown.
    Y_Span = 1500;
    Timer2->start();
}

void frmSplash::Timer2_Timer() {
    ++ticks_;
    if (ticks_ > 6) {
        Timer2->stop();
        ticks_ = 0;
        Timer1->start();
    }
}

void frmSplash::Timer1_Timer() {
    Timer2->stop();
    Timer1->stop();
    HandOver handOver = handOver_; // this window is gone after close()
    close();
    if (handOver.showMainWindow) handOver.showMainWindow();
    if (handOver.createMet1) handOver.createMet1();
    if (handOver.createMscom) handOver.createMscom();
}

void frmSplash::keyPressEvent(QKeyEvent* event) {
    event->accept();
}

void frmSplash::closeEvent(QCloseEvent* event) {
    Timer1->stop();
    event->accept();
}

} // namespace hx
