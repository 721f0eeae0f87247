#include "sitetranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

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

std::unique_ptr<QTranslator> &qtTranslator()
{
    static std::unique_ptr<QTranslator> translator;
    return translator;
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
    auto qt = std::make_unique<QTranslator>();
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), qtTranslations())) {
        QCoreApplication::installTranslator(qt.get());
        qtTranslator() = std::move(qt);
    }
    return true;
}

void removeSiteTranslation()
{
    for (std::unique_ptr<QTranslator> *translator : {&siteTranslator(), &qtTranslator()}) {
        if (*translator) {
            QCoreApplication::removeTranslator(translator->get());
            translator->reset();
        }
    }
}
