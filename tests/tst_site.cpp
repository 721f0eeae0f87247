// The site window as an engineer uses it: a plan opened, typed, pasted and
// saved; runs against simulated modules as processes of their own on
// pseudo-terminals (a module swapped on a port by stopping one simulator and
// starting another under the same path, as tst_commission does); the
// program started from a script with --start --quit-when-done.
#include "cliprocess.h"
#include "dialoghelpers.h"
#include "engine/commission/commissionplan.h"
#include "engine/commission/commissionrecord.h"
#include "engine/console/portlistmodel.h"
#include "engine/register/claimbook.h"
#include "engine/register/registerruns.h"
#include "engine/register/siteregister.h"
#include "settings/setting_module.h"
#include "settings/settingsmapping.h"
#include "site/planmodel.h"
#include "site/registerview.h"
#include "site/rowstage.h"
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
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

#include <csignal>

#include <memory>

using cliprocess::Simulator;

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
             {"SiteWindow",       "PlanModel",     "ModuleJob",    "WriteJob",
              "RestartJob",       "CommissionRun", "PortLock",     "commissionplan",
              "commissionrecord", "parameters",    "RowOutcome",   "PortListModel",
              "PlanEditor",       "RunPanel",      "SiteRun",      "SiteChecks",
              "RecordView",       "RegisterView",  "RegisterDesk", "siteregister"})
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
    // The rules called on rows, as the table calls them, find what the plan
    // file's reader finds in the same rows, each keyed by its cell.
    QFETCH(QList<QStringList>, rows);
    QFETCH(int, problems);
    QList<QStringList> cells;
    commissionplan::Plan onRows;
    commissionplan::RowRules rules;
    for (int r = 0; r < rows.size(); ++r) {
        QStringList line = rows.at(r);
        while (line.size() < PlanModel::planColumnCount)
            line << QString();
        cells << line;
        commissionplan::RowCells row;
        row.port = line.at(0);
        for (int c = 1; c < PlanModel::BusIdsColumn; ++c)
            row.values.append({PlanModel::columnField(c), line.at(c)});
        row.busIds = line.at(PlanModel::BusIdsColumn);
        if (!row.blank())
            onRows.rows << rules.check(PlanModel::fileRow(r), row, &onRows.problems);
    }
    commissionplan::checkNotEmpty(&onRows);
    const commissionplan::Plan fromFile = commissionplan::parse(commissionplan::writeTable(cells));
    const auto text = [](const QList<commissionplan::Problem> &list) {
        QStringList lines;
        for (const commissionplan::Problem &p : list)
            lines << QStringLiteral("%1 %2 %3 %4")
                         .arg(p.row)
                         .arg(p.column, p.message)
                         .arg(p.firstRow);
        return lines;
    };
    QCOMPARE(text(onRows.problems), text(fromFile.problems));
    QCOMPARE(onRows.problems.size(), problems);
    QCOMPARE(onRows.rows.size(), fromFile.rows.size());
    for (int i = 0; i < onRows.rows.size(); ++i) {
        QCOMPARE(onRows.rows.at(i).row, fromFile.rows.at(i).row);
        QCOMPARE(onRows.rows.at(i).port, fromFile.rows.at(i).port);
        QCOMPARE(onRows.rows.at(i).values, fromFile.rows.at(i).values);
        QCOMPARE(onRows.rows.at(i).busIds, fromFile.rows.at(i).busIds);
    }
    using Subject = commissionplan::Problem::Subject;
    for (const commissionplan::Problem &p : onRows.problems) {
        if (p.subject == Subject::Value)
            QCOMPARE(p.column, parameters::fieldKey(p.field));
        else
            QCOMPARE(p.column, p.subject == Subject::Port     ? QStringLiteral("port")
                               : p.subject == Subject::BusIds ? QStringLiteral("bus_ids")
                                                              : QString());
    }

    // The table counts them as ordan-cli does, and marks each on its cell.
    PlanModel model;
    model.setPlanRows(rows);
    QCOMPARE(model.problemLines().size(), problems);
    QCOMPARE(model.problemCount(), problems);
    for (const commissionplan::Problem &p : onRows.problems) {
        if (p.subject == Subject::Row || p.subject == Subject::Plan)
            continue;
        const int column = p.subject == Subject::Port     ? 0
                           : p.subject == Subject::BusIds ? int(PlanModel::BusIdsColumn)
                                                          : PlanModel::columnOf(p.field);
        QVERIFY2(model.index(p.row - 2, column)
                     .data(PlanModel::ProblemRole)
                     .toString()
                     .contains(p.message),
                 qPrintable(p.message));
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
        cells << site.model()->planCells(r);
    QCOMPARE(cells, plan);
    QVERIFY(site.window.isWindowModified());
    // The paste is one step to undo, and to redo.
    QTest::keyClick(site.table(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(site.model()->rowCount(), 1);
    QCOMPARE(site.model()->planCells(0).join(QString()), QString());
    QVERIFY(!site.window.isWindowModified());
    QTest::keyClick(site.table(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(site.model()->planCells(plan.size() - 1), plan.last());

    // Copied back out, the rows paste into another window the same.
    QTest::keyClick(site.table(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(site.table(), Qt::Key_C, Qt::ControlModifier);
    Site other;
    other.table()->setFocus();
    QTest::keyClick(other.table(), Qt::Key_V, Qt::ControlModifier);
    QList<QStringList> copied;
    for (int r = 0; r < other.model()->rowCount(); ++r)
        copied << other.model()->planCells(r);
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
        site.model()->setPlanRows(plan);
        QVERIFY(site.window.savePlan(path));
        QCOMPARE(site.window.recordPath(), dir.filePath("plan-record.csv"));
    }
    Site site;
    QVERIFY(site.window.openPlan(path));
    QVERIFY(site.window.leftOut().isEmpty());
    QList<QStringList> loaded;
    for (int r = 0; r < site.model()->rowCount(); ++r)
        loaded << site.model()->planCells(r);
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
    QTRY_VERIFY_WITH_TIMEOUT(site.model()->progress(2).stage == RowStage::NextModule, runTimeoutMs);
    QVERIFY2(isActive(site.model()->progress(0).stage), qPrintable(site.state(0)));
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
    QCOMPARE(site.window.lastExitCode(), 6);
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
    QTRY_VERIFY_WITH_TIMEOUT(isActive(site.model()->progress(0).stage), runTimeoutMs);
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
    QCOMPARE(site.model()->progress(0).stage, RowStage::Interrupted);
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
        QCOMPARE(site.model()->planCells(0).mid(0, 2), (QStringList{"/dev/ttyUSB0", "10.0.0.1"}));
        QCOMPARE(site.model()->planCells(0).at(PlanModel::TcpPortColumn), QStringLiteral("502"));
        QVERIFY(site.window.isWindowModified());
    } else {
        site.model()->setPlanRows({{"/dev/ttyUSB0", "10.0.0.9"}});
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
    QTRY_VERIFY_WITH_TIMEOUT(site.model()->progress(1).stage == RowStage::NextModule, runTimeoutMs);
    module.reset(); // unplugged: its port goes away
    module = std::make_unique<Simulator>(first);
    // The run looks at it again and again, and writes nothing to it.
    QTRY_VERIFY_WITH_TIMEOUT(module->commands().count("MAC") >= 3, runTimeoutMs);
    QCOMPARE(site.model()->progress(1).stage, RowStage::NextModule);
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
    site.find<QAction>("replaceAction")->trigger();
    QVERIFY(QTest::qWaitFor([&site] { return !site.window.isRunning(); }, runTimeoutMs));
    QCOMPARE(site.state(0), QStringLiteral("verified"));
    QCOMPARE(replacement.commands().filter("CHANGE IP:"), QStringList{"CHANGE IP:10.0.0.2"});
    const cliprocess::Result shown = cliprocess::runCli({"register", "show", "02:00:00:00:00:0A"});
    QVERIFY2(shown.out.contains("replaced by     02:00:00:00:00:0C"), shown.out.constData());
}

QTEST_MAIN(SiteTest)
#include "tst_site.moc"
