// Draws the skin's pictures: title-bar buttons, message-box icons and the small style-sheet images.
// Run at build time: artgen <output dir>; writes Skin/buttons/*.png, skin/images/*.png, res/*.png and
// the application icon at the desktop's usual sizes, icons/hicolor/<n>x<n>/apps/<TALLOW_APP_ID>.png.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <functional>

namespace
{

// The skin's palette: dark slate glyphs, one blue accent, red for close and errors.
const QColor glyph(0x3a, 0x41, 0x4d);
const QColor accent(0x2b, 0x6c, 0xd4);
const QColor danger(0xd2, 0x3f, 0x31);
const QColor ok(0x2f, 0x9e, 0x5b);

bool save(const QString &path, int w, int h, const std::function<void(QPainter &)> &draw)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    p.end();
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    if (!img.save(path, "PNG")) {
        fprintf(stderr, "artgen: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QPen pen(const QColor &c, qreal w)
{
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void roundBadge(QPainter &p, int size, const QColor &c)
{
    QLinearGradient g(0, 0, 0, size);
    g.setColorAt(0, c.lighter(125));
    g.setColorAt(1, c);
    p.setPen(pen(c.darker(130), 1.5));
    p.setBrush(g);
    p.drawEllipse(QRectF(2, 2, size - 4, size - 4));
}

// The application icon, drawn on a 64-unit canvas scaled to the size asked for: a camera on the skin's
// accent blue, and a green arrow for the firmware it receives.
void appIcon(QPainter &p, int size)
{
    p.scale(size / 64.0, size / 64.0);
    QLinearGradient g(0, 0, 0, 64);
    g.setColorAt(0, accent.lighter(130));
    g.setColorAt(1, accent.darker(115));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    // Camera body and lens.
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(9, 20, 38, 26), 5, 5);
    p.drawPolygon(QPolygonF({QPointF(47, 28), QPointF(57, 22), QPointF(57, 44), QPointF(47, 38)}));
    p.setBrush(accent.darker(130));
    p.drawEllipse(QPointF(24, 33), 8, 8);
    p.setBrush(accent.lighter(160));
    p.drawEllipse(QPointF(22, 31), 2.5, 2.5);
    // The arrow, on a badge in the lower right corner.
    p.setBrush(ok);
    p.setPen(pen(Qt::white, 2.5));
    p.drawEllipse(QPointF(47, 47), 12, 12);
    p.setPen(pen(Qt::white, 3.5));
    p.drawLine(QPointF(47, 40), QPointF(47, 53));
    p.drawPolyline(QPolygonF({QPointF(41.5, 47.5), QPointF(47, 53), QPointF(52.5, 47.5)}));
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: artgen <output dir>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    bool good = true;

    // Title-bar buttons, 20 x 20.
    const QString buttons = out + QStringLiteral("/Skin/buttons/");
    good &= save(buttons + QStringLiteral("sys_min.png"), 20, 20, [](QPainter &p) {
        p.setPen(pen(glyph, 2));
        p.drawLine(QPointF(5, 14), QPointF(15, 14));
    });
    good &= save(buttons + QStringLiteral("sys_max.png"), 20, 20, [](QPainter &p) {
        p.setPen(pen(glyph, 1.8));
        p.drawRect(QRectF(4.5, 4.5, 11, 11));
        p.drawLine(QPointF(4.5, 6.5), QPointF(15.5, 6.5));
    });
    good &= save(buttons + QStringLiteral("sys_normal.png"), 20, 20, [](QPainter &p) {
        p.setPen(pen(glyph, 1.6));
        p.drawPolyline(QPolygonF({QPointF(7.5, 6.5), QPointF(7.5, 3.5), QPointF(16.5, 3.5),
                                  QPointF(16.5, 12.5), QPointF(13.5, 12.5)}));
        p.drawRect(QRectF(3.5, 7.5, 9, 9));
    });
    good &= save(buttons + QStringLiteral("sys_cls.png"), 20, 20, [](QPainter &p) {
        p.setPen(Qt::NoPen);
        p.setBrush(danger);
        p.drawRoundedRect(QRectF(1, 1, 18, 18), 4, 4);
        p.setPen(pen(Qt::white, 2));
        p.drawLine(QPointF(6, 6), QPointF(14, 14));
        p.drawLine(QPointF(14, 6), QPointF(6, 14));
    });

    // Message-box icons, 40 x 40.
    const QString res = out + QStringLiteral("/res/");
    good &= save(res + QStringLiteral("infomation.png"), 40, 40, [](QPainter &p) {
        roundBadge(p, 40, accent);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(20, 11.5), 2.6, 2.6);
        p.drawRoundedRect(QRectF(17.7, 16.5, 4.6, 15), 2, 2);
    });
    good &= save(res + QStringLiteral("error.png"), 40, 40, [](QPainter &p) {
        roundBadge(p, 40, danger);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(17.7, 8.5, 4.6, 16), 2, 2);
        p.drawEllipse(QPointF(20, 29.5), 2.6, 2.6);
    });
    good &= save(res + QStringLiteral("question.png"), 40, 40, [](QPainter &p) {
        roundBadge(p, 40, ok);
        p.setPen(pen(Qt::white, 4));
        p.setBrush(Qt::NoBrush);
        QPainterPath hook;
        hook.moveTo(13.5, 15);
        hook.arcTo(QRectF(13.5, 8, 13, 13), 180, -250);
        hook.quadTo(QPointF(20, 21.5), QPointF(20, 25));
        p.drawPath(hook);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(20, 31), 2.6, 2.6);
    });

    // Small images the style sheet addresses through @skinpath.
    const QString images = out + QStringLiteral("/skin/images/");
    good &= save(images + QStringLiteral("check_off.png"), 16, 16, [](QPainter &p) {
        p.setPen(pen(glyph.lighter(170), 1.2));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 3, 3);
    });
    good &= save(images + QStringLiteral("check_on.png"), 16, 16, [](QPainter &p) {
        p.setPen(pen(accent.darker(120), 1.2));
        p.setBrush(accent);
        p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 3, 3);
        p.setPen(pen(Qt::white, 2));
        p.drawPolyline(QPolygonF({QPointF(4.5, 8.5), QPointF(7, 11), QPointF(11.5, 5)}));
    });
    good &= save(images + QStringLiteral("arrow_down.png"), 12, 12, [](QPainter &p) {
        p.setPen(pen(glyph, 1.8));
        p.drawPolyline(QPolygonF({QPointF(2.5, 4.5), QPointF(6, 8), QPointF(9.5, 4.5)}));
    });
    good &= save(images + QStringLiteral("titlebar.png"), 4, 35, [](QPainter &p) {
        QLinearGradient g(0, 0, 0, 35);
        g.setColorAt(0, QColor(0xf4, 0xf6, 0xf9));
        g.setColorAt(1, QColor(0xdc, 0xe2, 0xea));
        p.fillRect(QRect(0, 0, 4, 35), g);
    });
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString icon = QStringLiteral("%1/icons/hicolor/%2x%2/apps/%3.png")
                                 .arg(out)
                                 .arg(size)
                                 .arg(QStringLiteral(TALLOW_APP_ID));
        good &= save(icon, size, size, [size](QPainter &p) { appIcon(p, size); });
    }
    return good ? 0 : 1;
}
