#include "batch/RenameScheme.h"

#include "platform/foundation/Paths.h"
#include "records/BatchRenameSetting.h"
#include "records/ExifInfo.h"
#include "records/OutputOptionSettings.h"
#include "records/PhotoFile.h"

#include <QStandardPaths>
#include <QVariantMap>
#include <algorithm>

namespace {

QString key(const char* k) { return QString::fromLatin1(k); }

bool ruleOn(const QVariantMap& rule) { return rule.value(key(RenameScheme::kState)).toBool(); }

int intOf(const QVariantMap& rule, const char* k) { return rule.value(key(k)).toInt(); }

QString textOf(const QVariantMap& rule, const char* k) { return rule.value(key(k)).toString(); }

// Inserts text at a character index; an index past the end counts as the end.
QString insertAt(const QString& name, qsizetype position, const QString& text) {
    QString out = name;
    out.insert(std::min(position, name.size()), text);
    return out;
}

QString titleCase(const QString& name) {
    QString out = name.toLower();
    bool atWordStart = true;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const QChar c = out.at(i);
        if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r') {
            atWordStart = true;
        } else if (atWordStart) {
            out[i] = c.toUpper();
            atWordStart = false;
        }
    }
    return out;
}

QString baseNameOf(const PhotoFile& photo) { return platform::stringByDeletingPathExtension(photo.fileName); }

}  // namespace

RenameScheme::RenameScheme(std::shared_ptr<const BatchRenameSetting> renameSettings,
                           std::shared_ptr<const OutputOptionSettings> outputSettings, QStringList fileFormats)
    : rename_(std::move(renameSettings)), output_(std::move(outputSettings)), formats_(std::move(fileFormats)) {}

QString RenameScheme::outputExtension(const PhotoFile& photo, int outputFormat, const QStringList& fileFormats) {
    if (outputFormat != outputformat::KeepOriginal)
        return outputFormat > 0 && outputFormat < fileFormats.size() ? fileFormats.at(outputFormat)
                                                                     : QStringLiteral("png");
    QString ext = photo.fileExtension;
    if (ext.compare(u"tiff", Qt::CaseInsensitive) == 0) ext = QStringLiteral("tif");
    for (const QString& entry : fileFormats) {
        if (entry.compare(ext, Qt::CaseInsensitive) == 0) return ext;
    }
    return QStringLiteral("png");
}

RenameScheme::SaveChoice RenameScheme::saveChoice(const PhotoFile& photo, int outputFormat,
                                                  const QStringList& fileFormats) {
    QString ext;
    if (outputFormat == outputformat::KeepOriginal) {
        ext = photo.fileExtension.toLower();
    } else if (outputFormat > 0 && outputFormat < fileFormats.size()) {
        ext = fileFormats.at(outputFormat);
    }
    if (ext.compare(u"tiff", Qt::CaseInsensitive) == 0) ext = QStringLiteral("tif");
    ext = ext.toLower();
    // The extensions the writer has an encoder for, and the file each gets.
    static const struct {
        const char* extension;
        platform::ImageType type;
    } kEncoders[] = {
        {"tif", platform::ImageType::TIFF}, {"bmp", platform::ImageType::BMP},  {"gif", platform::ImageType::GIF},
        {"jpg", platform::ImageType::JPEG}, {"jpeg", platform::ImageType::JPEG}, {"png", platform::ImageType::PNG},
        {"jp2", platform::ImageType::JPEG2000},
    };
    for (const auto& encoder : kEncoders)
        if (ext == QLatin1String(encoder.extension)) return {ext, encoder.type};
    return {ext, platform::ImageType::PNG};
}

QString RenameScheme::datePatternForFormat(int format) {
    // Calendar year ("yyyy"): the week-based year would name photos of the last days of
    // December with the next year.
    static const char* const dates[] = {"ddMMyyyy", "dd-MM-yyyy", "MM-dd-yyyy"};
    if (format < 0 || format > 8) return {};
    QString pattern = QString::fromLatin1(dates[format / 3]);
    switch (format % 3) {
    case 1: pattern += QStringLiteral(" hh:mm"); break;
    case 2: pattern += QStringLiteral(" hh:mm:s"); break;
    default: break;
    }
    return pattern;
}

QString RenameScheme::dateStamp(const PhotoFile& photo) const {
    const QVariantMap& rule = rename_->dictDateTimeStamp;
    const int type = intOf(rule, kType);
    if (type == 3) return textOf(rule, kCustom);
    QDateTime date;
    switch (type) {
    case 2: date = now_.isValid() ? now_ : QDateTime::currentDateTime(); break;
    case 1: date = photo.fileModifiedDate; break;
    case 0:
        if (captureDate_) {
            date = captureDate_(photo.filePath);
        } else if (auto info = ExifInfo::initWithFile(photo.filePath)) {
            date = info->captureDate;
        }
        if (!date.isValid()) date = photo.fileCreationDate;
        break;
    default: return {};
    }
    const QString pattern = datePatternForFormat(intOf(rule, kFormat));
    if (pattern.isEmpty() || !date.isValid()) return {};
    if (dateFormatter_) return dateFormatter_(date, pattern);
    if (!stampFormatter_ || stampFormatter_->pattern() != pattern)
        stampFormatter_ = std::make_unique<platform::DateFormatter>(pattern);
    return stampFormatter_->format(date);
}

