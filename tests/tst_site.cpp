// The site window as an engineer uses it: a plan opened, typed, pasted and
// saved; runs against simulated modules as processes of their own on
// pseudo-terminals (a module swapped on a port by stopping one simulator and
// starting another under the same path, as tst_commission does); the
// program started from a script with --start --quit-when-done.
#include "cliprocess.h"
#include "dialoghelpers.h"
#include "engine/commission/commissionplan.h"
#include "engine/commission/commissionrecord.h"
#include "engine/commission/registerdesk.h"
#include "engine/console/portlistmodel.h"
#include "engine/jobs/recordwords.h"
#include "engine/jobs/rowoutcome.h"
#include "engine/register/claimbook.h"
#include "engine/register/registerruns.h"
#include "engine/register/siteregister.h"
#include "settings/setting_module.h"
#include "settings/settingsmapping.h"
#include "site/planmodel.h"
#include "site/planrows.h"
#include "site/recordview.h"
#include "site/registerview.h"
#include "site/rowstage.h"
#include "site/runstates.h"
#include "site/sitetranslation.h"
#include "site/sitewindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QToolTip>
#include <QTranslator>
#include <QUndoStack>
#include <QXmlStreamReader>
#include <QtTest>

#include <csignal>
#include <functional>

#include <memory>

using cliprocess::Simulator;

Q_DECLARE_METATYPE(WriteResult)

namespace
{
// A simulated module whose gateway is on 10.0.0.0/24, where the plans below
// move it: the configuration it would run is sound.
QStringList onTenNet(const QStringList &arguments)
{
    return QStringList{"--set", "GATEWAY=10.0.0.254"} + arguments;
}
} // namespace

namespace
{

constexpr int runTimeoutMs = 30000;

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return file.fileName();
}

// A settings file holding the given values (the base values of a plan).
QString settingsFile(const QTemporaryDir &dir, const parameters::Values &values)
{
    setting_module file;
    settingsmapping::toSettings(values, &file);
    file.SaveNTSetting(dir.filePath(QStringLiteral("base.TRset")));
    return dir.filePath(QStringLiteral("base.TRset"));
}

// The record's rows without their time, in the order of their port and MAC.
QStringList recordRows(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList rows;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    for (const QString &line : lines) {
        if (!line.isEmpty())
            rows << line.section(QLatin1Char(','), 1);
    }
    std::sort(rows.begin() + 1, rows.end());
    return rows;
}

// Watches the texts a row's state cell shows, in order, without repeats.
class StateWatch : public QObject
{
public:
    explicit StateWatch(PlanModel *model) : model(model)
    {
        connect(model, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex &from, const QModelIndex &to) {
                    for (int row = from.row(); row <= to.row(); ++row) {
                        const QString text = this->model->stateText(row);
                        QStringList &seen = states[row];
                        if (!text.isEmpty() && (seen.isEmpty() || seen.last() != text))
                            seen << text;
                    }
                });
    }
    QHash<int, QStringList> states;

private:
    PlanModel *model;
};

// The Russian translation standing behind every text the window shows
// while the tests run (in English): a text it does not translate is noted.
class TranslationWatch : public QTranslator
{
public:
    TranslationWatch()
    {
        loaded = russian.load(QStringLiteral(":/i18n/ordan-site_ru.qm"));
        for (const char *context :
             {"SiteWindow",    "PlanModel",    "ModuleJob",      "WriteJob",         "RestartJob",
              "PortLock",      "RowWording",   "commissionplan", "commissionrecord", "parameters",
              "PortListModel", "PlanEditor",   "RunPanel",       "SiteRun",          "SiteChecks",
              "RecordView",    "RegisterView", "RegisterDesk",   "siteregister",     "RecordWords",
              "runsummary",    "BusReport",    "PlanRows",       "CheckedPlan",      "PlanFiles",
              "RecordField",   "RunRegister"})
            contexts << QLatin1String(context);
    }
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *source, const char *disambiguation,
                      int n) const override
    {
        if (contexts.contains(QLatin1String(context)) &&
            russian.translate(context, source, disambiguation, n).isEmpty())
            untranslated.insert(QLatin1String(context) + QStringLiteral(": ") +
                                QString::fromUtf8(source));
        return QString();
    }
    QTranslator russian;
    bool loaded = false;
    QSet<QString> contexts;
    mutable QSet<QString> untranslated;
};

// The window under test and its widgets by object name.
struct Site {
    Site()
    {
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }
    template <typename T = QWidget> T *find(const char *name) const
    {
        return findNamed<T>(window, name);
    }
    QPushButton *button(const char *name) const { return find<QPushButton>(name); }
    QTableView *table() const { return find<QTableView>("planTable"); }
    PlanModel *model() const { return window.planModel(); }
    QModelIndex cell(int row, int column) const { return model()->index(row, column); }
    QString text(int row, int column) const
    {
        return cell(row, column)
            .data(column < PlanModel::planColumnCount ? Qt::EditRole : Qt::DisplayRole)
            .toString();
    }
    QString state(int row) const { return model()->stateText(row); }
    QString problems() const { return find<QLabel>("problemsLabel")->text(); }
    // Types into the cell's editor as a person does: F2, all selected,
    // the text; Enter when `commit`.
    QWidget *type(int row, int column, const QString &text, bool commit = true)
    {
        table()->setFocus();
        table()->setCurrentIndex(cell(row, column));
        QTest::keyClick(table(), Qt::Key_F2);
        QWidget *editor = QApplication::focusWidget();
        if (!editor || editor == table())
            return nullptr;
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, text);
        if (commit)
            QTest::keyClick(editor, Qt::Key_Return);
        return editor;
    }

    SiteWindow window;
    MessageBoxAnswerer boxes;
};

} // namespace

// Stands in for the desktop's program for a file.
class UrlCatcher : public QObject
{
    Q_OBJECT

public slots:
    void open(const QUrl &url) { urls << url; }

public:
    QList<QUrl> urls;
};

class SiteTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void planRulesOnRows_data();
    void planRulesOnRows();
    void badCellMarkedUntilFixed_data();
    void badCellMarkedUntilFixed();
    void portEditorOffersDetectedPorts();
    void pasteFromSpreadsheet_data();
    void pasteFromSpreadsheet();
    void planFileRoundTrip_data();
    void planFileRoundTrip();
    void threePortsOneRefusingOneSwapped();
    void stopInTheMiddle();
    void checkOnlyWritesNothing();
    void recordEqualsTheCli();
    void quitWhenDoneExitCodes_data();
    void quitWhenDoneExitCodes();
    void russianWindow();
    void endedBySignal_data();
    void endedBySignal();
    void closingDuringARunAsks_data();
    void closingDuringARunAsks();
    void recordAlwaysKept();
    void recordNeverSavedOver_data();
    void recordNeverSavedOver();
    void doneModuleRepluggedIsNotWritten();
    void recordNotAppendedFailsTheRun();
    void fitsAFieldLaptop();
    void registerInTheWindow();
    void recordShownIsNotRunInto();
    void recordFieldNamesAPlan();
    void editingAVerifiedRowClearsItsMark_data();
    void editingAVerifiedRowClearsItsMark();
    void registerViewFindsAMacInAnyForm_data();
    void registerViewFindsAMacInAnyForm();
    void stalledRegisterFreezesNothing();
    void settingsCarriedOver_data();
    void settingsCarriedOver();
    void russianRecordAndTable();
    void waitingPortsFitTheStatusBar();
    void runStatesFollowTheirRows_data();
    void runStatesFollowTheirRows();
    void stateShowsTheEnginesWords_data();
    void stateShowsTheEnginesWords();
    void recordShownWhole_data();
    void recordShownWhole();

private:
    TranslationWatch *watch = nullptr;
};

void SiteTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true); // the default record's folder
    // English with its plural forms, the Russian behind it watched.
    installSiteTranslation(QLocale(QLocale::English, QLocale::UnitedStates));
    watch = new TranslationWatch;
    QVERIFY(watch->loaded && !watch->russian.isEmpty());
    QCoreApplication::installTranslator(watch);
}

void SiteTest::cleanupTestCase()
{
    QCoreApplication::removeTranslator(watch);
    const QStringList missing = watch->untranslated.values();
    delete watch;
    QVERIFY2(missing.isEmpty(),
             qPrintable(QStringLiteral("no Russian for:\n") + missing.join(QLatin1Char('\n'))));
}

void SiteTest::planRulesOnRows_data()
{
    // Rows in the plan's column order: port, ip, mask, gateway, tcp_port...
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<int>("problems");
    QTest::newRow("sound") << QList<QStringList>{{"/dev/ttyUSB0", "10.0.0.1", "255.255.255.0",
                                                  "10.0.0.254", "10001", "even", "19200", "1",
                                                  "1000"}}
                           << 0;
    QTest::newRow("a value breaks its rule, no port")
        << QList<QStringList>{{"", "10.0.0.300", "", "", "600"}} << 3;
    QTest::newRow("an address planned three times, a blank row between")
        << QList<QStringList>{{"/dev/a", "10.0.0.7"},
                              {},
                              {"/dev/b", "10.0.0.7"},
                              {"/dev/c", " 10.0.0.7 "}}
        << 2;
    QTest::newRow("unsound: the network's address, the module as its gateway")
        << QList<QStringList>{{"/dev/a", "10.0.0.0", "255.255.255.0"},
                              {"/dev/a", "10.0.0.5", "255.255.255.0", "10.0.0.5"}}
        << 2;
    QTest::newRow("nothing to write") << QList<QStringList>{{"/dev/a"}} << 1;
    const QStringList busRow{"/dev/a", "10.0.0.1", "", "", "", "", "", "", ""};
    QTest::newRow("bus_ids as a list and a range")
        << QList<QStringList>{busRow + QStringList{" 1-4,7 "}} << 0;
    QTest::newRow("bus_ids past 247, or backwards")
        << QList<QStringList>{busRow + QStringList{"1,248"}, QStringList{"/dev/b", "10.0.0.2"},
                              busRow.mid(0, 1) +
                                  QStringList{"10.0.0.3", "", "", "", "", "", "", "", "5-2"}}
        << 2;
    QTest::newRow("bus_ids alone: no port, nothing to write")
        << QList<QStringList>{{"", "", "", "", "", "", "", "", "", "1,2"}} << 2;
    QTest::newRow("no rows") << QList<QStringList>{{}, {" "}} << 1;
}

