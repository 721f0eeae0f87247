// The main window as the engineer first sees it: the widgets the other parts
// of the window name, their places, texts and lists, the window's style
// sheet, the slot table of MainWindow and the two form slots.

#include "window/entry.h"
#include "window/formtexts.h"
#include "window/mainwindow.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest>

#include <initializer_list>
#include <memory>

namespace
{

struct FormObject {
    const char *name;
    const char *className;
    const char *parent; // object name of the Qt parent once the form is built
};

// Every object of the form, in the order of creation. Layouts created
// without a parent belong to the layout they are placed in.
const FormObject formObjects[] = {
    {"action_save", "QAction", "MainWindow"},
    {"action", "QAction", "MainWindow"},
    {"action_open_2", "QAction", "MainWindow"},
    {"centralwidget", "QWidget", "MainWindow"},
    {"gridLayout_2", "QGridLayout", "centralwidget"},
    {"groupBox", "QGroupBox", "centralwidget"},
    {"gridLayout_9", "QGridLayout", "groupBox"},
    {"horizontalLayout", "QHBoxLayout", "gridLayout_9"},
    {"reset_allparameters", "QPushButton", "groupBox"},
    {"Reset", "QPushButton", "groupBox"},
    {"applyButton", "QPushButton", "groupBox"},
    {"gridLayout_4", "QGridLayout", "gridLayout_9"},
    {"label_26", "QLabel", "groupBox"},
    {"serialPortInfoListBox", "QComboBox", "groupBox"},
    {"scanport", "QPushButton", "groupBox"},
    {"scan_parameters", "QPushButton", "groupBox"},
    {"connect", "QPushButton", "groupBox"},
    {"groupBox_2", "QGroupBox", "groupBox"},
    {"gridLayout_7", "QGridLayout", "groupBox_2"},
    {"gridLayout", "QGridLayout", "gridLayout_7"},
    {"label_21", "QLabel", "groupBox_2"},
    {"label_24", "QLabel", "groupBox_2"},
    {"lineEdit_ip", "QLineEdit", "groupBox_2"},
    {"label_22", "QLabel", "groupBox_2"},
    {"lineEdit_gateway", "QLineEdit", "groupBox_2"},
    {"lineEdit_MAC", "QLineEdit", "groupBox_2"},
    {"label_modeTcp", "QLabel", "groupBox_2"},
    {"lineEdit_version", "QLineEdit", "groupBox_2"},
    {"label_28", "QLabel", "groupBox_2"},
    {"label_", "QLabel", "groupBox_2"},
    {"comboBox", "QComboBox", "groupBox_2"},
    {"lineEdit_mask", "QLineEdit", "groupBox_2"},
    {"label_23", "QLabel", "groupBox_2"},
    {"label_27", "QLabel", "groupBox_2"},
    {"label_speed", "QLabel", "groupBox_2"},
    {"comboBox_2", "QComboBox", "groupBox_2"},
    {"lineEdit_timewait", "QLineEdit", "groupBox_2"},
    {"comboBox_speed", "QComboBox", "groupBox_2"},
    {"label_timewait", "QLabel", "groupBox_2"},
    {"label_version", "QLabel", "groupBox_2"},
    {"lineEdit_portTCP", "QLineEdit", "groupBox_2"},
    {"lineEdit_name", "QLineEdit", "groupBox_2"},
    {"statusbar", "QStatusBar", "MainWindow"},
    {"menuBar", "QMenuBar", "MainWindow"},
    {"menu", "QMenu", "menuBar"},
};

// The widgets universal_show hides and shows.
const char *const optionalWidgets[] = {"label_modeTcp",     "lineEdit_version",
                                       "label_version",     "label_timewait",
                                       "lineEdit_timewait", "reset_allparameters"};

QString fromCodePoints(std::initializer_list<char32_t> codePoints)
{
    return QString::fromUcs4(codePoints.begin(), int(codePoints.size()));
}

// The properties a font sets itself rather than taking from its parent.
uint resolvedMask(const QFont &font)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0) // Qt 6 renamed resolve() to resolveMask()
    return uint(font.resolveMask());
#else
    return font.resolve();
#endif
}

