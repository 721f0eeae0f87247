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
#ifdef __GLIBC__
#include <malloc.h>
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

// The worker that fetches everything, one thing after the other in the order
// the window needs them: one thread (and one memory arena) for all. Its
// future waits for it when the process ends.
std::future<void> &worker()
{
    static std::future<void> running;
    return running;
}
} // namespace

void startLookAhead()
{
    if (worker().valid())
        return;
#ifdef __GLIBC__
    // All the work is done on one thread; the others (this worker, Qt's X
    // event reader and D-Bus connection) allocate little. One malloc arena
    // serves them all, rather than one each whose pages stay resident after
    // a short-lived thread is gone.
    mallopt(M_ARENA_MAX, 1);
#endif
    std::packaged_task<QList<QImage>()> icon(decodeIconFile);
    std::packaged_task<QList<PortDetails>()> ports(PortCatalog::querySystemPorts);
    iconImages() = icon.get_future();
    PortCatalog::takeLookAhead(ports.get_future());
    worker() = std::async(std::launch::async,
                          [icon = std::move(icon), ports = std::move(ports)]() mutable {
                              icon();
                              ports();
#ifdef ORDAN_HAVE_FONTCONFIG
                              // Reading the font configuration (XML files and
                              // font caches) is the first thing Qt's font
                              // database does; done here, it is found done.
                              FcInit();
#endif
                          });
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
