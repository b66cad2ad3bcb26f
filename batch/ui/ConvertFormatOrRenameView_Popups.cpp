// The rename-and-convert view's small helpers around its controls: tool tips, the info
// pop-ups of the output options, the preview rows' menu and the first-run tips.
#include "batch/ui/ConvertFormatOrRenameView.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <tuple>

#include "batch/ui/OutputFolderChoice.h"
#include "batch/ui/PreviewTables.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/workspace/Workspace.h"
#include "records/AppDelegate.h"
#include "records/OutputPhotoPath.h"
#include "ui/SmallViews.h"
#include "ui/ShortAlert.h"
#include "records/SubWindowHold.h"

namespace names = platform::notifications;

namespace {

const QColor kPopupBackground(41, 41, 41);

const QString kMoveInfo =
    QStringLiteral("Moving files to new destination will remove the files from the source folder.");
// "%1" is the folder on the desktop the library's photos go to.
const QString kSourceFolderInfo = QStringLiteral("All photos from iPhoto library will be saved here: %1.");
const QString kRawFormatsInfo = QStringLiteral(
    "If you choose to \"Keep Original format\", then RAW and other additional image formats will be saved as .png by "
    "default.");

void postTipNotification(const QString& name) { platform::NotificationCenter::defaultCenter().postNotification(name); }

const QColor kPopupEdge(90, 90, 90);

}  // namespace

QString ConvertFormatOrRenameView::indicatorStyleSheet() {
    return QStringLiteral(
        "QCheckBox::indicator, QRadioButton::indicator { width:12px; height:12px; border:1px solid #8a8a8a;"
        " background:#3a3a3a; }"
        "QRadioButton::indicator { border-radius:7px; }"
        "QCheckBox::indicator:checked, QRadioButton::indicator:checked { background:#1ab999; border-color:#1ab999; }"
        "QCheckBox::indicator:disabled, QRadioButton::indicator:disabled { background:#2b2b2b; border-color:#555555; }"
        // Where the keyboard is shows on the box itself, also when its words are a label of their own.
        "QCheckBox::indicator:focus, QRadioButton::indicator:focus { border:2px solid white; }");
}

namespace {

void stylePopupContent(QWidget* view) {
    view->setStyleSheet(AttachedWindow::contentStyleSheet() + ConvertFormatOrRenameView::indicatorStyleSheet());
}

QPushButton* popupButton(const char* name, const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

// Sizes a pop-up's content to what it holds as it will be drawn.
void fitContent(QWidget* view) {
    view->ensurePolished();
    view->adjustSize();
}

// A pop-up of the view's window; it is deleted when it closes, by whatever way.
AttachedWindow* makePopup(QWidget* view, QPoint point, QWidget* window, int side) {
    auto* popup = new AttachedWindow(view, point, window, side, 5);
    // A fine edge: the pop-up's grey is the screen's own.
    popup->setBorderColor(kPopupEdge);
    popup->setBorderWidth(1);
    popup->setBackgroundColor(kPopupBackground);
    QObject::connect(popup, &AttachedWindow::closed, popup, &QObject::deleteLater);
    return popup;
}

}  // namespace

void ConvertFormatOrRenameView::buildPopupControls() {
    scheduler_ = [this](int ms, std::function<void()> work) { QTimer::singleShot(ms, this, std::move(work)); };

    connect(btnMoveOptionInfo, &QPushButton::clicked, this, &ConvertFormatOrRenameView::btnMoveOptionInfoTapped);
    connect(btnUseSourceFolderInfo, &QPushButton::clicked, this,
            &ConvertFormatOrRenameView::btnUseSourceFolderInfoTapped);
    connect(btnInfoAboutRawFormats, &QPushButton::clicked, this,
            &ConvertFormatOrRenameView::btnInfoAboutRawFormatsTapped);
    connect(btnInfo, &QPushButton::clicked, this, &ConvertFormatOrRenameView::btnInfoTapped);
    tblPreviewNames->viewport()->installEventFilter(this);

    // Dims the view while a tip shows and keeps its controls from being used meanwhile.
    bgViewForTips = new QWidget(this);
    bgViewForTips->setObjectName(QStringLiteral("bgViewForTips"));
    bgViewForTips->setAttribute(Qt::WA_StyledBackground, true);
    bgViewForTips->setStyleSheet(QStringLiteral("#bgViewForTips { background: rgba(0,0,0,0.45); }"));
    bgViewForTips->hide();
    setToolTips();
}

void ConvertFormatOrRenameView::setUserDefaults(platform::UserDefaults* defaults) {
    const bool inside = tips_->isInsideBatchEffectView, next = tips_->isNextFromBatchEffectView;
    tips_ = defaults ? std::make_unique<SetupTips>(*defaults) : std::make_unique<SetupTips>();
    tips_->isInsideBatchEffectView = inside;
    tips_->isNextFromBatchEffectView = next;
}

void ConvertFormatOrRenameView::schedule(int ms, std::function<void()> work) { scheduler_(ms, std::move(work)); }

void ConvertFormatOrRenameView::setToolTips() {
    const std::pair<QWidget*, QString> tips[] = {
        {btnUseSourcePhotosFolder,
         QStringLiteral("Using source folder as destination folder will overwrite the exisiting photos with the "
                        "processed photos if \"Overwrite...\" setting is selected. Rename your photos, if you do not "
                        "wish to overwrite")},
        {btnMoveRenametoDestFolder,
         QStringLiteral("Moving processed photos to new destination will remove the photos from the source folder")},
        {btnCopytoDestFolder, QStringLiteral("Copying processed photos to new destination will create a new set of "
                                             "photos and the source folder photos will remain intact")},
        {btnAllFileNames, QStringLiteral("Lists all the 'New Photo paths' of the added batch of photos")},
        {btnErrorFileNames, QStringLiteral("Lists all the 'New Photo paths' with Errors like Duplicate file name or "
                                           "Files that are unavailable at the source location")},
        {btnWarningFileNames, QStringLiteral("Lists all the 'New Photo paths' with Warnings like similar File name "
                                             "already exists at the destination folder")},
        {btnResetAllSettings, QStringLiteral("Click here to reset to default values")},
        {btnRenameModeOriginal, QString()},
        {btnRenameModeModifyName, QString()},
        {checkboxOpenFolderAfterProcess, QString()},
        {checkboxDeleteSourcePhoto, QString()},
        {checkboxSetOuptputDateAndTimeFormatSame, QString()},
        {btnSelectFolder, QString()},
    };
    for (const auto& [widget, tip] : tips) widget->setToolTip(tip);
}

// ---- info pop-ups ----

void ConvertFormatOrRenameView::showInfoText(QPushButton* sender, const QString& text, int width) {
    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("vwMoveOptionInfo"));
    view->resize(width, 75);
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(10, 6, 10, 6);
    auto* label = new QLabel(text, view);
    label->setObjectName(QStringLiteral("lblMoveOpetionInfo"));
    label->setWordWrap(true);
    layout->addWidget(label);
    stylePopupContent(view);
    // The arrow points at the button's middle.
    addInfoPopupWindowAtPoint(sender->mapTo(window(), QPoint(sender->width() / 2 - 5, sender->height() / 2)), view);
}

