// setting_module and the store rules: what reaches the file and comes back,
// absent, damaged, out-of-range and crafted content, and the screen that keeps
// serialized variants away from the settings library.

#include "dialoghelpers.h"
#include "parametersets.h"
#include "settings/setting_module.h"
#include "settings/settingsmapping.h"
#include "settings/settingsstore.h"
#include "window/settingsdialog.h"

#include <QApplication>
#include <QListView>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using settingsstore::FileState;
using Outcome = setting_module::Outcome;

// A serialized list claiming 2^31 - 1 entries: the library reserves room for
// all of them and aborts with std::bad_alloc. And a harmless serialized int 5.
static const QByteArray crashing = "\\0\\0\\0\\xb\\x7f\\xff\\xff\\xff";
static const QByteArray harmless = "\\0\\0\\0\\x2\\0\\0\\0\\x5";

class TestSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int counter = 0;

    // A path never used before: the library caches what it read per path.
    QString fresh() { return dir.filePath(QString::number(++counter) + ".TRset"); }
    QString write(const QByteArray &text)
    {
        QString path = fresh();
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    std::unique_ptr<setting_module> load(const QByteArray &text)
    {
        auto module = std::make_unique<setting_module>();
        module->LoadNTSetting(write(text));
        return module;
    }

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("values"); // the thirteen fields, split at "|"
        QTest::newRow("parameter set") << "10.0.0.7|255.255.0.0|10.0.0.1|502|8|2|3|1|250|10.0.0.2|"
                                          "3000|17|1";
        QTest::newRow("empty") << "||||0|0|0|0|||||";
        QTest::newRow("limits and texts needing escapes")
            << "@Variant(\\0)|@@x| 1.2.3.4 |5,02|-2147483648|2147483647|-1|0|a;b=c|адрес1a|"
               "\"q\" \\b\t|@DateTime(|\x01\x7f\u00e9";
        // The library writes texts holding NUL characters as @String(...);
        // fuzzing found such a file refused after the configurator saved it.
        static const char nul[] = "@Variant(\0\0ASK|@DateTime(\0)|\0||0|0|0|0|x @Variant(\0)||||";
        QTest::newRow("NUL characters") << QString::fromLatin1(nul, sizeof nul - 1);
        QTest::newRow("any text a user can type") << QString::fromUtf8(
            "\t шлюз 🙂 |a,@Variant(x),\"b\"|\\x40Variant(|=@DateTime(1)|"
            "0|0|0|0| ;#[x]|\\|,,|@|\u2028\u00ad\ufeff ");
    }
    void roundTrip()
    {
        QFETCH(QString, values);
        setting_module writer;
        setFields(writer, values.split('|'));
        writer.modul_name = "kept";
        const QString path = fresh();
        writer.SaveNTSetting(path);
        QCOMPARE(writer.outcome(), Outcome::Done);
        QCOMPARE(writer.modul_name + writer.fileName, QStringLiteral("kept"));
        QCOMPARE(settingsstore::examineFile(path), FileState::Safe);
        QCOMPARE(fields(*load(read(path))).join('|'), values);
    }

    // Whatever file the program loads or refuses, saving over it gives a
    // file that loads again with the saved values.
    void mapping_data()
    {
        // A file's thirteen fields (split at "|"), the parameters it gives
        // (key=value, in the write's order), and the file those parameters
        // fill again.
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("values");
        QTest::addColumn<QString>("back");
        QTest::newRow("whole set")
            << "10.0.0.7|255.255.0.0|10.0.0.1|502|8|2|3|1|250|10.0.0.2|7|8|9"
            << "ip=10.0.0.7 mask=255.255.0.0 gateway=10.0.0.1 tcp_port=502 parity=even "
               "speed=115200 stop_bits=2 packet_timeout=250"
            << "10.0.0.7|255.255.0.0|10.0.0.1|502|8|2|3|0|250||||";
        QTest::newRow("first and last of each list")
            << "|||23|1|1|1|0|1||||"
            << "tcp_port=23 parity=none speed=1200 stop_bits=1 packet_timeout=1"
            << "|||23|1|1|1|0|1||||";
        QTest::newRow("ends of the lists") << "||||10|2|3|0|||||"
                                           << "parity=even speed=256000 stop_bits=2"
                                           << "||||10|2|3|0|||||";
        QTest::newRow("positions outside the lists give nothing") << "1.1.1.1||||11|3|4|2|||||"
                                                                  << "ip=1.1.1.1"
                                                                  << "1.1.1.1||||0|0|0|0|||||";
        QTest::newRow("nothing") << "||||0|0|0|0|||||"
                                 << ""
                                 << "||||0|0|0|0|||||";
    }

    void mapping()
    {
        QFETCH(QString, file);
        QCOMPARE(settingsmapping::settingsFields(), parameters::writeOrder());
        setting_module module;
        setFields(module, file.split('|'));
        const parameters::Values values = settingsmapping::fromSettings(module);
        QStringList given;
        for (ModuleField field : parameters::writeOrder()) {
            if (values.contains(field))
                given << parameters::fieldKey(field) + '=' + values.value(field);
        }
        QTEST(given.join(' '), "values");
        setting_module back;
        settingsmapping::toSettings(values, &back);
        QTEST(fields(back).join('|'), "back");
    }

    void savedOverCorpusLoadsAgain_data()
    {
        QTest::addColumn<QString>("source");
        const QDir corpus(QStringLiteral(ORDAN_SETTINGS_CORPUS));
        const QStringList names = corpus.entryList(QDir::Files);
        QVERIFY(names.size() >= 15);
        for (const QString &name : names)
            QTest::newRow(qPrintable(name)) << corpus.filePath(name);
    }
    void savedOverCorpusLoadsAgain()
    {
        QFETCH(QString, source);
        QFile original(source);
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QString path = write(original.readAll());
        setting_module module;
        module.LoadNTSetting(path);
        module.ip_adress = QStringLiteral("10.0.0.1");
        module.gateway = QString::fromUtf8("шлюз, \"@Variant(\\x0)\"");
        module.SaveNTSetting(path);
        QCOMPARE(module.outcome(), Outcome::Done);
        QCOMPARE(settingsstore::examineFile(path), FileState::Safe);
        setting_module reread;
        reread.LoadNTSetting(path);
        QCOMPARE(reread.outcome(), Outcome::Done);
        QCOMPARE(fields(reread), fields(module));
    }

    void fileAsWritten()
    {
        setting_module module;
        setFields(module, {"192.168.0.1", "255.255.255.0", "0.0.0.0", "502", "4", "1", "1", "0",
                           "1000", "", "", "", ""});
        const QString path = fresh();
        module.SaveNTSetting(path);
        QCOMPARE(read(path), QByteArray("[General]\nGATEWAY=0.0.0.0\nIP_ADRESS=192.168.0.1\n"
                                        "MASK=255.255.255.0\nMODE_TCP=0\nPARITY=1\nPORT_TCP=502\n"
                                        "SPEED_RS485=4\nSTOP_BIT=1\nTIMEOUT_RESPONSE=1000\n\n"
                                        "[Client_TCP]\nIP_SERVER_TCP=\nRTU_VIRTUAL_ID=\n"
                                        "TCP_SLAVE_ID=\nTIMEOUT_TCP=\n"));
    }

    void savingOver_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<bool>("othersKept");
        const QByteArray others = "[General]\nIP_ADRESS=1.1.1.1\nNOTE=kept\n[Other]\nX=1\n";
        QTest::newRow("sound file") << others << true;
        // The library reports a format error for these, and keeps reporting
        // it after a successful write.
        QTest::newRow("line without equals sign") << others + "no equals sign\n" << true;
        QTest::newRow("broken section heading") << "[Broken\n" + others << true;
        // Passed with raw control characters, which the library writes back
        // as escapes; fuzzing found it refused after the save.
        QTest::newRow("control characters in a kept text")
            << QByteArray(others).replace("=kept", "=\"x=@Var\x01iant(1)\"") << true;
        // A refused file is not a parameter set: it is replaced whole.
        QTest::newRow("refused file") << others + "Y=@Variant(" + crashing + ")\n" << false;
    }
    void savingOver()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, othersKept);
        const QString path = write(before);
        setting_module module;
        module.ip_adress = "2.2.2.2";
        module.SaveNTSetting(path);
        QCOMPARE(module.outcome(), Outcome::Done);
        QCOMPARE(settingsstore::examineFile(path), FileState::Safe);
        QSettings after(write(read(path)), QSettings::IniFormat);
        QCOMPARE(after.value("IP_ADRESS").toString(), QStringLiteral("2.2.2.2"));
        QCOMPARE(after.allKeys().size(), othersKept ? 15 : 13);
        QCOMPARE(after.contains("NOTE") && after.contains("Other/X"), othersKept);
    }

    void loading_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("values"); // the thirteen fields, split at "|"
        QTest::newRow("general section only")
            << QByteArray("[General]\nIP_ADRESS=1.2.3.4\nTIMEOUT_RESPONSE=90\n")
            << "1.2.3.4||||0|0|0|0|90||||";
        QTest::newRow("integers beyond int (were truncated) or not decimal")
            << QByteArray("[General]\nSPEED_RS485=4294967297\nSTOP_BIT=-2147483649\n"
                          "PARITY=none\nMODE_TCP=0x10\n[Client_TCP]\nTCP_SLAVE_ID=5\n")
            << "||||0|0|0|0|||||5";
        QTest::newRow("integers at the limits")
            << QByteArray(
                   "SPEED_RS485=-1\nSTOP_BIT=2147483647\nPARITY=-2147483648\nMODE_TCP=\"7\"\n")
            << "||||-1|2147483647|-2147483648|7|||||";
        QTest::newRow("more that is not a decimal int")
            << QByteArray("SPEED_RS485=12abc\nSTOP_BIT=1.5\nPARITY=1, 2\n"
                          "MODE_TCP=18446744073709551620\n")
            << "||||0|0|0|0|||||";
        QTest::newRow("damaged lines between keys")
            << QByteArray("[General\nMASK=255.0.0.0\ngarbage\n=\nSTOP_BIT=2\n")
            << "|255.0.0.0|||0|2|0|0|||||";
        QTest::newRow("not an INI text")
            << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << "||||0|0|0|0|||||";
    }
    void loading()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, values);
        setting_module module;
        setFields(module, QStringList(QVector<QString>(13, "9").toList()));
        module.modul_name = "kept";
        module.fileName = "kept";
        module.LoadNTSetting(write(text));
        QCOMPARE(module.outcome(), Outcome::Done);
        QCOMPARE(fields(module).join('|'), values);
        QCOMPARE(module.modul_name + module.fileName, QStringLiteral("keptkept"));
    }

    void screen_data()
    {
        // "P" is a payload: each row runs with a harmless one against what the
        // library really does (`decodes`) and with the crashing one against
        // the screen (`safe`).
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("safe");
        QTest::addColumn<bool>("decodes");
        constexpr bool qt6 = QT_VERSION >= QT_VERSION_CHECK(6, 0, 0);
        const struct {
            const char *name, *value;
            bool safe, decodes;
        } rows[] = {
            {"plain", "192.168.0.1", true, false},
            {"variant", "@Variant(P)", false, true},
            {"date and time", "@DateTime(P)", false, true},
            {"quoted", "\"@Variant(P)\"", false, true},
            {"split by quotes and blanks", "\"@Var\"  \"iant(P)\"", false, true},
            {"after blanks", " \t @Variant(P)", false, true},
            {"list element", "a, @Variant(P)", false, true},
            {"line continuation", "@Var\\\niant(P)", false, true},
            {"dropped escape inside", "@\\zVariant(P)", false, true},
            {"dropped escape before", "\\q@Variant(P)", false, true},
            {"at-sign as hex escape", "\\x40Variant(P)", false, true},
            {"hex digit as hex escape", "@V\\x61riant(P)", false, true},
            {"at-sign as octal escape", "\\100Variant(P)", false, true},
            {"escape cut to 16 bits", "\\x10040Variant(P)", false, true},
            {"doubled at-sign", "@@Variant(P)", true, false},
            {"tripled at-sign", "@@@DateTime(P)", true, false},
            {"at-sign, dropped escape, marker", "@\\q@Variant(P)", true, false},
            {"at-sign, quotes, marker", "@\"\"@Variant(P)", true, false},
            {"inside a text", "x@Variant(P)", true, false},
            {"after a closed quote", "\"x\" @Variant(P)", true, false},
            {"inside a wrapped text", "@String(@Variant(P))", true, false},
            {"escapes the library writes", "\\x43f\\x31\\x61\\t\\\"\\\\\\x1\\xd83d\\xde00", true,
             false},
            {"after an equals sign in a text", "a=@Variant(P)", true, false},
            {"after a quoted comma", "\"a, @Variant(P)\"", true, false},
            {"escape for a letter", "\\x47", true, false},
            // Never written by the library for a text: refused even unclosed.
            {"unclosed", "@Variant(P", false, false},
            // The library's UTF-8 decoder drops a byte order mark that starts
            // a run of plain bytes: Qt 5's any run, Qt 6's the value's first.
            {"byte order mark before", "\xef\xbb\xbf@Variant(P)", false, true},
            {"byte order mark after an escape", "\\x41,\xef\xbb\xbf@Variant(P)", false, true},
            {"byte order mark after a plain element", "a,\xef\xbb\xbf@Variant(P)", qt6, !qt6},
            {"byte order mark after quotes", "\"\"\xef\xbb\xbf@Variant(P)", false, true},
            {"two byte order marks", "\xef\xbb\xbf\xef\xbb\xbf@Variant(P)", true, false},
        };
        for (const auto &row : rows)
            QTest::newRow(row.name) << "[General]\nIP_ADRESS=1\nK=" + QByteArray(row.value) + "\n"
                                    << row.safe << row.decodes;
        QTest::newRow("raw bytes")
            << QByteArray("K=@Variant(\0\0\0\x02\0\0\0\x05)", 20) << false << true;
        QTest::newRow("dropped escape of a NUL byte")
            << QByteArray("K=\\\0@Variant(P)", 15) << false << true;
        QTest::newRow("another section") << QByteArray("[O]\nL=@Variant(P)\n") << false << true;
        QTest::newRow("comment") << QByteArray("; @Variant(P)\nIP_ADRESS=1\n") << true << false;
        QTest::newRow("key") << QByteArray("IP_ADRESS=1\n@Variant(P)=1\n") << true << false;
    }
    void screen()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, safe);
        QFETCH(bool, decodes);
        const std::unique_ptr<QSettings> store(
            settingsstore::openStore(write(QByteArray(text).replace("(P", "(" + harmless))));
        bool decoded = false;
        for (const QString &key : store->allKeys())
            decoded = decoded || (store->value(key).userType() != QMetaType::QString &&
                                  store->value(key).userType() != QMetaType::QStringList);
        QCOMPARE(decoded, decodes);
        const QByteArray crafted = QByteArray(text).replace("(P", "(" + crashing);
        QCOMPARE(settingsstore::textIsSafe(crafted), safe);
        QVERIFY(!(safe && decodes));
        if (safe) // what passes reaches the library, crashing payload and all
            QCOMPARE(load(crafted)->ip_adress, QStringLiteral("1"));
    }

    // Files saved by the Qt 5 and by the Qt 6 build load with the same values
    // on either build, and load again after a save over them; those holding
    // serialized variants are refused.
    void crossover_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("values");
        QTest::addColumn<bool>("variants");
        const QDir data(QStringLiteral(ORDAN_CROSSOVER_DIR));
        for (const CrossoverSet &set : crossoverSets) {
            for (const char *build : {"qt5", "qt6"}) {
                const QString name = QStringLiteral("%1-%2.TRset").arg(build, set.name);
                QVERIFY2(data.exists(name), qPrintable(name));
                QTest::newRow(qPrintable(name))
                    << data.filePath(name) << QString::fromUtf8(set.values) << set.variants;
            }
        }
    }
    void crossover()
    {
        QFETCH(QString, path);
        QFETCH(QString, values);
        QFETCH(bool, variants);
        const QString copy = write(read(path));
        QCOMPARE(settingsstore::examineFile(copy),
                 variants ? FileState::Rejected : FileState::Safe);
        setting_module module;
        module.LoadNTSetting(copy);
        QCOMPARE(module.outcome(), variants ? Outcome::NotRead : Outcome::Done);
        QCOMPARE(fields(module).join('|'), variants ? fields(setting_module()).join('|') : values);
        setFields(module, values.split('|'));
        module.SaveNTSetting(copy);
        QCOMPARE(module.outcome(), Outcome::Done);
        QCOMPARE(fields(*load(read(copy))).join('|'), values);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("saved"); // saving over it replaces it
        for (const char *kind : {"crafted", "too large", "missing"})
            QTest::newRow(kind) << kind << true;
        for (const char *kind : {"under a regular file", "directory", "pipe", "empty path"})
            QTest::newRow(kind) << kind << false;
    }
    void refused()
    {
        QFETCH(QString, kind);
        QFETCH(bool, saved);
        QString path = kind == "empty path" ? QString() : fresh();
        if (kind == "crafted")
            path = write("[General]\nIP_ADRESS=@Variant(" + crashing + ")\n");
        else if (kind == "too large")
            path = write("IP_ADRESS=1\n;" + QByteArray(settingsstore::maxFileSize, 'x'));
        else if (kind == "under a regular file")
            path = write("plain") + "/inside.TRset";
        else if (kind == "directory")
            QVERIFY(QDir().mkpath(path));
        else if (kind == "pipe")
            QCOMPARE(QProcess::execute("mkfifo", {path}), 0);

        setting_module module;
        setFields(module, QStringList(QVector<QString>(13, "9").toList()));
        module.LoadNTSetting(path); // never blocks, never reaches the library
        QCOMPARE(module.outcome(), Outcome::NotRead);
        QCOMPARE(fields(module), fields(setting_module()));
        QVERIFY(!module.settings);
        module.ip_adress = "3.3.3.3";
        module.SaveNTSetting(path);
        QCOMPARE(module.outcome(), saved ? Outcome::Done : Outcome::NotWritten);
        QCOMPARE(settingsstore::examineFile(path) == FileState::Safe, saved);
        if (saved)
            QCOMPARE(load(read(path))->ip_adress, QStringLiteral("3.3.3.3"));
        if (kind == "under a regular file")
            QCOMPARE(read(path.section('/', 0, -2)), QByteArray("plain"));
    }

    void dialogs()
    {
        FileDialogAnswerer files;
        MessageBoxAnswerer boxes;
        setting_module module, loader;
        module.ip_adress = "4.4.4.4";
        const QString typed = fresh().chopped(6); // a name without extension
        files.answerNext(typed);
        module.SaveNTSetting();
        QCOMPARE(files.lastCaption(), QStringLiteral("Настройки"));
        QCOMPARE(files.lastFilters(), QStringList{"TCP_RTU settings (*.TRset);"});
        QCOMPARE(module.fileName, typed + ".TRset");
        files.answerNext(typed + ".TRset");
        loader.LoadNTSetting();
        QCOMPARE(loader.fileName + loader.ip_adress, typed + ".TRset4.4.4.4");
        // Cancelled: a load gives defaults, a save writes nothing.
        files.cancelNext();
        loader.LoadNTSetting();
        QCOMPARE(loader.fileName + loader.ip_adress, QString());
        files.cancelNext();
        module.SaveNTSetting();
        QCOMPARE(module.outcome(), Outcome::NotWritten);
        QCOMPARE(files.count() + boxes.count(), 4);
    }

    void dialogListsSettingsFiles()
    {
        // The filter's text ends with ";" behind the parenthesis, which kept
        // the dialog from listing anything.
        QTemporaryDir folder;
        for (const char *name : {"a.TRset", "b.txt", "c.TRset.bak"})
            QFile(folder.filePath(name)).open(QIODevice::WriteOnly);
        QStringList listed;
        int polls = 0;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *dialog = qobject_cast<QFileDialog *>(widget);
                if (!dialog || !dialog->isVisible())
                    continue;
                if (dialog->directory() != QDir(folder.path()))
                    return dialog->setDirectory(folder.path());
                auto *view = dialog->findChild<QListView *>("listView");
                const QModelIndex root = view->rootIndex();
                if (++polls < 100 && view->model()->rowCount(root) == 0)
                    return; // still gathering
                for (int row = 0; row < view->model()->rowCount(root); ++row)
                    listed << view->model()->index(row, 0, root).data().toString();
                dialog->reject();
            }
        });
        poll.start(50);
        setting_module().LoadNTSetting();
        QCOMPARE(listed, QStringList{"a.TRset"});
    }
};

int main(int argc, char **argv)
{
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    TestSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"
