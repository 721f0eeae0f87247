#include "site/planmodel.h"

#include "engine/console/moduleconsole.h"
#include "engine/console/portcatalog.h"
#include "engine/platform/textsafety.h"
#include "site/sitestyle.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

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
                                    QT_TRANSLATE_NOOP("PlanModel", "packet_\ntimeout")};

// The separators at which a port's name splits into words.
bool isPortSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('_') || c == QLatin1Char('-') ||
           c == QLatin1Char('.') || c == QLatin1Char(':');
}

quint64 cellKey(int row, int column)
{
    return (quint64(quint32(row)) << 32) | quint32(column);
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

PlanModel::PlanModel(QObject *parent) : QAbstractTableModel(parent)
{
    check();
}

QString PlanModel::columnKey(int column)
{
    if (column == PortColumn)
        return QStringLiteral("port");
    if (column > PortColumn && column < planColumnCount)
        return parameters::fieldKey(columnField(column));
    return QString();
}

ModuleField PlanModel::columnField(int column)
{
    // The plan file's columns: the port, then the parameters in the order
    // they are written.
    static const QList<ModuleField> order = parameters::writeOrder();
    return order.at(qBound(0, column - 1, int(order.size()) - 1));
}

int PlanModel::columnOf(ModuleField field)
{
    for (int column = IpColumn; column < planColumnCount; ++column) {
        if (columnField(column) == field)
            return column;
    }
    return -1;
}

PlanModel::Row PlanModel::emptyRow()
{
    Row row;
    for (int c = 0; c < planColumnCount; ++c)
        row.cells << QString();
    return row;
}

int PlanModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

int PlanModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString PlanModel::cell(int row, int column) const
{
    return rows.at(row).cells.at(column);
}

QString PlanModel::baseValue(int column) const
{
    if (column <= PortColumn || column >= planColumnCount)
        return QString();
    return base.value(columnField(column));
}

QVariant PlanModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows.size())
        return QVariant();
    const Row &row = rows.at(index.row());
    const int column = index.column();
    const bool nextModule = row.progress.stage == RowStage::NextModule;

    if (role == StageRole)
        return int(row.progress.stage);
    if (role == Qt::FontRole && nextModule && column == StateColumn) {
        QFont font;
        font.setBold(true);
        return font;
    }

    if (column < planColumnCount) {
        const QString text = row.cells.at(column);
        const QString fromBase = text.trimmed().isEmpty() ? baseValue(column) : QString();
        const QStringList problems = cellProblems.value(cellKey(index.row(), column));
        const auto differs = row.differences.constFind(column);
        const bool different = differs != row.differences.constEnd();
        switch (role) {
        case Qt::DisplayRole:
            return fromBase.isEmpty() ? text : fromBase;
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
                return tr("Empty: the base value %1 is written").arg(fromBase);
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

    QString text;
    if (column == StateColumn)
        text = stateText(index.row());
    else if (column == MacColumn)
        text = row.mac;
    else if (column == NetworkColumn)
        text = row.network;
    else if (column == ResultColumn)
        text = row.result;
    QColor colour = stageColour(row.progress.stage);
    if (column == NetworkColumn)
        colour = row.network.isEmpty() ? QColor() : row.networkGood ? goodColour : badColour;
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
        if (section < 0 || section >= rows.size())
            return QVariant();
        const QStringList problems = rowProblems.value(section);
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
        case StateColumn:
            return tr("Where the row stands in the run");
        case MacColumn:
            return tr("MAC address of the module the row went to");
        case NetworkColumn:
            return tr("Whether the module answers at its address and TCP port");
        case ResultColumn:
            return tr("How the row ended, and why");
        default:
            return QVariant();
        }
    }
    return QVariant();
}

Qt::ItemFlags PlanModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (index.column() < planColumnCount && !locked)
        flags |= Qt::ItemIsEditable;
    return flags;
}

bool PlanModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || locked || !index.isValid() || index.column() >= planColumnCount)
        return false;
    QString &cell = rows[index.row()].cells[index.column()];
    const QString text = value.toString();
    if (cell == text)
        return true;
    cell = text;
    emit dataChanged(index, index);
    check();
    emit planEdited();
    return true;
}

bool PlanModel::insertRows(int row, int count, const QModelIndex &parent)
{
    if (locked || parent.isValid() || row < 0 || row > rows.size() || count <= 0)
        return false;
    beginInsertRows(QModelIndex(), row, row + count - 1);
    for (int i = 0; i < count; ++i)
        rows.insert(row, emptyRow());
    endInsertRows();
    check();
    emit planEdited();
    return true;
}

bool PlanModel::removeRows(int row, int count, const QModelIndex &parent)
{
    if (locked || parent.isValid() || row < 0 || count <= 0 || row + count > rows.size())
        return false;
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    rows.erase(rows.begin() + row, rows.begin() + row + count);
    endRemoveRows();
    check();
    emit planEdited();
    return true;
}

