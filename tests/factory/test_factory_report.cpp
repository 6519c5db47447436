// The factory record sheet's report: the page holds the sheet as it stands, F3 writes it as a
// one-page PDF into the database's folder and says where, only once the sheet has been read
// completely, and a folder it cannot write into gives a failure text instead of a file.
#include "core/Clock.h"
#include "core/SharedState.h"
#include "factory/FACTR.h"
#include "factory/FactoryReport.h"
#include "fakes/FakeLink.h"

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace hx;
using hx::test::FakeLink;

namespace {

class FixedClock : public Clock {
  public:
    ClockReading now() const override { return readingOf(QDateTime(QDate(2001, 3, 3), QTime(18, 42, 0))); }
};

struct Fixture {
    FixedClock clock;
    FakeLink link;
    WriteLog writes;
    FactoryTables tables;
    QWidget mainWindow;
    QPointer<FACTR> window;
    QStringList notes;

    explicit Fixture(const QString& folder) {
        resetSharedState();
        setAppClock(&clock);
        mainWindow.show();
        const FactoryReportOptions report{folder, [this](const QString& text) { notes << text; }};
        window = openSecondaryWindow<FACTR>(&mainWindow, window, [&](QWidget* main) {
            return new FACTR(link, &writes, tables, main, report);
        });
        window->Timer1->stop(); // the tests refresh by hand
    }
    ~Fixture() {
        delete window.data();
        setAppClock(nullptr);
    }
};

int pdfPages(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    const QByteArray pdf = file.readAll();
    if (!pdf.startsWith("%PDF-")) return -1;
    return int(QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Type\\s*/Page\\b"))));
}

} // namespace

class FactoryReportTest : public QObject {
    Q_OBJECT
  private slots:
    void theReportHoldsTheSheetAsItStands() {
        QTemporaryDir dir;
        Fixture f(dir.path());
        f.link.holdingRegisters[257] = -1999;   // basic item 97
        f.link.holdingRegisters[24632] = 24632; // calibration item 56
        f.window->Timer1_Timer();
        f.window->Text1[1]->setText(QStringLiteral("A-0815"));

        const FactoryReport report = f.window->reportContent(f.clock.now());
        QCOMPARE(report.printedAt, QStringLiteral("2001/03/03 18:42:00"));
        QCOMPARE(report.productLabels[1], QString::fromUtf16(u"产品编号"));
        QCOMPARE(report.productData[1], QStringLiteral("A-0815"));
        QCOMPARE(report.dateText, QStringLiteral("03-03-2001"));
        QCOMPARE(report.timeText, QStringLiteral("18:42:00"));
        QCOMPARE(report.basic.rows.size(), size_t(25));
        QCOMPARE(report.basic.columnWidths.size(), size_t(11));
        QCOMPARE(report.calibration.columnWidths.size(), size_t(7));
        const ItemCell basic97 = itemCell(97);
        QCOMPARE(report.basic.rows[basic97.row][basic97.labelColumn], QString::fromUtf16(u"CH1报警设定值"));
        QCOMPARE(report.basic.rows[basic97.row][basic97.valueColumn], QStringLiteral("-1999"));
        const ItemCell cal56 = itemCell(56);
        QCOMPARE(report.calibration.rows[cal56.row][cal56.valueColumn], QStringLiteral("24632"));
        for (int column : {0, 1, 2})
            QCOMPARE(report.basic.columnWidths[column], double(f.window->Flxg->columnWidth(column)));
    }

