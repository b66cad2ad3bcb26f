#include "records/CommonFunc.h"

#include "platform/foundation/Dates.h"
#include "platform/foundation/FileAttributes.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Numbers.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/Resources.h"
#include "platform/foundation/Values.h"
#include "records/AppDelegate.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>
#include <cmath>
#include <utility>

namespace {
const QString kStringTableFile = QStringLiteral("BriskoPhotos_EN.plist");
const QString kIntegerToken = QStringLiteral("DONOT_TRANSLATE_INTEGER_VALUE");
const QString kStringToken = QStringLiteral("DONOT_TRANSLATE_STRING_VALUE");
}  // namespace

// ---- string table ----

namespace {
// The table as it is now, loading it first when it is still empty. Look-ups come from
// worker threads too, so the load happens under the table's lock, and a table file that
// cannot be read is read once, not again at every look-up.
QVariantMap languageTable() {
    AppDelegate& app = AppDelegate::shared();
    std::lock_guard<std::mutex> lock(app.dictLanguageMutex);
    if (app.dictLanguage.isEmpty()) {
        const QString path = platform::resourcePath(kStringTableFile);
        if (!path.isEmpty() && path != app.dictLanguageUnreadablePath) {
            QVariantMap table = platform::readPlistFile(path).toMap();
            if (table.isEmpty()) {
                app.dictLanguageUnreadablePath = path;
                platform::log(u"string table %@ cannot be read; texts show as (null)", path);
            } else {
                app.dictLanguage = std::move(table);
            }
        }
    }
    return app.dictLanguage;
}
}  // namespace

void CommonFunc::loadLanguageDict() { languageTable(); }

QString CommonFunc::getLocalizedStringForKey(const QString& key) {
    const QVariantMap table = languageTable();
    const auto it = table.constFind(key);
    if (it == table.constEnd() || !it->isValid()) return QStringLiteral("(null)");
    QString text = it->typeId() == QMetaType::QString ? it->toString() : platform::describe(*it);
    text.replace(kIntegerToken, QStringLiteral("%d"));
    text.replace(kStringToken, QStringLiteral("%@"));
    return text;
}

QString CommonFunc::getLocalizedStringForKey(const QString& key, const QVariantList& args) {
    return fillPlaceholders(getLocalizedStringForKey(key), args);
}

QString CommonFunc::fillPlaceholders(const QString& text, const QVariantList& args) {
    QString out;
    out.reserve(text.size());
    qsizetype next = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'%' || i + 1 >= text.size()) {
            out.append(c);
            continue;
        }
        const QChar k = text[i + 1];
        if (k == u'%') {
            out.append(u'%');
            ++i;
        } else if ((k == u'@' || k == u'd') && next < args.size()) {
            const QVariant& v = args[next++];
            if (k == u'd')
                out.append(QString::number(v.toLongLong()));
            else
                out.append(platform::describe(v));
            ++i;
        } else {
            out.append(c);  // anything else is plain text
        }
    }
    return out;
}

// ---- sizes ----

QString CommonFunc::unitStringFromBytes(double bytes, int /*flags*/) {
    static const char* const kUnits[] = {"bytes", "KB", "MB", "GB", "TB"};
    constexpr int kLastUnit = 4;
    // A whole number of bytes is cut in integers: in floating point, 1,229,999,999 / 10^9
    // times 100 lands on 123 exactly and the cut would round up to 1.23 GB.
    if (bytes >= 0 && bytes < 9.0e18 && std::floor(bytes) == bytes) {
        const auto whole = static_cast<unsigned long long>(bytes);
        int u = 0;
        unsigned long long unit = 1;
        // Past the last unit the number grows instead of the unit.
        while (u < kLastUnit && whole / unit >= 1000) {
            unit *= 1000;
            ++u;
        }
        if (whole == 0) return platform::format(u"0 %@", kUnits[u]);
        unsigned long long hundredths =
            static_cast<unsigned long long>(static_cast<unsigned __int128>(whole) * 100 / unit);
        if (hundredths > 99300 && u < kLastUnit) {
            hundredths = 97;
            ++u;
        }
        if (u == 0) return platform::format(u"%@ %@", hundredths / 100, kUnits[u]);
        return platform::format(u"%@.%02d %@", hundredths / 100, int(hundredths % 100), kUnits[u]);
    }
    double x = bytes;
    int u = 0;
    while (x >= 1000.0 && u < kLastUnit) {
        x /= 1000.0;
        ++u;
    }
    if (x == 0.0) return platform::format(u"0 %@", kUnits[u]);
    // Cut (not round) to two decimals. The small allowance keeps sizes such as 4100.5
    // bytes at 4.10 KB where the division lands a hair below the exact value.
    x = std::floor(x * 100.0 * (1.0 + 1e-12)) / 100.0;
    if (x > 993.0 && u < kLastUnit) {
        x = 0.97;
        ++u;
    }
    const QString text = u == 0 ? platform::format(u"%4.0f %@", x, kUnits[u])
                                : platform::format(u"%4.2f %@", x, kUnits[u]);
    return text.trimmed();
}

QString CommonFunc::getSizeInUnits(const QVariant& bytes) {
    return unitStringFromBytes(platform::numberValue(bytes, bytes.toDouble()), 0);
}

// ---- dates ----