void PlanModel::setLocked(bool on)
{
    if (locked == on)
        return;
    locked = on;
    if (!rows.isEmpty())
        emit dataChanged(index(0, 0), index(rows.size() - 1, planColumnCount - 1));
}

QStringList PlanModel::planCells(int row) const
{
    return rows.at(row).cells;
}

void PlanModel::setPlanRows(const QList<QStringList> &planRows)
{
    beginResetModel();
    rows.clear();
    for (const QStringList &cells : planRows) {
        Row row = emptyRow();
        for (int c = 0; c < planColumnCount && c < cells.size(); ++c)
            row.cells[c] = cells.at(c);
        rows << row;
    }
    endResetModel();
    check();
}

int PlanModel::putCells(int row, int column, const QList<QStringList> &cells)
{
    if (locked || row < 0 || column < 0 || column >= planColumnCount || cells.isEmpty())
        return 0;
    const int needed = row + cells.size();
    if (needed > rows.size()) {
        beginInsertRows(QModelIndex(), rows.size(), needed - 1);
        while (rows.size() < needed)
            rows << emptyRow();
        endInsertRows();
    }
    int set = 0;
    int lastColumn = column;
    for (int r = 0; r < cells.size(); ++r) {
        const QStringList &line = cells.at(r);
        for (int c = 0; c < line.size() && column + c < planColumnCount; ++c) {
            rows[row + r].cells[column + c] = line.at(c);
            lastColumn = qMax(lastColumn, column + c);
            ++set;
        }
    }
    emit dataChanged(index(row, column), index(needed - 1, lastColumn));
    check();
    emit planEdited();
    return set;
}

void PlanModel::duplicateRows(const QList<int> &which)
{
    QList<int> sorted = which;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    if (locked || sorted.isEmpty() || sorted.first() < 0 || sorted.last() >= rows.size())
        return;
    const int at = sorted.last() + 1;
    beginInsertRows(QModelIndex(), at, at + sorted.size() - 1);
    for (int i = 0; i < sorted.size(); ++i) {
        Row copy = emptyRow();
        copy.cells = rows.at(sorted.at(i)).cells;
        rows.insert(at + i, copy);
    }
    endInsertRows();
    check();
    emit planEdited();
}

QByteArray PlanModel::toCsv() const
{
    QList<QStringList> cells;
    for (const Row &row : rows)
        cells << row.cells;
    return commissionplan::writeTable(cells);
}

void PlanModel::setBaseValues(const parameters::Values &values)
{
    base = values;
    check();
}

void PlanModel::check()
{
    plan = commissionplan::parse(toCsv(), base);
    cellProblems.clear();
    rowProblems.clear();
    general.clear();
    for (const commissionplan::Problem &p : qAsConst(plan.problems)) {
        const int row = p.row - 2;
        if (row < 0 || row >= rows.size()) {
            general << (p.column.isEmpty()
                            ? p.message
                            : tr("%1 of the base values: %2").arg(p.column, p.message));
            continue;
        }
        int column = -1;
        for (int c = 0; c < planColumnCount; ++c) {
            if (columnKey(c) == p.column)
                column = c;
        }
        if (column >= 0)
            cellProblems[cellKey(row, column)] << p.message;
        else
            rowProblems[row] << p.message;
    }
    // An address planned twice is reported on its later rows; the first
    // row that has it is marked too.
    QMap<int, QStringList> laterRows; // first row -> the rows that plan its address again
    for (const commissionplan::Problem &p : qAsConst(plan.problems)) {
        if (p.firstRow > 0)
            laterRows[p.firstRow] << QString::number(p.row);
    }
    for (auto it = laterRows.cbegin(); it != laterRows.cend(); ++it) {
        const int row = it.key() - 2;
        if (row >= 0 && row < rows.size())
            cellProblems[cellKey(row, IpColumn)]
                << tr("%1 is planned again in row %2")
                       .arg(cell(row, IpColumn).trimmed(), it.value().join(QLatin1String(", ")));
    }
    if (!rows.isEmpty()) {
        emit dataChanged(index(0, 0), index(rows.size() - 1, planColumnCount - 1));
        emit headerDataChanged(Qt::Vertical, 0, rows.size() - 1);
    }
    emit problemsChanged();
}

int PlanModel::markCount() const
{
    return cellProblems.size() + rowProblems.size() + general.size();
}

QStringList PlanModel::problemLines() const
{
    QStringList lines;
    for (const commissionplan::Problem &p : plan.problems) {
        if (p.row <= 0)
            lines << (p.column.isEmpty()
                          ? p.message
                          : tr("%1 of the base values: %2").arg(p.column, p.message));
        else if (p.column.isEmpty())
            lines << tr("row %1: %2").arg(p.row).arg(p.message);
        else
            lines << tr("row %1, column %2: %3").arg(p.row).arg(p.column, p.message);
    }
    return lines;
}

void PlanModel::clearRun()
{
    for (Row &row : rows) {
        row.progress = RowProgress();
        row.mac.clear();
        row.result.clear();
        row.differences.clear();
        row.network.clear();
    }
    if (!rows.isEmpty())
        emit dataChanged(index(0, 0), index(rows.size() - 1, ColumnCount - 1));
}