void ConvertFormatOrRenameView::btnMoveOptionInfoTapped() { showInfoText(btnMoveOptionInfo, kMoveInfo, 245); }

void ConvertFormatOrRenameView::btnUseSourceFolderInfoTapped() {
    // The same folder the start question names: the desktop's, not a fixed path.
    showInfoText(btnUseSourceFolderInfo, kSourceFolderInfo.arg(outputfolder::libraryOutputFolder()), 245);
}

void ConvertFormatOrRenameView::btnInfoAboutRawFormatsTapped() {
    showInfoText(btnInfoAboutRawFormats, kRawFormatsInfo, 300);
}

void ConvertFormatOrRenameView::btnInfoTapped() {
    // What the marks of the preview rows say.
    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("vwInfo"));
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(10, 6, 10, 6);
    const std::pair<PreviewMark, const char*> marks[] = {
        {PreviewMark::Ready, "Ready"},
        {PreviewMark::DuplicateName, "Error"},
        {PreviewMark::SourceMissing, "Error"},
        {PreviewMark::TooLarge, "Error"},
        {PreviewMark::SourceUnreadable, "Error"},
        {PreviewMark::AlreadyExists, "Warning"},
        {PreviewMark::ReplacesExisting, "Warning"},
    };
    for (const auto& [mark, kind] : marks)
        layout->addWidget(new QLabel(tr(kind) + QStringLiteral(": ") + PreviewClassifier::toolTipFor(mark), view));
    stylePopupContent(view);
    fitContent(view);
    addInfoPopupWindowAtPoint(btnInfo->mapTo(window(), QPoint(btnInfo->width() / 2 - 5, btnInfo->height() / 2)), view);
}

void ConvertFormatOrRenameView::addInfoPopupWindowAtPoint(QPoint windowPoint, QWidget* view) {
    removeInfoPopupWindow();
    infoWindow_ = makePopup(view, windowPoint, window(), 2);
    infoWindow_->setObjectName(QStringLiteral("infoWindow"));
    infoWindow_->setCornerRadius(5);
    infoWindow_->show();
    infoWindow_->raise();
}

void ConvertFormatOrRenameView::removeInfoPopupWindow() {
    if (infoWindow_) infoWindow_->closePopup();
    infoWindow_ = nullptr;
}

