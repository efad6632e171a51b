// The two Debian packages as a user gets them: CPack builds them into a
// scratch folder, dpkg -x unpacks them into a scratch root, and the programs
// run from there. The client finds its image library relative to itself and
// keeps its settings file in the current directory; the server runs the way
// its systemd unit says and ends cleanly on SIGTERM with its log written.
#include "fixedports.h"

#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QString& program, const QStringList& args, const QString& directory = {},
        int timeoutMs = 60000) {
    QProcess process;
    process.setWorkingDirectory(directory);
    process.start(program, args);
    Run result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.err = "timed out: " + program.toUtf8();
        return result;
    }
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// "Key=Value" lines of a desktop entry or unit. A key that repeats keeps all
// its values; values() lists them in file order, value() gives the first.
QMultiMap<QString, QString> keyValues(const QString& path) {
    QMultiMap<QString, QString> map;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return map;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const qsizetype equals = line->indexOf(QLatin1Char('='));
        if (equals > 0 && !line->startsWith(QLatin1Char('#')))
            map.insert(line->left(equals).trimmed(), line->mid(equals + 1).trimmed());
    }
    return map;
}

// A connected socket to the fixed port once the program listens there.
std::unique_ptr<QTcpSocket> connectWhenListening(quint16 port) {
    std::unique_ptr<QTcpSocket> socket;
    const bool connected = QTest::qWaitFor(
        [&] {
            if (socket && socket->state() == QAbstractSocket::ConnectedState)
                return true;
            if (!socket || socket->state() == QAbstractSocket::UnconnectedState) {
                socket = std::make_unique<QTcpSocket>();
                socket->connectToHost(QHostAddress::LocalHost, port);
            }
            return false;
        },
        60000);
    return socket && socket->state() == QAbstractSocket::ConnectedState ? std::move(socket)
                                                                        : nullptr;
}

} // namespace

class TestPackages : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void dependenciesAndContents_data();
    void dependenciesAndContents();
    void lintianFindsNoErrors();
    void clientRecommendsFcitxQtModule();
    void desktopEntries_data();
    void desktopEntries();
    void programsAndLibraryResolve();
    void clientFindsItsImageLibrary();
    void clientStartsFromTheUnpackedPackage();
    void serviceUnitVerifies();
    void serverRunsAsTheServiceUnitSays();

private:
    QString root(const QString& path = {}) const { return m_root + path; }
    QString deb(const QString& package) const { return m_debs.value(package); }

    QTemporaryDir m_scratch;
    QString m_root;
    QMap<QString, QString> m_debs; // package name -> .deb file
};

void TestPackages::initTestCase() {
    QVERIFY(m_scratch.isValid());
    const QString out = m_scratch.filePath(QStringLiteral("debs"));
    const Run cpack = run(QStringLiteral(SKETORA_CPACK),
                          {"-G", "DEB", "-B", out, "--config", SKETORA_CPACK_CONFIG}, {}, 400000);
    QVERIFY2(cpack.code == 0, cpack.out + cpack.err);

    m_root = m_scratch.filePath(QStringLiteral("root"));
    for (const QFileInfo& file : QDir(out).entryInfoList({"*.deb"}, QDir::Files)) {
        const Run field = run(QStringLiteral("dpkg-deb"), {"-f", file.filePath(), "Package"});
        m_debs.insert(QString::fromUtf8(field.out.trimmed()), file.filePath());
        const Run unpack = run(QStringLiteral("dpkg"), {"-x", file.filePath(), m_root});
        QVERIFY2(unpack.code == 0, unpack.err);
    }
    QCOMPARE(m_debs.keys(), QStringList({"sketora", "sketora-server"}));
}

void TestPackages::dependenciesAndContents_data() {
    QTest::addColumn<QString>("package");
    QTest::addColumn<QStringList>("needed");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("absent");
    const QString privateLib = QStringLiteral("/usr/" SKETORA_PRIVATE_LIBDIR "/libTransG32.so");
    QTest::newRow("sketora")
        << "sketora"
        << QStringList{"libqt6widgets6",      "libqt6network6",        "libqt6gui6",
                       "qt6-qpa-plugins",     "qt6-translations-l10n", "fonts-ipafont-gothic",
                       "fonts-ipafont-mincho"}
        << QStringList{"/usr/bin/sketora", privateLib}
        << QStringList{"/usr/bin/sketoraServer", "/usr/lib/systemd"};
    QTest::newRow("sketora-server")
        << "sketora-server"
        << QStringList{"libqt6widgets6",        "libqt6network6",       "qt6-qpa-plugins",
                       "qt6-translations-l10n", "fonts-ipafont-gothic", "libqrencode4"}
        << QStringList{"/usr/bin/sketoraServer", "/usr/lib/systemd/system/sketora-server.service"}
        << QStringList{"/usr/bin/sketora", privateLib, "/etc/systemd"};
}

