// Text and date watermarks and image overlays (custom images, logos, stickers) drawn on
// top of a photo. Positions arrive as fractions of the photo's size, in y-up space.
#include "engine/Utils.h"
#include "engine/Utils_OverlaysSupport.h"

#include "platform/foundation/Log.h"
#include "platform/graphics/YUp.h"
#include "records/AppDelegate.h"
#include "records/CommonFunc.h"
#include "records/PhotoFile.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>
#include <QTextOption>
#include <QTransform>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <cmath>
#include <map>

using overlays::forEachParameter;
using overlays::numberOr;

namespace {

// Point sizes equal pixels on a 72-dpi canvas; the photo's own resolution is put back on
// the result.
constexpr int kDotsPerMeter72 = 2835;

QImage newCanvas(const QImage& photo) {
    QImage canvas(photo.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.setDotsPerMeterX(kDotsPerMeter72);
    canvas.setDotsPerMeterY(kDotsPerMeter72);
    canvas.fill(Qt::transparent);
    return canvas;
}

void keepResolution(QImage& result, const QImage& photo) {
    result.setDotsPerMeterX(photo.dotsPerMeterX());
    result.setDotsPerMeterY(photo.dotsPerMeterY());
}

QFont fontAt(QFont font, double points) {
    font.setPointSizeF(points);
    return font;
}

QFont baseFont(const QString& fontName, double points) {
    QFont f;
    if (fontName.isEmpty() || fontName == QLatin1String("System Default") ||
        !QFontDatabase::hasFamily(fontName)) {
        // An unknown family falls back to the system font rather than Qt's nearest guess,
        // so a photo stamped on another machine looks the same as its preview.
        f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    } else {
        f = QFont(fontName);
    }
    // A fixed hinting choice, not the desktop's: the text then lays out and draws alike on
    // every machine (this is the light hinting most desktops choose anyway).
    f.setHintingPreference(QFont::PreferVerticalHinting);
    return fontAt(f, points > 0 && std::isfinite(points) ? points : 12.0);
}

// The tables a font needs to draw glyphs already chosen and placed (shaping is done by then).
constexpr std::array<const char*, 40> kDrawingTables{
    "head", "hhea", "hmtx", "maxp", "cmap", "loca", "glyf", "name", "OS/2", "post",
    "cvt ", "fpgm", "prep", "gasp", "kern", "hdmx", "LTSH", "VDMX", "vhea", "vmtx",
    "CFF ", "CFF2", "VORG", "EBDT", "EBLC", "EBSC", "CBDT", "CBLC", "sbix", "COLR",
    "CPAL", "SVG ", "fvar", "gvar", "avar", "HVAR", "VVAR", "MVAR", "cvar", "STAT"};

quint32 tagValue(const char* tag) {
    return quint32(uchar(tag[0])) << 24 | quint32(uchar(tag[1])) << 16 | quint32(uchar(tag[2])) << 8 | uchar(tag[3]);
}

// The font file again, put together from the tables the font shows; empty when the font has
// no outline tables to read (a bitmap or Type 1 font).
QByteArray fontFileOf(const QRawFont& font) {
    std::map<quint32, QByteArray> tables;  // sorted by tag, as the table directory must be
    for (const char* tag : kDrawingTables) {
        QByteArray t = font.fontTable(tag);
        if (!t.isEmpty()) tables.emplace(tagValue(tag), std::move(t));
    }
    const bool cff = tables.count(tagValue("CFF ")) || tables.count(tagValue("CFF2"));
    if (!tables.count(tagValue("head")) || !tables.count(tagValue("maxp")) || (!cff && !tables.count(tagValue("glyf"))))
        return {};
    const auto n = quint16(tables.size());
    quint16 entrySelector = 0;
    while ((2u << entrySelector) <= n) ++entrySelector;
    const auto searchRange = quint16(16u << entrySelector);
    QByteArray file(12 + 16 * n, '\0');
    auto put32 = [&](int at, quint32 v) { qToBigEndian(v, file.data() + at); };
    auto put16 = [&](int at, quint16 v) { qToBigEndian(v, file.data() + at); };
    put32(0, cff ? tagValue("OTTO") : 0x00010000u);
    put16(4, n);
    put16(6, searchRange);
    put16(8, entrySelector);
    put16(10, quint16(n * 16 - searchRange));
    int record = 12;
    for (const auto& [tag, data] : tables) {
        QByteArray padded = data;
        padded.append((4 - padded.size() % 4) % 4, '\0');
        quint32 sum = 0;
        for (qsizetype i = 0; i < padded.size(); i += 4) sum += qFromBigEndian<quint32>(padded.constData() + i);
        put32(record, tag);
        put32(record + 4, sum);
        put32(record + 8, quint32(file.size()));
        put32(record + 12, quint32(data.size()));
        file.append(padded);
        record += 16;
    }
    return file;
}

// Draws text as QPainter::drawText(rect, text, option) lays it out, with glyphs from a font
// made for this drawing alone. Qt keeps one FreeType face per font file and thread and loads
// large glyphs' outlines through its hinter, whose state carries over from whatever that
// thread drew before: the same text came out a little different from photo to photo in a
// batch. A font of its own gives every drawing the state of a first one.
void drawTextUnshared(QPainter& p, const QRectF& rect, const QString& text, const QFont& font, const QTextOption& option) {
    QString laidOut = text;
    laidOut.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(laidOut, font, p.device());
    layout.setTextOption(option);
    const qreal leading = QFontMetricsF(font, p.device()).leading();
    qreal height = -leading;
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(std::max<qreal>(0, rect.width()));
        height = std::ceil(height + leading);
        line.setPosition(QPointF(0, height));
        height += line.ascent() + line.descent();
        if (height >= rect.height()) break;  // lines below the box would be clipped anyway
    }
    layout.endLayout();

    QHash<QString, QRawFont> unshared;
    for (QGlyphRun run : layout.glyphRuns()) {
        const QRawFont shared = run.rawFont();
        const QString key = shared.familyName() + QLatin1Char('\x1f') + shared.styleName() + QLatin1Char('\x1f') +
                            QString::number(shared.pixelSize(), 'g', 17);
        auto it = unshared.find(key);
        if (it == unshared.end()) {
            const QByteArray file = fontFileOf(shared);
            QRawFont own;
            if (!file.isEmpty()) own.loadFromData(file, shared.pixelSize(), font.hintingPreference());
            it = unshared.insert(key, own);
        }
        if (it->isValid()) run.setRawFont(*it);  // otherwise Qt's own font still draws it
        p.drawGlyphRun(rect.topLeft(), run);
    }
}

// Paragraph alignment values as the editor stores them: 0 left, 1 right, 2 centre,
// 3 justified, 4 natural (left for our scripts).
Qt::Alignment paragraphAlignment(int value) {
    switch (value) {
    case 1: return Qt::AlignRight;
    case 2: return Qt::AlignHCenter;
    case 3: return Qt::AlignJustify;
    default: return Qt::AlignLeft;
    }
}

QSizeF measure(const QFont& font, const QString& text) {
    QImage device(1, 1, QImage::Format_ARGB32_Premultiplied);
    device.setDotsPerMeterX(kDotsPerMeter72);
    device.setDotsPerMeterY(kDotsPerMeter72);
    const QFontMetricsF fm(font, &device);
    return fm.boundingRect(QRectF(0, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop, text).size();
}

// The photo shown in the editor, for steps applied without a path.
QString currentPhotoPathForOverlays() {
    const auto photo = AppDelegate::shared().selectedImageFile;
    return photo ? photo->fileURL : QString();
}

}  // namespace

float Utils::scaleToAspectFit(const QSizeF& content, const QSizeF& area, float padding) {
    const double sx = (area.width() - double(padding)) / content.width();
    const double sy = (area.height() - double(padding)) / content.height();
    return float(std::min(sx, sy));
}

QFont Utils::fontSizedForAreaSize(const QSizeF& areaSize, const QString& string, const QFont& font) {
    const QFont probe = fontAt(font, 12.0);
    const QSizeF size = measure(probe, string);
    double points = 0;
    if (size.width() > 0 && size.height() > 0) points = 12.0 * double(scaleToAspectFit(size, areaSize, 10.0f));
    if (!std::isfinite(points) || points <= 0) {
        // Nothing to measure keeps the requested size; an area smaller than its padding
        // still gets a readable, positive size instead of a negative one.
        points = size.width() > 0 && size.height() > 0 ? 1.0 : (font.pointSizeF() > 0 ? font.pointSizeF() : 12.0);
    }
    return fontAt(font, std::min(points, 16384.0));
}

QStringList Utils::dateFormatNames() {
    return {"MMM-DD-YY", "DD-MMM-YYYY", "DD-MMM-YY", "YYYY-MMM-DD", "YY-MMM-DD", "MM-DD-YYYY",
            "MM-DD-YY",  "DD-MM-YYYY",  "DD-MM-YY",  "YYYY-MM-DD",  "YY-MM-DD"};
}

QStringList Utils::timeFormatNames() { return {"AM/PM", "24h"}; }

QImage Utils::addWaterMarkToImage(const QImage& image, const QString& imageURL, const QString& filterName,
                                  const QVariantList& params, double layoutScale) {
    const bool isDate = filterName == QLatin1String("Add Date");
    const overlays::TextOverlay t = overlays::readTextOverlay(filterName, params);
    const platform::Vec& rotatedRect = t.rotatedRect;
    const QColor& color = t.color;
    QString text = t.text;
    const double fontSize = t.fontSize;
    const QString& fontName = t.fontName;
    const float alpha = t.alpha;
    const int alignment = t.alignment;

    QString path = imageURL;
    if (path.isEmpty()) path = currentPhotoPathForOverlays();
    if (isDate) text = CommonFunc::getDateTimeStringForImageUrl(path, t.dateOption, t.dateFormat, t.timeFormat);

    const QColor textColor = QColor::fromRgbF(color.redF(), color.greenF(), color.blueF(),
                                              std::clamp(std::isfinite(alpha) ? alpha : 1.0f, 0.0f, 1.0f));
    const double scale = std::isfinite(layoutScale) && layoutScale > 0 ? layoutScale : 1.0;
    const double pw = image.width() * scale, ph = image.height() * scale;
    const double x = rotatedRect.X() * pw, y = rotatedRect.Y() * ph;
    double w = rotatedRect.Z() * pw, h = rotatedRect.W() * ph;
    // A box turned by a quarter stands on its side: the text is laid out in the upright box
    // and turned with it about the box's centre.
    const int turn = t.quarterTurnDegrees;
    const bool onSide = turn == 90 || turn == 270;
    const QPointF centre(x + w / 2, y + h / 2);
    if (onSide) std::swap(w, h);
    const double f = fontSize * ph;
    QFont fitted = fontSizedForAreaSize(QSizeF(w, h + f / 2), text, baseFont(fontName, f));
    // The box was sized around the text at the size chosen on the preview, with a margin of
    // the preview's points; on a larger photo that margin would let the fit grow the text
    // past the size the preview showed. The text is fitted, never larger than that size.
    if (f > 0 && std::isfinite(f) && fitted.pointSizeF() > f) fitted.setPointSizeF(f);

    if (pw <= 0 || ph <= 0) return image;
    // The box sits h / f above its stored corner; a font size of zero puts it on the corner.
    const double lift = f > 0 && std::isfinite(h / f) ? h / f : 0.0;
    const QRectF box(centre.x() - w / 2 + 4.0, centre.y() - h / 2 + lift, w, h);

    QImage canvas = newCanvas(image);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.drawImage(0, 0, image);
    if (scale != 1.0) p.scale(1.0 / scale, 1.0 / scale);
    if (w > 0 && h > 0 && !text.isEmpty()) {
        const QRectF target = platform::toQtRect(box, ph);
        if (turn != 0) {
            // The preview turns its box counter-clockwise by the angle in y-up terms.
            const QPointF pivot = platform::toQtPoint(centre, ph);
            p.translate(pivot);
            p.rotate(-turn);
            p.translate(-pivot);
        }
        p.setClipRect(target);
        p.setFont(fitted);
        p.setPen(textColor);
        // Lines wrap at word boundaries; a word longer than the box breaks where it must.
        QTextOption option(paragraphAlignment(alignment));
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        drawTextUnshared(p, target, text, fitted, option);
    }
    p.end();
    keepResolution(canvas, image);
    return canvas;
}

QRectF Utils::getRotatedRectForImageByDegrees(double degrees, const QImage&, const QSizeF& box) {
    const QRectF turned = QTransform().rotate(-degrees).mapRect(QRectF(QPointF(0, 0), box));
    const double rw = turned.width(), rh = turned.height();
    return QRectF((box.width() - rw) / 2, (box.height() - rh) / 2, rw, rh);
}

QImage Utils::rotateImageWithangle(double angle, const QImage& image, const QSizeF& box) {
    const QRectF turned = getRotatedRectForImageByDegrees(angle, image, box);
    const int cw = std::max(1, int(std::lround(turned.width())));
    const int ch = std::max(1, int(std::lround(turned.height())));
    QImage out(cw, ch, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.setRenderHint(QPainter::Antialiasing, true);
    // Turning about the centre: a clockwise turn in y-up space is a clockwise turn on screen,
    // which is Qt's positive rotation, so no coordinate conversion is needed here.
    p.translate(cw / 2.0, ch / 2.0);
    p.rotate(angle);
    p.translate(-box.width() / 2.0, -box.height() / 2.0);
    p.drawImage(QRectF(QPointF(0, 0), box), image, QRectF(image.rect()));
    p.end();
    return out;
}

QImage Utils::addImageToBackgroundImage(const QImage& image, const QString&, const QVariantList& params) {
    platform::Vec boundedRect(0.02, 0.84, 0.2, 0.09);
    QImage overlay;
    float opacity = 1.0f, angle = 0.0f;
    forEachParameter(params, [&](const QString& key, const QVariant& v) {
        if (key == QLatin1String("boundedRect")) {
            if (v.canConvert<platform::Vec>() && v.value<platform::Vec>().isRect()) boundedRect = v.value<platform::Vec>();
        } else if (key == QLatin1String("imageToAdd")) {
            overlay = v.value<QImage>();
        } else if (key == QLatin1String("Opacity")) {
            opacity = float(numberOr(v, opacity));
        } else if (key == QLatin1String("angle")) {
            angle = float(numberOr(v, angle));
        }
    });
    if (overlay.isNull()) return image;

    const double pw = image.width(), ph = image.height();
    const double s = std::min(boundedRect.Z() * pw, boundedRect.W() * ph);
    if (pw <= 0 || ph <= 0 || !(s >= 1.0)) return image;
    const int side = int(std::lround(s));

    const QImage square = flipImage(scaleImage(overlay, QSizeF(side, side)), params);
    const double turn = 360.0 - double(angle);
    const QRectF turnedBox = getRotatedRectForImageByDegrees(turn, square, QSizeF(s, s));
    const double ox = std::trunc(turnedBox.x()), oy = std::trunc(turnedBox.y());
    const QImage turned = rotateImageWithangle(turn, square, QSizeF(s, s));

    QImage canvas = newCanvas(image);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.drawImage(0, 0, image);
    p.setOpacity(std::clamp(std::isfinite(opacity) ? double(opacity) : 1.0, 0.0, 1.0));
    const QRectF target(boundedRect.X() * pw + ox, boundedRect.Y() * ph + oy, s - 2 * ox, s - 2 * ox);
    p.drawImage(platform::toQtRect(target, ph), turned, QRectF(turned.rect()));
    p.end();
    keepResolution(canvas, image);
    return canvas;
}