// ---- the preview rows' menu ----

bool ConvertFormatOrRenameView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tblPreviewNames->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() == Qt::RightButton) {
            rightMouseDown(press->position().toPoint());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ConvertFormatOrRenameView::rightMouseDown(QPoint viewportPoint) {
    const int row = tblPreviewNames->rowAt(viewportPoint.y());
    if (row < 0) return;
    selectedMenuFileIndexPath = row;
    // Only the source paths (the right half) have a file to show.
    if (viewportPoint.x() < tblPreviewNames->viewport()->width() / 2) return;
    showMenuOptionsAtLocation(tblPreviewNames->viewport()->mapTo(window(), viewportPoint));
}

void ConvertFormatOrRenameView::showMenuOptionsAtLocation(QPoint windowPoint) {
    addMenuOptionsPopupWindowAtPoint(windowPoint);
}

void ConvertFormatOrRenameView::addMenuOptionsPopupWindowAtPoint(QPoint windowPoint) {
    removeMenuOptionsPopupWindow();
    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("vwPhotoMenuOptions"));
    view->setAttribute(Qt::WA_StyledBackground, true);
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(2);
    const std::tuple<const char*, QString, void (ConvertFormatOrRenameView::*)()> entries[] = {
        {"btnReviealInFinder", tr("Show in File Manager"), &ConvertFormatOrRenameView::btnReviealInFinderTapped},
        {"btnShowPreview", tr("Open"), &ConvertFormatOrRenameView::btnShowPreviewTapped},
        {"btnGetInfo", tr("Show Info"), &ConvertFormatOrRenameView::btnGetInfoTapped},
    };
    for (const auto& [name, title, action] : entries) {
        auto* button = popupButton(name, title, view);
        layout->addWidget(button);
        connect(button, &QPushButton::clicked, this, action);
    }
    stylePopupContent(view);
    view->setStyleSheet(view->styleSheet() +
                        QStringLiteral("#vwPhotoMenuOptions { background:rgb(41,41,41); border:1px solid #5a5a5a;"
                                       " border-radius:5px; }"));
    fitContent(view);
    // Beside the pointer, a little above it, with no arrow.
    const QPoint at = windowPoint + QPoint(view->width() / 2 + 5, -25);
    menuOptionsWindow_ = makePopup(view, at, window(), 1);
    menuOptionsWindow_->setObjectName(QStringLiteral("menuOptionsWindow"));
    menuOptionsWindow_->setBackgroundColor(Qt::transparent);
    menuOptionsWindow_->setBorderColor(Qt::transparent);  // the menu draws its own edge
    menuOptionsWindow_->setHasArrow(0);
    menuOptionsWindow_->show();
    menuOptionsWindow_->raise();
}

void ConvertFormatOrRenameView::removeMenuOptionsPopupWindow() {
    if (menuOptionsWindow_) menuOptionsWindow_->closePopup();
    menuOptionsWindow_ = nullptr;
}

void ConvertFormatOrRenameView::btnOnMenuOptionTapped(int option) {
    // The list shown may have changed since the right press: a row it no longer has is no one's.
    const auto record = previewModel->recordAt(selectedMenuFileIndexPath);
    if (!record) return;
    removeMenuOptionsPopupWindow();
    const QString path = record->oldFilePath;
    using openfailure::Request;
    switch (option) {
    case 0:
        if (!workspace_->selectFile(path)) showOpenFailure(Request::Reveal, path);
        break;
    case 1:
        if (!workspace_->openFile(path)) showOpenFailure(Request::Open, path);
        break;
    case 2:
        if (!workspace_->showInfo(path)) showOpenFailure(Request::Info, path);
        break;
    default: break;
    }
}

void ConvertFormatOrRenameView::showOpenFailure(openfailure::Request request, const QString& path) {
    const auto text = openfailure::textFor(request, path);
    QMessageBox* box = makeShortAlert(this, QStringLiteral("alertOpenFailure"), QMessageBox::Warning, text.title, text.message);
    box->addButton(QMessageBox::Ok);
    box->open();
}

// ---- first-run tips ----

bool ConvertFormatOrRenameView::isTipsAlreadyDisplayed() const { return tips_->isTipsAlreadyDisplayed(); }

QPoint ConvertFormatOrRenameView::tipPoint(int tag) const {
    const auto at = [this](const QWidget* w, QPoint local) { return w->mapTo(window(), local); };
    switch (tag) {
    case 7: return at(scrollViewRename, QPoint(scrollViewRename->width(), scrollViewRename->height() / 3));
    case 8: return at(btnErrorFileNames, QPoint(btnErrorFileNames->width() / 2, btnErrorFileNames->height()));
    case 9: return at(btnSelectFolder, QPoint(btnSelectFolder->width(), btnSelectFolder->height() / 2));
    default: return at(btnStart, QPoint(btnStart->width() / 2, 0));
    }
}