void SiteTest::planRulesOnRows()
{
    // The table checks its rows by the plan's rules as they are typed in:
    // it finds what the plan file's reader finds in the file the table
    // saves, counts the problems as ordan-cli does, and marks each on its
    // cell.
    QFETCH(QList<QStringList>, rows);
    QFETCH(int, problems);
    PlanModel model;
    for (int r = 0; r < rows.size(); ++r) {
        QVERIFY(model.insertRows(r, 1));
        for (int c = 0; c < rows.at(r).size(); ++c)
            QVERIFY(model.setData(model.index(r, c), rows.at(r).at(c)));
    }
    const CheckedPlan &checked = model.plan()->checked();
    const commissionplan::Plan fromFile = commissionplan::parse(model.plan()->toCsv());
    const auto text = [](const QList<commissionplan::Problem> &list) {
        QStringList lines;
        for (const commissionplan::Problem &p : list)
            lines << QStringLiteral("%1 %2 %3 %4")
                         .arg(p.row)
                         .arg(p.column, p.message)
                         .arg(p.firstRow);
        return lines;
    };
    QCOMPARE(text(checked.plan().problems), text(fromFile.problems));
    QCOMPARE(checked.problemCount(), problems);
    QCOMPARE(checked.problemLines().size(), problems);
    QCOMPARE(checked.plan().rows.size(), fromFile.rows.size());
    QCOMPARE(checked.tableRows().size(), fromFile.rows.size());
    for (int i = 0; i < fromFile.rows.size(); ++i) {
        const commissionplan::Row &row = checked.plan().rows.at(i);
        QCOMPARE(row.row, fromFile.rows.at(i).row);
        QCOMPARE(PlanModel::fileRow(checked.tableRows().at(i)), row.row);
        QCOMPARE(row.port, fromFile.rows.at(i).port);
        QCOMPARE(row.values, fromFile.rows.at(i).values);
        QCOMPARE(row.busIds, fromFile.rows.at(i).busIds);
    }
    using Subject = commissionplan::Problem::Subject;
    for (const commissionplan::Problem &p : checked.plan().problems) {
        if (p.subject == Subject::Value)
            QCOMPARE(p.column, parameters::fieldKey(p.field));
        else
            QCOMPARE(p.column, p.subject == Subject::Port     ? QStringLiteral("port")
                               : p.subject == Subject::BusIds ? QStringLiteral("bus_ids")
                                                              : QString());
        // Marked on its cell, on its row's header, or as the plan's own.
        const int column = p.subject == Subject::Port     ? int(PlanModel::PortColumn)
                           : p.subject == Subject::BusIds ? int(PlanModel::BusIdsColumn)
                                                          : PlanModel::columnOf(p.field);
        QString marks = checked.generalProblems().join(QLatin1Char('\n'));
        if (p.subject == Subject::Row)
            marks = model.headerData(p.row - 2, Qt::Vertical, PlanModel::ProblemRole).toString();
        else if (p.subject != Subject::Plan)
            marks = model.index(p.row - 2, column).data(PlanModel::ProblemRole).toString();
        QVERIFY2(marks.contains(p.message), qPrintable(p.message));
    }
}

void SiteTest::badCellMarkedUntilFixed_data()
{
    // %1 stands for a port path.
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("fix");
    QTest::addColumn<int>("marks");    // the cells marked
    QTest::addColumn<int>("problems"); // the problems counted, as ordan-cli counts them

    QTest::newRow("tcp port out of range")
        << QByteArray("port,ip,tcp_port\n%1,10.0.0.1,502\n%1,10.0.0.2,600\n") << 1
        << int(PlanModel::TcpPortColumn) << "\"600\" must be 23, 502 or 10000-65535"
        << "10002" << 1 << 1;
    QTest::newRow("not an address")
        << QByteArray("port;ip\n%1;10.0.0.256\n") << 0 << int(PlanModel::IpColumn)
        << "\"10.0.0.256\" must be an IPv4 address"
        << "10.0.0.9" << 1 << 1;
    QTest::newRow("address planned twice")
        << QByteArray("port,ip\n%1,10.0.0.7\n%1,10.0.0.7\n") << 1 << int(PlanModel::IpColumn)
        << "10.0.0.7 is already planned in row 2"
        << "10.0.0.8" << 2 << 1;
    QTest::newRow("no port") << QByteArray("port,ip\n,10.0.0.1\n") << 0
                             << int(PlanModel::PortColumn) << "no port given"
                             << "/dev/ttyUSB7" << 1 << 1;
}

void SiteTest::badCellMarkedUntilFixed()
{
    QFETCH(QByteArray, csv);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    Site site;
    QVERIFY(site.window.openPlan(writeFile(
        dir, "plan.csv", QString::fromUtf8(csv).arg(QStringLiteral("/dev/ttyUSB7")).toUtf8())));
    QPushButton *start = site.button("startButton");
    QVERIFY(!start->isEnabled());
    QVERIFY(!site.button("checkButton")->isEnabled());
    QFETCH(int, marks);
    int marked = 0;
    for (int r = 0; r < site.model()->rowCount(); ++r) {
        for (int c = 0; c < PlanModel::planColumnCount; ++c)
            marked += !site.cell(r, c).data(Qt::DecorationRole).isNull();
    }
    QCOMPARE(marked, marks);
    QFETCH(int, problems);
    QVERIFY2(site.problems().contains(QStringLiteral("! %1 problem").arg(problems)),
             qPrintable(site.problems()));
    const QModelIndex bad = site.cell(row, column);
    QVERIFY2(bad.data(Qt::ToolTipRole).toString().contains(reason),
             qPrintable(bad.data(Qt::ToolTipRole).toString()));
    QVERIFY(!bad.data(Qt::DecorationRole).value<QIcon>().isNull());
    if (QTest::currentDataTag() == QByteArray("address planned twice"))
        QVERIFY(site.cell(0, column)
                    .data(Qt::ToolTipRole)
                    .toString()
                    .contains("planned again in "
                              "row 3"));

    // Fixed as it is typed: Start is ready before Enter.
    QFETCH(QString, fix);
    QWidget *editor = site.type(row, column, fix, false);
    QVERIFY(editor);
    QVERIFY2(start->isEnabled(), qPrintable(site.problems()));
    QTest::keyClick(editor, Qt::Key_Return);
    QCOMPARE(site.text(row, column), fix);
    QVERIFY(bad.data(PlanModel::ProblemRole).toString().isEmpty());
    QVERIFY(bad.data(Qt::DecorationRole).isNull());
    QVERIFY2(site.problems().contains("No problems"), qPrintable(site.problems()));
    QVERIFY(start->isEnabled());
}

