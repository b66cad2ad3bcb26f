#include "import/ui/FileDropGate.h"

#include <QDropEvent>
#include <QWidget>

#include "import/PhotoSources.h"

FileDropGate::FileDropGate(QWidget* viewport, Accepts accepts, Drop drop)
    : QObject(viewport), accepts_(std::move(accepts)), drop_(std::move(drop)) {
    viewport->setAcceptDrops(true);
    viewport->installEventFilter(this);
}

bool FileDropGate::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* e = static_cast<QDragMoveEvent*>(event);
        if (accepts_(intake::pathsFromUriList(e->mimeData()))) {
            e->setDropAction(Qt::CopyAction);
            e->accept();
        } else {
            e->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto* e = static_cast<QDropEvent*>(event);
        const QStringList paths = intake::pathsFromUriList(e->mimeData());
        if (accepts_(paths)) {
            e->setDropAction(Qt::CopyAction);
            e->accept();
            drop_(paths);
        } else {
            e->ignore();
        }
        return true;
    }
    default: return QObject::eventFilter(watched, event);
    }
}