// Depends names the Qt libraries (found by dpkg-shlibdeps) and the run-time
// parts the programs load by name; each package holds its own files only,
// and the service is not enabled by the package.
void TestPackages::dependenciesAndContents() {
    QFETCH(QString, package);
    QFETCH(QStringList, needed);
    QFETCH(QStringList, files);
    QFETCH(QStringList, absent);
    const Run field = run(QStringLiteral("dpkg-deb"), {"-f", deb(package), "Depends"});
    QStringList depends;
    for (const QString& item : QString::fromUtf8(field.out).split(QLatin1Char(',')))
        depends << item.trimmed().section(QLatin1Char(' '), 0, 0);
    for (const QString& name : needed)
        QVERIFY2(depends.contains(name), qPrintable(name + " missing in " + field.out));

    const Run list = run(QStringLiteral("dpkg-deb"), {"-c", deb(package)});
    QStringList paths;
    for (const QByteArray& line : list.out.split('\n'))
        if (const qsizetype dot = line.indexOf(" ./"); dot >= 0)
            paths << QString::fromUtf8(line.mid(dot + 2));
    for (const QString& path : files)
        QVERIFY2(paths.contains(path), qPrintable(path));
    for (const QString& path : absent)
        QVERIFY2(!paths.filter(QRegularExpression("^" + QRegularExpression::escape(path) + "(/|$)"))
                      .size(),
                 qPrintable(path));
}

// Debian's own package checker reports no errors (warnings are allowed: the
// server's scripts call systemctl on purpose, and there are no manual pages).
void TestPackages::lintianFindsNoErrors() {
    const QString lintian = QStandardPaths::findExecutable(QStringLiteral("lintian"));
    if (lintian.isEmpty())
        QSKIP("lintian is not installed");
    const Run check =
        run(lintian, {"--no-tag-display-limit", deb("sketora"), deb("sketora-server")}, {}, 300000);
    QVERIFY2(check.code >= 0, check.err);
    QStringList errors;
    for (const QByteArray& line : check.out.split('\n'))
        if (line.startsWith("E: "))
            errors << QString::fromUtf8(line);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    QVERIFY2(check.code == 0, check.out + check.err);
}

// Japanese input: Qt brings its IBus module itself, Fcitx 5's Qt 6 module is
// a package of its own, which the client recommends.
void TestPackages::clientRecommendsFcitxQtModule() {
    const Run field = run(QStringLiteral("dpkg-deb"), {"-f", deb("sketora"), "Recommends"});
    QCOMPARE(field.out.trimmed(), QByteArray("fcitx5-frontend-qt6"));
}

void TestPackages::desktopEntries_data() {
    QTest::addColumn<QString>("entry");
    QTest::newRow("sketora") << "sketora";
    QTest::newRow("sketoraServer") << "sketoraServer";
}

// The menu entry starts a program of the package and names an icon that the
// package has in every size, in Japanese and English.
void TestPackages::desktopEntries() {
    QFETCH(QString, entry);
    const auto keys = keyValues(root("/usr/share/applications/" + entry + ".desktop"));
    QCOMPARE(keys.value("Type"), QStringLiteral("Application"));
    QVERIFY(QFileInfo(root("/usr/bin/" + keys.value("Exec"))).isExecutable());
    for (const QString& key : {"Name", "Name[ja]", "Comment", "Comment[ja]"})
        QVERIFY2(!keys.value(key).isEmpty(), qPrintable(key));
    const QStringList categories = keys.value("Categories").split(QLatin1Char(';'));
    QVERIFY(categories.contains("Graphics") && categories.contains("Network"));

    const QString icon = keys.value("Icon");
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString path =
            root(QStringLiteral("/usr/share/icons/hicolor/%1x%1/apps/").arg(size) + icon + ".png");
        QCOMPARE(QImage(path).size(), QSize(size, size));
    }
    QVERIFY(QFile::exists(root("/usr/share/icons/hicolor/scalable/apps/" + icon + ".svg")));

    const QString validate = QStandardPaths::findExecutable("desktop-file-validate");
    if (!validate.isEmpty()) { // hints (two main categories, asked for) are not errors
        const Run check = run(validate, {root("/usr/share/applications/" + entry + ".desktop")});
        QVERIFY2(check.code == 0, check.out + check.err);
    }
}

void TestPackages::programsAndLibraryResolve() {
    for (const QString& file :
         {QStringLiteral("/usr/bin/sketora"), QStringLiteral("/usr/bin/sketoraServer"),
          QStringLiteral("/usr/" SKETORA_PRIVATE_LIBDIR "/libTransG32.so")}) {
        const Run ldd = run(QStringLiteral("ldd"), {root(file)});
        QVERIFY2(ldd.code == 0 && !ldd.out.contains("not found"), qPrintable(file + ldd.out));
    }
}