void SiteTest::portEditorOffersDetectedPorts()
{
    // One adapter the system reports, with a /dev/serial/by-id/ alias.
    Simulator sim(onTenNet({}));
    QTemporaryDir aliases;
    const QString alias = aliases.filePath("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    QVERIFY(QFile::link(sim.path, alias));
    PortDetails port;
    port.name = QStringLiteral("ttyUSB3");
    port.systemLocation = sim.path;
    port.description = QStringLiteral("FT232R USB UART");
    port.serialNumber = QStringLiteral("A50285BI");
    PortCatalog::setSystemPortSource([port] { return QList<PortDetails>{port}; });
    PortCatalog::setAliasDirectory(aliases.path());
    port.alias = alias;
    const QString tip = PortListModel().toolTip(port);

    Site site;
    site.table()->setFocus();
    site.table()->setCurrentIndex(site.cell(0, PlanModel::PortColumn));
    QTest::keyClick(site.table(), Qt::Key_F2);
    auto *combo = qobject_cast<QComboBox *>(QApplication::focusWidget());
    QVERIFY(combo);
    QCOMPARE(combo->count(), 2);
    QCOMPARE(combo->itemText(0), alias);
    QCOMPARE(combo->itemText(1), sim.path);
    QCOMPARE(combo->itemData(0, Qt::ToolTipRole).toString(), tip);
    QCOMPARE(combo->itemData(1, Qt::ToolTipRole).toString(), tip);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(site.text(0, PlanModel::PortColumn), alias);
    QCOMPARE(site.cell(0, PlanModel::PortColumn).data(Qt::ToolTipRole).toString(), tip);
    PortCatalog::setSystemPortSource(nullptr);
    PortCatalog::setAliasDirectory(QString());
}

void SiteTest::pasteFromSpreadsheet_data()
{
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QList<QStringList>>("plan"); // the table's plan cells afterwards

    const auto line = [](const QStringList &cells) {
        QStringList row = cells;
        while (row.size() < PlanModel::planColumnCount)
            row << QString();
        return row;
    };
    QTest::newRow("rows from the port column on")
        << "/dev/ttyUSB0\t10.0.0.1\t255.255.255.0\n/dev/ttyUSB1\t10.0.0.2\t255.255.0.0\n"
        << 0 << 0
        << QList<QStringList>{line({"/dev/ttyUSB0", "10.0.0.1", "255.255.255.0"}),
                              line({"/dev/ttyUSB1", "10.0.0.2", "255.255.0.0"})};
    QTest::newRow("a column of addresses, rows added")
        << "10.0.0.1\r\n10.0.0.2\r\n10.0.0.3\r\n"
        << 0 << 1
        << QList<QStringList>{line({"", "10.0.0.1"}), line({"", "10.0.0.2"}),
                              line({"", "10.0.0.3"})};
    QTest::newRow("quoted cells") << "\"/tmp/a \"\"b\"\"\"\t\"10.0.0.1\"\n"
                                  << 0 << 0
                                  << QList<QStringList>{line({"/tmp/a \"b\"", "10.0.0.1"})};
    QTest::newRow("a copied header row is not a row")
        << "port\tip\n/dev/ttyUSB0\t10.0.0.1\n"
        << 0 << 0 << QList<QStringList>{line({"/dev/ttyUSB0", "10.0.0.1"})};
    QTest::newRow("nothing right of bus_ids")
        << "1000\t1-4\tleft out\n"
        << 0 << int(PlanModel::PacketTimeoutColumn)
        << QList<QStringList>{line({"", "", "", "", "", "", "", "", "1000", "1-4"})};
}

void SiteTest::pasteFromSpreadsheet()
{
    QFETCH(QString, clipboard);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QList<QStringList>, plan);
    Site site;
    QApplication::clipboard()->setText(clipboard);
    site.table()->setFocus();
    site.table()->setCurrentIndex(site.cell(row, column));
    QTest::keyClick(site.table(), Qt::Key_V, Qt::ControlModifier);
    QList<QStringList> cells;
    for (int r = 0; r < site.model()->rowCount(); ++r)
        cells << site.model()->plan()->cells(r);
    QCOMPARE(cells, plan);
    QVERIFY(site.window.isWindowModified());
    // The paste is one step to undo, and to redo.
    QTest::keyClick(site.table(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(site.model()->rowCount(), 1);
    QCOMPARE(site.model()->plan()->cells(0).join(QString()), QString());
    QVERIFY(!site.window.isWindowModified());
    QTest::keyClick(site.table(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(site.model()->plan()->cells(plan.size() - 1), plan.last());

    // Copied back out, the rows paste into another window the same.
    QTest::keyClick(site.table(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(site.table(), Qt::Key_C, Qt::ControlModifier);
    Site other;
    other.table()->setFocus();
    QTest::keyClick(other.table(), Qt::Key_V, Qt::ControlModifier);
    QList<QStringList> copied;
    for (int r = 0; r < other.model()->rowCount(); ++r)
        copied << other.model()->plan()->cells(r);
    QCOMPARE(copied, plan);
}

void SiteTest::planFileRoundTrip_data()
{
    QTest::addColumn<QList<QStringList>>("plan");
    QTest::newRow("every column") << QList<QStringList>{
        {"/dev/ttyUSB0", "10.0.0.1", "255.255.255.0", "10.0.0.254", "10001", "even", "19200", "1",
         "1000"},
        {"/dev/ttyUSB1", "10.0.0.2", "", "", "502", "", "", "2", "", "1,2,5"}};
    QTest::newRow("separators, quotes and blanks in cells")
        << QList<QStringList>{{"/tmp/a,b \"c\";d", " 10.0.0.1", "", "", "", "", "", "", ""},
                              {"/tmp/Порт №2", "10.0.0.2 ", "", "", "", "", "", "", ""}};
    QTest::newRow("an empty row between")
        << QList<QStringList>{{"/dev/ttyUSB0", "10.0.0.1", "", "", "", "", "", "", ""},
                              {"", "", "", "", "", "", "", "", ""},
                              {"/dev/ttyUSB0", "10.0.0.3", "", "", "", "", "", "", ""}};
}

void SiteTest::planFileRoundTrip()
{
    QFETCH(QList<QStringList>, plan);
    QTemporaryDir dir;
    const QString path = dir.filePath("plan.csv");
    {
        Site site;
        site.model()->plan()->setPlanRows(plan);
        QVERIFY(site.window.savePlan(path));
        QCOMPARE(site.window.recordPath(), dir.filePath("plan-record.csv"));
    }
    Site site;
    QVERIFY(site.window.openPlan(path));
    QVERIFY(site.window.leftOut().isEmpty());
    QList<QStringList> loaded;
    for (int r = 0; r < site.model()->rowCount(); ++r)
        loaded << site.model()->plan()->cells(r);
    for (QStringList &row : plan) {
        while (row.size() < PlanModel::planColumnCount)
            row << QString();
    }
    QCOMPARE(loaded, plan);

    // ordan-cli reads the saved file as the table shows it.
    const cliprocess::Result r = cliprocess::runCli({"commission", path, "--dry-run", "--json"});
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QJsonArray expected;
    for (int row = 0; row < plan.size(); ++row) {
        if (plan.at(row).join(QString()).trimmed().isEmpty())
            continue;
        QJsonObject values;
        for (int c = 1; c < PlanModel::BusIdsColumn; ++c) {
            if (!plan.at(row).at(c).trimmed().isEmpty())
                values.insert(PlanModel::columnKey(c), plan.at(row).at(c).trimmed());
        }
        QJsonObject object{{"row", PlanModel::fileRow(row)},
                           {"port", plan.at(row).at(0).trimmed()},
                           {"values", values}};
        if (!plan.at(row).at(PlanModel::BusIdsColumn).isEmpty())
            object.insert("bus_ids", QJsonArray{1, 2, 5});
        expected.append(object);
    }
    QJsonArray got;
    for (const QJsonValue row : QJsonDocument::fromJson(r.out).array()) {
        QJsonObject object = row.toObject();
        object.remove("commands");
        got.append(object);
    }
    QCOMPARE(got, expected);
}

void SiteTest::threePortsOneRefusingOneSwapped()
{
    QTemporaryDir dir;
    Simulator a(onTenNet({"--mac", "02:00:00:00:00:01"}));
    Simulator b(onTenNet({"--mac", "02:00:00:00:00:02", "--refuse", "CHANGE IP:"}));
    const QString link = dir.filePath("ttyC");
    auto c = std::make_unique<Simulator>(onTenNet({"--link", link, "--mac", "02:00:00:00:00:03"}));
    const QString plan = writeFile(dir, "plan.csv",
                                   QStringLiteral("port,ip\n%1,10.0.0.1\n%2,10.0.0.2\n%3,10.0.0.3\n"
                                                  "%3,10.0.0.4\n")
                                       .arg(a.path, b.path, link)
                                       .toUtf8());
    Site site;
    QVERIFY(site.window.openPlan(plan));
    StateWatch watch(site.model());
    QTest::mouseClick(site.button("startButton"), Qt::LeftButton);
    QVERIFY(site.window.isRunning());

    // While it runs: nothing to edit, Stop at hand.
    QVERIFY(!(site.cell(0, PlanModel::IpColumn).flags() & Qt::ItemIsEditable));
    QVERIFY(!site.window.findChild<QAction *>("addRowAction")->isEnabled());
    QVERIFY(!site.button("startButton")->isEnabled());
    QVERIFY(!site.button("checkButton")->isEnabled());
    QVERIFY(site.button("stopButton")->isEnabled());

    // The third port asks for its next module, and the row stands out.
    const QString prompt = "Connect the next module to " + site.model()->portLabel(3);
    QVERIFY(link.endsWith(site.model()->portLabel(3)));
    QTRY_COMPARE_WITH_TIMEOUT(site.state(3), prompt, runTimeoutMs);
    QVERIFY(site.cell(3, PlanModel::StateColumn).data(Qt::FontRole).value<QFont>().bold());
    QVERIFY(site.window.isRunning());
    QCOMPARE(MessageBoxAnswerer::openBoxes().size(), 0);
    c.reset(); // unplugged
    Simulator d(onTenNet({"--link", link, "--mac", "02:00:00:00:00:04"}));

    QTRY_VERIFY_WITH_TIMEOUT(!site.window.isRunning(), runTimeoutMs);
    QCOMPARE(site.window.lastExitCode(), 5);
    QCOMPARE(site.state(0), QStringLiteral("verified"));
    QCOMPARE(site.state(1), QStringLiteral("failed: refused"));
    QVERIFY2(site.text(1, PlanModel::ResultColumn).contains("refused ip 10.0.0.2"),
             qPrintable(site.text(1, PlanModel::ResultColumn)));
    QCOMPARE(site.state(2), QStringLiteral("verified"));
    QCOMPARE(site.state(3), QStringLiteral("verified"));
    QStringList macs;
    for (int row = 0; row < 4; ++row)
        macs << site.model()->index(row, PlanModel::MacColumn).data().toString();
    QCOMPARE(macs, (QStringList{"02:00:00:00:00:01", "02:00:00:00:00:02", "02:00:00:00:00:03",
                                "02:00:00:00:00:04"}));
    // Every stage showed as text on its way.
    const QStringList expected{"waiting",    "identifying",          "writing 1 of 1 (ip)",
                               "restarting", "reading back 1 of 11", "reading back 11 of 11",
                               "verified"};
    QStringList seen = watch.states.value(0);
    seen.erase(std::remove_if(seen.begin(), seen.end(),
                              [&expected](const QString &s) { return !expected.contains(s); }),
               seen.end());
    QVERIFY2(seen == expected, qPrintable(watch.states.value(0).join(" | ")));
    QVERIFY(watch.states.value(3).contains(prompt));
    QCOMPARE(site.boxes.count(), 0);
    QVERIFY(site.cell(0, PlanModel::IpColumn).flags() & Qt::ItemIsEditable);
    QVERIFY(site.button("startButton")->isEnabled());

    // The refused row alone, again: the others keep what they came to.
    auto *again = site.window.findChild<QAction *>("runAgainAction");
    site.table()->setCurrentIndex(site.cell(0, 0));
    QVERIFY(!again->isEnabled());
    site.table()->setCurrentIndex(site.cell(1, 0));
    QVERIFY(again->isEnabled());
    again->trigger();
    QVERIFY(site.window.isRunning());
    QCOMPARE(site.state(0), QStringLiteral("verified"));
    QTRY_VERIFY_WITH_TIMEOUT(!site.window.isRunning(), runTimeoutMs);
    QCOMPARE(site.state(1), QStringLiteral("failed: refused"));
    QCOMPARE(site.state(3), QStringLiteral("verified"));
    QCOMPARE(b.commands().filter("CHANGE IP:").size(), 2);
}

void SiteTest::stopInTheMiddle()
{
    QTemporaryDir dir;
    Simulator slow(onTenNet({"--delay", "300"}));
    Simulator fast(onTenNet({"--mac", "02:00:00:00:00:02"}));
    const QString plan =
        writeFile(dir, "plan.csv",
                  QStringLiteral("port,ip\n%1,10.0.0.1\n%2,10.0.0.2\n%2,10.0.0.3\n")
                      .arg(slow.path, fast.path)
                      .toUtf8());
    Site site;
    QVERIFY(site.window.openPlan(plan));
    const QString record = site.window.recordPath();
    QVERIFY(site.window.startRun());
    QTRY_VERIFY_WITH_TIMEOUT(site.model()->states()->progress(2).stage == RowStage::NextModule,
                             runTimeoutMs);
    QVERIFY2(isActive(site.model()->states()->progress(0).stage), qPrintable(site.state(0)));
    site.boxes.answerNext("Stop the run");
    QTest::keyClick(&site.window, Qt::Key_Escape); // as Ctrl-C for ordan-cli, once confirmed
    QCOMPARE(site.boxes.count(), 1);

    QTRY_VERIFY_WITH_TIMEOUT(!site.window.isRunning(), 10000);
    QCOMPARE(site.window.lastExitCode(), 130);
    QCOMPARE(site.state(0), QStringLiteral("interrupted"));
    QCOMPARE(site.state(1), QStringLiteral("verified"));
    QCOMPARE(site.state(2), QStringLiteral("not reached"));
    QCOMPARE(site.text(2, PlanModel::ResultColumn), QStringLiteral("interrupted"));
    const QStringList rows = recordRows(record);
    QCOMPARE(rows.size(), 3); // the header and the two rows begun
    QVERIFY(rows.filter(",10.0.0.2,").first().contains(",verified,"));
    QCOMPARE(rows.filter(",interrupted").size(), 1);
    QVERIFY(site.cell(0, PlanModel::IpColumn).flags() & Qt::ItemIsEditable);
}

void SiteTest::checkOnlyWritesNothing()
{
    QTemporaryDir dir;
    Simulator sim(onTenNet({}));
    Site site;
    QVERIFY(site.window.openPlan(
        writeFile(dir, "plan.csv", "port,ip\n" + sim.path.toUtf8() + ",10.0.0.1\n")));
    QPushButton *check = site.button("checkButton");
    QVERIFY(check->isEnabled());
    QTest::mouseClick(check, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!site.window.isRunning(), runTimeoutMs);
    const QStringList commands = sim.commands();
    QVERIFY2(commands.filter(QRegularExpression("^(CHANGE|change|reset|RESET|LOAD)")).isEmpty(),
             qPrintable(commands.join(", ")));
    QCOMPARE(site.boxes.count(), 0);
    // The module is elsewhere than planned: its row says which parameters,
    // and each such cell what the module has.
    QCOMPARE(site.state(0), QStringLiteral("differs: ip"));
    QCOMPARE(site.cell(0, PlanModel::IpColumn).data(Qt::ToolTipRole).toString(),
             QStringLiteral("the module has 192.168.0.1"));
    QVERIFY(site.cell(0, PlanModel::TcpPortColumn).data(Qt::ToolTipRole).isNull());
}

void SiteTest::recordEqualsTheCli()
{
    QTemporaryDir dir;
    Simulator a(onTenNet({"--link", dir.filePath("ttyA"), "--mac", "02:00:00:00:00:01"}));
    Simulator b(
        onTenNet({"--link", dir.filePath("ttyB"), "--mac", "02:00:00:00:00:02", "--no-apply"}));
    const QString base =
        settingsFile(dir, {{ModuleField::Mask, "255.255.0.0"}, {ModuleField::Parity, "even"}});
    const QString plan =
        writeFile(dir, "site.csv",
                  QStringLiteral("port;ip;tcp_port;speed\n%1;10.0.0.1;10001;19200\n%2;10.0.0.2;;\n")
                      .arg(a.path, b.path)
                      .toUtf8());
    Site site;
    QVERIFY(site.window.openPlan(plan));
    QVERIFY(site.window.loadBaseValues(base));
    QCOMPARE(site.window.recordPath(), dir.filePath("site-record.csv"));
    QVERIFY(!site.button("recordOpenButton")->isEnabled());
    QVERIFY(site.window.startRun());
    QTRY_VERIFY_WITH_TIMEOUT(!site.window.isRunning(), runTimeoutMs);
    // On a failure, what each row came to says why.
    QVERIFY2(site.window.lastExitCode() == 6,
             qPrintable(QStringLiteral("exit %1; %2 | %3")
                            .arg(site.window.lastExitCode())
                            .arg(site.text(0, PlanModel::ResultColumn),
                                 site.text(1, PlanModel::ResultColumn))));
    QVERIFY2(site.text(1, PlanModel::ResultColumn).contains("ip: written 10.0.0.2, read "),
             qPrintable(site.text(1, PlanModel::ResultColumn)));

    const QString cliRecord = dir.filePath("cli-record.csv");
    const cliprocess::Result r =
        cliprocess::runCli({"commission", plan, "--from", base, "--record", cliRecord});
    QCOMPARE(r.exitCode, 6);
    const QStringList rows = recordRows(site.window.recordPath());
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows, recordRows(cliRecord));

    // Open hands the record to the desktop.
    UrlCatcher desktop;
    QDesktopServices::setUrlHandler("file", &desktop, "open");
    QVERIFY(site.button("recordOpenButton")->isEnabled());
    QTest::mouseClick(site.button("recordOpenButton"), Qt::LeftButton);
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(desktop.urls, QList<QUrl>{QUrl::fromLocalFile(site.window.recordPath())});
}

void SiteTest::quitWhenDoneExitCodes_data()
{
    // %1 stands for the simulated port.
    QTest::addColumn<QStringList>("simulator");
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QStringList>("arguments"); // beside --start --quit-when-done
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("said");    // on stderr
    QTest::addColumn<bool>("held");          // ordan-cli runs the same plan already
    QTest::addColumn<QByteArray>("summary"); // on stdout, as ordan-cli prints it

    const QByteArray plan("port,ip\n%1,10.0.0.1\n");
    QTest::newRow("every row verified")
        << QStringList() << plan << QStringList() << 0 << QByteArray() << false
        << QByteArray("1 verified, 0 failed, 0 not reached");
    QTest::newRow("the module refuses")
        << QStringList{"--refuse", "CHANGE IP:"} << plan << QStringList() << 5 << QByteArray()
        << false << QByteArray("0 verified, 1 failed, 0 not reached");
    QTest::newRow("the read-back differs")
        << QStringList{"--no-apply"} << plan << QStringList() << 6 << QByteArray() << false
        << QByteArray("0 verified, 1 failed, 0 not reached");
    QTest::newRow("a record that cannot be appended mid-run")
        << QStringList() << plan << QStringList{"--record", "/dev/full"} << 1 << QByteArray()
        << false << QByteArray("failed: verified on the module, but the record lacks its row");
    QTest::newRow("a problem in the plan")
        << QStringList() << QByteArray("port,ip,tcp_port\n%1,10.0.0.1,600\n") << QStringList() << 2
        << QByteArray("row 2, column tcp_port: \"600\" must be 23, 502 or 10000-65535") << false
        << QByteArray();
    QTest::newRow("an unknown column")
        << QStringList() << QByteArray("port,ip,colour\n%1,10.0.0.1,red\n") << QStringList() << 2
        << QByteArray("colour") << false << QByteArray();
    QTest::newRow("a record that cannot be written")
        << QStringList() << plan << QStringList{"--record", "/nonexistent/record.csv"} << 2
        << QByteArray("Cannot append to the record /nonexistent/record.csv") << false
        << QByteArray();
    QTest::newRow("a port another run holds")
        << QStringList() << QByteArray("port,ip\n%1.gone,10.0.0.1\n") << QStringList() << 3
        << QByteArray("is in use by another run (ordan-cli, process ") << true << QByteArray();
}

void SiteTest::quitWhenDoneExitCodes()
{
    QFETCH(QStringList, simulator);
    QFETCH(QByteArray, csv);
    QTemporaryDir dir;
    Simulator sim(onTenNet(simulator));
    const QString plan = writeFile(dir, "plan.csv", QString::fromUtf8(csv).arg(sim.path).toUtf8());
    QFETCH(QStringList, arguments);
    QFETCH(bool, held);
    QProcess holder; // waits for its module on the port: it holds the port
    if (held) {
        holder.start(ORDAN_CLI_PATH, {"commission", plan});
        QByteArray waiting;
        QTRY_VERIFY((waiting += holder.readAllStandardError()).contains("connect the module"));
    }
    QProcess site;
    site.start(QStringLiteral(ORDAN_SITE_PATH),
               QStringList{plan, "--start", "--quit-when-done"} + arguments);
    const cliprocess::Result r = cliprocess::finish(site);
    QFETCH(int, exitCode);
    QVERIFY2(r.exitCode == exitCode, r.err.constData());
    QFETCH(QByteArray, said);
    QVERIFY2(r.err.contains(said), r.err.constData());
    QFETCH(QByteArray, summary);
    QVERIFY2(r.out.contains(summary), r.out.constData());
    holder.kill();
    holder.waitForFinished();
    // A run refused before it starts sends nothing and makes no record.
    if (exitCode == 2 || exitCode == 3) {
        QCOMPARE(sim.commands(), QStringList());
        QVERIFY(!QFileInfo::exists(dir.filePath("plan-record.csv")));
        QVERIFY2(r.out.isEmpty(), r.out.constData());
    } else if (arguments.isEmpty()) {
        QVERIFY(QFileInfo::exists(dir.filePath("plan-record.csv")));
    }
}

void SiteTest::russianWindow()
{
    // Every message of the translation is finished.
    QFile ts(QStringLiteral(ORDAN_SITE_TS));
    QVERIFY(ts.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&ts);
    int messages = 0;
    QString source;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            ++messages;
            QVERIFY2(xml.attributes().value("type").isEmpty(), qPrintable(source));
            QVERIFY2(
                !xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed().isEmpty(),
                qPrintable(source));
        }
    }
    QVERIFY(!xml.hasError());
    QVERIFY(messages > 100);

    QVERIFY(installSiteTranslation(QLocale(QLocale::Russian, QLocale::Russia)));
    {
        QTemporaryDir dir;
        Site site;
        QVERIFY(site.window.openPlan(writeFile(dir, "plan.csv", "port,ip\n,10.0.0.1\n")));
        QCOMPARE(site.button("startButton")->text(), QStringLiteral("Пуск"));
        QCOMPARE(site.button("stopButton")->text(), QStringLiteral("Стоп"));
        QCOMPARE(site.button("checkButton")->text(), QStringLiteral("Только проверка"));
        QCOMPARE(site.problems(), QStringLiteral("! 1 ошибка (F8 — к следующей)"));
        QCOMPARE(site.model()->headerData(PlanModel::StateColumn, Qt::Horizontal).toString(),
                 QStringLiteral("состояние"));

        // No English anywhere the engineer looks: the titles, the plan
        // check's reason, a module's failure, a box of Qt's own.
        Simulator silent({"--silent"});
        site.type(0, PlanModel::PortColumn, silent.path);
        site.type(0, PlanModel::GatewayColumn, "10.0.0.1");
        QStringList shown{site.cell(0, PlanModel::GatewayColumn).data(Qt::ToolTipRole).toString()};
        for (int column = 0; column < PlanModel::ColumnCount; ++column)
            shown << site.model()->headerData(column, Qt::Horizontal).toString();
        site.model()->setData(site.cell(0, PlanModel::GatewayColumn), QString());
        QVERIFY2(site.window.startRun(), qPrintable(site.window.startRefusal().join("; ")));
        QTRY_VERIFY_WITH_TIMEOUT(!site.window.isRunning(), runTimeoutMs);
        shown << site.state(0) << site.text(0, PlanModel::ResultColumn) << site.problems();
        site.boxes.answerNext(QString());
        site.window.findChild<QAction *>("newAction")->trigger();
        QCOMPARE(site.boxes.count(), 1);
        shown << site.boxes.last().text << site.boxes.last().buttons;
        QVERIFY2(site.boxes.last().buttons.contains(QStringLiteral("Отмена")),
                 qPrintable(site.boxes.last().buttons.join(", ")));
        // An audit that differs names its parameters in Russian too.
        Simulator elsewhere(onTenNet({}));
        QVERIFY(site.window.openPlan(
            writeFile(dir, "audit.csv", "port,ip\n" + elsewhere.path.toUtf8() + ",10.0.0.1\n")));
        QTest::mouseClick(site.button("checkButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!site.window.isRunning(), runTimeoutMs);
        QVERIFY2(site.state(0).startsWith(QStringLiteral("отличается")), qPrintable(site.state(0)));
        shown << site.state(0);
        // A write step names its parameter in Russian too.
        shown << rowProgress(JobStage::Writing, 5, 8, QStringLiteral("parity")).item;
        // Latin letters only in the names of things: MAC, IP, TCP, F8.
        static const QRegularExpression english(
            QStringLiteral("\\b(?!MAC\\b|IP\\b|TCP\\b|ok\\b)[A-Za-z]{2,}"));
        for (const QString &text : qAsConst(shown))
            QVERIFY2(!english.match(text).hasMatch(), qPrintable(shown.join(" | ")));
    }
    installSiteTranslation(QLocale(QLocale::English, QLocale::UnitedStates));
}

void SiteTest::endedBySignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("quitWhenDone");
    QTest::newRow("SIGTERM, --quit-when-done") << int(SIGTERM) << true;
    QTest::newRow("SIGHUP, left open") << int(SIGHUP) << false;
}

void SiteTest::endedBySignal()
{
    // A logout in the middle of a module: it is recorded as interrupted.
    QFETCH(int, signal);
    QFETCH(bool, quitWhenDone);
    QTemporaryDir dir;
    Simulator sim(onTenNet({"--delay", "400"}));
    const QString plan =
        writeFile(dir, "plan.csv", "port,ip\n" + sim.path.toUtf8() + ",10.0.0.1\n");
    QProcess site;
    site.start(QStringLiteral(ORDAN_SITE_PATH),
               QStringList{plan, "--start"} +
                   (quitWhenDone ? QStringList{"--quit-when-done"} : QStringList()));
    QTRY_VERIFY_WITH_TIMEOUT(sim.commands().contains("MAC"), runTimeoutMs);
    ::kill(pid_t(site.processId()), signal);
    const cliprocess::Result r = cliprocess::finish(site, 10000);
    QVERIFY2(r.exitCode == 130, r.err.constData());
    const QStringList rows = recordRows(dir.filePath("plan-record.csv"));
    QCOMPARE(rows.size(), 2);
    QVERIFY2(rows.last().contains(",interrupted"), qPrintable(rows.last()));
}

void SiteTest::closingDuringARunAsks_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("closes");
    QTest::newRow("go on") << "Go on" << false;
    QTest::newRow("stop and quit") << "Stop and quit" << true;
}

void SiteTest::closingDuringARunAsks()
{
    QFETCH(QString, answer);
    QFETCH(bool, closes);
    QTemporaryDir dir;
    Simulator sim(onTenNet({"--delay", "400"}));
    Site site;
    QVERIFY(site.window.openPlan(
        writeFile(dir, "plan.csv", "port,ip\n" + sim.path.toUtf8() + ",10.0.0.1\n")));
    QVERIFY(site.window.startRun());
    // The module in hand (the run asks the register first).
    QTRY_VERIFY_WITH_TIMEOUT(isActive(site.model()->states()->progress(0).stage), runTimeoutMs);
    site.boxes.answerNext(answer);
    QTest::keyClick(&site.window, Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(site.boxes.count(), 1);
    QVERIFY(site.boxes.last().text.contains("A run is going on"));
    if (!closes) {
        QVERIFY(site.window.isRunning() && site.window.isVisible());
        site.window.stopRun();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!site.window.isRunning(), 10000);
    QTRY_COMPARE(site.window.isVisible(), !closes);
    QCOMPARE(site.model()->states()->progress(0).stage, RowStage::Interrupted);
}

void SiteTest::recordAlwaysKept()
{
    // A new plan records to a file of its own in the user's data folder.
    QTemporaryDir dir;
    Site site;
    const QString folder =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/records/";
    QVERIFY2(site.window.recordPath().startsWith(folder + "site-") &&
                 site.window.recordPath().endsWith("-record.csv"),
             qPrintable(site.window.recordPath()));
    site.type(0, PlanModel::PortColumn, "/dev/ttyUSB7");
    site.type(0, PlanModel::IpColumn, "10.0.0.1");
    QVERIFY(site.button("startButton")->isEnabled());

    // A record that cannot be appended to is a problem as it is typed.
    auto *record = site.find<QLineEdit>("recordPath");
    const QList<QPair<QString, QString>> bad{{QString(), "no record file is given"},
                                             {dir.filePath("missing/record.csv"), "does not exist"},
                                             {dir.path(), "is a folder"}};
    for (const auto &path : bad) {
        record->setText(path.first);
        QVERIFY(!site.button("startButton")->isEnabled());
        QVERIFY2(site.problems().startsWith("! 1 problem"), qPrintable(site.problems()));
        QVERIFY2(site.button("startButton")->toolTip().contains(path.second),
                 qPrintable(site.button("startButton")->toolTip()));
    }
    record->setText(dir.filePath("record.csv"));
    QVERIFY(site.button("startButton")->isEnabled());
    QVERIFY(!QFile::exists(dir.filePath("record.csv"))); // judged, not made
}

void SiteTest::recordNeverSavedOver_data()
{
    QTest::addColumn<QByteArray>("file"); // what the file holds
    QTest::addColumn<bool>("fromRecord"); // a new plan from the record first
    QTest::addColumn<QString>("answer");  // to the question about the file
    QTest::addColumn<QString>("said");    // in that question
    QTest::addColumn<bool>("kept");       // the file byte for byte

    commissionrecord::Row done;
    done.time = "2026-01-02T03:04:05.006+01:00";
    done.port = "/dev/ttyUSB0";
    done.values = {{ModuleField::Name, "Ordan"},
                   {ModuleField::Mac, "02:00:00:00:00:01"},
                   {ModuleField::Ip, "10.0.0.1"},
                   {ModuleField::PortTcp, "502"}};
    done.result = "verified";
    const QByteArray record =
        (commissionrecord::header() + "\r\n" + commissionrecord::line(done) + "\r\n").toUtf8();
    QTest::newRow("a record opened, saved onto") << record << false << "OK"
                                                 << "is a record" << true;
    QTest::newRow("a new plan from the record, saved onto it") << record << true << "OK"
                                                               << "is a record" << true;
    const QByteArray notes("site notes: ask for the key at the gate\r\n");
    QTest::newRow("notes, not replaced") << notes << false << "Cancel"
                                         << "is not a plan" << true;
    QTest::newRow("notes, replaced") << notes << false << "Replace"
                                     << "is not a plan" << false;
}

void SiteTest::recordNeverSavedOver()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, fromRecord);
    QTemporaryDir dir;
    const QString path = writeFile(dir, "site.csv", file);
    Site site;
    const bool record = file.startsWith("time,port,");
    // A record is not a plan: it opens read-only, the table untouched.
    QCOMPARE(site.window.openPlan(path), !record);
    auto *view = site.window.findChild<QDialog *>("recordView");
    QCOMPARE(view != nullptr, record);
    if (record) {
        QTRY_VERIFY(view->isVisible());
        QCOMPARE(site.window.planPath(), QString());
        QVERIFY(site.button("startButton")->isEnabled() == false);
    }
    if (fromRecord) {
        QTest::mouseClick(findNamed<QPushButton>(*view, "newPlanFromRecordButton"), Qt::LeftButton);
        QCOMPARE(site.model()->plan()->cells(0).mid(0, 2),
                 (QStringList{"/dev/ttyUSB0", "10.0.0.1"}));
        QCOMPARE(site.model()->plan()->cells(0).at(PlanModel::TcpPortColumn),
                 QStringLiteral("502"));
        QVERIFY(site.window.isWindowModified());
    } else {
        site.model()->plan()->setPlanRows({{"/dev/ttyUSB0", "10.0.0.9"}});
    }
    QFETCH(QString, answer);
    QFETCH(bool, kept);
    site.boxes.answerNext(answer);
    QCOMPARE(site.window.savePlan(path), !kept);
    QCOMPARE(site.boxes.count(), 1);
    QFETCH(QString, said);
    QVERIFY2(site.boxes.last().text.contains(said), qPrintable(site.boxes.last().text));
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll() == file, kept);
}

void SiteTest::doneModuleRepluggedIsNotWritten()
{
    // A module done in this run, unplugged and plugged in again on its
    // port, is named and left alone; the next module takes the row.
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyA");
    const QStringList first = onTenNet({"--link", link, "--mac", "02:00:00:00:00:01"});
    auto module = std::make_unique<Simulator>(first);
    Site site;
    QVERIFY(site.window.openPlan(
        writeFile(dir, "plan.csv",
                  QStringLiteral("port,ip\n%1,10.0.0.1\n%1,10.0.0.2\n").arg(link).toUtf8())));
    QVERIFY(site.window.startRun());
    QTRY_VERIFY_WITH_TIMEOUT(site.model()->states()->progress(1).stage == RowStage::NextModule,
                             runTimeoutMs);
    module.reset(); // unplugged: its port goes away
    module = std::make_unique<Simulator>(first);
    // The run looks at it again and again, and writes nothing to it.
    QTRY_VERIFY_WITH_TIMEOUT(module->commands().count("MAC") >= 3, runTimeoutMs);
    QCOMPARE(site.model()->states()->progress(1).stage, RowStage::NextModule);
    QVERIFY2(module->commands().filter(QRegularExpression("^(CHANGE|reset)")).isEmpty(),
             qPrintable(module->commands().join(", ")));
    module.reset();
    Simulator next(onTenNet({"--link", link, "--mac", "02:00:00:00:00:02"}));
    QTRY_VERIFY_WITH_TIMEOUT(!site.window.isRunning(), runTimeoutMs);
    QCOMPARE(site.window.lastExitCode(), 0);
    QCOMPARE(site.text(1, PlanModel::MacColumn), QStringLiteral("02:00:00:00:00:02"));
    QCOMPARE(next.commands().filter("CHANGE IP:"), QStringList{"CHANGE IP:10.0.0.2"});
}

void SiteTest::recordNotAppendedFailsTheRun()
{
    // The disk is full when the module is done: the row fails, and the run
    // with it, in the table, the summary and the exit code.
    QTemporaryDir dir;
    Simulator sim(onTenNet({}));
    Site site;
    QVERIFY(site.window.openPlan(
        writeFile(dir, "plan.csv", "port,ip\n" + sim.path.toUtf8() + ",10.0.0.1\n")));
    site.window.setRecordPath("/dev/full");
    QVERIFY2(site.window.startRun(), qPrintable(site.window.startRefusal().join("; ")));
    QTRY_VERIFY_WITH_TIMEOUT(!site.window.isRunning(), runTimeoutMs);
    QCOMPARE(site.state(0), QStringLiteral("failed: not recorded"));
    QVERIFY2(site.text(0, PlanModel::ResultColumn).contains("the record lacks its row"),
             qPrintable(site.text(0, PlanModel::ResultColumn)));
    QCOMPARE(site.window.lastExitCode(), 1);
    QVERIFY2(site.problems().contains("0 verified, 1 failed"), qPrintable(site.problems()));
    const QStringList summary = site.window.runSummary();
    QVERIFY2(summary.last() == "0 verified, 1 failed, 0 not reached" &&
                 summary.at(1).contains("  NO  "),
             qPrintable(summary.join("\n")));
}

void SiteTest::fitsAFieldLaptop()
{
    // Four adapters of one make, by-id names of 70 characters that differ
    // near their end, two modules each, at 1366x768.
    QByteArray csv = "port,ip\n";
    QStringList ports;
    for (int i = 0; i < 4; ++i)
        ports << QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285B%1-if00-port0")
                     .arg(i)
                     .leftJustified(70, QLatin1Char('x'));
    for (int i = 0; i < 8; ++i)
        csv += ports.at(i % 4).toUtf8() + ",10.0.0." + QByteArray::number(i + 1) + "\n";
    QTemporaryDir dir;
    Site site;
    QVERIFY(site.window.openPlan(writeFile(dir, "plan.csv", csv)));
    site.window.resize(1366, 768);
    QTest::qWait(50);
    QTableView *table = site.table();
    QStringList widths;
    for (int column = 0; column < PlanModel::ColumnCount; ++column)
        widths << QString::number(table->columnWidth(column));
    QVERIFY2(
        !table->horizontalScrollBar()->isVisible(),
        qPrintable(widths.join(" ") + " in " + QString::number(table->viewport()->width()) + " " +
                   table->font().toString() + " " +
                   QString::number(table->fontMetrics().horizontalAdvance("00:1A:2B:3C:4D:5E"))));
    const int width = table->viewport()->width();
    for (const int column :
         {PlanModel::StateColumn, PlanModel::MacColumn, PlanModel::ResultColumn}) {
        const int left = table->columnViewportPosition(column);
        QVERIFY2(left >= 0 && left + table->columnWidth(column) <= width,
                 qPrintable(QStringLiteral("column %1 at %2+%3 of %4")
                                .arg(column)
                                .arg(left)
                                .arg(table->columnWidth(column))
                                .arg(width)));
    }
    QVERIFY(table->columnWidth(PlanModel::ResultColumn) >= 150);
    // The serial numbers tell the ports apart, in the prompt too.
    QCOMPARE(site.model()->portLabel(1), QStringLiteral("A50285B1"));
}

// The site register seen from the window: a module verified elsewhere is
// written only when the engineer says so, the register's view finds it, a
// row another station holds is shown as such, and a row's module is
// replaced by the one now on its port.
void SiteTest::registerInTheWindow()
{
    QTemporaryDir dir;
    const QString reg = dir.filePath("register.sqlite");
    const QByteArray before = qgetenv("ORDAN_REGISTER");
    qputenv("ORDAN_REGISTER", reg.toUtf8());
    const auto restore = qScopeGuard([before] { qputenv("ORDAN_REGISTER", before); });
    const QString link = dir.filePath("ttyA");
    auto module =
        std::make_unique<Simulator>(onTenNet({"--link", link, "--mac", "02:00:00:00:00:0A"}));
    Site site;
    const auto plan = [&](const QString &name, const QString &ip) {
        return writeFile(dir, name, QStringLiteral("port,ip\n%1,%2\n").arg(link, ip).toUtf8());
    };
    const auto run = [&site] {
        if (!site.window.startRun())
            return false;
        return QTest::qWaitFor([&site] { return !site.window.isRunning(); }, runTimeoutMs);
    };
    QVERIFY(site.window.openPlan(plan("plan1.csv", "10.0.0.1")));
    QVERIFY(run());
    QCOMPARE(site.state(0), QStringLiteral("verified"));

    // Verified as row 2 of plan1.csv: another plan asks first.
    QVERIFY(site.window.openPlan(plan("plan2.csv", "10.0.0.2")));
    site.boxes.answerNext(QStringLiteral("&Stop the row"));
    QVERIFY(run());
    QVERIFY2(site.boxes.last().text.contains("Row 2: this module, 02:00:00:00:00:0A, is already "
                                             "verified as 10.0.0.1 (row 2 of plan1.csv"),
             qPrintable(site.boxes.last().text));
    QCOMPARE(site.state(0), QStringLiteral("failed: verified elsewhere"));
    QCOMPARE(site.window.lastExitCode(), 7);
    QCOMPARE(module->commands().filter("CHANGE IP:"), QStringList{"CHANGE IP:10.0.0.1"});
    site.boxes.answerNext(QStringLiteral("&Write it"));
    QVERIFY(run());
    QCOMPARE(site.state(0), QStringLiteral("verified"));
    QVERIFY2(
        site.text(0, PlanModel::ResultColumn).contains("rewritten: it was verified as 10.0.0.1"),
        qPrintable(site.text(0, PlanModel::ResultColumn)));

    // Register...: every module, searched.
    site.window.showRegister();
    auto *view = site.window.findChild<RegisterView *>("registerView");
    QVERIFY(view);
    auto *search = findNamed<QLineEdit>(*view, "registerSearch");
    QTRY_VERIFY(!view->isReading());
    QTest::keyClicks(search, "00:0a");
    QCOMPARE(view->shownModules(), 1);
    search->setText("10.0.0.9");
    QCOMPARE(view->shownModules(), 0);
    view->close();

    // Another station holds the row: shown as such while the run waits.
    {
        SiteRegister other;
        QString error;
        siteregister::Location where;
        QVERIFY(siteregister::parseLocation(reg, &where, &error));
        QVERIFY2(other.open(where, &error), qPrintable(error));
        QFile file(dir.filePath("plan2.csv"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        siteregister::RunInfo info = siteregister::RunInfo::here(
            "ordan-cli commission", file.fileName(), commissionplan::identity(file.readAll()));
        info.station = "bench-2";
        siteregister::ClaimRequest request;
        request.run = RegisterRuns(other).beginRun(info, &error);
        request.planHash = info.planHash;
        request.planRow = 2;
        request.again = true;
        QCOMPARE(ClaimBook(other).claim(request, &error).state,
                 siteregister::ClaimEntry::State::Claimed);
        QVERIFY(site.window.startRun());
        QTRY_VERIFY_WITH_TIMEOUT(site.state(0).startsWith("another station's: claimed by bench-2"),
                                 runTimeoutMs);
        site.window.stopRun();
        QTRY_VERIFY_WITH_TIMEOUT(!site.window.isRunning(), runTimeoutMs);
        QVERIFY(ClaimBook(other).release(request, &error));
    }

    // The row's module replaced: the new one on its port gets its values.
    module.reset();
    Simulator replacement(onTenNet({"--link", link, "--mac", "02:00:00:00:00:0C"}));
    site.table()->setCurrentIndex(site.cell(0, PlanModel::IpColumn));
    site.table()->selectRow(0);
    site.boxes.answerNext(QStringLiteral("&Yes"));
    const int asked = site.boxes.count();
    site.find<QAction>("replaceAction")->trigger();
    // The register is asked off the window's thread; the question follows.
    QTRY_COMPARE(site.boxes.count(), asked + 1);
    QTRY_COMPARE_WITH_TIMEOUT(site.state(0), QStringLiteral("verified"), runTimeoutMs);
    QVERIFY(QTest::qWaitFor([&site] { return !site.window.isRunning(); }, runTimeoutMs));
    QCOMPARE(replacement.commands().filter("CHANGE IP:"), QStringList{"CHANGE IP:10.0.0.2"});
    const cliprocess::Result shown = cliprocess::runCli({"register", "show", "02:00:00:00:00:0A"});
    QVERIFY2(shown.out.contains("replaced by     02:00:00:00:00:0C"), shown.out.constData());
}

namespace
{

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A record's row of a module verified at 10.0.0.1.
commissionrecord::Row verifiedRow(const QString &mac = QStringLiteral("02:00:00:00:00:01"))
{
    commissionrecord::Row row;
    row.time = "2026-01-02T03:04:05.006+01:00";
    row.port = "/dev/ttyUSB0";
    row.values = {{ModuleField::Name, "Ordan"},
                  {ModuleField::Mac, mac},
                  {ModuleField::Ip, "10.0.0.1"},
                  {ModuleField::Parity, "none"}};
    row.result = "verified";
    row.planRow = 2;
    row.planned = {{ModuleField::Ip, "10.0.0.1"}, {ModuleField::Parity, "none"}};
    return row;
}

// The longest the event loop kept a timer of 20 ms waiting past its time,
// over `ms`: how long the window would not answer a click.
qint64 longestStall(int ms)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 worst = 0;
    QTimer tick;
    tick.setInterval(20);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = qMax(worst, now - last - 20);
        last = now;
    });
    tick.start();
    QTest::qWait(ms);
    return worst;
}

// English words the Russian window must not show (the names of things,
// MAC, IP, a module's name or a port's path, may stay Latin).
QStringList englishWords(const QStringList &texts)
{
    static const QRegularExpression words(
        QStringLiteral("\\b(planned|bus|answers?|verified|failed|refused|sending|restart|result|"
                       "time|port|row|none|even|odd|module|recorded|yes|NO|reached|not|ip|"
                       "tcp_port|parity|sent)\\b"));
    QStringList found;
    for (const QString &text : texts) {
        QRegularExpressionMatchIterator it = words.globalMatch(text);
        while (it.hasNext())
            found << it.next().captured() + QStringLiteral(" in \"") + text + QLatin1Char('"');
    }
    return found;
}

} // namespace

