#pragma once
// The add-photos screen's named pictures. The names stay those the screen's code speaks
// of ("place_holder.png", "not_av_big.png", ...); the picture is drawn here, and carries
// its name as the text "name" so a test or a tile can tell which picture is shown.
#include <QImage>
#include <QString>

namespace screenimages {

inline const QString kPlaceHolder = QStringLiteral("place_holder.png");
inline const QString kNotAvailableBig = QStringLiteral("not_av_big.png");
inline const QString kNotAvailableSmall = QStringLiteral("not_av_small.png");
inline const QString kCheckedSquare = QStringLiteral("checked_sq_icon.png");
inline const QString kUnchecked = QStringLiteral("unchecked_icon.png");
inline const QString kTileCheck = QStringLiteral("checked_icon_2.png");
inline const QString kCheck = QStringLiteral("check.png");
inline const QString kUncheck = QStringLiteral("uncheck.png");

QImage named(const QString& name);
// The name a picture from named() carries; "" for any other picture.
QString nameOf(const QImage& image);

}  // namespace screenimages
