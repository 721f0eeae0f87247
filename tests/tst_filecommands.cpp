// The window's settings-file menu as the engineer uses it: save the form with
// substitutes, open a file as the current one, reload it, and what happens
// when the chosen file cannot be written, is gone or is crafted.

#include "dialoghelpers.h"
#include "window/formtexts.h"
#include "window/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

static const char *const edits[] = {"lineEdit_ip",      "lineEdit_mask",     "lineEdit_gateway",
                                    "lineEdit_portTCP", "lineEdit_timewait", "lineEdit_name",
                                    "lineEdit_MAC",     "lineEdit_version"};
static const char *const lists[] = {"comboBox", "comboBox_speed", "comboBox_2"};
// A serialized list claiming 2^31 - 1 entries: read by the settings library,
// it aborts the program with std::bad_alloc.
static const QByteArray crafted = "IP_ADRESS=@Variant(\\0\\0\\0\\xb\\x7f\\xff\\xff\\xff)\n";

static QStringList traces;
static void trace(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        traces << message;
}

class TestFileCommands : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int counter = 0;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MessageBoxAnswerer> boxes;
    std::unique_ptr<FileDialogAnswerer> files;

    template <typename T> T *child(const char *name) { return window->findChild<T *>(name); }
    QString fresh() { return dir.filePath(QString::number(++counter) + ".TRset"); }
    QString write(const QByteArray &text, QString path = QString())
    {
        if (path.isEmpty())
            path = fresh();
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    // Keys and values on disk, read through a fresh path past the library's cache.
    QMap<QString, QString> onDisk(const QString &path)
    {
        QFile file(path);
        QSettings store(write(file.open(QIODevice::ReadOnly) ? file.readAll() : ""),
                        QSettings::IniFormat);
        QMap<QString, QString> keys;
        for (const QString &key : store.allKeys())
            keys[key] = store.value(key).toString();
        return keys;
    }
    QStringList styles()
    {
        QStringList all;
        for (const char *name : edits)
            all << child<QLineEdit>(name)->styleSheet();
        for (const char *name : lists)
            all << child<QComboBox>(name)->styleSheet();
        return all;
    }
    // Text or position, and style sheet, of every field a file command may touch.
    QStringList form()
    {
        QStringList state = styles();
        for (int i = 0; i < 8; ++i)
            state[i] += " | " + child<QLineEdit>(edits[i])->text();
        for (int i = 0; i < 3; ++i)
            state[8 + i] += " | " + QString::number(child<QComboBox>(lists[i])->currentIndex());
        return state;
    }
    // The form as a read-out leaves it, every field marked.
    void markForm()
    {
        for (const char *name : edits) {
            child<QLineEdit>(name)->setText(QStringLiteral("old"));
            child<QLineEdit>(name)->setStyleSheet(Mark::valid);
        }
        for (const char *name : lists) {
            child<QComboBox>(name)->setCurrentIndex(2);
            child<QComboBox>(name)->setStyleSheet(Mark::invalid);
        }
    }
    void trigger(const char *action, const QString &answer)
    {
        if (answer.isEmpty())
            files->cancelNext();
        else
            files->answerNext(answer);
        child<QAction>(action)->trigger();
    }
    QString caption() { return child<QAction>("action")->text(); }
    QString lastBox()
    {
        const MessageBoxAnswerer::Box box = boxes->last();
        return box.icon == QMessageBox::Critical && box.buttons.size() == 1
                   ? box.title + ": " + box.text
                   : "not a critical box";
    }

private slots:
    void initTestCase() { qInstallMessageHandler(trace); }
    void init()
    {
        window = std::make_unique<MainWindow>();
        boxes = std::make_unique<MessageBoxAnswerer>();
        files = std::make_unique<FileDialogAnswerer>();
        traces.clear();
    }
    void cleanup()
    {
        files.reset();
        boxes.reset();
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void save_data()
    {
        QTest::addColumn<QStringList>("texts");    // ip, mask, gateway, port, time-out
        QTest::addColumn<QList<int>>("positions"); // parity, speed, stop bits
        QTest::addColumn<QString>("saved");        // the thirteen keys, sorted
        QTest::newRow("empty form") << QStringList{"", "", "", "", ""} << QList<int>{0, 0, 0}
                                    << ",,,,0.0.0.0,192.168.0.1,255.255.255.0,0,1,502,4,1,1000";
        QTest::newRow("filled form")
            << QStringList{"10.1.1.2", "255.0.0.0", "10.1.1.1", "23", "50"} << QList<int>{3, 10, 2}
            << ",,,,10.1.1.1,10.1.1.2,255.0.0.0,0,3,23,10,2,50";
        QTest::newRow("blanks are not empty") << QStringList{" ", "  ", " ", " ", " "}
                                              << QList<int>{0, 1, 0} << ",,,, , ,  ,0,1, ,1,1, ";
        QTest::newRow("lists showing no entry")
            << QStringList{"1", "2", "3", "4", "5"} << QList<int>{-1, -1, -1}
            << ",,,,3,1,2,0,-1,4,-1,-1,5";
    }
    void save()
    {
        QFETCH(QStringList, texts);
        QFETCH(QList<int>, positions);
        QFETCH(QString, saved);
        for (int i = 0; i < 5; ++i)
            child<QLineEdit>(edits[i])->setText(texts[i]);
        for (int i = 0; i < 3; ++i)
            child<QComboBox>(lists[i])->setCurrentIndex(positions[i]);
        const QStringList before = form();
        const QString path = fresh();
        trigger("action_save", path);
        QCOMPARE(form(), before); // substitutes go into the file only
        QCOMPARE(caption(), QStringLiteral("Текущий файл"));
        QCOMPARE(boxes->count(), 0);
        const QMap<QString, QString> keys = onDisk(path);
        QCOMPARE(keys.keys().join(','),
                 QStringLiteral("Client_TCP/IP_SERVER_TCP,Client_TCP/RTU_VIRTUAL_ID,"
                                "Client_TCP/TCP_SLAVE_ID,Client_TCP/TIMEOUT_TCP,GATEWAY,IP_ADRESS,"
                                "MASK,MODE_TCP,PARITY,PORT_TCP,SPEED_RS485,STOP_BIT,"
                                "TIMEOUT_RESPONSE"));
        QCOMPARE(keys.values().join(','), saved);
    }

    void open_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("shown");   // five texts, then the three lists' entries
        QTest::addColumn<int>("speed");       // the speed position traced
        QTest::addColumn<QString>("resaved"); // PARITY, SPEED_RS485, STOP_BIT saved right after
        QTest::newRow("substitutes")
            << QByteArray("GATEWAY=0.0.0.0\nIP_ADRESS=192.168.0.1\nMASK=255.255.255.0\nPARITY=1\n"
                          "PORT_TCP=502\nSPEED_RS485=4\nSTOP_BIT=1\nTIMEOUT_RESPONSE=1000\n")
            << "192.168.0.1,255.255.255.0,0.0.0.0,502,1000,без паритета,9600,1" << 4 << "1,4,1";
        QTest::newRow("nothing chosen")
            << QByteArray("IP_ADRESS=1.1.1.1\nPARITY=0\nSPEED_RS485=0\nSTOP_BIT=0\n")
            << "1.1.1.1,,,,,,," << 0 << "1,4,1";
        QTest::newRow("positions outside the lists")
            << QByteArray("PARITY=4\nSPEED_RS485=12\nSTOP_BIT=-3\n") << ",,,,,,," << 12
            << "-1,-1,-1";
        QTest::newRow("partly damaged")
            << QByteArray("PARITY=odd\nSPEED_RS485=4294967302\nlost line\nMASK=255.0.0.0\n"
                          "STOP_BIT=2\n")
            << ",255.0.0.0,,,,,,2" << 0 << "1,4,2";
    }
    void open()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, shown);
        QFETCH(int, speed);
        QFETCH(QString, resaved);
        markForm();
        const QString path = write(text);
        trigger("action_open_2", path);
        QCOMPARE(boxes->count(), 0);
        QCOMPARE(caption(), "Текущий файл (" + path + ")");
        QStringList values;
        for (int i = 0; i < 5; ++i)
            values << child<QLineEdit>(edits[i])->text();
        for (const char *name : lists)
            values << child<QComboBox>(name)->currentText();
        QCOMPARE(values.join(','), shown);
        // Fields that received values keep their marks; the others turn neutral.
        const char *const v = Mark::valid, *const n = Mark::neutral, *const i = Mark::invalid;
        QCOMPARE(styles(), (QStringList{v, v, v, v, v, n, Mark::neutralMac, n, i, i, i}));
        QCOMPARE(form().mid(5, 3).join(',').count(" | old"), 3);
        QCOMPARE(traces, (QStringList{"\"\" modul_name", QString::number(speed) + " SPERD_RS485",
                                      "0 tcp -mode"}));
        const QString copy = fresh();
        trigger("action_save", copy);
        const QMap<QString, QString> keys = onDisk(copy);
        QCOMPARE(keys["PARITY"] + ',' + keys["SPEED_RS485"] + ',' + keys["STOP_BIT"], resaved);
    }

    void reload()
    {
        const QString path = write("IP_ADRESS=7.7.7.7\nPARITY=2\nSPEED_RS485=8\nSTOP_BIT=2\n"
                                   "TIMEOUT_RESPONSE=70\n");
        markForm();
        trigger("action_open_2", path);
        const QStringList opened = form();
        markForm();
        traces.clear();
        child<QAction>("action")->trigger();
        QStringList expected = opened;
        expected[5] = Mark::valid + QStringLiteral(" | old"); // the name field's mark stays
        QCOMPARE(form(), expected);
        QCOMPARE(traces, QStringList{"\"\" modul_name"});
        // Saving elsewhere does not change the current file.
        trigger("action_save", fresh());
        markForm();
        child<QAction>("action")->trigger();
        QCOMPARE(form(), expected);
        QCOMPARE(caption(), "Текущий файл (" + path + ")");
        QCOMPARE(boxes->count(), 0);
    }

    void cancelled()
    {
        trigger("action_open_2", write("IP_ADRESS=6.6.6.6\n"));
        const QStringList opened = form();
        trigger("action_open_2", QString());
        QCOMPARE(caption(), QStringLiteral("Текущий файл ()"));
        QCOMPARE(lastBox(), QStringLiteral("Ошибка: Файл конфигурации не выбран"));
        // Twice in a row: the second box is built where the first one stood.
        child<QAction>("action")->trigger();
        child<QAction>("action")->trigger();
        QCOMPARE(boxes->count(), 3);
        QCOMPARE(lastBox(), QStringLiteral("Ошибка: Файл конфигурации не выбран"));
        QCOMPARE(form(), opened);
        const QStringList before = QDir(dir.path()).entryList();
        trigger("action_save", QString()); // writes nothing, says nothing
        QCOMPARE(QDir(dir.path()).entryList(), before);
        QCOMPARE(boxes->count() + files->count(), 3 + 3);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("box");
        const QString unread = "Ошибка: Не удалось прочитать файл конфигурации";
        // Below a regular file nothing can be written, whoever runs the test.
        QTest::newRow("save below a regular file")
            << "save"
            << "Ошибка: Не удалось сохранить файл конфигурации";
        QTest::newRow("crafted file opened") << "open crafted" << unread;
        QTest::newRow("current file removed") << "remove" << unread;
        QTest::newRow("current file made crafted") << "make crafted" << unread;
        QTest::newRow("current file made a directory") << "make directory" << unread;
    }
    void failures()
    {
        QFETCH(QString, how);
        QFETCH(QString, box);
        const QString path = write(how == "open crafted" ? crafted : "IP_ADRESS=5.5.5.5\n");
        if (how != "save" && how != "open crafted") {
            trigger("action_open_2", path); // a sound current file first
            QFile::remove(path);
            if (how == "make crafted")
                write(crafted, path);
            if (how == "make directory")
                QDir().mkdir(path);
        }
        markForm();
        const QStringList before = form();
        if (how == "save")
            trigger("action_save", path + "/inside.TRset");
        else if (how == "open crafted")
            trigger("action_open_2", path);
        else
            child<QAction>("action")->trigger();
        QCOMPARE(boxes->count(), 1);
        QCOMPARE(lastBox(), box);
        QCOMPARE(form(), before);
        if (how == "save")
            QCOMPARE(onDisk(path).value("IP_ADRESS"), QStringLiteral("5.5.5.5"));
    }

    void saveOverCraftedFile()
    {
        const QString path = write(crafted);
        child<QLineEdit>("lineEdit_ip")->setText(QStringLiteral("8.8.8.8"));
        boxes->answerNext(QStringLiteral("&Yes")); // the dialog asks before replacing a file
        trigger("action_save", path);
        QVERIFY(boxes->last().text.contains("already exists"));
        child<QLineEdit>("lineEdit_ip")->clear();
        trigger("action_open_2", path);
        QCOMPARE(child<QLineEdit>("lineEdit_ip")->text(), QStringLiteral("8.8.8.8"));
        QCOMPARE(boxes->count(), 1);
    }
};

int main(int argc, char **argv)
{
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    TestFileCommands test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_filecommands.moc"
