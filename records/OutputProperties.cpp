#include "records/OutputProperties.h"

#include <QStringList>
#include <cmath>
#include <limits>

#include "platform/foundation/Format.h"
#include "platform/foundation/Numbers.h"
#include "platform/imageio/ImageProperties.h"
#include "records/AppDelegate.h"

using platform::kPropsExif;
using platform::kPropsExifAux;
using platform::kPropsGPS;
using platform::kPropsIPTC;
using platform::kPropsTIFF;

namespace outputprops {

const std::vector<FieldSpec>& fieldTable() {
    static const std::vector<FieldSpec> table = {
    {"Artist", &MetaDataObject::Artist, kPropsTIFF, "Artist", Write::Text, Read::Text},
    {"ImageDescription", &MetaDataObject::ImageDescription, kPropsTIFF, "ImageDescription", Write::Text, Read::Text},
    {"Copyright", &MetaDataObject::Copyright, kPropsTIFF, "Copyright", Write::Text, Read::Text},
    {"Software", &MetaDataObject::Software, kPropsTIFF, "Software", Write::Text, Read::Text},
    {"UserComment", &MetaDataObject::UserComment, kPropsExif, "UserComment", Write::Text, Read::Text},
    {"Cam_Make", &MetaDataObject::Cam_Make, kPropsTIFF, "Make", Write::Text, Read::Text},
    {"Cam_ModelName", &MetaDataObject::Cam_ModelName, kPropsTIFF, "Model", Write::Text, Read::Text},
    {"Cam_OwnerName", &MetaDataObject::Cam_OwnerName, kPropsExif, "CameraOwnerName", Write::Text, Read::Text},
    {"Cam_SerialNumber", &MetaDataObject::Cam_SerialNumber, kPropsExif, "BodySerialNumber", Write::Text, Read::Text},
    {"Date_Original", &MetaDataObject::Date_Original, kPropsExif, "DateTimeOriginal", Write::Text, Read::Text},
    {"Date_Creation", &MetaDataObject::Date_Creation, kPropsExif, "DateTimeDigitized", Write::Text, Read::Text},
    {"Date_Modify", &MetaDataObject::Date_Modify, kPropsTIFF, "DateTime", Write::Text, Read::Text},
    {"CamSetting_ISO", &MetaDataObject::CamSetting_ISO, kPropsExif, "ISOSpeedRatings", Write::IntegerList, Read::Joined},
    {"CamSetting_FNumber", &MetaDataObject::CamSetting_FNumber, kPropsExif, "FNumber", Write::Double, Read::Text},
    {"CamSetting_Aperture", &MetaDataObject::CamSetting_Aperture, kPropsExif, "ApertureValue", Write::Aperture, Read::Text},
    {"CamSetting_ShutterSpeed", &MetaDataObject::CamSetting_ShutterSpeed, kPropsExif, "ShutterSpeedValue", Write::Shutter, Read::Text},
    {"CamSetting_FocalLength", &MetaDataObject::CamSetting_FocalLength, kPropsExif, "FocalLength", Write::Double, Read::Text},
    {"CamSetting_FocalLengthIn35mmFormat", &MetaDataObject::CamSetting_FocalLengthIn35mmFormat, kPropsExif, "FocalLenIn35mmFilm", Write::Integer, Read::Text},
    {"CamSetting_ExposureCompensation", &MetaDataObject::CamSetting_ExposureCompensation, kPropsExif, "ExposureBiasValue", Write::Double, Read::Text},
    {"CamSetting_Flash", &MetaDataObject::CamSetting_Flash, kPropsExif, "Flash", Write::Integer, Read::Text},
    {"CamSetting_Orientation", &MetaDataObject::CamSetting_Orientation, kPropsTIFF, "Orientation", Write::Integer, Read::Text},
    {"AdvCamSetting_ColorSpace", &MetaDataObject::AdvCamSetting_ColorSpace, kPropsExif, "ColorSpace", Write::Text, Read::Text},
    {"AdvCamSetting_ComponentsConfiguration", &MetaDataObject::AdvCamSetting_ComponentsConfiguration, kPropsExif, "ComponentsConfiguration", Write::Components, Read::Text},
    {"AdvCamSetting_ExposureMode", &MetaDataObject::AdvCamSetting_ExposureMode, kPropsExif, "ExposureMode", Write::Integer, Read::Text},
    {"AdvCamSetting_ExposureProgram", &MetaDataObject::AdvCamSetting_ExposureProgram, kPropsExif, "ExposureProgram", Write::Integer, Read::Text},
    {"AdvCamSetting_ExposureTime", &MetaDataObject::AdvCamSetting_ExposureTime, kPropsExif, "ExposureTime", Write::Double, Read::Text},
    {"AdvCamSetting_MateringMode", &MetaDataObject::AdvCamSetting_MateringMode, kPropsExif, "MeteringMode", Write::Integer, Read::Text},
    {"AdvCamSetting_SceneCaptureType", &MetaDataObject::AdvCamSetting_SceneCaptureType, kPropsExif, "SceneCaptureType", Write::Integer, Read::Text},
    {"AdvCamSetting_WhiteBalance", &MetaDataObject::AdvCamSetting_WhiteBalance, kPropsExif, "WhiteBalance", Write::Integer, Read::Text},
    {"AdvCamSetting_Saturation", &MetaDataObject::AdvCamSetting_Saturation, kPropsExif, "Saturation", Write::Integer, Read::Text},
    {"AdvCamSetting_SensingMethod", &MetaDataObject::AdvCamSetting_SensingMethod, kPropsExif, "SensingMethod", Write::Integer, Read::Text},
    {"AdvCamSetting_Sharpness", &MetaDataObject::AdvCamSetting_Sharpness, kPropsExif, "Sharpness", Write::Integer, Read::Text},
    {"AdvCamSetting_SubjectDistanceRange", &MetaDataObject::AdvCamSetting_SubjectDistanceRange, kPropsExif, "SubjectDistRange", Write::Integer, Read::Text},
    {"Lens_LensMake", &MetaDataObject::Lens_LensMake, kPropsExif, "LensMake", Write::Text, Read::Text},
    {"Lens_Lens", &MetaDataObject::Lens_Lens, kPropsExif, "Lens", Write::Text, Read::Text},
    {"Lens_LensModel", &MetaDataObject::Lens_LensModel, kPropsExif, "LensModel", Write::Text, Read::Text},
    {"Lens_LensSerialNumber", &MetaDataObject::Lens_LensSerialNumber, kPropsExif, "LensSerialNumber", Write::Text, Read::Text},
    {"DimResolution_ExifImageWidth", &MetaDataObject::DimResolution_ExifImageWidth, kPropsExif, "PixelXDimension", Write::None, Read::Text},
    {"DimResolution_ExifImageHeight", &MetaDataObject::DimResolution_ExifImageHeight, kPropsExif, "PixelYDimension", Write::None, Read::Text},
    {"DimResolution_XResolution", &MetaDataObject::DimResolution_XResolution, kPropsTIFF, "XResolution", Write::Single, Read::Text},
    {"DimResolution_YResolution", &MetaDataObject::DimResolution_YResolution, kPropsTIFF, "YResolution", Write::Single, Read::Text},
    {"DimResolution_ResolutionUnit", &MetaDataObject::DimResolution_ResolutionUnit, kPropsTIFF, "ResolutionUnit", Write::Integer, Read::Text},
    {"GPS_Lattitude", &MetaDataObject::GPS_Lattitude, kPropsGPS, "Latitude", Write::Double, Read::Text},
    {"GPS_LattitudeRef", &MetaDataObject::GPS_LattitudeRef, kPropsGPS, "LatitudeRef", Write::Text, Read::Text},
    {"GPS_Longitude", &MetaDataObject::GPS_Longitude, kPropsGPS, "Longitude", Write::Double, Read::Text},
    {"GPS_LongitudeRef", &MetaDataObject::GPS_LongitudeRef, kPropsGPS, "LongitudeRef", Write::Text, Read::Text},
    {"GPS_Altitude", &MetaDataObject::GPS_Altitude, kPropsGPS, "Altitude", Write::Double, Read::Text},
    {"GPS_AltitudeRef", &MetaDataObject::GPS_AltitudeRef, kPropsGPS, "AltitudeRef", Write::Integer, Read::Text},
    {"GPS_ImgDirection", &MetaDataObject::GPS_ImgDirection, kPropsGPS, "ImgDirection", Write::Double, Read::Text},
    {"GPS_ImgDirectionRef", &MetaDataObject::GPS_ImgDirectionRef, kPropsGPS, "ImgDirectionRef", Write::Text, Read::Text},
    {"GPS_DateStamp", &MetaDataObject::GPS_DateStamp, kPropsGPS, "DateStamp", Write::TextList, Read::Untrimmed},
    {"IPTC_ByLine", &MetaDataObject::IPTC_ByLine, kPropsIPTC, "Byline", Write::TextList, Read::Joined},
    {"IPTC_ByLineTitle", &MetaDataObject::IPTC_ByLineTitle, kPropsIPTC, "BylineTitle", Write::TextList, Read::Joined},
    {"IPTC_CopyrightNotice", &MetaDataObject::IPTC_CopyrightNotice, kPropsIPTC, "CopyrightNotice", Write::Text, Read::Text},
    {"IPTC_Contact", &MetaDataObject::IPTC_Contact, kPropsIPTC, "Contact", Write::None, Read::Joined},
    {"IPTC_Headline", &MetaDataObject::IPTC_Headline, kPropsIPTC, "Headline", Write::Text, Read::Text},
    {"IPTC_CaptionAbstract", &MetaDataObject::IPTC_CaptionAbstract, kPropsIPTC, "Caption/Abstract", Write::Text, Read::Text},
    {"IPTC_WriterEditor", &MetaDataObject::IPTC_WriterEditor, kPropsIPTC, "Writer/Editor", Write::TextList, Read::Joined},
    {"IPTC_ObjectName", &MetaDataObject::IPTC_ObjectName, kPropsIPTC, "ObjectName", Write::Text, Read::Text},
    {"IPTC_Category", &MetaDataObject::IPTC_Category, kPropsIPTC, "Category", Write::Text, Read::Text},
    {"IPTC_SupplementalCategories", &MetaDataObject::IPTC_SupplementalCategories, kPropsIPTC, "SupplementalCategory", Write::TextList, Read::Joined},
    {"IPTC_DateCreated", &MetaDataObject::IPTC_DateCreated, kPropsIPTC, "DateCreated", Write::None, Read::Text},
    {"IPTC_Keywords", &MetaDataObject::IPTC_Keywords, kPropsIPTC, "Keywords", Write::Keywords, Read::Joined},
    {"IPTC_SubLocation", &MetaDataObject::IPTC_SubLocation, kPropsIPTC, "SubLocation", Write::Text, Read::Text},
    {"IPTC_City", &MetaDataObject::IPTC_City, kPropsIPTC, "City", Write::Text, Read::Text},
    {"IPTC_ProvinceState", &MetaDataObject::IPTC_ProvinceState, kPropsIPTC, "Province/State", Write::Text, Read::Text},
    {"IPTC_CountryPrimaryLocationName", &MetaDataObject::IPTC_CountryPrimaryLocationName, kPropsIPTC, "Country/PrimaryLocationName", Write::Text, Read::Text},
    {"IPTC_CountryPrimaryLocationCode", &MetaDataObject::IPTC_CountryPrimaryLocationCode, kPropsIPTC, "Country/PrimaryLocationCode", Write::Text, Read::Text},
    {"IPTC_OriginalTransmissionRef", &MetaDataObject::IPTC_OriginalTransmissionRef, kPropsIPTC, "OriginalTransmissionReference", Write::Text, Read::Text},
    {"IPTC_SpecialInstructions", &MetaDataObject::IPTC_SpecialInstructions, kPropsIPTC, "SpecialInstructions", Write::Text, Read::Text},
    {"IPTC_Credit", &MetaDataObject::IPTC_Credit, kPropsIPTC, "Credit", Write::Text, Read::Text},
    {"IPTC_Source", &MetaDataObject::IPTC_Source, kPropsIPTC, "Source", Write::Text, Read::Text},

    {"XMP_SerialNumber", &MetaDataObject::XMP_SerialNumber, nullptr, nullptr, Write::None, Read::SetEmpty},
    {"XMP_Lens", &MetaDataObject::XMP_Lens, nullptr, nullptr, Write::None, Read::SetEmpty},
    {"XMP_CreationDate", &MetaDataObject::XMP_CreationDate, nullptr, nullptr, Write::None, Read::SetEmpty},
    {"XMP_ModifyDate", &MetaDataObject::XMP_ModifyDate, nullptr, nullptr, Write::None, Read::SetEmpty},
    {"XMP_Latitude", &MetaDataObject::XMP_Latitude, nullptr, nullptr, Write::None, Read::SetEmpty},
    {"XMP_Longitude", &MetaDataObject::XMP_Longitude, nullptr, nullptr, Write::None, Read::SetEmpty},
    {"XMP_PhotoshopDateCreated", &MetaDataObject::XMP_PhotoshopDateCreated, nullptr, nullptr, Write::None, Read::SetEmpty},
    };
    return table;
}

const FieldSpec* fieldNamed(const QString& name) {
    for (const FieldSpec& f : fieldTable())
        if (name == QLatin1String(f.name)) return &f;
    return nullptr;
}

namespace {

constexpr double kLn2 = 0.6931471805599453;

QString sixDecimals(float value) {
    if (!std::isfinite(value)) return {};
    return platform::format(u"%f", double(value));
}

bool isAllDigits(const QString& s) {
    for (QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    return true;
}

// A plain decimal number and nothing else (blanks around it allowed).
bool isWholeNumber(const QString& text) {
    const QString t = text.trimmed();
    double v = 0;
    qsizetype used = 0;
    return !t.isEmpty() && platform::scanDouble(t, &v, &used) && used == t.size();
}

float leadingFloat(const QString& text) { return float(platform::doubleValue(text)); }

}  // namespace

QString apertureApexText(const QString& fNumberText) {
    if (fNumberText.isEmpty()) return {};
    const float f = leadingFloat(fNumberText);
    // An f-number of 0 or less has no APEX value; the key is then left out.
    if (!(f > 0.0f) || !std::isfinite(f)) return {};
    return sixDecimals(float(2.0 * std::log(double(f)) / kLn2));
}

QString shutterApexText(const QString& t) {
    if (t.isEmpty()) return {};
    if (t.contains(QLatin1String("1/"))) {
        const QString q = t.mid(2);
        if (!isAllDigits(q)) return t;
        // "1/" alone means N = 0, whose logarithm is undefined: nothing is written.
        const int n = platform::intValue(q);
        if (n <= 0) return {};
        const float inverse = 1.0f / float(n);
        const float back = 1.0f / inverse;
        return sixDecimals(float(std::log(double(back)) / kLn2));
    }
    if (isWholeNumber(t)) {
        const float seconds = leadingFloat(t);
        if (!(seconds > 0.0f)) return {};
        const float inverse = 1.0f / seconds;
        return sixDecimals(float(std::log(double(inverse)) / kLn2));
    }
    return t;
}

QString apertureFromApex(const QString& apexText) {
    if (apexText.isEmpty()) return apexText;
    const float av = leadingFloat(apexText);
    if (!(av > 0.0f)) return apexText;
    const float value = float(std::pow(2.0, double(av / 2.0f)));
    if (!std::isfinite(value)) return apexText;
    return platform::format(u"%.02f", double(value));
}

QString shutterFromApex(const QString& apexText) {
    if (apexText.isEmpty()) return apexText;
    double scanned = 0;
    if (!platform::scanDouble(apexText, &scanned)) return apexText;
    const float tv = float(scanned);
    if (!std::isfinite(tv)) return apexText;
    if (tv > 0.0f) {
        const float value = float(std::pow(2.0, double(tv)));
        // Exposure times beyond what an int can count are shown at the largest count.
        const double rounded = std::round(double(value));
        const int denominator = rounded >= double(std::numeric_limits<int>::max())
                                    ? std::numeric_limits<int>::max()
                                    : int(rounded);
        return platform::format(u"1/%d", denominator);
    }
    if (tv < 0.0f) {
        const float value = float(std::pow(2.0, double(-tv)));
        if (!std::isfinite(value)) return apexText;
        return platform::format(u"%.2f", double(value));
    }
    return QStringLiteral("1");
}

}  // namespace outputprops

using namespace outputprops;

namespace {

// Fields whose text "Leave Blank" removes their key from the output.
const char* const kLeaveBlankFields[] = {
    "CamSetting_Flash",           "CamSetting_Orientation",         "AdvCamSetting_ColorSpace",
    "AdvCamSetting_ExposureMode", "AdvCamSetting_ExposureProgram",  "AdvCamSetting_MateringMode",
    "AdvCamSetting_SceneCaptureType", "AdvCamSetting_SensingMethod", "AdvCamSetting_SubjectDistanceRange",
    "GPS_LattitudeRef",           "GPS_LongitudeRef",               "GPS_AltitudeRef",
    "IPTC_CountryPrimaryLocationCode"};

// Fields that "keep only updated fields" never removes.
const char* const kAlwaysKeptFields[] = {"DimResolution_XResolution", "DimResolution_YResolution",
                                         "DimResolution_ResolutionUnit", "GPS_ImgDirection",
                                         "GPS_ImgDirectionRef", "GPS_DateStamp"};

const char* const kClearExifTiff[] = {"Artist", "ImageDescription", "Copyright", "Software",
                                      "Make", "Model", "Orientation", "DateTime"};
const char* const kClearExifExif[] = {
    "FNumber", "ApertureValue", "ShutterSpeedValue", "FocalLength", "FocalLenIn35mmFilm", "ExposureBiasValue",
    "Flash", "LensMake", "LensModel", "LensSerialNumber", "CameraOwnerName", "Lens", "ISOSpeedRatings",
    "ColorSpace", "ComponentsConfiguration", "ExposureMode", "ExposureProgram", "ExposureTime", "MeteringMode",
    "SceneCaptureType", "WhiteBalance", "Saturation", "SensingMethod", "Sharpness", "SubjectDistRange",
    "BodySerialNumber", "DateTimeOriginal", "DateTimeDigitized"};
const char* const kClearIptc[] = {"Byline", "BylineTitle", "Writer/Editor", "SupplementalCategory", "Keywords",
                                  "CopyrightNotice", "Headline", "Caption/Abstract", "ObjectName", "Category",
                                  "SubLocation", "City", "Province/State", "Country/PrimaryLocationName",
                                  "Country/PrimaryLocationCode", "OriginalTransmissionReference",
                                  "SpecialInstructions", "Credit", "Source"};
const char* const kClearGps[] = {"Latitude", "Longitude", "LatitudeRef", "LongitudeRef", "Altitude",
                                 "AltitudeRef", "ImgDirection", "ImgDirectionRef", "DateStamp"};

QVariantList componentsList(const QString& text) {
    QVariantList out;
    const QStringList parts = text.contains(QLatin1Char(',')) ? text.split(QLatin1Char(',')) : QStringList{text};
    for (const QString& p : parts)
        if (p.size() == 1 && p[0] >= QLatin1Char('0') && p[0] <= QLatin1Char('6')) out.append(p.toInt());
    return out;
}

// The value a field writes, or an invalid QVariant when its text gives no usable number.
QVariant writtenValue(const FieldSpec& f, const QString& text) {
    switch (f.write) {
    case Write::None: return {};
    case Write::Text: return text;
    case Write::Integer: return platform::intValue(text);
    case Write::Aperture:
    case Write::Shutter:
    case Write::Double: {
        const double v = platform::doubleValue(text);
        return std::isfinite(v) ? QVariant(v) : QVariant();
    }
    case Write::Single: {
        const float v = float(platform::doubleValue(text));
        return std::isfinite(v) ? QVariant(double(v)) : QVariant();
    }
    case Write::IntegerList: return QVariantList{platform::intValue(text)};
    case Write::TextList: return QVariantList{text};
    case Write::Components: return componentsList(text);
    case Write::Keywords: {
        QVariantList list;
        for (const QString& part : text.contains(QLatin1Char(',')) ? text.split(QLatin1Char(',')) : QStringList{text})
            list.append(part);
        return list;
    }
    }
    return {};
}

// Facts the "{ExifAux}" group repeats from "{Exif}": they end up in the same tags of the
// file, so a key removed from "{Exif}" must go from "{ExifAux}" too or the copy would
// write it back.
const char* const kAuxMirrors[][2] = {{"LensModel", "LensModel"},
                                      {"BodySerialNumber", "SerialNumber"},
                                      {"CameraOwnerName", "OwnerName"}};

// A negative coordinate or altitude is stored as its size with the hemisphere (or
// below-sea-level) reference that carries the sign.
void moveSignToReference(QVariantMap& gps, const char* key, const char* refKey, const QVariant& negativeRef) {
    const QVariant v = gps.value(QLatin1String(key));
    if (v.typeId() != QMetaType::Double || v.toDouble() >= 0.0) return;
    gps.insert(QLatin1String(key), std::fabs(v.toDouble()));
    gps.insert(QLatin1String(refKey), negativeRef);
}

}  // namespace

QVariantMap MetaDataObject::metadataDictFromObject(const MetaDataObject& record, const QVariantMap& oldDict,
                                                   const MetaDataObject& current,
                                                   const MetaDataObject& updatedFields) {
    // 1. Copies: the photo's properties are never changed.
    QVariantMap result = oldDict;
    QVariantMap groups[5];
    const char* const groupNames[5] = {kPropsExif, kPropsExifAux, kPropsGPS, kPropsIPTC, kPropsTIFF};
    for (int i = 0; i < 5; ++i) {
        const QVariant g = oldDict.value(QLatin1String(groupNames[i]));
        if (g.typeId() == QMetaType::QVariantMap) groups[i] = g.toMap();
    }
    auto group = [&](const char* name) -> QVariantMap& {
        for (int i = 0; i < 5; ++i)
            if (qstrcmp(name, groupNames[i]) == 0) return groups[i];
        return groups[1];  // not reached: every field names one of the five groups
    };
    const QVariant tiffOrientationBefore = group(kPropsTIFF).value(QStringLiteral("Orientation"));
    auto remove = [&](const char* groupName, const char* key) {
        group(groupName).remove(QLatin1String(key));
        if (qstrcmp(groupName, kPropsExif) != 0) return;
        for (const auto& mirror : kAuxMirrors)
            if (qstrcmp(key, mirror[0]) == 0) group(kPropsExifAux).remove(QLatin1String(mirror[1]));
    };

    // 2. The APEX texts, for this call only.
    const QString aperture = apertureApexText(record.CamSetting_Aperture);
    const QString shutter = shutterApexText(record.CamSetting_ShutterSpeed);

    // 3. The editing option and the clear flags come from the application's record.
    const int option = current.editingOption;

    if (option != Clear) {
        // 4. Apply every non-empty field.
        for (const FieldSpec& f : fieldTable()) {
            if (f.write == Write::None || !f.group) continue;
            const QString text = f.write == Write::Aperture ? aperture
                                 : f.write == Write::Shutter ? shutter
                                                              : record.*(f.member);
            if (text.isEmpty()) continue;
            const QVariant value = writtenValue(f, text);
            // A number that cannot be stored (infinite, undefined) leaves the key out.
            if (value.isValid()) group(f.group).insert(QLatin1String(f.key), value);
        }
        for (const char* name : kLeaveBlankFields) {
            const FieldSpec* f = fieldNamed(QLatin1String(name));
            if (record.*(f->member) == QLatin1String("Leave Blank")) remove(f->group, f->key);
        }
        // After the blanks: a signed coordinate always keeps its hemisphere.
        QVariantMap& gps = group(kPropsGPS);
        if (!record.GPS_Lattitude.isEmpty()) moveSignToReference(gps, "Latitude", "LatitudeRef", QStringLiteral("S"));
        if (!record.GPS_Longitude.isEmpty()) moveSignToReference(gps, "Longitude", "LongitudeRef", QStringLiteral("W"));
        if (!record.GPS_Altitude.isEmpty()) moveSignToReference(gps, "Altitude", "AltitudeRef", 1);
    } else {
        // 5. Clear the chosen key sets; nothing of the record is written.
        auto removeAll = [&](const char* groupName, const auto& keys) {
            for (const char* k : keys) remove(groupName, k);
        };
        if (current.clearExif) {
            removeAll(kPropsTIFF, kClearExifTiff);
            removeAll(kPropsExif, kClearExifExif);
        }
        if (current.clearIPTC) removeAll(kPropsIPTC, kClearIptc);
        if (current.clearComment) remove(kPropsExif, "UserComment");
        if (current.clearGpsInfo) removeAll(kPropsGPS, kClearGps);
    }

    if (option == ApplyKeepOnlyUpdated) {
        // 6. Keep only the keys of fields the updated-fields record names.
        for (const FieldSpec& f : fieldTable()) {
            if (f.write == Write::None || !f.group) continue;
            bool alwaysKept = false;
            for (const char* name : kAlwaysKeptFields) alwaysKept |= QLatin1String(name) == QLatin1String(f.name);
            if (!alwaysKept && (updatedFields.*(f.member)).isEmpty()) remove(f.group, f.key);
        }
    }

    // The writer lets a top-level orientation win over the TIFF one, so a change made
    // here to the TIFF orientation is carried to the top level too.
    const QVariant tiffOrientationAfter = group(kPropsTIFF).value(QStringLiteral("Orientation"));
    if (tiffOrientationAfter != tiffOrientationBefore) {
        if (tiffOrientationAfter.isValid())
            result.insert(QLatin1String(platform::kPropsOrientation), tiffOrientationAfter);
        else
            result.remove(QLatin1String(platform::kPropsOrientation));
    }

    // 7. All five groups, empty ones included ("{ExifAux}" only loses the mirrors above).
    for (int i = 0; i < 5; ++i) result.insert(QLatin1String(groupNames[i]), groups[i]);
    return result;
}

QVariantMap MetaDataObject::metadataDictFromObject(const MetaDataObject& record, const QVariantMap& oldDict) {
    const AppDelegate& app = AppDelegate::shared();
    static const MetaDataObject empty;
    const MetaDataObject& current = app.selectedMetatDataSettingObj ? *app.selectedMetatDataSettingObj : empty;
    const MetaDataObject& updated =
        app.selectedMetatDataSettingObjOnlyUpdatedFields ? *app.selectedMetatDataSettingObjOnlyUpdatedFields : empty;
    return metadataDictFromObject(record, oldDict, current, updated);
}
