// Draws the configurator's icon and writes it as a multi-size Windows icon
// (PNG-compressed entries) plus a 256 px PNG for the desktop shell, or as the
// PNG files of a freedesktop icon theme.
// Usage: make-icon <out.ico> <out.png>
//        make-icon --hicolor <dir>   writes <dir>/<N>x<N>/apps/ordan-configurator.png
//                                    for N = 16, 32, 48, 64, 128, 256
//        make-icon --hicolor-site <dir>   the same for the site window,
//                                    ordan-site.png: three converters in a row
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

static QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);

    // Body of the converter: a rounded steel-blue block.
    QLinearGradient body(0, 0, 0, 256);
    body.setColorAt(0, QColor(0x2f, 0x6f, 0xb5));
    body.setColorAt(1, QColor(0x17, 0x3d, 0x6e));
    p.setPen(QPen(QColor(0x0e, 0x26, 0x45), 6));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(12, 12, 232, 232), 36, 36);

    // Left: the RS-485 terminal block, three screw terminals.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3c, 0xb3, 0x4a));
    p.drawRoundedRect(QRectF(34, 66, 52, 124), 8, 8);
    p.setBrush(QColor(0xe8, 0xe8, 0xe8));
    for (int i = 0; i < 3; ++i)
        p.drawEllipse(QPointF(60, 90 + i * 38), 13, 13);
    p.setPen(QPen(QColor(0x55, 0x55, 0x55), 4));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(52, 90 + i * 38), QPointF(68, 90 + i * 38));

    // Right: the Ethernet jack.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf2, 0xf2, 0xf2));
    p.drawRoundedRect(QRectF(164, 78, 62, 100), 6, 6);
    QPainterPath jack;
    jack.moveTo(174, 92);
    jack.lineTo(216, 92);
    jack.lineTo(216, 150);
    jack.lineTo(204, 150);
    jack.lineTo(204, 164);
    jack.lineTo(186, 164);
    jack.lineTo(186, 150);
    jack.lineTo(174, 150);
    jack.closeSubpath();
    p.setBrush(QColor(0x22, 0x22, 0x22));
    p.drawPath(jack);
    p.setBrush(QColor(0xd4, 0xa0, 0x17));
    for (int i = 0; i < 4; ++i)
        p.drawRect(QRectF(179 + i * 9, 96, 5, 14));

    // Middle: the bridge, a double arrow.
    p.setBrush(QColor(0xff, 0xc8, 0x2e));
    QPainterPath arrow;
    arrow.moveTo(94, 128);
    arrow.lineTo(116, 104);
    arrow.lineTo(116, 118);
    arrow.lineTo(136, 118);
    arrow.lineTo(136, 104);
    arrow.lineTo(158, 128);
    arrow.lineTo(136, 152);
    arrow.lineTo(136, 138);
    arrow.lineTo(116, 138);
    arrow.lineTo(116, 152);
    arrow.closeSubpath();
    p.drawPath(arrow);

    // Caption strip: "485" in the lower band, only where there is room.
    if (size >= 48) {
        p.setPen(Qt::white);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setBold(true);
        font.setPixelSize(27);
        p.setFont(font);
        p.drawText(QRectF(20, 196, 216, 40), Qt::AlignCenter, QStringLiteral("RS-485 ⇄ LAN"));
    }
    return image;
}

// The site window's icon: the converter three times, one behind the other,
// as modules stand in a cabinet.
static QImage drawSiteIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const int module = size * 3 / 4;
    const QImage one = drawIcon(module);
    const int step = (size - module) / 2;
    for (int i = 2; i >= 0; --i)
        p.drawImage(QPoint(step * i, step * (2 - i)), one);
    return image;
}

static QByteArray png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3)
        return 2;
    const bool site = qstrcmp(argv[1], "--hicolor-site") == 0;
    if (site || qstrcmp(argv[1], "--hicolor") == 0) {
        const QDir theme(QString::fromLocal8Bit(argv[2]));
        const QString name = site ? QStringLiteral("/ordan-site.png")
                                  : QStringLiteral("/ordan-configurator.png");
        for (int size : {16, 32, 48, 64, 128, 256}) {
            const QString apps = QStringLiteral("%1x%1/apps").arg(size);
            const QImage icon = site ? drawSiteIcon(size) : drawIcon(size);
            if (!theme.mkpath(apps) || !icon.save(theme.filePath(apps + name), "PNG"))
                return 1;
        }
        return 0;
    }
    const int sizes[] = {16, 24, 32, 48, 64, 128, 256};
    const int count = int(sizeof sizes / sizeof sizes[0]);
    QList<QByteArray> images;
    for (int size : sizes)
        images << png(drawIcon(size));

    QByteArray ico;
    auto put16 = [&ico](quint16 v) {
        const quint16 le = qToLittleEndian(v);
        ico.append(reinterpret_cast<const char *>(&le), 2);
    };
    auto put32 = [&ico](quint32 v) {
        const quint32 le = qToLittleEndian(v);
        ico.append(reinterpret_cast<const char *>(&le), 4);
    };
    put16(0);
    put16(1);
    put16(quint16(count));
    quint32 offset = 6 + 16 * count;
    for (int i = 0; i < count; ++i) {
        ico.append(char(sizes[i] >= 256 ? 0 : sizes[i]));
        ico.append(char(sizes[i] >= 256 ? 0 : sizes[i]));
        ico.append(char(0));
        ico.append(char(0));
        put16(1);
        put16(32);
        put32(quint32(images[i].size()));
        put32(offset);
        offset += quint32(images[i].size());
    }
    for (const QByteArray &image : images)
        ico.append(image);

    QFile out(QString::fromLocal8Bit(argv[1]));
    if (!out.open(QIODevice::WriteOnly) || out.write(ico) != ico.size())
        return 1;
    return drawIcon(256).save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
}
