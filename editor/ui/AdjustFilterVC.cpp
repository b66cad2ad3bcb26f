#include "editor/ui/AdjustFilterVC.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "records/AppDelegate.h"

AdjustFilterVC::AdjustFilterVC(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("AdjustFilterVC"));
    auto* layout = new QVBoxLayout(this);
    auto* preview = new QLabel(tr("Preview"), this);
    preview->setAlignment(Qt::AlignCenter);
    layout->addWidget(preview, 1);
    auto* bar = new QHBoxLayout;
    back_ = new QPushButton(tr("Back"), this);
    next_ = new QPushButton(tr("Next"), this);
    bar->addWidget(back_);
    bar->addStretch(1);
    bar->addWidget(next_);
    layout->addLayout(bar);
    connect(next_, &QPushButton::clicked, this, [this] {
        if (!AppDelegate::shared().isSUBWINDOW_OPENED && delegate_) delegate_->btnNextFromAdjustFilterVCTapped();
    });
    connect(back_, &QPushButton::clicked, this, [this] {
        if (!AppDelegate::shared().isSUBWINDOW_OPENED && delegate_) delegate_->btnBackFromFromAdjustFilterVCTapped();
    });
}