void SiteTest::recordShownIsNotRunInto()
{
    // A record on screen is not appended to behind its viewer's back, and
    // the viewer shows the file as it is now.
    QTemporaryDir dir;
    Simulator sim(onTenNet({}));
    Site site;
    QVERIFY(site.window.openPlan(
        writeFile(dir, "plan.csv", "port,ip\n" + sim.path.toUtf8() + ",10.0.0.1\n")));
    const QString record = site.window.recordPath();
    QString error;
    QVERIFY(commissionrecord::append(record, verifiedRow(), &error));
    const QByteArray before = fileBytes(record);
    QVERIFY(!site.window.openPlan(record));
    auto *view = site.window.findChild<RecordView *>("recordView");
    QVERIFY(view);
    QVERIFY(!site.button("startButton")->isEnabled());
    QVERIFY2(site.button("startButton")->toolTip().contains("shown read-only"),
             qPrintable(site.button("startButton")->toolTip()));
    QVERIFY(!site.window.startRun());
    QVERIFY(!site.window.isRunning());
    QCOMPARE(fileBytes(record), before);
    QCOMPARE(sim.commands(), QStringList());

    // Another program appends a row: the viewer shows it.
    QAbstractItemModel *rows = findNamed<QTableView>(*view, "recordTable")->model();
    QCOMPARE(rows->rowCount(), 1);
    QVERIFY(commissionrecord::append(record, verifiedRow("02:00:00:00:00:02"), &error));
    QTRY_COMPARE(rows->rowCount(), 2);

    // Closed, the run goes into it.
    view->close();
    QTRY_VERIFY(site.button("startButton")->isEnabled());
    QVERIFY(site.window.startRun());
    QTRY_VERIFY_WITH_TIMEOUT(!site.window.isRunning(), runTimeoutMs);
    QCOMPARE(site.window.lastExitCode(), 0);
    QCOMPARE(recordRows(record).size(), 4);
}

