#include "ui/OpenFailure.h"

#include "platform/foundation/NativeNames.h"
#include "platform/foundation/Paths.h"


namespace openfailure {

Text textFor(Request request, const QString& what) {
    // Paths are shown as people read them, a byte of a name that is not UTF-8 as \xNN.
    const QString shown = request == Request::StorePage ? what : platform::displayPath(what);
    const QString last = platform::lastPathComponent(shown);
    const QString name = request == Request::StorePage || last.isEmpty() ? shown : last;
    switch (request) {
    case Request::Open:
        return {QStringLiteral("CANNOT OPEN"),
                QStringLiteral("No program was found to open \u201c%1\u201d.\n%2").arg(name, shown)};
    case Request::Reveal:
        return {QStringLiteral("CANNOT SHOW IN FILE MANAGER"),
                QStringLiteral("No file manager was found to show \u201c%1\u201d.\n%2").arg(name, shown)};
    case Request::Info:
        return {QStringLiteral("CANNOT SHOW INFO"),
                QStringLiteral("No file manager was found to show the information of \u201c%1\u201d.\n%2").arg(name, shown)};
    case Request::StorePage:
        return {QStringLiteral("CANNOT OPEN"),
                QStringLiteral("No software centre was found to show the page of Brisko Photos (%1).").arg(what)};
    }
    return {};
}

}  // namespace openfailure
