#include "engine/commission/recordimport.h"

#include "engine/commission/commissionplan.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace recordimport
{

namespace
{
struct ImportText {
    Q_DECLARE_TR_FUNCTIONS(recordimport)
};

// A cell as the module or the file gave it: the "'" a spreadsheet guard put
// in front taken away.
QString cellValue(const QString &cell)
{
    if (cell.size() > 1 && cell.front() == QLatin1Char('\'')) {
        const QChar next = cell.at(1);
        if (next == QLatin1Char('=') || next == QLatin1Char('+') || next == QLatin1Char('-') ||
            next == QLatin1Char('@'))
            return cell.mid(1);
    }
    return cell;
}

} // namespace

bool readText(const QString &path, QString *text, QString *error)
{
    text->clear();
    QFile file(path);
    if (!QFileInfo(path).isFile()) {
        *error = ImportText::tr("%1 is not a file").arg(path);
        return false;
    }
    if (file.size() > maxRecordBytes) {
        *error = ImportText::tr("%1 is larger than a record can be").arg(path);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = ImportText::tr("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    *text = QString::fromUtf8(bytes);
    if (text->toUtf8() != bytes) {
        text->clear();
        *error = ImportText::tr("%1 is not UTF-8 text").arg(path);
        return false;
    }
    return true;
}

bool readCells(const QString &path, QList<QStringList> *records, QString *error)
{
    records->clear();
    QString text;
    if (!readText(path, &text, error))
        return false;
    QString problem;
    *records = commissionplan::splitCsv(text, commissionplan::detectSeparator(text), &problem);
    if (!problem.isEmpty()) {
        records->clear();
        *error = QStringLiteral("%1: %2").arg(path, problem);
        return false;
    }
    return true;
}

bool read(const QString &path, QList<siteregister::RowEntry> *rows, QString *error)
{
    rows->clear();
    QList<QStringList> records;
    if (!readCells(path, &records, error))
        return false;
    if (records.isEmpty()) {
        *error = ImportText::tr("%1 is empty").arg(path);
        return false;
    }
    QHash<QString, int> column;
    for (int i = 0; i < records.first().size(); ++i)
        column.insert(records.first().at(i).trimmed(), i);
    QStringList missing;
    for (const char *needed : {"time", "port", "mac", "result"}) {
        if (!column.contains(QLatin1String(needed)))
            missing << QLatin1String(needed);
    }
    if (!missing.isEmpty()) {
        *error = ImportText::tr("%1 is not a commissioning record: its header has no %2")
                     .arg(path, missing.join(QStringLiteral(", ")));
        return false;
    }
    for (int line = 1; line < records.size(); ++line) {
        const QStringList &cells = records.at(line);
        if (cells.size() == 1 && cells.first().isEmpty())
            continue; // an empty line
        const auto cell = [&cells, &column](const QString &name) {
            const int at = column.value(name, -1);
            return at >= 0 && at < cells.size() ? cellValue(cells.at(at)) : QString();
        };
        const auto refuse = [&](const QString &why) {
            *error = ImportText::tr("%1 line %2: %3").arg(path).arg(line + 1).arg(why);
            rows->clear();
            return false;
        };
        siteregister::RowEntry row;
        row.time = cell(QStringLiteral("time"));
        if (!QDateTime::fromString(row.time, Qt::ISODateWithMs).isValid())
            return refuse(ImportText::tr("\"%1\" is not a time").arg(row.time));
        row.port = cell(QStringLiteral("port"));
        row.result = cell(QStringLiteral("result"));
        for (const ModuleField field : allModuleFields) {
            const QString value = cell(parameters::fieldKey(field));
            if (!value.isEmpty())
                row.values.insert(field, value);
        }
        const QString mac = row.values.value(ModuleField::Mac);
        if (!mac.isEmpty() && !parameters::isWellFormedMac(mac))
            return refuse(ImportText::tr("\"%1\" is not a MAC address").arg(mac));
        row.planned = siteregister::valuesFrom(cell(QStringLiteral("planned")));
        // Each value by the protocol's rules: a cell that is no value a
        // module holds (a formula, a typing mistake) is no fact to keep.
        for (const parameters::Values *values : {&row.values, &row.planned}) {
            for (auto it = values->cbegin(); it != values->cend(); ++it) {
                if (parameters::identityFields().contains(it.key()))
                    continue;
                const QString rule = parameters::checkValue(it.key(), it.value());
                if (!rule.isEmpty())
                    return refuse(ImportText::tr("%1 \"%2\" is not %3")
                                      .arg(parameters::fieldKey(it.key()), it.value(), rule));
            }
        }
        const QString planRow = cell(QStringLiteral("row"));
        if (!planRow.isEmpty()) {
            bool ok = false;
            row.planRow = planRow.toInt(&ok);
            if (!ok || row.planRow < 0)
                return refuse(ImportText::tr("\"%1\" is not a row of a plan").arg(planRow));
        }
        rows->append(row);
    }
    return true;
}

} // namespace recordimport
