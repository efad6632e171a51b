#include "settingsfile.h"

#include "addresshistory.h"
#include "cp932.h"
#include "fakeprompts.h"
#include "form1.h"
#include "form2.h"
#include "palettecontroller.h"
#include "sketoraclient.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

using client::Form1;

using settingsfile::Palette;

namespace {

const Palette StartPalette{255, 65280, 16711680, 16777215, 16776960, 16711935, 65535, 0};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Limits the size of files this process may write, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

} // namespace

class TestSettingsFile : public QObject {
    Q_OBJECT
private slots:
    void missingFileIsCreatedWithDefaults();
    void saveAndLoadRoundTrip();
    void spacingKeysAndPaletteRule();
    void onlyTwentyLinesAreRead();
    void damagedOrUnreadableFilesNeverStopLoading();
    void failedWritesKeepTheOldFile();
    void mainWindowPaletteAndSettings();
    void addressHistoryKeepsTheNewestDistinctAddresses();
    void damagedAddressHistoryYieldsOnlyAddresses();
};

void TestSettingsFile::missingFileIsCreatedWithDefaults() {
    QTemporaryDir dir;
    ChatSettings settings;
    Palette palette{};
    settingsfile::confLoad(settings, palette, dir.path());

    const QByteArray expected = "pPalette0 =255\r\n"
                                "pPalette1 =65280\r\n"
                                "pPalette2 =16711680\r\n"
                                "pPalette3 =16777215\r\n"
                                "pPalette4 =16776960\r\n"
                                "pPalette5 =16711935\r\n"
                                "pPalette6 =65535\r\n"
                                "pPalette7 =0\r\n"
                                "cFontName = 0\r\n"
                                "cFontSize = 10\r\n"
                                "cFontColor =0\r\n"
                                "cFontBackColor =16777215\r\n"
                                "cMyName = Sketora\x83\x86\x81\x5b\x83\x55\x81\x5b\r\n";
    QCOMPARE(readAll(dir.filePath("reduza.ini")), expected);
    QCOMPARE(palette, StartPalette);
    QCOMPARE(settings.confFontName, qint16(0));
    QCOMPARE(settings.confFontSize, qint16(10));
    QCOMPARE(settings.confFontColor, 0);
    QCOMPARE(settings.confFontBackColor, 16777215);
    QCOMPARE(settings.confMyName, QString("Sketoraユーザー"));
}

void TestSettingsFile::saveAndLoadRoundTrip() {
    QTemporaryDir dir;
    ChatSettings saved;
    saved.confFontName = 1;
    saved.confFontSize = 15;
    saved.confFontColor = 123456;
    saved.confFontBackColor = -5;
    saved.confMyName = "髙橋 ① = 管理者"; // '=' inside the name survives
    const Palette colours{1, 2, 3, 4, 5, 6, 7, 16777215};
    QVERIFY(settingsfile::confSave(saved, colours, dir.path()));

    const QByteArray bytes = readAll(dir.filePath("reduza.ini"));
    QVERIFY(bytes.startsWith("pPalette0 =1\r\npPalette1 =2\r\n"));
    QVERIFY(bytes.contains("\r\npPalette7 =16777215\r\ncFontName=1\r\ncFontSize=15\r\n"
                           "cFontColor=123456\r\ncFontBackColor=-5\r\ncMyName="));
    QVERIFY(bytes.endsWith(protocol::toCp932("cMyName=髙橋 ① = 管理者") + "\r\n"));
    QCOMPARE(bytes.count("\r\n"), 13);
    QCOMPARE(bytes.count('\n'), 13);

    ChatSettings loaded;
    Palette palette{};
    settingsfile::confLoad(loaded, palette, dir.path());
    QCOMPARE(palette, colours);
    QCOMPARE(loaded.confFontName, saved.confFontName);
    QCOMPARE(loaded.confFontSize, saved.confFontSize);
    QCOMPARE(loaded.confFontColor, saved.confFontColor);
    QCOMPARE(loaded.confFontBackColor, saved.confFontBackColor);
    QCOMPARE(loaded.confMyName, saved.confMyName);
}