RowProgress PlanModel::progress(int row) const
{
    return row >= 0 && row < rows.size() ? rows.at(row).progress : RowProgress();
}

void PlanModel::emitRowStateChanged(int row)
{
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void PlanModel::setProgress(int row, const RowProgress &progress)
{
    if (row < 0 || row >= rows.size())
        return;
    rows[row].progress = progress;
    emitRowStateChanged(row);
}

void PlanModel::setMac(int row, const QString &mac)
{
    if (row < 0 || row >= rows.size())
        return;
    rows[row].mac = textsafety::escapeControls(mac);
    emitRowStateChanged(row);
}

void PlanModel::setDifferences(int row, const QHash<int, QString> &read)
{
    if (row < 0 || row >= rows.size())
        return;
    rows[row].differences = read;
    emitRowStateChanged(row);
}

void PlanModel::setNetwork(int row, const QString &text, bool good)
{
    if (row < 0 || row >= rows.size())
        return;
    rows[row].network = text;
    rows[row].networkGood = good;
    emitRowStateChanged(row);
}

void PlanModel::setResult(int row, const QString &result)
{
    if (row < 0 || row >= rows.size())
        return;
    rows[row].result = textsafety::escapeControls(result);
    emitRowStateChanged(row);
}

QString PlanModel::stateText(int row) const
{
    const RowProgress &p = rows.at(row).progress;
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
    case RowStage::Verified:
        return tr("verified");
    case RowStage::Matches:
        return tr("matches");
    case RowStage::Differs:
        return p.item.isEmpty() ? tr("differs") : tr("differs: %1").arg(p.item);
    case RowStage::Failed:
        return p.item.isEmpty() ? tr("failed") : tr("failed: %1").arg(p.item);
    case RowStage::Interrupted:
        return tr("interrupted");
    case RowStage::NotReached:
        return tr("not reached");
    }
    return QString();
}

QString PlanModel::nextModulePrompt(int row, bool twoLines) const
{
    const RowProgress &p = rows.at(row).progress;
    if (!p.note.isEmpty())
        return p.note;
    const QString label =
        twoLines ? QString(QChar(QChar::LineSeparator)) + portLabel(row) : portLabel(row);
    return p.firstModule ? tr("Connect the module to %1").arg(label)
                         : tr("Connect the next module to %1").arg(label);
}

bool PlanModel::portLabelSpan(int row, int *begin, int *end) const
{
    const QString own = port(row);
    QStringList others;
    for (int r = 0; r < rows.size(); ++r) {
        const QString other = port(r);
        if (!other.isEmpty() && other != own && !others.contains(other))
            others << other;
    }
    if (others.isEmpty() || own.isEmpty())
        return false;
    // Past the start and the end it shares with every other port, widened
    // to whole words.
    int prefix = own.size();
    int suffix = own.size();
    for (const QString &other : qAsConst(others)) {
        int same = 0;
        while (same < own.size() && same < other.size() && own.at(same) == other.at(same))
            ++same;
        prefix = qMin(prefix, same);
        int tail = 0;
        while (tail < own.size() && tail < other.size() &&
               own.at(own.size() - 1 - tail) == other.at(other.size() - 1 - tail))
            ++tail;
        suffix = qMin(suffix, tail);
    }
    *begin = prefix;
    *end = own.size() - suffix;
    if (*end <= *begin) // one port's name holds another's whole
        return false;
    while (*begin > 0 && !isPortSeparator(own.at(*begin - 1)))
        --*begin;
    while (*end < own.size() && !isPortSeparator(own.at(*end)))
        ++*end;
    return true;
}

QString PlanModel::portLabel(int row) const
{
    const QString own = port(row);
    int begin = 0, end = 0;
    if (!portLabelSpan(row, &begin, &end)) {
        const QString file = own.section(QLatin1Char('/'), -1);
        return textsafety::escapeControls(file.isEmpty() ? own : file);
    }
    return textsafety::escapeControls(own.mid(begin, end - begin));
}

int PlanModel::portLabelStart(int row) const
{
    const QString own = port(row);
    int begin = 0, end = 0;
    if (portLabelSpan(row, &begin, &end))
        return begin;
    const int slash = own.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? 0 : slash + 1;
}

QString PlanModel::portToolTip(const QString &port) const
{
    if (port.isEmpty())
        return QString();
    for (const PortDetails &known : portList ? portList->ports() : QList<PortDetails>()) {
        if (port == known.systemLocation || port == known.alias || port == known.pathAlias ||
            port == known.name)
            return portList->toolTip(known);
    }
    const QString device = PortCatalog::devicePath(port);
    const QString whole = textsafety::escapeControls(port);
    if (!ModuleConsole::exists(port))
        return tr("%1\nnot connected now").arg(whole);
    return device == port ? whole
                          : tr("%1\nleads to %2").arg(whole, textsafety::escapeControls(device));
}
