#include "site/planmodel.h"

#include "engine/console/moduleconsole.h"
#include "engine/console/portcatalog.h"
#include "engine/console/portlistmodel.h"
#include "engine/jobs/recordwords.h"
#include "engine/platform/textsafety.h"
#include "site/celltext.h"
#include "site/planrows.h"
#include "site/runstates.h"
#include "site/sitestyle.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPainter>
#include <QPixmap>

namespace
{

const QColor problemColour = siteStyle::problem();
const QColor activeColour = siteStyle::active();
const QColor nextModuleColour = siteStyle::nextModule();
const QColor goodColour = siteStyle::good();
const QColor badColour = siteStyle::bad();
const QColor differsColour = siteStyle::differs();

// The titles of the plan's columns: the file's keys in English, words in a
// translation. The long ones take two lines, to leave the width to the
// run's columns.
const char *const columnTitles[] = {QT_TRANSLATE_NOOP("PlanModel", "port"),
                                    QT_TRANSLATE_NOOP("PlanModel", "ip"),
                                    QT_TRANSLATE_NOOP("PlanModel", "mask"),
                                    QT_TRANSLATE_NOOP("PlanModel", "gateway"),
                                    QT_TRANSLATE_NOOP("PlanModel", "tcp_\nport"),
                                    QT_TRANSLATE_NOOP("PlanModel", "parity"),
                                    QT_TRANSLATE_NOOP("PlanModel", "speed"),
                                    QT_TRANSLATE_NOOP("PlanModel", "stop_\nbits"),
                                    QT_TRANSLATE_NOOP("PlanModel", "packet_\ntimeout"),
                                    QT_TRANSLATE_NOOP("PlanModel", "bus_\nids")};

// A parity as the window's language says it; the plan keeps the module's
// own word ("none", "odd", "even"), which the editor shows.
QString parityShown(const QString &text)
{
    return recordwords::shownValue(ModuleField::Parity, text);
}

// The mark of a wrong cell or row: an exclamation mark in a red disc,
// readable as a mark without its colour.
QIcon problemIcon()
{
    static const QIcon icon = [] {
        QIcon made;
        for (const int size : {16, 32}) {
            QPixmap pixmap(size, size);
            pixmap.fill(Qt::transparent);
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0xb0, 0x1c, 0x1c));
            painter.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
            QFont font;
            font.setBold(true);
            font.setPixelSize(size * 3 / 4);
            painter.setFont(font);
            painter.setPen(Qt::white);
            painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("!"));
            painter.end();
            made.addPixmap(pixmap);
        }
        return made;
    }();
    return icon;
}

QColor stageColour(RowStage stage)
{
    switch (stage) {
    case RowStage::NextModule:
        return nextModuleColour;
    case RowStage::Verified:
    case RowStage::Matches:
    case RowStage::DoneElsewhere:
        return goodColour;
    case RowStage::Differs:
    case RowStage::Failed:
    case RowStage::Interrupted:
    case RowStage::NotReached:
        return badColour;
    default:
        return isActive(stage) ? activeColour : QColor();
    }
}

} // namespace

PlanModel::PlanModel(QObject *parent)
    : QAbstractTableModel(parent), rows(new PlanRows(this)), found(new RunStates(rows, this))
{
    const QModelIndex top;
    connect(rows, &PlanRows::rowsAboutToBeInserted, this,
            [this, top](int first, int last) { beginInsertRows(top, first, last); });
    connect(rows, &PlanRows::rowsInserted, this, [this] { endInsertRows(); });
    connect(rows, &PlanRows::rowsAboutToBeRemoved, this,
            [this, top](int first, int last) { beginRemoveRows(top, first, last); });
    connect(rows, &PlanRows::rowsRemoved, this, [this] { endRemoveRows(); });
    connect(rows, &PlanRows::aboutToBeReset, this, [this] { beginResetModel(); });
    connect(rows, &PlanRows::wasReset, this, [this] { endResetModel(); });
    // A row's state shows whether its cells are still those its run proved:
    // the whole row is shown again.
    connect(rows, &PlanRows::rowsChanged, this, [this](int first, int last) {
        emit dataChanged(index(first, 0), index(last, ColumnCount - 1));
    });
    connect(found, &RunStates::rowChanged, this,
            [this](int row) { emit dataChanged(index(row, 0), index(row, ColumnCount - 1)); });
    // Checked again: the marks of the cells and rows (before anyone else
    // hears of the check).
    connect(rows, &PlanRows::problemsChanged, this, [this] {
        if (rows->rowCount() == 0)
            return;
        emit dataChanged(index(0, 0), index(rows->rowCount() - 1, planColumnCount - 1));
        emit headerDataChanged(Qt::Vertical, 0, rows->rowCount() - 1);
    });
}

PlanModel::~PlanModel() = default;

int PlanModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows->rowCount();
}

int PlanModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

Qt::ItemFlags PlanModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (index.column() < planColumnCount && !rows->isLocked())
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool PlanModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid())
        return false;
    return rows->setCell(index.row(), index.column(), value.toString());
}