void TestSettingsFile::spacingKeysAndPaletteRule() {
    ChatSettings settings;
    settings.confFontColor = 77;
    settings.confFontBackColor = 88;
    Palette palette{};
    settingsfile::applyText(protocol::toCp932("  cFontSize  =  12\r\n"
                                              "cfontname=1\r\n" // wrong case
                                              "cFontName\r\n"   // no '='
                                              "\tcFontName\t=\t1 extra\r\n"
                                              "cFontColor = 12abc\r\n"
                                              "cFontBackColor=99999999999\r\n" // does not fit
                                              " pPalette1 =5\r\n"              // key not first
                                              "pPalette2=7\r\n"
                                              "pPalette3 = 9 = 10\r\n" // second '=' cut off
                                              "pPalette8 =1\r\n"
                                              "pPalette =2\r\n"
                                              "pPalettex=3\r\n"
                                              "PPalette4=4\r\n"
                                              "cMyName =   山田 花子  \r\n"),
                            settings, palette);
    QCOMPARE(settings.confFontSize, qint16(12));
    QCOMPARE(settings.confFontName, qint16(1));
    QCOMPARE(settings.confFontColor, 12);
    QCOMPARE(settings.confFontBackColor, 88);
    QCOMPARE(palette, Palette({0, 0, 7, 9, 0, 0, 0, 0}));
    QCOMPARE(settings.confMyName, QString("山田 花子"));

    // A file written by confSave and one written by confCreate read alike.
    ChatSettings fromDefault, fromSaved;
    Palette a{}, b{};
    settingsfile::applyText(settingsfile::defaultText(), fromDefault, a);
    settingsfile::applyText(settingsfile::savedText(fromDefault, a), fromSaved, b);
    QCOMPARE(a, b);
    QCOMPARE(fromSaved.confFontSize, fromDefault.confFontSize);
    QCOMPARE(fromSaved.confFontBackColor, fromDefault.confFontBackColor);
    QCOMPARE(fromSaved.confMyName, fromDefault.confMyName);
}

void TestSettingsFile::onlyTwentyLinesAreRead() {
    QByteArray nineteen;
    for (int i = 0; i < 19; ++i)
        nineteen += "comment line\r\n";
    ChatSettings settings;
    Palette palette{};
    settingsfile::applyText(nineteen + "cFontSize=20\r\ncFontName=1\r\n", settings, palette);
    QCOMPARE(settings.confFontSize, qint16(20)); // line 20
    QCOMPARE(settings.confFontName, qint16(0));  // line 21: not read
    // Bare LF endings and a last line without an ending are read too.
    settingsfile::applyText("cFontName=1\ncFontColor=3", settings, palette);
    QCOMPARE(settings.confFontName, qint16(1));
    QCOMPARE(settings.confFontColor, 3);
}

void TestSettingsFile::damagedOrUnreadableFilesNeverStopLoading() {
    QTemporaryDir dir;
    ChatSettings settings;
    settings.confMyName = "before";
    Palette palette = StartPalette;

    // A folder in the file's place: nothing read, nothing created.
    QVERIFY(QDir(dir.path()).mkdir("reduza.ini"));
    settingsfile::confLoad(settings, palette, dir.path());
    QCOMPARE(settings.confMyName, QString("before"));
    QCOMPARE(palette, StartPalette);
    QVERIFY(QDir(dir.path()).rmdir("reduza.ini"));

    // Garbage: invalid CP932, NUL bytes, stray '=' and numbers.
    QByteArray garbage("\x81\xff==\x00\x82=\r\n\xfc\xfc\xfc", 12);
    garbage += "cFontSize=\x85\x40 7\r\n=====\r\npPalette\x83=5\r\ncMyName=\r\n";
    QVERIFY(writeAll(dir.filePath("reduza.ini"), garbage));
    settingsfile::confLoad(settings, palette, dir.path());
    QCOMPARE(settings.confFontSize, qint16(0));
    QCOMPARE(palette, StartPalette);
    QCOMPARE(settings.confMyName, QString());
}

void TestSettingsFile::failedWritesKeepTheOldFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("reduza.ini");
    ChatSettings settings;
    Palette palette{};
    settingsfile::confLoad(settings, palette, dir.path());
    const QByteArray before = readAll(path);

    settings.confMyName = "a much longer name that makes the new file larger than the limit";
    {
        FileSizeLimit limit(64);
        QVERIFY(!settingsfile::confSave(settings, palette, dir.path()));
    }
    QCOMPARE(readAll(path), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList("reduza.ini"));

    // A folder that cannot take the file: the defaults still reach memory.
    ChatSettings fresh;
    Palette freshPalette{};
    settingsfile::confLoad(fresh, freshPalette, dir.filePath("no/such/folder"));
    QCOMPARE(freshPalette, StartPalette);
    QCOMPARE(fresh.confFontSize, qint16(10));
    QCOMPARE(fresh.confMyName, QString("Sketoraユーザー"));
    QVERIFY(!settingsfile::confSave(fresh, freshPalette, dir.filePath("no/such/folder")));
}

