// Names of the EXIF codes shown in the photo information pop-ups.
#include "platform/foundation/Format.h"
#include "records/CommonFunc.h"

#include <QHash>
#include <cmath>
#include <optional>

namespace {

const QString kUnknown = QStringLiteral("---");

// The code of a value; absent values and values that carry no number have none.
std::optional<long long> codeOf(const QVariant& value) {
    if (!value.isValid() || value.isNull()) return std::nullopt;
    if (value.typeId() == QMetaType::QVariantList) {
        const QVariantList l = value.toList();
        return l.isEmpty() ? std::nullopt : codeOf(l.first());
    }
    if (value.typeId() == QMetaType::QString) {
        const QString s = value.toString().trimmed();
        qsizetype end = 0;
        if (end < s.size() && (s[end] == u'-' || s[end] == u'+')) ++end;
        while (end < s.size() && s[end].isDigit()) ++end;
        bool ok = false;
        const long long v = s.left(end).toLongLong(&ok);
        return ok ? std::optional<long long>(v) : std::optional<long long>(0);
    }
    bool ok = false;
    const double d = value.toDouble(&ok);
    if (!ok || !std::isfinite(d)) return std::nullopt;
    return static_cast<long long>(std::trunc(d));
}

QString nameOf(const QVariant& value, const QHash<long long, QString>& names) {
    const auto code = codeOf(value);
    return code ? names.value(*code, kUnknown) : kUnknown;
}

}  // namespace

QString CommonFunc::getMeteringModeType(const QVariant& value) {
    static const QHash<long long, QString> names{
        {0, QStringLiteral("Unknown")},   {1, QStringLiteral("Average")},
        {2, QStringLiteral("CenterWeightedAverage")},
        {3, QStringLiteral("Spot")},      {4, QStringLiteral("MultiSpot")},
        {5, QStringLiteral("Pattern")},   {6, QStringLiteral("Partial")},
        {255, QStringLiteral("other")},
    };
    return nameOf(value, names);
}

QString CommonFunc::getExposureProgramType(const QVariant& value) {
    static const QHash<long long, QString> names{
        {0, QStringLiteral("Not defined")},
        {1, QStringLiteral("Manual")},
        {2, QStringLiteral("Program AE")},
        {3, QStringLiteral("Aperture priority")},
        {4, QStringLiteral("Shutter priority")},
        {5, QStringLiteral("Creative program (biased toward depth of field)")},
        {6, QStringLiteral("Action program (biased toward fast shutter speed)")},
        {7, QStringLiteral("Portrait mode (for closeup photos with the background out of focus)")},
        {8, QStringLiteral("Landscape mode (for landscape photos with the background in focus)")},
    };
    return nameOf(value, names);
}

QString CommonFunc::getExposureModeType(const QVariant& value) {
    static const QHash<long long, QString> names{
        {0, QStringLiteral("Auto exposure")},
        {1, QStringLiteral("Manual exposure")},
        {2, QStringLiteral("Auto bracket")},
    };
    return nameOf(value, names);
}

QString CommonFunc::getScenceCaptureType(const QVariant& value) {
    static const QHash<long long, QString> names{
        {0, QStringLiteral("Standard")},
        {1, QStringLiteral("Landscape")},
        {2, QStringLiteral("Portrait")},
        {3, QStringLiteral("Night scene")},
    };
    return nameOf(value, names);
}

QString CommonFunc::getLightSourceType(const QVariant& value) {
    static const QHash<long long, QString> names{
        {0, QStringLiteral("Unknown")},
        {1, QStringLiteral("Daylight")},
        {2, QStringLiteral("Fluorescent")},
        {3, QStringLiteral("Tungsten (incandescent light)")},
        {4, QStringLiteral("Flash")},
        {9, QStringLiteral("Fine weather")},
        {10, QStringLiteral("Cloudy weather")},
        {11, QStringLiteral("Shade")},
        {12, QStringLiteral("Daylight fluorescent (D 5700 - 7100K)")},
        {13, QStringLiteral("Day white fluorescent (N 4600 - 5400K)")},
        {14, QStringLiteral("Cool white fluorescent (W 3900 - 4500K)")},
        {15, QStringLiteral("White fluorescent (WW 3200 - 3700K)")},
        {17, QStringLiteral("Standard light A")},
        {18, QStringLiteral("Standard light B")},
        {19, QStringLiteral("Standard light C")},
        {20, QStringLiteral("D55")},
        {21, QStringLiteral("D65")},
        {22, QStringLiteral("D75")},
        {23, QStringLiteral("D50")},
        {24, QStringLiteral("ISO studio tungsten")},
        {255, QStringLiteral("Other light source")},
    };
    return nameOf(value, names);
}

QString CommonFunc::getColorSensingType(const QVariant& value) {
    static const QHash<long long, QString> names{
        {1, QStringLiteral("Not defined")},
        {2, QStringLiteral("One-chip color area sensor")},
        {3, QStringLiteral("Two-chip color area sensor")},
        {4, QStringLiteral("Three-chip color area sensor")},
        {5, QStringLiteral("Color sequential area sensor")},
        {7, QStringLiteral("Trilinear sensor")},
        {8, QStringLiteral("Color sequential linear sensor")},
    };
    return nameOf(value, names);
}

QString CommonFunc::getOrientationType(int orientation) {
    static const char16_t* const formats[] = {
        u"%i (Normal)",
        u"%i (Mirror horizontal)",
        u"%i (Rotate 180)",
        u"%i (Mirror vertical)",
        u"%i (Mirror horizontal and rotate 270 CW)",
        u"%i (Rotate 90 CW)",
        u"%i (Mirror horizontal and rotate 90 CW)",
        u"%i (Rotate 270 CW)",
    };
    if (orientation < 1 || orientation > 8) return kUnknown;
    return platform::format(formats[orientation - 1], orientation);
}
