// Installation and the Debian package, from the real build: cmake --install into a temporary
// prefix (the menu entry, the icon, the program's version, the archive service run as systemd
// would run it, the line service's unit and example settings read by the program), and cpack's
// package with its declared dependencies and its files.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include "core/Clock.h"
#include "logging/SqliteRecordStore.h"

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment = {},
        int timeoutMs = 120000) {
    QProcess process;
    if (!environment.isEmpty()) process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit) {
        result.err = process.errorString();
        return result;
    }
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// Key=value lines of a desktop entry's main group.
QMap<QString, QString> desktopEntry(const QString& path) {
    QFile f(path);
    QMap<QString, QString> keys;
    if (!f.open(QIODevice::ReadOnly)) return keys;
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n');
    if (lines.value(0) != "[Desktop Entry]") return keys;
    for (const QString& line : lines.mid(1)) {
        if (line.startsWith('[')) break;
        if (line.contains('=')) keys.insert(line.section('=', 0, 0), line.section('=', 1));
    }
    return keys;
}

const QStringList kPrograms{"hx5800",        "hx5800-sim",    "hx5800-initdb",
                            "hx5800-export", "hx5800-config", "hx5800-line"};

} // namespace

class TestPackaging : public QObject {
    Q_OBJECT

  private slots:
    void installPutsTheProgramInTheMenu();
    void debPackageDeclaresItsDependencies();
};

void TestPackaging::installPutsTheProgramInTheMenu() {
    QTemporaryDir prefix;
    const Run install = run(CMAKE_COMMAND, {"--install", BUILD_DIR, "--prefix", prefix.path()});
    QVERIFY2(install.exitCode == 0, qPrintable(install.out + install.err));

    for (const QString& program : kPrograms) {
        const QFileInfo file(prefix.filePath("bin/" + program));
        QVERIFY2(file.isFile() && file.isExecutable(), qPrintable(file.filePath()));
    }
    const QString desktop = prefix.filePath("share/applications/hx5800.desktop");
    QVERIFY2(install.out.contains(desktop), qPrintable(install.out));
    const auto entry = desktopEntry(desktop);
    QCOMPARE(entry.value("Type"), QString("Application"));
    QCOMPARE(entry.value("Exec").section(' ', 0, 0), QString("hx5800"));
    QVERIFY(!entry.value("Name").isEmpty());
    QVERIFY(entry.value("Categories").endsWith(';'));
    // The icon the entry names is installed where desktops look for it, and it is an SVG.
    QFile icon(prefix.filePath("share/icons/hicolor/scalable/apps/" + entry.value("Icon") + ".svg"));
    QVERIFY2(icon.open(QIODevice::ReadOnly), qPrintable(icon.fileName()));
    QXmlStreamReader svg(&icon);
    QVERIFY(svg.readNextStartElement());
    QCOMPARE(svg.name(), QString("svg"));
    while (!svg.atEnd())
        svg.readNext();
    QVERIFY2(!svg.hasError(), qPrintable(svg.errorString()));

    const Run version = run(prefix.filePath("bin/hx5800"), {"--version"});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out, QString("hx5800 " PROJECT_VERSION "\n"));
    // --help answers without a display and names every variable the program reads.
    const Run help = run(prefix.filePath("bin/hx5800"), {"--help"});
    QCOMPARE(help.exitCode, 0);
    for (const char* variable : {"HX5800_COM", "HX5800_DB", "HX5800_TRACE", "HX5800_MQTT ", "HX5800_MQTT_CA",
                                 "HX5800_MQTT_USER", "HX5800_MQTT_PASSWORD_FILE", "HX5800_MQTT_TOPIC"})
        QVERIFY2(help.out.contains(variable), variable);

    // The archive service as systemd runs it for a user: %h is the home folder, the database
    // the default one there.
    QFile service(prefix.filePath("lib/systemd/user/hx5800-archive.service"));
    QVERIFY(service.open(QIODevice::ReadOnly));
    QVERIFY(QFile::exists(prefix.filePath("lib/systemd/user/hx5800-archive.timer")));
    const QRegularExpression execStart("^ExecStart=(.*)$", QRegularExpression::MultilineOption);
    QString command = execStart.match(QString::fromUtf8(service.readAll())).captured(1);
    QVERIFY(!command.isEmpty());
    const QString home = prefix.filePath("home");
    command.replace("%h", home).replace("%%", "%");
    QStringList arguments = command.split(' ', Qt::SkipEmptyParts);
    const QString exporter = arguments.takeFirst();
    QCOMPARE(exporter, prefix.filePath("bin/hx5800-export"));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home);
    environment.remove("HX5800_DB");
    QCOMPARE(run(prefix.filePath("bin/hx5800-initdb"), {}, environment).exitCode, 0);
    {
        hx::SqliteRecordStore store(home + "/Trendlog/Rdatabj.db");
        QVERIFY2(store.isOpen(), qPrintable(store.lastError()));
        const hx::ClockReading at = hx::readingOf(QDateTime(QDate(2024, 3, 14), QTime(23, 59, 59)));
        QCOMPARE(store.writeRecord(hx::StoredRecord{1, at.date, at.time, {}}), hx::WriteOutcome::Committed);
    }
    const Run archive = run(exporter, arguments, environment);
    QVERIFY2(archive.exitCode == 0, qPrintable(archive.err));
    QVERIFY(QFile::exists(home + "/Trendlog/archive/2024-03-14.csv"));
    QFile last(home + "/Trendlog/archive/last-export");
    QVERIFY(last.open(QIODevice::ReadOnly));
    QVERIFY(last.readAll().startsWith("2024-03-14T23:59:59 #")); // the instant and its checksum

    // The line service's unit as systemd starts an instance with the example settings in
    // place of /etc/hx5800/NAME.conf: the installed program takes the unit's options and every
    // key of the example.
    QFile lineUnit(prefix.filePath("lib/systemd/system/hx5800-line@.service"));
    QVERIFY(lineUnit.open(QIODevice::ReadOnly));
    QStringList line = execStart.match(QString::fromUtf8(lineUnit.readAll())).captured(1).split(' ');
    QCOMPARE(line.value(0), prefix.filePath("bin/hx5800-line"));
    line.replaceInStrings("/etc/hx5800/%i.conf",
                          prefix.filePath("share/doc/hx5800/examples/hx5800-line.conf"));
    const Run check = run(line.takeFirst(), line << "--check");
    QVERIFY2(check.exitCode == 0 && check.out.contains("addresses 1,2"), qPrintable(check.out + check.err));
    // systemd passes over a misspelt key or value with a warning only.
    if (QStandardPaths::findExecutable("systemd-analyze").isEmpty()) return;
    const QString instance = prefix.filePath("hx5800-line@example.service");
    QVERIFY(QFile::copy(lineUnit.fileName(), instance));
    const Run verify = run("systemd-analyze", {"verify", instance});
    QVERIFY2(verify.exitCode == 0 && verify.err.isEmpty(), qPrintable(verify.err));
}