QString RenameScheme::getUpdatedRenameStringForPhotoFile(const PhotoFile& photo, int index) const {
    const int outputFormat = BatchRenameSetting::outputFormatOf(rename_.get());
    const QString ext = outputExtension(photo, outputFormat, formats_);
    if (!rename_ || rename_->flagRenamingMode.value_or(0) == 0) return baseNameOf(photo) + u'.' + ext;

    const BatchRenameSetting& s = *rename_;
    // 1. base name
    QString name = ruleOn(s.dictReplaceFileName) ? textOf(s.dictReplaceFileName, kNewName) : baseNameOf(photo);

    // 2. date and time stamp
    if (ruleOn(s.dictDateTimeStamp)) {
        const QString stamp = dateStamp(photo);
        name = intOf(s.dictDateTimeStamp, kAs) == 0 ? stamp + name : name + stamp;
    }

    // 3. folder name
    if (ruleOn(s.dictAppendFolderName)) {
        const QString folder =
            platform::lastPathComponent(platform::stringByDeletingLastPathComponent(photo.filePath));
        name = intOf(s.dictAppendFolderName, kAs) == 0 ? folder + name : name + folder;
    }

    // 4. prefix, suffix, insertion
    if (ruleOn(s.dictAddString)) {
        const QString prefix = textOf(s.dictAddString, kPrefix);
        const QString suffix = textOf(s.dictAddString, kSuffix);
        const QString insert = textOf(s.dictAddString, kInsert);
        if (!prefix.isEmpty()) name = prefix + name;
        if (!suffix.isEmpty()) name = name + suffix;
        if (!insert.isEmpty()) name = insertAt(name, std::max(0, intOf(s.dictAddString, kAtPosition)), insert);
    }

    // 5. digits
    if (ruleOn(s.dictAddDigit)) {
        const qint64 number =
            qint64(intOf(s.dictAddDigit, kIncrement)) * index + intOf(s.dictAddDigit, kStartingIndex);
        const QString digits = QString::number(number);
        switch (intOf(s.dictAddDigit, kAs)) {
        case 0: name = digits + name; break;
        case 1: name = name + digits; break;
        case 2: {
            const int position = intOf(s.dictAddDigit, kAtPosition);
            if (position >= 0) name = insertAt(name, position, digits);
            break;
        }
        default: break;
        }
    }

    // 6. removals
    if (ruleOn(s.dictRemove)) {
        const QVariantMap& r = s.dictRemove;
        qsizetype k = std::clamp<qsizetype>(intOf(r, kFirstN), 0, name.size());
        name.remove(0, k);
        k = std::clamp<qsizetype>(intOf(r, kLastN), 0, name.size());
        name.chop(k);
        const int from = intOf(r, kFrom);
        const int to = intOf(r, kTo);
        const qsizetype start = std::min<qsizetype>(std::max(0, std::min(from, to)), name.size());
        const qsizetype end = std::min<qsizetype>(std::max(0, to), name.size());
        if (start < end) name.remove(start, end - start);
        const QString chars = textOf(r, kChars);
        if (!chars.isEmpty()) {
            QString kept;
            for (const QChar c : name) {
                if (!chars.contains(c)) kept += c;
            }
            name = kept;
        }
        const QString words = textOf(r, kWords);
        if (!words.isEmpty()) name.remove(words);
    }

    // 7. case of the name
    if (ruleOn(s.dictChangeCaseFileName)) {
        switch (intOf(s.dictChangeCaseFileName, kCaseMode)) {
        case 0: name = name.toUpper(); break;
        case 1: name = name.toLower(); break;
        case 2: name = titleCase(name); break;
        default: break;
        }
    }

    // 8. case of the extension
    const QString finalExt = ruleOn(s.dictUseLowerCaseForFileExtension) ? ext.toLower() : ext.toUpper();
    return name + u'.' + finalExt;
}

QString RenameScheme::getUpdatedOutputPathStringForPhotoFile(const PhotoFile& photo) const {
    if (!output_ || !output_->useSourceFolder.value_or(false)) return output_ ? output_->outputFolderPath : QString();
    if (photo.isIphotosNode) {
        const QString desktop =
            desktop_.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) : desktop_;
        return platform::stringByAppendingPathComponent(desktop, key(kLibraryOutputFolderName));
    }
    return platform::stringByDeletingLastPathComponent(photo.filePath);
}

QString RenameScheme::plannedPathForPhotoFile(const PhotoFile& photo, int index) const {
    return getUpdatedOutputPathStringForPhotoFile(photo) + u'/' + getUpdatedRenameStringForPhotoFile(photo, index);
}