bool PlanModel::insertRows(int row, int count, const QModelIndex &parent)
{
    return !parent.isValid() && rows->insertRows(row, count);
}

bool PlanModel::removeRows(int row, int count, const QModelIndex &parent)
{
    return !parent.isValid() && rows->removeRows(row, count);
}

QVariant PlanModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows->rowCount())
        return QVariant();
    const RowStage stage = found->progress(index.row()).stage;
    if (role == StageRole)
        return int(stage);
    if (role == Qt::FontRole && stage == RowStage::NextModule && index.column() == StateColumn) {
        QFont font;
        font.setBold(true);
        return font;
    }
    return index.column() < planColumnCount ? planCell(index, role) : runCell(index, role);
}

QVariant PlanModel::planCell(const QModelIndex &index, int role) const
{
    const int column = index.column();
    const bool nextModule = found->progress(index.row()).stage == RowStage::NextModule;
    const QString text = rows->cell(index.row(), column);
    const QString fromBase = text.trimmed().isEmpty() ? rows->baseValue(column) : QString();
    const QStringList problems = rows->checked().cellProblems(index.row(), column);
    const QHash<int, QString> &differences = found->found(index.row()).differences;
    const auto differs = differences.constFind(column);
    const bool different = differs != differences.constEnd();
    switch (role) {
    case Qt::DisplayRole: {
        const QString shown = fromBase.isEmpty() ? text : fromBase;
        return column == ParityColumn ? parityShown(shown) : shown;
    }
    case Qt::EditRole:
        return text;
    case Qt::DecorationRole:
        return problems.isEmpty() ? QVariant() : QVariant(problemIcon());
    case Qt::BackgroundRole:
        if (!problems.isEmpty())
            return QBrush(problemColour);
        if (different)
            return QBrush(differsColour);
        return nextModule ? QVariant(QBrush(nextModuleColour)) : QVariant();
    case Qt::ForegroundRole:
        if (!fromBase.isEmpty() && !different)
            return QBrush(Qt::darkGray);
        return problems.isEmpty() && !nextModule && !different ? QVariant()
                                                               : QVariant(QBrush(Qt::black));
    case Qt::FontRole:
        if (!fromBase.isEmpty()) {
            QFont font;
            font.setItalic(true);
            return font;
        }
        return QVariant();
    case Qt::ToolTipRole:
        if (!problems.isEmpty())
            return problems.join(QLatin1Char('\n'));
        if (different)
            return differs->isEmpty()
                       ? tr("the module gave no valid value")
                       : tr("the module has %1").arg(textsafety::escapeControls(*differs));
        if (!fromBase.isEmpty())
            return tr("Empty: the base value %1 is written")
                .arg(column == ParityColumn ? parityShown(fromBase) : fromBase);
        if (column == PortColumn)
            return portToolTip(text.trimmed());
        return QVariant();
    case ProblemRole:
    case Qt::AccessibleDescriptionRole:
        return problems.join(QLatin1Char('\n'));
    default:
        return QVariant();
    }
}

QVariant PlanModel::runCell(const QModelIndex &index, int role) const
{
    const int column = index.column();
    const RowStage stage = found->progress(index.row()).stage;
    const RunStates::Found &row = found->found(index.row());
    QString text;
    if (column == StateColumn)
        text = stateText(index.row());
    else if (stage == RowStage::ChangedSinceVerified)
        text.clear(); // what the run found no longer stands for the row
    else if (column == MacColumn)
        text = row.mac;
    else if (column == NetworkColumn)
        text = row.network;
    else if (column == BusColumn)
        text = row.bus;
    else if (column == ResultColumn)
        text = row.result;
    QColor colour = stageColour(stage);
    if (column == NetworkColumn && !text.isEmpty())
        colour = row.networkGood ? goodColour : badColour;
    else if (column == NetworkColumn || column == BusColumn)
        colour = QColor();
    if (column == BusColumn && !text.isEmpty())
        colour = row.busGood ? goodColour : badColour;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return text;
    case Qt::BackgroundRole:
        return colour.isValid() ? QVariant(QBrush(colour)) : QVariant();
    case Qt::ForegroundRole:
        return colour.isValid() ? QVariant(QBrush(Qt::black)) : QVariant();
    default:
        return QVariant();
    }
}

