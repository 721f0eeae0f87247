#include "app/lookahead.h"

#include "app/formtexts.h"
#include "link/portcatalog.h"

#include <QImage>
#include <QImageReader>
#include <QList>
#include <QPixmap>

#include <future>

#ifdef ORDAN_HAVE_FONTCONFIG
#include <fontconfig/fontconfig.h>
#endif

namespace
{
std::future<QList<QImage>> &iconImages()
{
    static std::future<QList<QImage>> images;
    return images;
}

QList<QImage> decodeIconFile()
{
    QList<QImage> images;
    QImageReader reader(QString::fromLatin1(windowIconPath));
    do {
        QImage image;
        if (reader.read(&image))
            images << image;
    } while (reader.jumpToNextImage());
    return images;
}

#ifdef ORDAN_HAVE_FONTCONFIG
// Reading the font configuration (some XML files and the font caches) is the
// first thing Qt's font database does; loaded here, it is found loaded.
std::future<void> &fontConfiguration()
{
    static std::future<void> loaded;
    return loaded;
}
#endif
} // namespace

void startLookAhead()
{
    PortCatalog::lookAhead();
    if (!iconImages().valid())
        iconImages() = std::async(std::launch::async, decodeIconFile);
#ifdef ORDAN_HAVE_FONTCONFIG
    if (!fontConfiguration().valid())
        fontConfiguration() = std::async(std::launch::async, [] { FcInit(); });
#endif
}

QIcon windowIconFromResource()
{
    if (!iconImages().valid())
        return QIcon(QLatin1String(windowIconPath));
    // The same images that QIcon reads from the file, decoded ahead.
    const QList<QImage> images = iconImages().get();
    if (images.isEmpty())
        return QIcon(QLatin1String(windowIconPath));
    QIcon icon;
    for (const QImage &image : images)
        icon.addPixmap(QPixmap::fromImage(image));
    return icon;
}
