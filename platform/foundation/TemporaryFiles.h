#pragma once
// Temporary files the program makes beside what it writes are named
// ".brisko-part-<mark>-XXXXXX": short, whatever the length of the final name, and
// recognisable. The mark says whose they are: the run whose record made them (a word that
// starts with a letter, see platform::RunRecord), or the id of the process that made them
// without one, as earlier versions of the program marked every file. Only files whose maker
// is known to have ended are ever removed.
#include <QByteArray>
#include <QString>
#include <functional>

namespace platform {

// A template for QTemporaryFile or mkstemp in `folder` ("XXXXXX" at its end), marked with
// `mark`, or with this process's id when it is empty.
QString temporaryFileTemplate(const QString& folder, const QByteArray& mark = {});

// Removes from `folder` the temporary files of makers that have ended, including those that
// encoders and metadata writers made from such a name (more dots in front, more after):
// files marked by a run that `ended` says has ended, and files marked with the id of a
// process that no longer exists. Returns how many went.
int removeStaleTemporaries(const QString& folder, const std::function<bool(const QByteArray& mark)>& ended = {});

}  // namespace platform
