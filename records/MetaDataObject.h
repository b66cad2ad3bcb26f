#pragma once
// The batch's metadata record: the metadata settings the run applies to every output.
// 79 text fields named by group (camera, dates, camera settings, lens, resolution, GPS,
// IPTC, XMP), an editing option and clear flags. A text field may be absent (a null
// QString), which every rule treats as empty; the archive keeps the difference.
//
// The run turns the record and each photo's own image properties into the properties
// written with the output (metadataDictFromObject, in records/OutputProperties.cpp).
#include <QDateTime>
#include <QString>
#include <QVariantMap>
#include <memory>
#include <vector>

namespace platform {
class KeyedEncoder;
class KeyedDecoder;
}  // namespace platform

struct MetaDataObject {
    static constexpr const char* kArchiveClassName = "MetaDataObject";

    // editingOption values; every other value applies as ApplyAll does.
    enum EditingOption : int { ApplyAll = 0, ApplyKeepOnlyUpdated = 1, Clear = 2 };

    // The text fields, in the order of the record (and of its archive).
    QString Artist, ImageDescription, Copyright, Software, UserComment, Cam_Make, Cam_ModelName;
    QString Cam_OwnerName, Cam_SerialNumber, Date_Original, Date_Creation, Date_Modify;
    QString CamSetting_ISO, CamSetting_FNumber, CamSetting_Aperture, CamSetting_ShutterSpeed;
    QString CamSetting_FocalLength, CamSetting_FocalLengthIn35mmFormat;
    QString CamSetting_ExposureCompensation, CamSetting_Flash, CamSetting_Orientation;
    QString AdvCamSetting_ColorSpace, AdvCamSetting_ComponentsConfiguration;
    QString AdvCamSetting_ExposureMode, AdvCamSetting_ExposureProgram, AdvCamSetting_ExposureTime;
    QString AdvCamSetting_MateringMode, AdvCamSetting_SceneCaptureType, AdvCamSetting_WhiteBalance;
    QString AdvCamSetting_Saturation, AdvCamSetting_SensingMethod, AdvCamSetting_Sharpness;
    QString AdvCamSetting_SubjectDistanceRange, Lens_LensMake, Lens_Lens, Lens_LensModel;
    QString Lens_LensSerialNumber, DimResolution_ExifImageWidth, DimResolution_ExifImageHeight;
    QString DimResolution_XResolution, DimResolution_YResolution, DimResolution_ResolutionUnit;
    QString GPS_Lattitude, GPS_LattitudeRef, GPS_Longitude, GPS_LongitudeRef, GPS_Altitude;
    QString GPS_AltitudeRef, GPS_ImgDirection, GPS_ImgDirectionRef, GPS_DateStamp, IPTC_ByLine;
    QString IPTC_ByLineTitle, IPTC_CopyrightNotice, IPTC_Contact, IPTC_Headline;
    QString IPTC_CaptionAbstract, IPTC_WriterEditor, IPTC_ObjectName, IPTC_Category;
    QString IPTC_SupplementalCategories, IPTC_DateCreated, IPTC_Keywords, IPTC_SubLocation;
    QString IPTC_City, IPTC_ProvinceState, IPTC_CountryPrimaryLocationName;
    QString IPTC_CountryPrimaryLocationCode, IPTC_OriginalTransmissionRef;
    QString IPTC_SpecialInstructions, IPTC_Credit, IPTC_Source, XMP_SerialNumber, XMP_Lens;
    QString XMP_CreationDate, XMP_ModifyDate, XMP_Latitude, XMP_Longitude;
    QString XMP_PhotoshopDateCreated;

    qint32 editingOption = 0;
    bool clearComment = false;
    bool clearExif = false;
    bool clearIPTC = false;
    bool clearGpsInfo = false;
    // Set by the screens when the batch changes; neither archived nor copied.
    bool isReset = false;
    // Set on the record restored from the last session; neither archived nor copied.
    bool isLoadedFromLastSession = false;

    // A record whose 79 texts are empty (not absent), editing option 0, flags false.
    MetaDataObject();
    // Sets the 79 texts to the empty text; the option and the flags keep their values.
    void commmonInit();
    // The texts, the editing option and the four clear flags of another record.
    static std::shared_ptr<MetaDataObject> initWithObject(const MetaDataObject& other);
    // Filled from an image-properties dictionary (resetAllWithDict).
    static std::shared_ptr<MetaDataObject> initWithDict(const QVariantMap& properties);
    // Filled from a file's image properties.
    static std::shared_ptr<MetaDataObject> initWithFile(const QString& path);

    // Fills the texts from an image-properties dictionary: each group present in it sets
    // the fields that read from that group; an empty dictionary changes nothing.
    void resetAllWithDict(const QVariantMap& properties);

    void encodeWithCoder(platform::KeyedEncoder& coder) const;
    void initWithCoder(platform::KeyedDecoder& coder);

    // The image-properties dictionary written with an output: the photo's own properties
    // `oldDict` changed by `record` as the editing option of `current` says (apply,
    // apply and keep only the fields `updatedFields` names, or clear by the clear flags
    // of `current`). `current` and `updatedFields` are the application's two records; the
    // run passes the ones of its snapshot.
    static QVariantMap metadataDictFromObject(const MetaDataObject& record, const QVariantMap& oldDict,
                                              const MetaDataObject& current, const MetaDataObject& updatedFields);
    // The same with the application's current records (main thread).
    static QVariantMap metadataDictFromObject(const MetaDataObject& record, const QVariantMap& oldDict);

    // Date texts of the metadata use the 24-hour form "yyyy:MM:dd HH:mm:ss", read in the
    // local time zone; anything else gives an invalid date.
    static QDateTime dateFromMetadataText(const QString& text);
    static QString metadataTextFromDate(const QDateTime& date);

    // The 79 fields as (name, member) pairs in record order, for code that walks them.
    struct TextField {
        const char* name;
        QString MetaDataObject::*member;
    };
    static const std::vector<TextField>& textFields();
};
