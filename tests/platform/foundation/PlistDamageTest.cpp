#include <gtest/gtest.h>

#include "platform/foundation/Plist.h"

// A damaged file can carry a string with an embedded NUL; reading it must not abort.
TEST(PlistDamage, StringWithEmbeddedNulDoesNotAbort) {
    const QString withNul = QStringLiteral("ab") + QChar(0) + QStringLiteral("cd");
    const QByteArray bin = platform::plistToData(QVariantMap{{QStringLiteral("k"), withNul}}, platform::PlistFormat::Binary);
    const QVariant back = platform::plistFromData(bin);
    EXPECT_TRUE(back.toMap().value(QStringLiteral("k")).toString().startsWith(QStringLiteral("ab")));
}