void ConvertFormatOrRenameView::showTipsWithTag(int tag) {
    tips_->isInsideBatchEffectView = isInsideBatchEffectView;
    tips_->isNextFromBatchEffectView = isNextFromBatchEffectView;
    // A tip points at controls on the screen; none while the view is away.
    if (!isVisible() || isTipsAlreadyDisplayed()) return;
    removeTipsPopupWindow();
    const auto tip = tips_->showTipsWithTag(tag);
    if (!tip) return;

    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("tipsPopupView"));
    view->resize(280, tip->height);
    auto* layout = new QVBoxLayout(view);
    auto* text = new QLabel(tip->text, view);
    text->setObjectName(QStringLiteral("lblTipsText"));
    text->setWordWrap(true);
    auto* check = new QCheckBox(tr("Don't show tips"), view);
    check->setObjectName(QStringLiteral("checkDisableTips"));
    check->setChecked(tipsDisableChecked_);
    auto* next = popupButton("btnNextOnTips", tr("Next"), view);
    auto* gotIt = popupButton("btnGotItOnTips", tr("Got It"), view);
    const bool last = tip->button != QLatin1String("Next");
    next->setVisible(!last);
    gotIt->setVisible(last);
    auto* row = new QHBoxLayout;
    row->addWidget(check);
    row->addStretch(1);
    row->addWidget(next);
    row->addWidget(gotIt);
    layout->addWidget(text, 1);
    layout->addLayout(row);
    connect(check, &QCheckBox::toggled, this, &ConvertFormatOrRenameView::btnDisableTipsTapped);
    connect(next, &QPushButton::clicked, this, &ConvertFormatOrRenameView::btnNextOnTipsPopupTapped);
    connect(gotIt, &QPushButton::clicked, this, &ConvertFormatOrRenameView::btnGotInOnTipsPopupTapped);

    stylePopupContent(view);
    addTipsPopupWindowAtPoint(tipPoint(tag), view, window(), 5, tip->side);
}

void ConvertFormatOrRenameView::addTipsPopupWindowAtPoint(QPoint windowPoint, QWidget* view, QWidget* window,
                                                          float cornerRadius, int arrowSide) {
    if (tipsPopUpWindow_) {
        // Only the pop-up goes; the walk stays where it is.
        tipsPopUpWindow_->closePopup();
        tipsPopUpWindow_ = nullptr;
    }
    auto* popup = AttachedWindow::createTip(view, windowPoint, window, arrowSide, cornerRadius);
    popup->setObjectName(QStringLiteral("tipsPopUpWindow"));
    tipsPopUpWindow_ = popup;
    if (!tipHeld_) {
        busy_->acquire();
        tipHeld_ = true;
    }
    bgViewForTips->setGeometry(rect());
    bgViewForTips->show();
    bgViewForTips->raise();
    popup->show();
    popup->raise();
    postTipNotification(names::TipsDisplay);
}

void ConvertFormatOrRenameView::removeTipsPopupWindow() {
    if (!tipsPopUpWindow_) return;
    AttachedWindow* popup = tipsPopUpWindow_;
    tipsPopUpWindow_ = nullptr;
    tips_->removeTipsPopupWindow();
    popup->closePopup();
    if (tipHeld_) {
        busy_->release();
        tipHeld_ = false;
    }
    bgViewForTips->hide();
    postTipNotification(names::TipsHide);
}

void ConvertFormatOrRenameView::btnNextOnTipsPopupTapped() {
    removeTipsPopupWindow();
    tips_->isNextFromBatchEffectView = isNextFromBatchEffectView;
    if (const auto next = tips_->btnNextOnTipsPopupTapped()) schedule(300, [this, tag = *next] { showTipsWithTag(tag); });
}

void ConvertFormatOrRenameView::btnGotInOnTipsPopupTapped() {
    removeTipsPopupWindow();
    tips_->btnGotInOnTipsPopupTapped(tipsDisableChecked_);
}

void ConvertFormatOrRenameView::btnDisableTipsTapped(bool checked) {
    tipsDisableChecked_ = checked;
    tips_->btnDisableTipsTapped(checked);
}

// ---- the view going away or changing size ----

void ConvertFormatOrRenameView::hideEvent(QHideEvent* event) {
    // Pop-ups belong to the window, not to the view: they would stay behind on another screen.
    removeInfoPopupWindow();
    removeMenuOptionsPopupWindow();
    removeTipsPopupWindow();
    QWidget::hideEvent(event);
}

void ConvertFormatOrRenameView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (bgViewForTips) bgViewForTips->setGeometry(rect());
}