void TestPackaging::debPackageDeclaresItsDependencies() {
    if (QStandardPaths::findExecutable("dpkg-deb").isEmpty()) QSKIP("dpkg-deb is not installed");
    QTemporaryDir out;
    const Run cpack =
        run(CPACK_COMMAND, {"-G", "DEB", "-B", out.path(), "--config", BUILD_DIR "/CPackConfig.cmake"});
    QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.out + cpack.err));
    const QStringList packages = QDir(out.path()).entryList({"hx5800_*.deb"}, QDir::Files);
    QCOMPARE(packages.size(), 1);
    const QString package = out.filePath(packages.first());

    const Run depends = run("dpkg-deb", {"-f", package, "Depends"});
    QCOMPARE(depends.exitCode, 0);
    QStringList declared;
    for (const QString& item : depends.out.trimmed().split(',', Qt::SkipEmptyParts))
        declared << item.trimmed().section(' ', 0, 0);
    for (const char* needed : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "libmodbus5", "libmosquitto1",
                               "libsqlite3-0", "fonts-wqy-zenhei"})
        QVERIFY2(declared.contains(needed), qPrintable(needed + QString(" missing from ") + depends.out));
    // Each declared package is one this system knows (the names are Debian's, not guesses).
    for (const QString& name : declared)
        QVERIFY2(run("dpkg-query", {"-W", name}).exitCode == 0, qPrintable(name + " is not a known package"));

    const Run contents = run("dpkg-deb", {"-c", package});
    QCOMPARE(contents.exitCode, 0);
    for (const QString& program : kPrograms)
        QVERIFY2(contents.out.contains(QRegularExpression(" \\./usr/bin/" + program + "\n")),
                 qPrintable(program));
    QVERIFY(contents.out.contains("./usr/share/applications/hx5800.desktop"));
    QVERIFY(contents.out.contains("./usr/share/icons/hicolor/scalable/apps/hx5800.svg"));
    QVERIFY(contents.out.contains("./usr/lib/systemd/user/hx5800-archive.timer"));
    QVERIFY(contents.out.contains("./usr/lib/systemd/system/hx5800-line@.service"));

    // Inside the package the service names the exporter where the package puts it.
    QCOMPARE(run("dpkg-deb", {"-x", package, out.filePath("root")}).exitCode, 0);
    QFile service(out.filePath("root/usr/lib/systemd/user/hx5800-archive.service"));
    QVERIFY(service.open(QIODevice::ReadOnly));
    QVERIFY(service.readAll().contains("\nExecStart=/usr/bin/hx5800-export "));
}

QTEST_GUILESS_MAIN(TestPackaging)
#include "test_packaging.moc"