QDateTime CommonFunc::getDateFromString(const QString& exifDate) {
    if (exifDate.isEmpty()) return {};
    return platform::parseDate(exifDate, QStringLiteral("yyyy:MM:dd HH:mm:ss"));
}

QString CommonFunc::getDateTimeStringFromDate(const QDateTime& date) {
    if (!date.isValid()) return {};
    return platform::formatDate(date, QStringLiteral("MMM dd, yyyy hh:mm:ss a"));
}

QString CommonFunc::getStringFromDate(const QDateTime& date) {
    return platform::formatDate(date, QStringLiteral("MMM dd, yyyy"));
}

QDateTime CommonFunc::getDateFromString1(const QString& text) {
    return platform::parseDate(text, QStringLiteral("MM/dd/yyyy hh:mm:ss"));
}

QDateTime CommonFunc::getDateFromString(const QString& text, const QString& format) {
    return platform::parseDate(text, format);
}

QString CommonFunc::getDateStringFromDate(const QDateTime& date, const QString& format) {
    return platform::formatDate(date, format);
}

QStringList CommonFunc::dateStampOptions() {
    return {QStringLiteral("Original Date & Time"), QStringLiteral("Original Date"),
            QStringLiteral("Current Date & Time"), QStringLiteral("Current Date")};
}

QString CommonFunc::getDateTimeStringForImageUrl(const QString& path, const QString& dateOption,
                                                 const QString& dateFormat,
                                                 const QString& timeFormat) {
    int option = int(dateStampOptions().indexOf(dateOption));
    if (option < 0) option = 0;
    QString datePattern = dateFormat;
    datePattern.replace(u'D', u'd').replace(u'Y', u'y');
    const QString timePattern =
        timeFormat == u"AM/PM" ? QStringLiteral("hh:mm a") : QStringLiteral("HH:mm");
    QDateTime date = QDateTime::currentDateTime();
    if (option == 0 || option == 1) {
        const platform::FileAttributes a = platform::fileAttributes(path);
        if (a.exists) {
            if (!a.creationDate.isValid()) return {};
            date = a.creationDate;
        }
    }
    const QString pattern = (option == 1 || option == 3)
                                ? datePattern
                                : platform::format(u"%@ %@", datePattern, timePattern);
    return platform::formatDate(date, pattern);
}

QString CommonFunc::getDateInFormatNEW(const QDateTime& date) {
    const QDateTime local = date.toLocalTime();
    const QDate d = local.date();
    const QTime t = local.time();
    return platform::format(u"%04d%02d%02dT%02d%02d", d.year(), d.month(), d.day(), t.hour(),
                            t.minute());
}

qint64 CommonFunc::getDurationBetweenDate(const QDateTime& start, const QDateTime& end) {
    if (!start.isValid() || !end.isValid()) return 0;
    return (end.toMSecsSinceEpoch() - start.toMSecsSinceEpoch()) / 1000;  // toward zero
}

// ---- checks and texts ----

bool CommonFunc::validateEmail(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("\\A.+@([A-Za-z0-9-]+\\.)+[A-Za-z]{2}[A-Za-z]*\\z"));
    return re.match(text).hasMatch();
}

QString CommonFunc::getJSONFromDict(const QVariantMap& dict) {
    QStringList members;
    for (auto it = dict.constBegin(); it != dict.constEnd(); ++it) {
        const QVariant& v = it.value();
        QString value;
        switch (platform::numberKind(v)) {
        case platform::NumberKind::Boolean: value = v.toBool() ? u"1"_qs : u"0"_qs; break;
        case platform::NumberKind::Integer: value = QString::number(v.toLongLong()); break;
        case platform::NumberKind::Real: value = platform::stringFromDouble(v.toDouble()); break;
        default: value = u'"' + platform::describe(v) + u'"'; break;
        }
        members.append(QStringLiteral("\"") + it.key() + QStringLiteral("\":") + value);
    }
    return u'{' + members.join(u',') + u'}';
}

QString CommonFunc::getFileMD5(const QString& path) {
    return getFileMD5UsingStreamWithAbortFlag(path, nullptr);
}

CommonFunc::MD5Result CommonFunc::FileMD5HashCreateWithPath(const QString& path, qint64 chunkSize,
                                                          const std::atomic<bool>* abortFlag) {
    MD5Result result;
    QFile f;
    if (!platform::openFile(f, path) || chunkSize <= 0) return result;
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray buffer(chunkSize, Qt::Uninitialized);
    for (;;) {
        if (abortFlag && abortFlag->load()) {
            result.aborted = true;
            return result;
        }
        const qint64 n = f.read(buffer.data(), chunkSize);
        if (n < 0) return result;
        if (n == 0) break;
        hash.addData(QByteArrayView(buffer.constData(), n));
    }
    result.hex = QString::fromLatin1(hash.result().toHex());
    return result;
}

QString CommonFunc::getFileMD5UsingStreamWithAbortFlag(const QString& path,
                                                       const std::atomic<bool>* abortFlag) {
    const MD5Result r = FileMD5HashCreateWithPath(path, kMD5ChunkSize, abortFlag);
    if (r.aborted) {
        platform::log(u"abortFlag true!!");
        platform::log(u"Aborted!!");
        return {};
    }
    if (r.hex.isEmpty()) platform::log(u"############# MD5 coming NIL for file: %@ #############", path);
    return r.hex;
}
