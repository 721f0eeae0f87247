#ifndef REGISTERTEXT_H
#define REGISTERTEXT_H

#include <QCoreApplication>

// The register's messages, one translation context for all its files.
namespace siteregister
{
struct Text {
    Q_DECLARE_TR_FUNCTIONS(siteregister)
};
} // namespace siteregister

#endif // REGISTERTEXT_H