// A text with its code points, so that a Latin letter standing in for a
// Cyrillic one (or the reverse) shows up in a failure message.
QString spelled(const QString &text)
{
    QStringList points;
    for (uint point : text.toUcs4())
        points << QStringLiteral("U+%1").arg(point, 4, 16, QLatin1Char('0')).toUpper();
    return QLatin1Char('"') + text + QLatin1String("\" ") + points.join(QLatin1Char(' '));
}

struct StyleRule {
    QString selector;
    QStringList declarations;
    QStringList comments;
};

// Splits a style sheet into its rules, keeping the text before each opening
// brace as the selector and the comments of each body apart from its
// declarations. Every declaration must end with a semicolon.
QList<StyleRule> parseStyleSheet(const QString &sheet, QString *error)
{
    QList<StyleRule> rules;
    int pos = 0;
    while (true) {
        const int open = sheet.indexOf(QLatin1Char('{'), pos);
        if (open < 0) {
            if (!sheet.mid(pos).trimmed().isEmpty())
                *error = QStringLiteral("text after the last rule: ") + sheet.mid(pos);
            return rules;
        }
        const int close = sheet.indexOf(QLatin1Char('}'), open);
        if (close < 0) {
            *error = QStringLiteral("unclosed rule");
            return rules;
        }
        StyleRule rule;
        rule.selector = sheet.mid(pos, open - pos).trimmed();
        QString body = sheet.mid(open + 1, close - open - 1);
        int comment;
        while ((comment = body.indexOf(QLatin1String("/*"))) >= 0) {
            const int end = body.indexOf(QLatin1String("*/"), comment);
            if (end < 0) {
                *error = QStringLiteral("unclosed comment in ") + rule.selector;
                return rules;
            }
            rule.comments << body.mid(comment + 2, end - comment - 2).trimmed();
            body.remove(comment, end + 2 - comment);
        }
        const QStringList pieces = body.split(QLatin1Char(';'));
        for (int i = 0; i < pieces.size() - 1; ++i)
            rule.declarations << pieces.at(i).trimmed() + QLatin1Char(';');
        if (!pieces.last().trimmed().isEmpty())
            *error = QStringLiteral("unterminated declaration in ") + rule.selector;
        rules << rule;
        pos = close + 1;
    }
}

// Row, column, row span and column span of a widget or layout in a grid;
// empty when the grid does not hold it directly.
QVector<int> cellOf(QGridLayout *grid, QObject *object)
{
    for (int i = 0; i < grid->count(); ++i) {
        QLayoutItem *item = grid->itemAt(i);
        if (item->widget() == object || item->layout() == object) {
            int row, column, rowSpan, columnSpan;
            grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
            return {row, column, rowSpan, columnSpan};
        }
    }
    return {};
}

QString textOf(QObject *object)
{
    if (auto *box = qobject_cast<QGroupBox *>(object))
        return box->title();
    if (auto *menu = qobject_cast<QMenu *>(object))
        return menu->title();
    if (auto *window = qobject_cast<QMainWindow *>(object))
        return window->windowTitle();
    return object->property("text").toString();
}

} // namespace

Q_DECLARE_METATYPE(QVector<int>)

class FormTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { window.reset(); }

    void objects_data();
    void objects();
    void creationOrder();
    void layoutsOfWidgets();
    void windowParts();
    void gridCells_data();
    void gridCells();
    void gridsHoldNothingElse_data();
    void gridsHoldNothingElse();
    void bottomRowOrder();
    void menuEntries();
    void texts_data();
    void texts();
    void lists_data();
    void lists();
    void portListIsPlain();
    void lineEditsStartEmptyAndFree();
    void styleSheetRules_data();
    void styleSheetRules();
    void styleSheetReachesWidgets_data();
    void styleSheetReachesWidgets();
    void scanportFont();
    void enableStates();
    void formGeometry();
    void fixedSizeAfterPresenting();
    void windowIcon();
    void slotTable_data();
    void slotTable();
    void noSignalsOrPropertiesOfItsOwn();
    void universalShow_data();
    void universalShow();
    void styleclearRemovesMarks_data();
    void styleclearRemovesMarks();
    void styleclearKeepsValues();

