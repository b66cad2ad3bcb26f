#include "batch/ui/SetupVC.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "records/AppDelegate.h"

SetupVC::SetupVC(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("SetupVC"));
    auto* layout = new QVBoxLayout(this);
    auto* options = new QLabel(tr("Output options"), this);
    options->setAlignment(Qt::AlignCenter);
    layout->addWidget(options, 1);
    auto* bar = new QHBoxLayout;
    back_ = new QPushButton(tr("Back"), this);
    bar->addWidget(back_);
    bar->addStretch(1);
    layout->addLayout(bar);
    connect(back_, &QPushButton::clicked, this, [this] {
        if (!AppDelegate::shared().isSUBWINDOW_OPENED && delegate_) delegate_->btnBackFromSetupVCTapped();
    });
}
