#pragma once
// Temporary files the program makes beside what it writes are named
// ".brisko-part-<process id>-XXXXXX": short, whatever the length of the final name, and
// recognisable, so that the files a killed run left behind can be told from those of a run
// still going and from the user's own.
#include <QString>

namespace platform {

// A template for QTemporaryFile or mkstemp in `folder` ("XXXXXX" at its end).
QString temporaryFileTemplate(const QString& folder);

// Removes from `folder` the temporary files of runs that have ended (their process no
// longer exists), including those that encoders and metadata writers made from such a
// name (more dots in front, more after). Returns how many went.
int removeStaleTemporaries(const QString& folder);

}  // namespace platform