private:
    template <typename T> T *child(const char *name) const
    {
        T *object = window->findChild<T *>(QLatin1String(name));
        if (!object)
            qFatal("the form has no %s named %s", T::staticMetaObject.className(), name);
        return object;
    }
    QObject *object(const QString &name) const
    {
        if (name == QLatin1String("MainWindow"))
            return window.get();
        return window->findChild<QObject *>(name);
    }
    bool invokeUniversalShow(int index)
    {
        return QMetaObject::invokeMethod(window.get(), "universal_show", Qt::DirectConnection,
                                         Q_ARG(int, index));
    }

    std::unique_ptr<MainWindow> window;
};

void FormTest::initTestCase()
{
    // The headless platform says so on every fixed-size change.
    static QtMessageHandler testLog = nullptr;
    testLog = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
            if (message != QLatin1String("This plugin does not support propagateSizeHints()"))
                testLog(type, context, message);
        });
}

void FormTest::init()
{
    // The two by-name slots without an object of their name in the form.
    for (const char *slot : {"on_checkBox_clicked(bool)", "on_action_show_triggered()"})
        QTest::ignoreMessage(
            QtWarningMsg,
            QByteArray("QMetaObject::connectSlotsByName: No matching signal for ") + slot);
    window = std::make_unique<MainWindow>();
}

void FormTest::objects_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parent");
    for (const FormObject &entry : formObjects)
        QTest::newRow(entry.name) << QString::fromLatin1(entry.className)
                                  << QString::fromLatin1(entry.parent);
}

void FormTest::objects()
{
    QFETCH(QString, className);
    QFETCH(QString, parent);
    const QString name = QString::fromLatin1(QTest::currentDataTag());

    const QList<QObject *> found = window->findChildren<QObject *>(name);
    QCOMPARE(found.size(), 1);
    QCOMPARE(QString::fromLatin1(found.first()->metaObject()->className()), className);
    QVERIFY(found.first()->parent());
    QCOMPARE(found.first()->parent()->objectName(), parent);
    QCOMPARE(found.first()->parent(), object(parent));
}

void FormTest::creationOrder()
{
    // A parent lists its children in the order they came to it.
    QHash<QString, QStringList> expected;
    for (const FormObject &entry : formObjects)
        expected[QString::fromLatin1(entry.parent)] << QString::fromLatin1(entry.name);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QStringList actual;
        for (QObject *child : object(it.key())->children()) {
            if (it.value().contains(child->objectName()))
                actual << child->objectName();
        }
        QCOMPARE(actual, it.value());
    }
}

void FormTest::layoutsOfWidgets()
{
    QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(child<QWidget>("centralwidget")->layout(), child<QLayout>("gridLayout_2"));
    QCOMPARE(child<QWidget>("groupBox")->layout(), child<QLayout>("gridLayout_9"));
    QCOMPARE(child<QWidget>("groupBox_2")->layout(), child<QLayout>("gridLayout_7"));
}

void FormTest::windowParts()
{
    QCOMPARE(window->centralWidget(), child<QWidget>("centralwidget"));
    QCOMPARE(window->statusBar(), child<QStatusBar>("statusbar"));
    QCOMPARE(window->menuBar(), child<QMenuBar>("menuBar"));
    QVERIFY(window->statusBar()->currentMessage().isEmpty());
}

