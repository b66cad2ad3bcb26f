#pragma once
// Files dragged over a view of the batch: the drag is taken (the copy cursor shows) only
// when the drop will use what it carries, and the drop hands the paths on. Installed on a
// view's viewport, it answers every drag and drop event there, so the view's own handling
// never takes a drop the screen would then ignore.
#include <QObject>
#include <QStringList>
#include <functional>

class QWidget;

class FileDropGate : public QObject {
public:
    using Accepts = std::function<bool(const QStringList& paths)>;
    using Drop = std::function<void(const QStringList& paths)>;
    FileDropGate(QWidget* viewport, Accepts accepts, Drop drop);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Accepts accepts_;
    Drop drop_;
};
