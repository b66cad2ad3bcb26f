#pragma once
// The add-photos screen's one alert sheet without its widgets: for each kind of question
// or notice, its texts, which of the four buttons it shows and how they read, the button
// Return presses, and what Escape means. The screen shows what these describe.
#include <QString>

#include "import/IntakeRules.h"

namespace addphotosalerts {

enum class Kind { None, Info, NotAvailable, RemoveSelected, RemoveAll, LastSession };
enum class Button { Remove, No, Yes, Ok };

struct Sheet {
    Kind kind = Kind::None;
    QString title, message;
    bool remove = false, no = false, yes = false, ok = false;  // the buttons shown
    QString noText, yesText;
    Button preferred = Button::Ok;  // Return presses it; it has the keyboard when the sheet opens
};

// A notice with its OK button.
Sheet info(const intake::IntakeAlert& alert);
// A photo of the batch that cannot be used: gone from its folder, or there and unreadable.
Sheet notAvailable(bool fileExists);
// The confirmation for removing `selected` photos; with none, the notice that none is selected.
Sheet removeSelected(int selected);
// The confirmation for removing the whole batch of `count` photos.
Sheet removeAll(int count);
// The offer to load the last session.
Sheet lastSession();
// Every photo of a batch of `count` is gone from its folder.
intake::IntakeAlert allDeleted(int count);

// What Escape answers: the button it stands for, or nothing (the sheet is only put away,
// as the last-session question is: neither loaded nor forgotten).
bool escapeAnswers(Kind kind, Button* button);

}  // namespace addphotosalerts
