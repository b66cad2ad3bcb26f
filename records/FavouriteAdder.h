#pragma once
// Keeps the batch's effect steps as a named favourite. The name is checked first (not
// empty once blanks are removed, not only punctuation, not already stored in any letter
// case); the favourite gets copies of the steps without their result thumbnails, so the
// batch on screen keeps its own.
#include <QDateTime>
#include <QList>
#include <QString>
#include <memory>

#include "platform/foundation/UserDefaults.h"

struct AppliedFilter;

namespace favouriteadder {

inline const QString EmptyName = QStringLiteral("* Favorite name cannot be empty.");
inline const QString InvalidName = QStringLiteral("* Invalid Favorite name.");
inline const QString DuplicateName =
    QStringLiteral("* Favorite with same name already exists. Please choose different name.");
// "%@" is "s" for two or more steps.
inline const QString Added = QStringLiteral("* Batch Step%@ added to Favorites successfully.");

// The 30 characters that alone do not make a name.
inline const QString kSpecialCharacters = QStringLiteral("!~`@#$%^&*-+();:={}[],.<>?\\/\"'");

// True when the text is empty or made only of the special characters.
bool isStingContainsOnlySpecialChars(const QString& text);

struct Outcome {
    bool added = false;
    QString message;  // shown under the name field: red when not added, white when added
};

// Checks the typed name and, when it passes, stores the favourite under "FAV_BATCHES"
// and posts "notificationNewFavBatchAdded".
Outcome addFavourite(const QString& typedName, const QList<std::shared_ptr<AppliedFilter>>& steps,
                     const QDateTime& now = QDateTime::currentDateTime(),
                     platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults());

}  // namespace favouriteadder