void SiteTest::recordFieldNamesAPlan()
{
    // The Record field names the plan, or notes: Start stays off and says
    // why, and a start anyway sends nothing and leaves both as they are.
    QTemporaryDir dir;
    Simulator sim(onTenNet({}));
    Site site;
    const QString plan =
        writeFile(dir, "site.csv", "port,ip\n" + sim.path.toUtf8() + ",10.0.0.1\n");
    const QString notes = writeFile(dir, "notes.txt", "the key is at the gate\n");
    QVERIFY(site.window.openPlan(plan));
    QVERIFY(site.button("startButton")->isEnabled());
    const QByteArray planBytes = fileBytes(plan);
    for (const auto &named : {qMakePair(plan, QStringLiteral("site.csv is a plan, not a record")),
                              qMakePair(notes, QStringLiteral("notes.txt is not a record"))}) {
        site.find<QLineEdit>("recordPath")->setText(named.first);
        QVERIFY(!site.button("startButton")->isEnabled());
        QVERIFY2(site.button("startButton")->toolTip().contains(named.second),
                 qPrintable(site.button("startButton")->toolTip()));
        QVERIFY2(site.problems().startsWith("! 1 problem"), qPrintable(site.problems()));
        QVERIFY(!site.window.startRun());
        QVERIFY2(site.window.startRefusal().join(" ").contains(named.second),
                 qPrintable(site.window.startRefusal().join(" ")));
    }
    QCOMPARE(fileBytes(plan), planBytes);
    QCOMPARE(fileBytes(notes), QByteArray("the key is at the gate\n"));
    QCOMPARE(sim.commands(), QStringList());
}