void FormTest::gridCells_data()
{
    QTest::addColumn<QString>("grid");
    QTest::addColumn<QVector<int>>("cell");

    const struct {
        const char *name;
        const char *grid;
        QVector<int> cell;
    } rows[] = {
        {"groupBox", "gridLayout_2", {0, 0, 1, 1}},
        {"gridLayout_4", "gridLayout_9", {0, 1, 1, 1}},
        {"groupBox_2", "gridLayout_9", {2, 1, 1, 1}},
        {"applyButton", "gridLayout_9", {3, 1, 1, 1}},
        {"horizontalLayout", "gridLayout_9", {4, 1, 1, 1}},
        {"label_26", "gridLayout_4", {5, 0, 1, 1}},
        {"serialPortInfoListBox", "gridLayout_4", {5, 1, 1, 1}},
        {"scanport", "gridLayout_4", {5, 2, 1, 1}},
        {"connect", "gridLayout_4", {6, 0, 1, 2}},
        {"scan_parameters", "gridLayout_4", {6, 2, 1, 1}},
        {"gridLayout", "gridLayout_7", {0, 0, 2, 1}},
        {"label_modeTcp", "gridLayout", {0, 0, 1, 1}},
        {"lineEdit_name", "gridLayout", {0, 2, 1, 2}},
        {"label_version", "gridLayout", {1, 0, 1, 1}},
        {"lineEdit_version", "gridLayout", {1, 2, 1, 2}},
        {"label_24", "gridLayout", {2, 0, 1, 1}},
        {"lineEdit_MAC", "gridLayout", {2, 2, 1, 2}},
        {"label_21", "gridLayout", {3, 0, 1, 1}},
        {"lineEdit_ip", "gridLayout", {3, 2, 1, 2}},
        {"label_22", "gridLayout", {4, 0, 1, 1}},
        {"lineEdit_mask", "gridLayout", {4, 2, 1, 2}},
        {"label_23", "gridLayout", {5, 0, 1, 1}},
        {"lineEdit_gateway", "gridLayout", {5, 2, 1, 2}},
        {"label_", "gridLayout", {8, 0, 1, 1}},
        {"lineEdit_portTCP", "gridLayout", {8, 2, 1, 2}},
        {"label_28", "gridLayout", {11, 0, 1, 1}},
        {"comboBox", "gridLayout", {11, 2, 1, 2}},
        {"label_speed", "gridLayout", {12, 0, 1, 1}},
        {"comboBox_speed", "gridLayout", {12, 2, 1, 2}},
        {"label_27", "gridLayout", {15, 0, 1, 1}},
        {"comboBox_2", "gridLayout", {15, 2, 1, 2}},
        {"label_timewait", "gridLayout", {16, 0, 1, 1}},
        {"lineEdit_timewait", "gridLayout", {16, 2, 1, 1}},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.grid) << row.cell;
}

void FormTest::gridCells()
{
    QFETCH(QString, grid);
    QFETCH(QVector<int>, cell);
    auto *layout = window->findChild<QGridLayout *>(grid);
    QVERIFY(layout);
    QObject *placed = object(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(placed);
    QCOMPARE(cellOf(layout, placed), cell);
}

void FormTest::gridsHoldNothingElse_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("gridLayout_2") << 1;
    QTest::newRow("gridLayout_9") << 4;
    QTest::newRow("gridLayout_4") << 5;
    QTest::newRow("gridLayout_7") << 1;
    QTest::newRow("gridLayout") << 22;
}

void FormTest::gridsHoldNothingElse()
{
    QFETCH(int, count);
    auto *grid = window->findChild<QGridLayout *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(grid);
    QCOMPARE(grid->count(), count);
}

void FormTest::bottomRowOrder()
{
    auto *row = child<QHBoxLayout>("horizontalLayout");
    QCOMPARE(row->count(), 2);
    QCOMPARE(row->itemAt(0)->widget(), child<QWidget>("reset_allparameters"));
    QCOMPARE(row->itemAt(1)->widget(), child<QWidget>("Reset"));
}

void FormTest::menuEntries()
{
    auto *menu = child<QMenu>("menu");
    const QList<QAction *> barEntries = child<QMenuBar>("menuBar")->actions();
    QCOMPARE(barEntries.size(), 1);
    QCOMPARE(barEntries.first(), menu->menuAction());
    const QList<QAction *> expected = {child<QAction>("action_open_2"), child<QAction>("action"),
                                       child<QAction>("action_save")};
    QCOMPARE(menu->actions(), expected);
}

