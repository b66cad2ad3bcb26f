#include "import/ui/AddPhotosVC.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "records/AppDelegate.h"

AddPhotosVC::AddPhotosVC(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("AddPhotosVC"));
    auto* layout = new QVBoxLayout(this);
    auto* drop = new QLabel(tr("Drag and drop photos here"), this);
    drop->setObjectName(QStringLiteral("dropArea"));
    drop->setAlignment(Qt::AlignCenter);
    drop->setMinimumSize(300, 200);
    drop->setStyleSheet(QStringLiteral("QLabel#dropArea { border: 2px dashed #1bac8f; border-radius: 12px; color: #666; }"));
    layout->addWidget(drop, 1);
    auto* bar = new QHBoxLayout;
    bar->addStretch(1);
    next_ = new QPushButton(tr("Next"), this);
    bar->addWidget(next_);
    layout->addLayout(bar);
    connect(next_, &QPushButton::clicked, this, [this] {
        if (AppDelegate::shared().isSUBWINDOW_OPENED) return;
        if (delegate_) delegate_->btnNextFromAddPhotosVcTapped();
    });
}