// The installed client's loader, run from the unpacked bin folder, binds the
// library in the private folder (nothing else on this machine has one) and
// the library writes real pictures. Without that folder nothing is found.
void TestPackages::clientFindsItsImageLibrary() {
    const QString probe = root("/usr/bin/transg32probe");
    QVERIFY(QFile::copy(QStringLiteral(SKETORA_PROBE), probe));
    QTemporaryDir work;
    const Run found = run(probe, {}, work.path());
    QCOMPARE(found.code, 0);
    const QString library = root("/usr/" SKETORA_PRIVATE_LIBDIR "/libTransG32.so");
    QCOMPARE(QFileInfo(QString::fromUtf8(found.out.trimmed())).canonicalFilePath(),
             QFileInfo(library).canonicalFilePath());
    for (const char* name : {"probe.jpg", "probe.png"}) {
        const QImage saved(work.filePath(name));
        QCOMPARE(saved.size(), QSize(40, 30));
        QVERIFY(qRed(saved.pixel(20, 15)) > 240 && qGreen(saved.pixel(20, 15)) < 16);
    }

    const QString moved = library + ".away";
    QVERIFY(QFile::rename(library, moved));
    const Run missing = run(probe, {}, work.path());
    QVERIFY(QFile::rename(moved, library));
    QFile::remove(probe);
    QCOMPARE(missing.code, 1);
}

// Offscreen, from any folder: the program stays up and its settings file
// appears in the current directory.
void TestPackages::clientStartsFromTheUnpackedPackage() {
    QTemporaryDir work;
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    client.setProcessEnvironment(env);
    client.setWorkingDirectory(work.path());
    client.start(root("/usr/bin/sketora"), {});
    QVERIFY(client.waitForStarted());
    QTRY_VERIFY(QFile::exists(work.filePath("reduza.ini")));
    QVERIFY2(!client.waitForFinished(2000), client.readAllStandardError());
    client.kill();
    client.waitForFinished();
}

void TestPackages::serviceUnitVerifies() {
    const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
    if (analyze.isEmpty())
        QSKIP("systemd-analyze is not installed");
    // The unit names /usr/bin/sketoraServer; here that program lies in the root.
    QFile unit(root("/usr/lib/systemd/system/sketora-server.service"));
    QVERIFY(unit.open(QIODevice::ReadOnly));
    QByteArray text = unit.readAll();
    text.replace("ExecStart=/usr/bin/", "ExecStart=" + root("/usr/bin/").toUtf8());
    QTemporaryDir work;
    QFile copy(work.filePath("sketora-server.service"));
    QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write(text) == text.size());
    copy.close();
    const Run verify = run(analyze, {"verify", "--man=no", copy.fileName()});
    QVERIFY2(verify.code == 0 && verify.err.isEmpty(), verify.out + verify.err);
}

// The unit's own settings: its Environment lines (%t and %C pointing into
// scratch folders), its program, its working directory standing for the
// state directory. Lines drawn reach the history; SIGTERM ends the program
// with status 0 and the history in a log file in the state directory.
void TestPackages::serverRunsAsTheServiceUnitSays() {
    const auto unit = keyValues(root("/usr/lib/systemd/system/sketora-server.service"));
    QCOMPARE(unit.value("WorkingDirectory"), QStringLiteral("%S/sketora-server"));
    QTemporaryDir dirs;
    const QDir base(dirs.path());
    for (const char* dir :
         {"state/sketora-server", "runtime/sketora-server", "cache/sketora-server"})
        QVERIFY(base.mkpath(dir));
    QFile::setPermissions(base.filePath("runtime/sketora-server"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env; // a service starts without the caller's environment
    env.insert("PATH", "/usr/bin:/bin");
    for (QString assignment : unit.values("Environment")) {
        assignment.replace("%t", base.filePath("runtime")).replace("%C", base.filePath("cache"));
        env.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
    }
    QCOMPARE(env.value("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QString state = base.filePath("state/sketora-server");

    QProcess server;
    server.setProcessEnvironment(env);
    server.setWorkingDirectory(state);
    QVERIFY2(fixedports::start(server, root(unit.value("ExecStart"))),
             "ports 13467/13468 stay taken by another program");
    auto a = connectWhenListening(13467);
    auto b = connectWhenListening(13467);
    auto text = connectWhenListening(13468);
    QVERIFY2(a && b && text, server.readAllStandardError());
    a->write("2: 120, 45\r\n");
    QByteArray relayed;
    QVERIFY(QTest::qWaitFor([&] { return (relayed += b->readAll()).contains("0:2: 120, 45\r\n"); },
                            60000));

    ::kill(server.processId(), SIGTERM);
    QVERIFY(server.waitForFinished(15000));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
    const QStringList logs = QDir(state).entryList({"*.skl"}, QDir::Files);
    QCOMPARE(logs.size(), 1);
    QVERIFY(QRegularExpression(R"(^\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d\.skl$)")
                .match(logs.first())
                .hasMatch());
    QFile log(QDir(state).filePath(logs.first()));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("0:2: 120, 45\r\n"));
}

QTEST_GUILESS_MAIN(TestPackages)
#include "tst_packages.moc"
