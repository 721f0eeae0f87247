#include "site/sitetranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>
#include <vector>

// The compiled translations, inside the library.
static void initTranslationResources()
{
    Q_INIT_RESOURCE(ordan_site_i18n);
}

namespace
{

std::unique_ptr<QTranslator> &siteTranslator()
{
    static std::unique_ptr<QTranslator> translator;
    return translator;
}

// Qt's own texts: its dialogs and buttons, and the serial port's reasons.
std::vector<std::unique_ptr<QTranslator>> &qtTranslators()
{
    static std::vector<std::unique_ptr<QTranslator>> translators;
    return translators;
}

QString qtTranslations()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
}

} // namespace

bool installSiteTranslation(const QLocale &locale)
{
    removeSiteTranslation();
    initTranslationResources();
    // Embedded in the program (site/translations/, compiled by lrelease).
    // The English one holds only the plural forms ("1 problem", "2
    // problems") and stands in for a language without a translation.
    auto site = std::make_unique<QTranslator>();
    const bool found = site->load(locale, QStringLiteral("ordan-site"), QStringLiteral("_"),
                                  QStringLiteral(":/i18n"));
    if (!found && !site->load(QStringLiteral(":/i18n/ordan-site_en")))
        return false;
    QCoreApplication::installTranslator(site.get());
    siteTranslator() = std::move(site);
    if (!found)
        return false;
    for (const char *catalogue : {"qtbase", "qtserialport"}) {
        auto qt = std::make_unique<QTranslator>();
        if (qt->load(locale, QLatin1String(catalogue), QStringLiteral("_"), qtTranslations())) {
            QCoreApplication::installTranslator(qt.get());
            qtTranslators().push_back(std::move(qt));
        }
    }
    return true;
}

void removeSiteTranslation()
{
    if (siteTranslator()) {
        QCoreApplication::removeTranslator(siteTranslator().get());
        siteTranslator().reset();
    }
    for (const auto &qt : qtTranslators())
        QCoreApplication::removeTranslator(qt.get());
    qtTranslators().clear();
}