// A whole client reads the file at start-up and writes it when it closes.
void TestSettingsFile::mainWindowPaletteAndSettings() {
    QTemporaryDir dir;
    FakePrompts prompts;
    QVERIFY(writeAll(dir.filePath("reduza.ini"), "pPalette3 =123\r\ncFontSize=12\r\n"));
    SketoraClient client({&prompts, {}, dir.path(), [] { return 0; }});
    const qint32 cell5 = PaletteController::DefaultColors[5]; // the file leaves it alone
    client.start();
    client.startupDialog().reject();
    Form1& main = client.form1();
    QCOMPARE(main.paletteColor(3), 123);
    QCOMPARE(main.paletteColor(5), cell5);
    QCOMPARE(client.settings().confFontSize, qint16(12));

    main.setPaletteColor(0, 42);
    client.settings().confMyName = "main";
    prompts.questionAnswers = {true};
    QVERIFY(main.close());
    const QByteArray bytes = readAll(dir.filePath("reduza.ini"));
    QVERIFY(bytes.startsWith("pPalette0 =42\r\n"));
    QVERIFY(bytes.contains("pPalette3 =123\r\n"));
    QVERIFY(bytes.endsWith("cFontSize=12\r\ncFontColor=0\r\ncFontBackColor=0\r\ncMyName=main\r\n"));
}

// Newest first, each once (host names without regard to case), at most ten.
void TestSettingsFile::addressHistoryKeepsTheNewestDistinctAddresses() {
    QTemporaryDir dir;
    AddressHistory history(dir.path());
    QCOMPARE(history.addresses(), QStringList());
    for (int i = 1; i <= 12; ++i)
        QVERIFY(history.rememberAddress(QStringLiteral("10.0.0.%1").arg(i)));
    QVERIFY(history.rememberAddress(QStringLiteral("  Board.Local ")));
    QVERIFY(history.rememberAddress(QStringLiteral("10.0.0.9")));
    QVERIFY(history.rememberAddress(QStringLiteral("board.local")));
    QVERIFY(!history.rememberAddress(QStringLiteral("   ")));
    const QStringList expected{"board.local", "10.0.0.9", "10.0.0.12", "10.0.0.11", "10.0.0.10",
                               "10.0.0.8",    "10.0.0.7", "10.0.0.6",  "10.0.0.5",  "10.0.0.4"};
    QCOMPARE(history.addresses(), expected);
    QCOMPARE(AddressHistory(dir.path()).addresses(), expected); // as the next run reads it
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"sketora-servers.txt"});
    QVERIFY(!AddressHistory(dir.filePath("no/such/folder")).rememberAddress("10.0.0.1"));
}

// Whatever the file holds, only addresses come out: no control characters,
// blanks inside, undecodable bytes or endless lines, and never more than ten.
void TestSettingsFile::damagedAddressHistoryYieldsOnlyAddresses() {
    QByteArray damaged = "\r\n  192.0.2.1\r\n\x01bell\nwith blank\n\xff\xfe\x80\n";
    damaged += QByteArray(300, 'a') + "\n";
    damaged += QByteArray("\0\0\0", 3) + "\n";
    damaged += "サーバ.example\n192.0.2.1\n";
    for (int i = 0; i < 20; ++i)
        damaged += "198.51.100." + QByteArray::number(i) + "\n";
    const QStringList read = AddressHistory::parse(damaged);
    QCOMPARE(read.size(), AddressHistory::MaxEntries);
    QCOMPARE(read.mid(0, 3), (QStringList{"192.0.2.1", "サーバ.example", "198.51.100.0"}));

    QTemporaryDir dir;
    QVERIFY(writeAll(dir.filePath("sketora-servers.txt"), QByteArray(1 << 20, '\xff')));
    AddressHistory history(dir.path());
    QCOMPARE(history.addresses(), QStringList());
    QVERIFY(history.rememberAddress("192.0.2.7")); // a damaged file is replaced whole
    QCOMPARE(readAll(dir.filePath("sketora-servers.txt")), QByteArray("192.0.2.7\n"));
}

QTEST_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
