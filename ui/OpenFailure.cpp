#include "ui/OpenFailure.h"

#include <QFileInfo>

namespace openfailure {

Text textFor(Request request, const QString& what) {
    const QString name = request == Request::StorePage ? what : QFileInfo(what).fileName().isEmpty() ? what : QFileInfo(what).fileName();
    switch (request) {
    case Request::Open:
        return {QStringLiteral("CANNOT OPEN"),
                QStringLiteral("No program was found to open \u201c%1\u201d.\n%2").arg(name, what)};
    case Request::Reveal:
        return {QStringLiteral("CANNOT SHOW IN FILE MANAGER"),
                QStringLiteral("No file manager was found to show \u201c%1\u201d.\n%2").arg(name, what)};
    case Request::Info:
        return {QStringLiteral("CANNOT SHOW INFO"),
                QStringLiteral("No file manager was found to show the information of \u201c%1\u201d.\n%2").arg(name, what)};
    case Request::StorePage:
        return {QStringLiteral("CANNOT OPEN"),
                QStringLiteral("No software centre was found to show the page of Brisko Photos (%1).").arg(what)};
    }
    return {};
}

}  // namespace openfailure