void FormTest::texts_data()
{
    QTest::addColumn<QString>("expected");

    // "Cоединиться" opens with a Latin C, "Перезaгрузка" has a Latin a.
    QTest::newRow("connect") << fromCodePoints(
        {0x0043, 0x043E, 0x0435, 0x0434, 0x0438, 0x043D, 0x0438, 0x0442, 0x044C, 0x0441, 0x044F});
    QTest::newRow("Reset") << fromCodePoints({0x041F, 0x0435, 0x0440, 0x0435, 0x0437, 0x0061,
                                              0x0433, 0x0440, 0x0443, 0x0437, 0x043A, 0x0430});

    const struct {
        const char *name;
        const char *text;
    } rows[] = {
        {"MainWindow", "Конфигуратор Ordan-RS485-Ethernet V1.0.0"},
        {"action_open_2", "Выбрать файл"},
        {"action", "Текущий файл"},
        {"action_save", "Сохранить настройки в файл"},
        {"menu", "Файл настройки"},
        {"groupBox", ""},
        {"groupBox_2", "Общие параметры"},
        {"reset_allparameters", "Сброс к заводским настройкам"},
        {"applyButton", "Запись параметры"},
        {"label_26", "Порт"},
        {"scanport", "Поиск"},
        {"scan_parameters", "Сканировать"},
        {"label_modeTcp", "Имя модуля"},
        {"label_version", "Версия"},
        {"label_24", "MAC"},
        {"label_21", "IP-адрес"},
        {"label_22", "Маска подсети"},
        {"label_23", "IP-адрес шлюза"},
        {"label_", "Порт TCP (23, 502, 10000-65535)"},
        {"label_28", "Паритет "},
        {"label_speed", "Скорость RS-485 бит/с"},
        {"label_27", "Количество стоп бит"},
        {"label_timewait", "Таймаут сборки пакета данных (1-10000)мс"},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << QString::fromUtf8(row.text);
}

void FormTest::texts()
{
    QFETCH(QString, expected);
    QObject *named = object(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(named);
    QCOMPARE(spelled(textOf(named)), spelled(expected));
}

void FormTest::lists_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("comboBox") << QStringList{QString(), QStringLiteral("без паритета"),
                                             QStringLiteral("контроль нечетности"),
                                             QStringLiteral("контроль четности")};
    QTest::newRow("comboBox_speed") << QStringList{QString(),
                                                   QStringLiteral("1200"),
                                                   QStringLiteral("2400"),
                                                   QStringLiteral("4800"),
                                                   QStringLiteral("9600"),
                                                   QStringLiteral("19200"),
                                                   QStringLiteral("38400"),
                                                   QStringLiteral("57600"),
                                                   QStringLiteral("115200"),
                                                   QStringLiteral("128000"),
                                                   QStringLiteral("256000")};
    QTest::newRow("comboBox_2") << QStringList{QString(), QStringLiteral("1"), QStringLiteral("2")};
}

void FormTest::lists()
{
    QFETCH(QStringList, entries);
    auto *list = window->findChild<QComboBox *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(list);
    QCOMPARE(list->count(), entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        QCOMPARE(spelled(list->itemText(i)), spelled(entries.at(i)));
        QVERIFY(list->itemIcon(i).isNull());
        QVERIFY(!list->itemData(i, Qt::UserRole).isValid());
    }
    QCOMPARE(list->currentIndex(), 0);
    QVERIFY(list->currentText().isEmpty());
    QVERIFY(!list->isEditable());
}

void FormTest::portListIsPlain()
{
    // Its entries are the computer's ports, found at run time.
    QVERIFY(!child<QComboBox>("serialPortInfoListBox")->isEditable());
}

void FormTest::lineEditsStartEmptyAndFree()
{
    const QList<QLineEdit *> edits = window->findChildren<QLineEdit *>();
    QCOMPARE(edits.size(), 8); // the line edits of the lists are not the form's
    for (QLineEdit *edit : edits) {
        QVERIFY2(edit->text().isEmpty(), qPrintable(edit->objectName()));
        QVERIFY2(edit->inputMask().isEmpty(), qPrintable(edit->objectName()));
        QVERIFY2(!edit->validator(), qPrintable(edit->objectName()));
        QCOMPARE(edit->maxLength(), QLineEdit().maxLength());
        QVERIFY2(!edit->isReadOnly(), qPrintable(edit->objectName()));
        QVERIFY2(edit->styleSheet().isEmpty(), qPrintable(edit->objectName()));
    }
}

void FormTest::styleSheetRules_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("selector");
    QTest::addColumn<QStringList>("declarations");
    QTest::addColumn<QStringList>("comments");

    const auto row = [](int position, const char *selector, const QStringList &declarations,
                        const QStringList &comments = {}) {
        QTest::addRow("%d %s", position, QByteArray(selector).split('\n').last().constData())
            << position << QString::fromUtf8(selector) << declarations << comments;
    };
    row(0, "QTextBrowser", {"color: rgb(0, 255, 0);", "background-color: rgb(0, 0, 0);"});
    row(1, "QLabel", {"font: 75 12pt \"Times New Roman\";"});
    row(2, "QGroupBox", {"font: 700 12pt \"Times New Roman\";"});
    row(3, "QComboBox", {"font: 75 11pt \"Times New Roman\";"});
    row(4, "QLineEdit",
        {"border: 1px solid gray;", "border-radius: 8px;", "padding: 4px;",
         "font: 11pt \"Times New Roman\";", "selection-background-color: darkgray;"});
    row(5, "QMenu", {"font: 12pt \"Times New Roman\";"},
        {QString::fromUtf8("background-color: #ABABAB; устанавливаем фон меню"),
         "border: 5px solid black;"});
    row(6, "QPushButton",
        {"border:1px solid #8f8f91;", "border-radius: 5px;",
         // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one rule over two lines
         "background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1,\n"
         "stop: 0 #f6f7fa, stop: 1 #dadbde);",
         "min-width:50px;", "height:25px;", "font: 12pt \"Times New Roman\";"});
    row(7, "QPushButton:pressed", {"background-color: rgb(0, 255, 255);"});
    row(8, "QPushButton:flat", {"border: none;"},
        {QString::fromUtf8("для плоской кнопки границы нет")});
    row(9, "QPushButton:default", {"border-color: navy;"},
        {QString::fromUtf8("делаем кнопку по умолчанию выпуклой")});
    row(10, "////\nQRadioButton::indicator",
        {"width:20px;", "height: 30px;", "font: 75 12pt \"Times New Roman\";"});
    row(11, "QRadioButton", {"font: 75 12pt \"Times New Roman\";"});
}