void SiteTest::editingAVerifiedRowClearsItsMark_data()
{
    QTest::addColumn<int>("stage");    // the row's, before the edit
    QTest::addColumn<QString>("edit"); // typed, pasted, or the same value typed
    QTest::addColumn<bool>("changed");
    QTest::newRow("verified, typed") << int(RowStage::Verified) << "typed" << true;
    QTest::newRow("verified, pasted") << int(RowStage::Verified) << "pasted" << true;
    QTest::newRow("matches, typed") << int(RowStage::Matches) << "typed" << true;
    QTest::newRow("done already, pasted") << int(RowStage::DoneElsewhere) << "pasted" << true;
    QTest::newRow("verified, the same value") << int(RowStage::Verified) << "same" << false;
    QTest::newRow("failed, typed") << int(RowStage::Failed) << "typed" << false;
}

void SiteTest::editingAVerifiedRowClearsItsMark()
{
    QFETCH(int, stage);
    QFETCH(QString, edit);
    QFETCH(bool, changed);
    QTemporaryDir dir;
    Site site;
    QVERIFY(site.window.openPlan(
        writeFile(dir, "plan.csv", "port,ip\n/dev/ttyUSB0,10.0.0.1\n/dev/ttyUSB0,10.0.0.2\n")));
    for (const int row : {0, 1}) {
        RowProgress ended;
        ended.stage = RowStage(stage);
        site.model()->states()->setProgress(row, ended);
        site.model()->states()->setMac(row, "02:00:00:00:00:01");
        site.model()->states()->setResult(row, "1 parameter as planned");
    }
    const QVariant mark = site.cell(0, PlanModel::StateColumn).data(Qt::BackgroundRole);
    if (edit == "pasted")
        QCOMPARE(site.model()->plan()->putCells(0, PlanModel::IpColumn, {{"10.0.0.9"}}), 1);
    else
        QVERIFY(site.type(0, PlanModel::IpColumn, edit == "same" ? "10.0.0.1" : "10.0.0.9"));
    if (changed) {
        QCOMPARE(site.state(0), QStringLiteral("changed since verified"));
        QVERIFY(!site.cell(0, PlanModel::StateColumn).data(Qt::BackgroundRole).isValid());
        QCOMPARE(site.text(0, PlanModel::MacColumn), QString());
    } else {
        QCOMPARE(int(site.model()->states()->progress(0).stage), stage);
        QCOMPARE(site.cell(0, PlanModel::StateColumn).data(Qt::BackgroundRole), mark);
    }
    // The other row keeps what its run proved.
    QCOMPARE(int(site.model()->states()->progress(1).stage), stage);
    QCOMPARE(site.text(1, PlanModel::MacColumn), QStringLiteral("02:00:00:00:00:01"));
}

void SiteTest::registerViewFindsAMacInAnyForm_data()
{
    // The register holds 02:00:00:00:0B:02 at 10.0.0.2 and 02:00:00:00:0C:03
    // at 10.0.0.3, both verified by the station bench-7.
    QTest::addColumn<QString>("search");
    QTest::addColumn<int>("found");
    QTest::newRow("colons") << "02:00:00:00:0B:02" << 1;
    QTest::newRow("dashes") << "02-00-00-00-0B-02" << 1;
    QTest::newRow("bare") << "020000000B02" << 1;
    QTest::newRow("bare, lower case") << "020000000b02" << 1;
    QTest::newRow("a part, dashes") << "0b-02" << 1;
    QTest::newRow("a part both have") << "02:00:00:00" << 2;
    QTest::newRow("an address") << "10.0.0.3" << 1;
    QTest::newRow("a station") << "BENCH-7" << 2;
    QTest::newRow("another MAC") << "02-00-00-00-0B-09" << 0;
}