    // Drawn into a picture: white margins, the grids' header rows shaded, and the last row
    // of both grids still on the page.
    void bothGridsFitThePage() {
        QTemporaryDir dir;
        Fixture f(dir.path());
        QImage page(1485, 1050, QImage::Format_RGB32);
        page.fill(Qt::black);
        QPainter painter(&page);
        paintFactoryPage(painter, page.rect(), f.window->reportContent(f.clock.now()));
        painter.end();
        const double k = 1485 / kReportWidth;
        const double rowHeight = kReportGrids.height() / 25 * k;
        const int lastRowY = int(kReportGrids.bottom() * k - rowHeight / 2);
        const auto shaded = [](QRgb p) { return qGray(p) > 180 && qGray(p) < 250; };
        QCOMPARE(page.pixel(5, 5), qRgb(255, 255, 255));
        QVERIFY(shaded(
            page.pixel(int(kReportGrids.left() * k) + 3, int(kReportGrids.top() * k + rowHeight / 2))));
        QVERIFY(shaded(page.pixel(int(kReportGrids.left() * k) + 3, lastRowY))); // the number column
        QVERIFY(shaded(page.pixel(int(kReportGrids.right() * k) - 40, int(kReportGrids.top() * k) + 3)));
        QCOMPARE(page.pixel(int(kReportGrids.right() * k) + 5, lastRowY), qRgb(255, 255, 255));
        QCOMPARE(page.pixel(page.width() / 2, int(kReportGrids.bottom() * k) + 5), qRgb(255, 255, 255));
    }

    void f3WritesOnePageBesideTheDatabase() {
        QTemporaryDir dir;
        Fixture f(dir.path());
        f.window->Timer1_Timer();
        f.window->Text1[0]->setFocus();
        QTest::keyClick(f.window->Text1[0], Qt::Key_F3); // typing in a field does not hide the key
        const QString path = dir.filePath(QStringLiteral("factory-2001-03-03-18-42-00.pdf"));
        QCOMPARE(pdfPages(path), 1);
        const QString told = QString::fromUtf16(u"出厂记录打印到 ") + QDir::toNativeSeparators(path);
        QCOMPARE(f.window->reportStatus->text(), told);
        QCOMPARE(f.notes, QStringList{told}); // for the main window's status line
    }

    // Until one refresh got all its reads through, the sheet shows a placeholder date and values
    // never read: F3 writes nothing and says why. Once read, a later silence does not matter.
    void f3WaitsForTheSheetToBeReadCompletely() {
        QTemporaryDir dir;
        Fixture f(dir.path());
        QTest::keyClick(f.window, Qt::Key_F3);
        f.link.duringCall = [&] { f.link.answering = f.link.calls.size() != 8; }; // the 8th read fails
        f.window->Timer1_Timer();
        QTest::keyClick(f.window, Qt::Key_F3);
        QCOMPARE(f.notes, QStringList(2, QString::fromUtf16(u"报告未写: 出厂记录尚未读完")));
        QCOMPARE(f.window->reportStatus->text(), f.notes.last());
        QVERIFY(QDir(dir.path()).isEmpty());
        f.link.duringCall = [&] { f.link.answering = f.link.calls.size() <= 22; }; // one full refresh
        f.window->Timer1_Timer();
        f.window->Timer1_Timer();
        QTest::keyClick(f.window, Qt::Key_F3);
        QCOMPARE(pdfPages(dir.filePath(QStringLiteral("factory-2001-03-03-18-42-00.pdf"))), 1);
    }

    void aFolderItCannotWriteIntoIsToldNotThrown_data() {
        QTest::addColumn<QString>("folder");
        QTest::newRow("missing folder") << QStringLiteral("no-such-folder");
        QTest::newRow("a file in the folder's place") << QStringLiteral("plain-file");
    }
    void aFolderItCannotWriteIntoIsToldNotThrown() {
        QFETCH(QString, folder);
        QTemporaryDir dir;
        QFile plain(dir.filePath(QStringLiteral("plain-file")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        Fixture f(dir.filePath(folder));
        f.window->Timer1_Timer();
        QTest::keyClick(f.window, Qt::Key_F3);
        const QString status = f.window->reportStatus->text();
        QVERIFY2(status.startsWith(QString::fromUtf16(u"出厂记录打印失败: ")), qPrintable(status));
        QVERIFY2(status.contains(folder), qPrintable(status));
        QCOMPARE(f.notes, QStringList{status});
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("plain-file")});
        QVERIFY(f.window->isVisible());
    }
};

QTEST_MAIN(FactoryReportTest)
#include "test_factory_report.moc"