void FormTest::styleSheetRules()
{
    QFETCH(int, position);
    QFETCH(QString, selector);
    QFETCH(QStringList, declarations);
    QFETCH(QStringList, comments);

    QString error;
    const QList<StyleRule> rules = parseStyleSheet(window->styleSheet(), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(rules.size(), 12);
    const StyleRule &rule = rules.at(position);
    QCOMPARE(rule.selector, selector);
    QCOMPARE(rule.declarations, declarations);
    QCOMPARE(rule.comments, comments);
}

void FormTest::styleSheetReachesWidgets_data()
{
    QTest::addColumn<int>("pointSize");
    QTest::newRow("label_26") << 12;
    QTest::newRow("groupBox_2") << 12;
    QTest::newRow("comboBox_speed") << 11;
    QTest::newRow("lineEdit_ip") << 11;
    QTest::newRow("menu") << 12;
    QTest::newRow("applyButton") << 12;
}

void FormTest::styleSheetReachesWidgets()
{
    QFETCH(int, pointSize);
    auto *widget = window->findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(widget);
    widget->ensurePolished();
    QCOMPARE(widget->font().family(), QStringLiteral("Times New Roman"));
    QCOMPARE(widget->font().pointSize(), pointSize);
}

void FormTest::scanportFont()
{
    // The sheet's QPushButton rule covers the size while it is set; without
    // the sheet each polished widget is back to the font the form gave it.
    window->ensurePolished();
    window->setStyleSheet(QString());
    auto *scanport = child<QPushButton>("scanport");
    const QFont font = scanport->font();
    QCOMPARE(resolvedMask(font),
             uint(QFont::SizeResolved | QFont::WeightResolved | QFont::StyleResolved));
    QCOMPARE(font.pointSize(), 12);
    QCOMPARE(font.weight(), int(QFont::Normal)); // 50 on Qt 5's scale, 400 on Qt 6's
    QVERIFY(!font.italic());
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        if (widget != scanport && !widget->objectName().isEmpty())
            QVERIFY2(resolvedMask(widget->font()) == 0, qPrintable(widget->objectName()));
    }
}

void FormTest::enableStates()
{
    const QStringList disabled = {"scan_parameters", "applyButton",      "Reset",
                                  "lineEdit_MAC",    "lineEdit_version", "reset_allparameters",
                                  "lineEdit_name"};
    for (const FormObject &entry : formObjects) {
        const QString name = QString::fromLatin1(entry.name);
        QObject *named = object(name);
        const bool expected = !disabled.contains(name);
        if (auto *widget = qobject_cast<QWidget *>(named))
            QVERIFY2(widget->isEnabled() == expected, qPrintable(name));
        else if (auto *action = qobject_cast<QAction *>(named))
            QVERIFY2(action->isEnabled(), qPrintable(name));
    }
}

