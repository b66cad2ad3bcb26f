#include <gtest/gtest.h>

#include "platform/foundation/Plist.h"

// A damaged file can carry a string with an embedded NUL; reading it must not abort.
TEST(PlistDamage, StringWithEmbeddedNulIsReadWhole) {
    const QString withNul = QStringLiteral("ab") + QChar(0) + QStringLiteral("cd");
    const QByteArray bin = platform::plistToData(QVariantMap{{QStringLiteral("k"), withNul}}, platform::PlistFormat::Binary);
    const QVariant back = platform::plistFromData(bin);
    EXPECT_EQ(back.toMap().value(QStringLiteral("k")).toString().size(), 5);
}
