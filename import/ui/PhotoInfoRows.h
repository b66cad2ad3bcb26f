#pragma once
// The 35 rows of a photo's info pop-up: file facts, camera and exposure facts and the GPS
// position, each a localised label and a value text ("---" for a missing value).
#include <QList>
#include <QString>

struct ImageFileInfo;

namespace photoinfo {

struct MetaDataRow {
    QString title;
    QString value;
};
inline const QString kMissing = QStringLiteral("---");

// Appends one row; a missing value reads "---".
void createArrayToUpdateMetaData(QList<MetaDataRow>& rows, const QString& title, const QString& value);
// Rebuilds the rows from the record; a record without metadata reads it first.
QList<MetaDataRow> createArrayToUpdateMetaDataWithNode(ImageFileInfo& info);
// "48° 51' 30'' N": the angle's whole seconds split into degrees, minutes and seconds,
// its sign dropped (the reference names the hemisphere); "---" without a reference or for
// an angle no position has (beyond 180 degrees either way, or not a number).
QString getPositioninlatitudelongitude(double angle, const QString& reference);

}  // namespace photoinfo