void FormTest::formGeometry()
{
    // What the form sets before the process entry fixes the size.
    QCOMPARE(window->size(), QSize(884, 629));
    QCOMPARE(child<QMenuBar>("menuBar")->geometry(), QRect(0, 0, 884, 21));
}

void FormTest::fixedSizeAfterPresenting()
{
    presentMainWindow(*window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->minimumSize(), QSize(550, 600));
    QCOMPARE(window->maximumSize(), QSize(550, 600));
    QTRY_COMPARE(window->size(), QSize(550, 600));
}

void FormTest::windowIcon()
{
    const QIcon icon = window->windowIcon();
    QVERIFY(!icon.isNull());
    QVERIFY(!icon.availableSizes().isEmpty());
    QCOMPARE(QDir(QStringLiteral(":/icon")).entryList(), QStringList{"Tessmar.ico"});
}

void FormTest::slotTable_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QList<QByteArray>>("parameterNames");

    const struct {
        const char *signature;
        QList<QByteArray> parameterNames;
    } rows[] = {
        {"universal_show(int)", {"index"}},
        {"on_scanport_clicked()", {}},
        {"on_applyButton_clicked()", {}},
        {"on_Reset_clicked()", {}},
        {"on_scan_parameters_clicked()", {}},
        {"readData()", {}},
        {"openport()", {}},
        {"closeport()", {}},
        {"timerforScan()", {}},
        {"Reset_Default()", {}},
        {"change_mode_TCP()", {}},
        {"scan_pa_modbus_all()", {}},
        {"checkCustomDevicePathPolicy()", {}},
        {"handleError(QSerialPort::SerialPortError)", {"error"}},
        {"on_reset_allparameters_clicked()", {}},
        {"on_checkBox_clicked(bool)", {"checked"}},
        {"on_connect_clicked()", {}},
        {"styleclear()", {}},
        {"OnSaveSetting_File()", {}},
        {"on_action_open_2_triggered()", {}},
        {"on_action_show_triggered()", {}},
        {"on_action_save_triggered()", {}},
        {"on_action_triggered()", {}},
    };
    int position = 0;
    for (const auto &row : rows) {
        QTest::addRow("%d %s", position, row.signature)
            << position << QByteArray(row.signature) << row.parameterNames;
        ++position;
    }
}

void FormTest::slotTable()
{
    QFETCH(int, position);
    QFETCH(QByteArray, signature);
    QFETCH(QList<QByteArray>, parameterNames);

    const QMetaObject *meta = window->metaObject();
    QCOMPARE(meta, &MainWindow::staticMetaObject);
    QCOMPARE(meta->methodCount() - meta->methodOffset(), 23);
    const QMetaMethod method = meta->method(meta->methodOffset() + position);
    QCOMPARE(method.methodSignature(), signature);
    QCOMPARE(method.methodType(), QMetaMethod::Slot);
    QCOMPARE(method.access(), QMetaMethod::Private);
    QCOMPARE(method.returnType(), int(QMetaType::Void));
    QCOMPARE(method.parameterNames(), parameterNames);
}

void FormTest::noSignalsOrPropertiesOfItsOwn()
{
    const QMetaObject &meta = MainWindow::staticMetaObject;
    QCOMPARE(QByteArray(meta.className()), QByteArray("MainWindow"));
    QCOMPARE(meta.superClass(), &QMainWindow::staticMetaObject);
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        QVERIFY2(meta.method(i).methodType() != QMetaMethod::Signal,
                 meta.method(i).methodSignature().constData());
    QCOMPARE(meta.propertyCount(), meta.propertyOffset());
    QCOMPARE(meta.enumeratorCount(), meta.enumeratorOffset());
    QCOMPARE(meta.classInfoCount(), meta.classInfoOffset());
    QCOMPARE(meta.constructorCount(), 0);
}

