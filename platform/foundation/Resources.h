#pragma once
// Where the application's resource files live (the string table, the plists and the
// pictures). Looked up in order: $BRISKO_RESOURCES, <exe>/../share/BriskoPhotos/resources,
// <exe>/../resources, <exe>/resources.
#include <QString>

namespace platform {

QString resourceDirectory();
// Full path of a resource by file name ("BriskoPhotos_EN.plist"); empty when missing.
QString resourcePath(const QString& fileName);
// Overrides the folder (tests).
void setResourceDirectory(const QString& dir);

}  // namespace platform