void SiteTest::registerViewFindsAMacInAnyForm()
{
    QTemporaryDir dir;
    const QString reg = dir.filePath("register.sqlite");
    {
        siteregister::Location where;
        QString error;
        QVERIFY(siteregister::parseLocation(reg, &where, &error));
        SiteRegister writer;
        QVERIFY2(writer.open(where, &error), qPrintable(error));
        siteregister::RunInfo info = siteregister::RunInfo::here(
            "ordan-cli commission", dir.filePath("a-plan-with-a-long-name-for-its-cell.csv"),
            "rows:x");
        info.station = "bench-7";
        const qint64 id = RegisterRuns(writer).beginRun(info, &error);
        QVERIFY2(id > 0, qPrintable(error));
        for (const auto &module : {qMakePair(QStringLiteral("02:00:00:00:0B:02"), 2),
                                   qMakePair(QStringLiteral("02:00:00:00:0C:03"), 3)}) {
            siteregister::RowEntry row;
            row.planRow = module.second;
            row.port = "/dev/ttyUSB0";
            const QString ip = "10.0.0." + QString::number(module.second);
            row.planned = {{ModuleField::Ip, ip}};
            row.values = {{ModuleField::Mac, module.first}, {ModuleField::Ip, ip}};
            row.result = "verified";
            QVERIFY2(RegisterRuns(writer).recordRow(id, row, &error), qPrintable(error));
        }
    }
    Site site;
    site.window.setRegister(reg, false);
    site.window.showRegister();
    auto *view = site.window.findChild<RegisterView *>("registerView");
    QVERIFY(view);
    QTRY_VERIFY(!view->isReading());
    QCOMPARE(view->shownModules(), 2);
    // Reloaded twice in a row: the modules once.
    findNamed<QPushButton>(*view, "registerReloadButton")->click();
    findNamed<QPushButton>(*view, "registerReloadButton")->click();
    QTRY_VERIFY(!view->isReading());
    QCOMPARE(view->shownModules(), 2);
    QFETCH(QString, search);
    QFETCH(int, found);
    findNamed<QLineEdit>(*view, "registerSearch")->setText(search);
    QCOMPARE(view->shownModules(), found);
    // The count is of the rows shown.
    QVERIFY2(
        findNamed<QLabel>(*view, "registerStatus")
            ->text()
            .endsWith(
                QStringLiteral(": %1 module%2 found of 2").arg(found).arg(found == 1 ? "" : "s")),
        qPrintable(findNamed<QLabel>(*view, "registerStatus")->text()));
    if (QByteArray(QTest::currentDataTag()) != "colons")
        return;

    // A MAC whole in its column; the label's mnemonic, no "&" shown.
    auto *modules = findNamed<QTableView>(*view, "registerModules");
    QVERIFY(modules->columnWidth(0) >
            modules->fontMetrics().horizontalAdvance(QStringLiteral("02:00:00:00:0B:02")));
    QLabel *label = nullptr;
    for (QLabel *l : view->findChildren<QLabel *>()) {
        if (l->text() == QStringLiteral("&Register:"))
            label = l;
    }
    QVERIFY(label && label->buddy() == findNamed<QLineEdit>(*view, "registerLocation"));
    // The history has the plan, and the result in the register's words.
    modules->setCurrentIndex(modules->model()->index(0, 0));
    auto *history = findNamed<QTableView>(*view, "registerHistory");
    QTRY_COMPARE(view->historyLines(), 1);
    QCOMPARE(history->model()->index(0, 1).data().toString(), QStringLiteral("verified"));
    QCOMPARE(history->model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Plan"));
    QCOMPARE(history->model()->index(0, 3).data().toString(),
             QStringLiteral("a-plan-with-a-long-name-for-its-cell.csv"));
    // A cell cut at its column's edge shows its text whole as a tool tip.
    modules->setColumnWidth(0, 30);
    const QModelIndex mac = modules->model()->index(0, 0);
    const QRect cell = modules->visualRect(mac);
    QHelpEvent help(QEvent::ToolTip, cell.center(),
                    modules->viewport()->mapToGlobal(cell.center()));
    QApplication::sendEvent(modules->viewport(), &help);
    QTRY_COMPARE(QToolTip::text(), mac.data().toString());
    QToolTip::hideText();
}

void SiteTest::stalledRegisterFreezesNothing()
{
    // A register server that takes the connection and never answers: the
    // window answers meanwhile, while a run opens it and while the
    // register's view reads it.
    QTcpServer stalled;
    QVERIFY(stalled.listen(QHostAddress::LocalHost));
    QTemporaryDir dir;
    Simulator sim(onTenNet({}));
    {
        Site site;
        site.window.setRegister(
            QStringLiteral("postgresql://ordan@127.0.0.1:%1/site").arg(stalled.serverPort()),
            false);
        QVERIFY(site.window.openPlan(
            writeFile(dir, "plan.csv", "port,ip\n" + sim.path.toUtf8() + ",10.0.0.1\n")));
        QElapsedTimer starting;
        starting.start();
        QVERIFY(site.window.startRun());
        QVERIFY2(starting.elapsed() < 1000, qPrintable(QString::number(starting.elapsed())));
        QVERIFY(site.window.isRunning());
        qint64 stall = longestStall(1500);
        QVERIFY2(stall < 1000, qPrintable(QString::number(stall)));
        QVERIFY2(site.problems().startsWith("Opening the register"), qPrintable(site.problems()));

        starting.restart();
        site.window.showRegister();
        QVERIFY2(starting.elapsed() < 1000, qPrintable(QString::number(starting.elapsed())));
        auto *view = site.window.findChild<RegisterView *>("registerView");
        QVERIFY(view && view->isReading());
        stall = longestStall(1000);
        QVERIFY2(stall < 1000, qPrintable(QString::number(stall)));
        QVERIFY(findNamed<QLabel>(*view, "registerStatus")->text().startsWith("Reading"));
        view->close();

        // Stopped while the register opens: nothing was sent.
        site.window.stopRun();
        QTRY_VERIFY(!site.window.isRunning());
        QCOMPARE(site.window.lastExitCode(), 130);
        QCOMPARE(sim.commands(), QStringList());
        QVERIFY(!QFileInfo::exists(site.window.recordPath()));
    }
    // The server gone, the register's threads end.
    stalled.close();
    while (QTcpSocket *socket = stalled.nextPendingConnection())
        delete socket;
    QTRY_VERIFY_WITH_TIMEOUT(RegisterDesk::settle(0), 15000);
}

void SiteTest::settingsCarriedOver_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("already"); // settings under the new name already
    QTest::newRow("ordan-site") << QStringLiteral(ORDAN_SITE_PATH) << false;
    QTest::newRow("ordan-site, its new settings kept") << QStringLiteral(ORDAN_SITE_PATH) << true;
    QTest::newRow("ordan-configurator") << QStringLiteral(ORDAN_CONFIGURATOR_PATH) << false;
}

void SiteTest::settingsCarriedOver()
{
    // Settings saved while no organisation was named are carried over to
    // ~/.config/ordan/, once.
    QFETCH(QString, program);
    QFETCH(bool, already);
    QTemporaryDir home;
    const QString config = home.filePath("config");
    const QString name = QFileInfo(program).fileName();
    const auto store = [&](const QString &folder) {
        return config + "/" + folder + "/" + name + ".conf";
    };
    const auto write = [](const QString &path, const QString &location) {
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue("register/location", location);
    };
    const auto held = [&] {
        return QSettings(store("ordan"), QSettings::IniFormat).value("register/location");
    };
    write(store("Unknown Organization"), "/srv/old.sqlite");
    if (already)
        write(store("ordan"), "/srv/new.sqlite");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", config);
    const auto run = [&] {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(program, {"--version"});
        return cliprocess::finish(process).exitCode;
    };
    QCOMPARE(run(), 0);
    QCOMPARE(held().toString(), already ? "/srv/new.sqlite" : "/srv/old.sqlite");
    // Once: what is changed under the new name stays.
    write(store("ordan"), "/srv/changed.sqlite");
    QCOMPARE(run(), 0);
    QCOMPARE(held().toString(), QStringLiteral("/srv/changed.sqlite"));
}