void FormTest::universalShow_data()
{
    QTest::addColumn<QList<int>>("indexes");
    QTest::addColumn<bool>("sixShown");
    QTest::addColumn<QSize>("fixedSize");

    const QSize tall(550, 600), short_(550, 500);
    QTest::newRow("0") << QList<int>{0} << false << short_;
    QTest::newRow("1") << QList<int>{1} << false << tall;
    QTest::newRow("2") << QList<int>{2} << true << tall;
    QTest::newRow("3") << QList<int>{3} << true << tall;
    QTest::newRow("-1") << QList<int>{-1} << true << tall;
    QTest::newRow("2 after 0 keeps 550x500") << QList<int>{0, 2} << true << short_;
    QTest::newRow("1 after 0") << QList<int>{0, 1} << false << tall;
    QTest::newRow("3 after 0") << QList<int>{0, 3} << false << short_;
    QTest::newRow("-1 after 0") << QList<int>{0, -1} << false << short_;
}

void FormTest::universalShow()
{
    QFETCH(QList<int>, indexes);
    QFETCH(bool, sixShown);
    QFETCH(QSize, fixedSize);

    presentMainWindow(*window);
    for (int index : indexes)
        QVERIFY(invokeUniversalShow(index));

    for (const FormObject &entry : formObjects) {
        auto *widget = qobject_cast<QWidget *>(object(QString::fromLatin1(entry.name)));
        if (!widget || qobject_cast<QMenu *>(widget))
            continue; // a menu stays hidden until it pops up
        const bool optional = std::find_if(std::begin(optionalWidgets), std::end(optionalWidgets),
                                           [&](const char *name) {
                                               return qstrcmp(name, entry.name) == 0;
                                           }) != std::end(optionalWidgets);
        QVERIFY2(widget->isVisible() == (sixShown || !optional), entry.name);
    }
    QCOMPARE(window->minimumSize(), fixedSize);
    QCOMPARE(window->maximumSize(), fixedSize);
    QTRY_COMPARE(window->size(), fixedSize);
}

void FormTest::styleclearRemovesMarks_data()
{
    QTest::addColumn<bool>("cleared");
    for (const char *name : {"lineEdit_ip", "comboBox", "comboBox_2", "comboBox_speed",
                             "lineEdit_mask", "lineEdit_portTCP", "lineEdit_MAC",
                             "lineEdit_gateway", "lineEdit_name", "lineEdit_timewait"})
        QTest::newRow(name) << true;
    QTest::newRow("lineEdit_version") << false;
}

void FormTest::styleclearRemovesMarks()
{
    QFETCH(bool, cleared);
    const QString mark = QString::fromLatin1(Mark::invalid);
    const QList<QWidget *> fields = {
        child<QWidget>("lineEdit_ip"),     child<QWidget>("comboBox"),
        child<QWidget>("comboBox_2"),      child<QWidget>("comboBox_speed"),
        child<QWidget>("lineEdit_mask"),   child<QWidget>("lineEdit_portTCP"),
        child<QWidget>("lineEdit_MAC"),    child<QWidget>("lineEdit_gateway"),
        child<QWidget>("lineEdit_name"),   child<QWidget>("lineEdit_timewait"),
        child<QWidget>("lineEdit_version")};
    for (QWidget *field : fields)
        field->setStyleSheet(mark);

    QVERIFY(QMetaObject::invokeMethod(window.get(), "styleclear", Qt::DirectConnection));

    auto *field = window->findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(field);
    QCOMPARE(field->styleSheet(), cleared ? QString() : mark);
}

void FormTest::styleclearKeepsValues()
{
    auto *ip = child<QLineEdit>("lineEdit_ip");
    auto *speed = child<QComboBox>("comboBox_speed");
    auto *version = child<QLineEdit>("lineEdit_version");
    const QString windowSheet = window->styleSheet();
    ip->setText(QStringLiteral("192.168.0.7"));
    ip->setStyleSheet(QString::fromLatin1(Mark::valid));
    speed->setCurrentIndex(4);
    version->setText(QStringLiteral("2.1"));

    QVERIFY(QMetaObject::invokeMethod(window.get(), "styleclear", Qt::DirectConnection));

    QCOMPARE(ip->text(), QStringLiteral("192.168.0.7"));
    QCOMPARE(speed->currentIndex(), 4);
    QCOMPARE(version->text(), QStringLiteral("2.1"));
    QVERIFY(ip->isEnabled());
    QVERIFY(!version->isEnabled());
    QCOMPARE(window->styleSheet(), windowSheet);
}

QTEST_MAIN(FormTest)
#include "tst_form.moc"