QVariant PlanModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical) {
        if (section < 0 || section >= rows->rowCount())
            return QVariant();
        const QStringList problems = rows->checked().rowProblems(section);
        switch (role) {
        case Qt::DisplayRole:
            return fileRow(section);
        case Qt::DecorationRole:
            return problems.isEmpty() ? QVariant() : QVariant(problemIcon());
        case Qt::ToolTipRole:
            return problems.isEmpty()
                       ? tr("Row %1 of the plan file (the header is row 1)").arg(fileRow(section))
                       : problems.join(QLatin1Char('\n'));
        case ProblemRole:
            return problems.join(QLatin1Char('\n'));
        default:
            return QVariant();
        }
    }
    if (role == Qt::DisplayRole) {
        switch (section) {
        case StateColumn:
            return tr("state");
        case MacColumn:
            return tr("MAC");
        case NetworkColumn:
            return tr("network");
        case BusColumn:
            return tr("bus");
        case ResultColumn:
            return tr("result");
        default:
            return section >= 0 && section < planColumnCount ? tr(columnTitles[section])
                                                             : QVariant();
        }
    }
    if (role == Qt::ToolTipRole) {
        switch (section) {
        case PortColumn:
            return tr("The module's serial port: its /dev/serial/by-id/ alias is best, it "
                      "survives the module's restart");
        case IpColumn:
            return tr("IP address");
        case MaskColumn:
            return tr("Subnet mask");
        case GatewayColumn:
            return tr("Gateway");
        case TcpPortColumn:
            return tr("TCP port: %1").arg(parameters::tcpPortRule());
        case ParityColumn:
            return tr("RS-485 parity: none, odd or even");
        case SpeedColumn:
            return tr("RS-485 speed, baud");
        case StopBitsColumn:
            return tr("RS-485 stop bits: 1 or 2");
        case PacketTimeoutColumn:
            return tr("Time-out for gathering a data packet: 1-10000 ms");
        case BusIdsColumn:
            return tr("Modbus unit addresses of the devices that must answer on the module's "
                      "bus, as 1,2,5 or 1-4: checked after the read-back when asked, and by "
                      "Check bus");
        case StateColumn:
            return tr("Where the row stands in the run");
        case MacColumn:
            return tr("MAC address of the module the row went to");
        case NetworkColumn:
            return tr("Whether the module answers at its address and TCP port");
        case BusColumn:
            return tr("Whether the devices of bus_ids answer through the module");
        case ResultColumn:
            return tr("How the row ended, and why");
        default:
            return QVariant();
        }
    }
    return QVariant();
}

QString PlanModel::stateText(int row) const
{
    const RowProgress p = found->progress(row);
    switch (p.stage) {
    case RowStage::Idle:
        return QString();
    case RowStage::Waiting:
        return tr("waiting");
    case RowStage::NextModule:
        return nextModulePrompt(row);
    case RowStage::Identifying:
        return tr("identifying");
    case RowStage::Writing:
        return tr("writing %1 of %2 (%3)").arg(p.step).arg(p.steps).arg(p.item);
    case RowStage::Restarting:
        return tr("restarting");
    case RowStage::ReadingBack:
        return p.steps > 0 ? tr("reading back %1 of %2").arg(p.step).arg(p.steps)
                           : tr("reading back");
    case RowStage::Reaching:
        return tr("checking the network");
    case RowStage::CheckingBus:
        return tr("checking the bus");
    case RowStage::HeldElsewhere:
        return tr("another station's: %1").arg(p.item);
    case RowStage::ChangedSinceVerified:
        return tr("changed since verified");
    case RowStage::Verified:
    case RowStage::Matches:
    case RowStage::Differs:
    case RowStage::Failed:
    case RowStage::Interrupted:
    case RowStage::NotReached:
    case RowStage::DoneElsewhere:
        return p.ended; // the engine's words
    }
    return QString();
}

QString PlanModel::nextModulePrompt(int row, bool twoLines) const
{
    const RowProgress p = found->progress(row);
    if (!p.note.isEmpty())
        return p.note;
    const QString label =
        twoLines ? QString(QChar(QChar::LineSeparator)) + portLabel(row) : portLabel(row);
    return p.firstModule ? tr("Connect the module to %1").arg(label)
                         : tr("Connect the next module to %1").arg(label);
}

std::pair<int, int> PlanModel::portLabelSpan(int row) const
{
    const QString own = rows->port(row);
    QStringList others;
    for (int r = 0; r < rows->rowCount(); ++r)
        others << rows->port(r);
    const std::pair<int, int> span = celltext::distinguishingSpan(own, others);
    if (span.second > span.first)
        return span;
    // One port in the plan: its file name.
    return {int(own.lastIndexOf(QLatin1Char('/'))) + 1, int(own.size())};
}

QString PlanModel::portLabel(int row) const
{
    const std::pair<int, int> span = portLabelSpan(row);
    const QString port = rows->port(row);
    const QString label = port.mid(span.first, span.second - span.first);
    return textsafety::escapeControls(label.isEmpty() ? port : label);
}

QString PlanModel::portToolTip(const QString &port) const
{
    if (port.isEmpty())
        return QString();
    if (portList) {
        const QModelIndex known = portList->indexForPort(port);
        if (known.isValid())
            return known.data(Qt::ToolTipRole).toString();
    }
    const QString device = PortCatalog::devicePath(port);
    const QString whole = textsafety::escapeControls(port);
    if (!ModuleConsole::exists(port))
        return tr("%1\nnot connected now").arg(whole);
    return device == port ? whole
                          : tr("%1\nleads to %2").arg(whole, textsafety::escapeControls(device));
}
