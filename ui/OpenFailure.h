#pragma once
// What the screens say when the desktop found nothing to take a request to open a file, a
// folder or a web page: the user would otherwise click and see nothing happen.
#include <QString>

namespace openfailure {

enum class Request { Open, Reveal, Info, StorePage };

struct Text {
    QString title;
    QString message;
};
// `what` is the path (or the address) that could not be opened.
Text textFor(Request request, const QString& what);

}  // namespace openfailure
