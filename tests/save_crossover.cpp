// Saves the cross-over parameter sets of parametersets.h with this build's
// Qt into DIR/qt<major>-<name>.TRset, through the configurator's own save.
// Run it under each build to renew tests/data/crossover/ (see the README
// there).

#include "parametersets.h"
#include "settings/settingsstore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QSettings>
#include <QVariantMap>

#include <cstdio>
#include <memory>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    for (const CrossoverSet &set : crossoverSets) {
        const QString path = dir.filePath(
            QStringLiteral("qt%1-%2.TRset").arg(QT_VERSION_MAJOR).arg(QLatin1String(set.name)));
        QFile::remove(path);
        setting_module module;
        setFields(module, QString::fromUtf8(set.values).split(QLatin1Char('|')));
        module.SaveNTSetting(path);
        if (module.outcome() != setting_module::Outcome::Done) {
            fprintf(stderr, "cannot save %s\n", qPrintable(path));
            return 1;
        }
        if (set.variants) {
            const std::unique_ptr<QSettings> store(settingsstore::openStore(path));
            store->setValue(QStringLiteral("Other/STAMP"),
                            QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC));
            store->setValue(QStringLiteral("Other/MAP"), QVariantMap{{QStringLiteral("a"), 1}});
            if (!settingsstore::syncStore(*store))
                return 1;
        }
        printf("%s\n", qPrintable(path));
    }
    return 0;
}
