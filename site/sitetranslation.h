#ifndef SITETRANSLATION_H
#define SITETRANSLATION_H

#include <QLocale>

// The site window speaks the desktop's language where it has a translation
// (Russian) and English otherwise; Qt's own dialogs follow where Qt's
// translations are installed. True when the window's translation was found.
bool installSiteTranslation(const QLocale &locale);
// Back to English.
void removeSiteTranslation();

#endif // SITETRANSLATION_H