void SiteTest::russianRecordAndTable()
{
    // The Russian window's record viewer and its --quit-when-done table
    // are Russian through and through.
    QTemporaryDir dir;
    commissionrecord::Row bus = verifiedRow("02:00:00:00:00:02");
    bus.busIds = "1,2,5";
    bus.bus = "5 does not answer (1, 2 answer)";
    bus.result = "verified on the console, reachable, bus: 5 does not answer (1, 2 answer)";
    commissionrecord::Row answers = verifiedRow("02:00:00:00:00:03");
    answers.bus = "7 answers";
    commissionrecord::Row refused = verifiedRow("02:00:00:00:00:04");
    refused.result = "refused: ip after sending ip; no restart was sent";
    const QString record = dir.filePath("record.csv");
    QString error;
    for (const commissionrecord::Row &row : {verifiedRow(), bus, answers, refused})
        QVERIFY(commissionrecord::append(record, row, &error));

    QVERIFY(installSiteTranslation(QLocale(QLocale::Russian, QLocale::Russia)));
    {
        Site site;
        QVERIFY(!site.window.openPlan(record));
        auto *view = site.window.findChild<RecordView *>("recordView");
        QVERIFY(view);
        const QAbstractItemModel *cells = findNamed<QTableView>(*view, "recordTable")->model();
        QStringList shown;
        for (int column = 0; column < cells->columnCount(); ++column) {
            shown << cells->headerData(column, Qt::Horizontal).toString();
            for (int row = 0; row < cells->rowCount(); ++row)
                shown << cells->index(row, column).data().toString();
        }
        QVERIFY2(englishWords(shown).isEmpty(), qPrintable(englishWords(shown).join("\n")));
        QVERIFY2(shown.contains(QStringLiteral("5 не отвечает (1, 2 отвечают)")),
                 qPrintable(shown.join(" | ")));
        // A plan's parity, as the window says it.
        QVERIFY(site.window.openPlan(
            writeFile(dir, "plan.csv", "port,ip,parity\n/dev/ttyUSB0,10.0.0.1,none\n")));
        QCOMPARE(site.cell(0, PlanModel::ParityColumn).data().toString(), QStringLiteral("нет"));
        QCOMPARE(site.text(0, PlanModel::ParityColumn), QStringLiteral("none"));
    }
    installSiteTranslation(QLocale(QLocale::English, QLocale::UnitedStates));

    // The table a Russian window prints as it quits.
    Simulator good(onTenNet({"--mac", "02:00:00:00:00:21"}));
    Simulator refusing(onTenNet({"--mac", "02:00:00:00:00:22", "--refuse", "CHANGE IP:"}));
    const QString plan = writeFile(dir, "run.csv",
                                   QStringLiteral("port,ip\n%1,10.0.0.1\n%2,10.0.0.2\n")
                                       .arg(good.path, refusing.path)
                                       .toUtf8());
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
        env.insert(QLatin1String(name), QStringLiteral("ru_RU.UTF-8"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(ORDAN_SITE_PATH), {plan, "--start", "--quit-when-done"});
    const cliprocess::Result r = cliprocess::finish(process);
    QVERIFY2(r.exitCode == 5, (QByteArray::number(r.exitCode) + r.out + r.err).constData());
    const QStringList table = QString::fromUtf8(r.out).split(QLatin1Char('\n'));
    QVERIFY2(table.size() >= 4 && table.first().contains(QStringLiteral("строка")),
             r.out.constData());
    QVERIFY2(englishWords(table).isEmpty(), qPrintable(englishWords(table).join("\n")));
}

void SiteTest::waitingPortsFitTheStatusBar()
{
    // Four adapters of one make wait for their modules at 1366x768, in
    // Russian (the longer words): the status bar says it whole.
    QByteArray csv = "port,ip\n";
    for (int i = 0; i < 4; ++i)
        csv += QStringLiteral(
                   "/nonexistent/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285B%1-if00-port0")
                   .arg(i)
                   .leftJustified(70, QLatin1Char('x'))
                   .toUtf8() +
               ",10.0.0." + QByteArray::number(i + 1) + "\n";
    QTemporaryDir dir;
    for (const QLocale &language : {QLocale(QLocale::Russian, QLocale::Russia),
                                    QLocale(QLocale::English, QLocale::UnitedStates)}) {
        installSiteTranslation(language);
        Site site;
        site.window.setRegister(QString(), true);
        QVERIFY(site.window.openPlan(writeFile(dir, "plan.csv", csv)));
        site.window.resize(1366, 768);
        QTest::qWait(50);
        QVERIFY(site.window.startRun());
        QStatusBar *bar = site.window.statusBar();
        QTRY_VERIFY_WITH_TIMEOUT(bar->currentMessage().count(QStringLiteral("A50285B")) == 4,
                                 runTimeoutMs);
        const int width = bar->fontMetrics().horizontalAdvance(bar->currentMessage());
        QVERIFY2(width < bar->width() - 20, qPrintable(QStringLiteral("%1 of %2: %3")
                                                           .arg(width)
                                                           .arg(bar->width())
                                                           .arg(bar->currentMessage())));
        site.window.stopRun();
        QTRY_VERIFY_WITH_TIMEOUT(!site.window.isRunning(), runTimeoutMs);
    }
    installSiteTranslation(QLocale(QLocale::English, QLocale::UnitedStates));
}

void SiteTest::runStatesFollowTheirRows_data()
{
    // Rows 0 to 2 of a plan, rows 0 and 2 verified on the modules :01 and
    // :03; then an edit of the rows, and the MAC column row by row.
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QStringList>("macs");
    QTest::addColumn<bool>("anyLeft");
    const QString one = QStringLiteral("02:00:00:00:00:01");
    const QString three = QStringLiteral("02:00:00:00:00:03");
    QTest::newRow("a row added above") << "insert" << QStringList{"", one, "", three} << true;
    QTest::newRow("a row removed") << "remove" << QStringList{"", three} << true;
    QTest::newRow("a removal undone") << "remove, undo" << QStringList{one, "", three} << true;
    QTest::newRow("a row duplicated") << "duplicate" << QStringList{one, "", "", three} << true;
    QTest::newRow("a cell pasted, then undone")
        << "paste, undo" << QStringList{one, "", three} << true;
    QTest::newRow("a new plan of the same rows") << "new plan" << QStringList{"", "", ""} << false;
    QTest::newRow("a new run") << "clear" << QStringList{"", "", ""} << false;
}

void SiteTest::runStatesFollowTheirRows()
{
    QFETCH(QString, edit);
    QFETCH(QStringList, macs);
    QFETCH(bool, anyLeft);
    PlanModel model;
    PlanRows *plan = model.plan();
    RunStates *states = model.states();
    const QList<QStringList> rows{
        {"/dev/a", "10.0.0.1"}, {"/dev/b", "10.0.0.2"}, {"/dev/c", "10.0.0.3"}};
    plan->setPlanRows(rows);
    for (const int row : {0, 2}) {
        RowProgress verified;
        verified.stage = RowStage::Verified;
        states->setProgress(row, verified);
        states->setMac(row, QStringLiteral("02:00:00:00:00:0%1").arg(row + 1));
    }
    if (edit == "insert") {
        QVERIFY(model.insertRows(0, 1));
    } else if (edit.startsWith("remove")) {
        plan->removeRowList({0});
        QCOMPARE(model.index(1, PlanModel::MacColumn).data().toString(),
                 QStringLiteral("02:00:00:00:00:03"));
    } else if (edit == "duplicate") {
        plan->duplicateRows({0});
    } else if (edit.startsWith("paste")) {
        QCOMPARE(plan->putCells(0, PlanModel::IpColumn, {{"10.0.0.9"}}), 1);
        QCOMPARE(model.stateText(0), QStringLiteral("changed since verified"));
        QCOMPARE(model.index(0, PlanModel::MacColumn).data().toString(), QString());
    } else if (edit == "new plan") {
        plan->setPlanRows(rows);
    } else if (edit == "clear") {
        states->clear();
    }
    if (edit.endsWith("undo")) {
        plan->undoStack()->undo();
        if (edit.startsWith("remove"))
            QVERIFY(plan->rowCount() == 3);
    }
    QStringList shown;
    for (int row = 0; row < model.rowCount(); ++row)
        shown << model.index(row, PlanModel::MacColumn).data().toString();
    QCOMPARE(shown, macs);
    QCOMPARE(states->any(), anyLeft);
    for (int row = 0; row < model.rowCount(); ++row)
        QCOMPARE(states->progress(row).stage,
                 macs.at(row).isEmpty() ? RowStage::Idle : RowStage::Verified);
}

void SiteTest::stateShowsTheEnginesWords_data()
{
    // What a job found (or a row never begun: "not reached", "done
    // already"), and the words its state cell shows.
    QTest::addColumn<QString>("begun");
    QTest::addColumn<WriteResult>("facts");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("russian");
    using E = WriteResult::Ending;
    const auto facts = [](E ending, const std::function<void(WriteResult &)> &more = nullptr) {
        WriteResult r;
        r.ending = ending;
        r.planned = {{ModuleField::Ip, "10.0.0.1"}, {ModuleField::Mask, "255.255.255.0"}};
        r.sent = r.accepted = {ModuleField::Ip, ModuleField::Mask};
        r.resetSent = ending != E::Refused && ending != E::Interrupted;
        r.field = ModuleField::Ip;
        r.detail = "claimed by bench-2";
        if (more)
            more(r);
        return r;
    };
    const QString job;
    QTest::newRow("verified") << job << facts(E::Done) << "verified" << false;
    QTest::newRow("unverified") << job << facts(E::Done, [](WriteResult &r) { r.verify = false; })
                                << "unverified" << false;
    QTest::newRow("matches") << job << facts(E::Done, [](WriteResult &r) { r.audit = true; })
                             << "matches" << false;
    QTest::newRow("a write read back otherwise") << job << facts(E::Differs, [](WriteResult &r) {
        r.differences = {{ModuleField::Ip, "10.0.0.1", "10.0.0.9"},
                         {ModuleField::Mask, "255.255.255.0", ""}};
    }) << "differs: ip, mask" << false;
    QTest::newRow("refused") << job << facts(E::Refused) << "failed: refused" << false;
    QTest::newRow("not recorded") << job << facts(E::Done, [](WriteResult &r) {
        r.kept = {{WriteResult::Keeper::Record, false, "disk full", false}};
    }) << "failed: not recorded" << false;
    QTest::newRow("taken over") << job << facts(E::Abandoned) << "failed: taken over" << false;
    QTest::newRow("interrupted") << job << facts(E::Interrupted) << "interrupted" << false;
    QTest::newRow("not reached") << "not reached" << facts(E::Interrupted) << "not reached"
                                 << false;
    QTest::newRow("done already") << "done already" << facts(E::Interrupted)
                                  << "done already: verified by bench-2 on 02:00:00:00:00:01"
                                  << false;
    // The same words in Russian, as the state column always said them.
    QTest::newRow("verified, in Russian") << job << facts(E::Done) << "проверено" << true;
    QTest::newRow("refused, in Russian") << job << facts(E::Refused) << "ошибка: отказ" << true;
    QTest::newRow("interrupted, in Russian") << job << facts(E::Interrupted) << "прервано" << true;
    QTest::newRow("done already, in Russian")
        << "done already" << facts(E::Interrupted)
        << "уже сделано: verified by bench-2 on 02:00:00:00:00:01" << true;
}

void SiteTest::stateShowsTheEnginesWords()
{
    // The window words no status itself: its state cell shows the
    // outcome's own short line, as the run hands it to the model.
    QFETCH(QString, begun);
    QFETCH(WriteResult, facts);
    QFETCH(QString, shown);
    QFETCH(bool, russian);
    if (russian)
        QVERIFY(installSiteTranslation(QLocale(QLocale::Russian, QLocale::Russia)));
    const auto english = qScopeGuard(
        [] { installSiteTranslation(QLocale(QLocale::English, QLocale::UnitedStates)); });
    const RowOutcome outcome =
        begun == "not reached"
            ? RowOutcome::notReached(facts, {RowOutcome::NotBegun::Why::Interrupted, 0, QString()},
                                     4)
        : begun == "done already"
            ? RowOutcome::alreadyDone(facts, "verified by bench-2 on 02:00:00:00:00:01")
            : RowOutcome::of(facts);
    PlanModel model;
    model.plan()->setPlanRows({{"/dev/a", "10.0.0.1"}});
    model.states()->setProgress(0, finishedProgress(outcome));
    QCOMPARE(model.index(0, PlanModel::StateColumn).data().toString(), shown);
    QVERIFY(isFinal(model.states()->progress(0).stage));
}

void SiteTest::recordShownWhole_data()
{
    QTest::addColumn<bool>("mark"); // a byte-order mark before the header
    QTest::addColumn<int>("rows");
    QTest::newRow("a byte-order mark") << true << 2;
    QTest::newRow("larger than a plan can be") << false << 600;
}

void SiteTest::recordShownWhole()
{
    // A record opened is shown read-only, whole, its header read as the
    // engine reads a record (a byte-order mark is no part of its first
    // column's name), however large it has grown; its rows start a new
    // plan.
    QFETCH(bool, mark);
    QFETCH(int, rows);
    QByteArray bytes = mark ? QByteArray("\xef\xbb\xbf") : QByteArray();
    bytes += commissionrecord::header().toUtf8() + "\r\n";
    for (int i = 0; i < rows; ++i) {
        commissionrecord::Row row;
        row.time = QStringLiteral("2024-05-01T10:00:00.000+02:00");
        row.port = QStringLiteral("/dev/ttyUSB%1").arg(i % 4);
        const QString ip = QStringLiteral("10.0.%1.%2").arg(i / 200).arg(i % 200 + 1);
        row.values = {{ModuleField::Name, QString(2000, QLatin1Char('x'))},
                      {ModuleField::Mac, QStringLiteral("02:00:00:00:%1:%2")
                                             .arg(i / 256, 2, 16, QLatin1Char('0'))
                                             .arg(i % 256, 2, 16, QLatin1Char('0'))},
                      {ModuleField::Ip, ip}};
        row.result = QStringLiteral("verified");
        row.planRow = i + 2;
        row.planned = {{ModuleField::Ip, ip}};
        bytes += commissionrecord::line(row).toUtf8() + "\r\n";
    }
    QVERIFY((bytes.size() > commissionplan::maxPlanBytes) == (rows > 2));
    QTemporaryDir dir;
    const QString path = writeFile(dir, "site-record.csv", bytes);
    Site site;
    QVERIFY(!site.window.openPlan(path));
    auto *view = site.window.findChild<RecordView *>("recordView");
    QVERIFY(view);
    const QAbstractItemModel *shown = findNamed<QTableView>(*view, "recordTable")->model();
    QCOMPARE(shown->rowCount(), rows);
    QCOMPARE(shown->headerData(0, Qt::Horizontal).toString(), recordwords::columnTitle("time"));
    QVERIFY(findNamed<QLabel>(*view, "recordProblem")->isHidden());
    QTest::mouseClick(findNamed<QPushButton>(*view, "newPlanFromRecordButton"), Qt::LeftButton);
    QTRY_COMPARE(site.model()->rowCount(), rows);
    QCOMPARE(site.model()->plan()->cells(rows - 1).mid(0, 2),
             (QStringList{
                 QStringLiteral("/dev/ttyUSB%1").arg((rows - 1) % 4),
                 QStringLiteral("10.0.%1.%2").arg((rows - 1) / 200).arg((rows - 1) % 200 + 1)}));
}

QTEST_MAIN(SiteTest)
#include "tst_site.moc"
