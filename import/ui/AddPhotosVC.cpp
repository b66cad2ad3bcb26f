#include "import/ui/AddPhotosVC.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStandardPaths>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "engine/Utils.h"
#include "import/ListSelection.h"
#include "import/SourceCheck.h"
#include "import/PhotoSources.h"
#include "import/ui/BatchListModel.h"
#include "import/ui/DropArea.h"
#include "import/ui/FileDropGate.h"
#include "import/ui/GridCell.h"
#include "import/ui/OpenPanel.h"
#include "import/ui/ScreenImages.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/imageio/ImageIO.h"
#include "records/AppDelegate.h"
#include "records/ImageFileInfo.h"
#include "records/MetaDataObject.h"
#include "records/PhotoFile.h"
#include "ui/AttachedWindow.h"
#include "ui/OpenFailure.h"
#include "records/SubWindowHold.h"
#include "platform/foundation/FileAttributes.h"

namespace names = platform::notifications;

namespace {

const QColor kScreenBackground(0x1b, 0x1b, 0x1b);
const QColor kPopupBackground = QColor::fromRgbF(0.16078431f, 0.16078431f, 0.16078431f, 1.0f);
const QString kAnimationTimer = QStringLiteral("dragImageAnimation");
// Where the info pop-up's arrow points, from an info button's origin: below its middle.
const QPoint kBelowInfoButton(10, 20);

// Pop-ups live in the main window, outside the screen's style: their content gets it here.
void stylePopupContent(QWidget* view) {
    view->setStyleSheet(AttachedWindow::contentStyleSheet() +
                        QStringLiteral("QTableWidget { background: transparent; color: #ddd; border: none; gridline-color: #333; }"));
}

QPushButton* makeButton(const QString& name, const QString& text, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

}  // namespace

AddPhotosVC::AddPhotosVC(QWidget* parent, AddPhotosServices services)
    : QWidget(parent),
      services_(std::move(services)),
      tips_(services_.defaults ? *services_.defaults : platform::UserDefaults::standardUserDefaults()) {
    setObjectName(QStringLiteral("AddPhotosVC"));
    if (!services_.executor) {
        ownExecutor_ = std::make_unique<ThreadedIntakeExecutor>();
        services_.executor = ownExecutor_.get();
    }
    if (!services_.gridWorkers) {
        ownGridWorkers_ = std::make_unique<PooledThumbnailWorkers>();
        services_.gridWorkers = ownGridWorkers_.get();
    }
    if (!services_.listWorkers) {
        ownListWorkers_ = std::make_unique<PooledThumbnailWorkers>();
        services_.listWorkers = ownListWorkers_.get();
    }
    if (!services_.timers) {
        ownTimers_ = std::make_unique<QtScreenTimers>();
        services_.timers = ownTimers_.get();
    }
    if (!services_.fileManager) {
        ownFileManager_ = std::make_unique<DesktopFileManagerService>();
        services_.fileManager = ownFileManager_.get();
    }
    if (!services_.defaults) services_.defaults = &platform::UserDefaults::standardUserDefaults();
    if (!services_.center) services_.center = &platform::NotificationCenter::defaultCenter();
    if (!services_.makeThumbnail) services_.makeThumbnail = BatchThumbnails::fileThumbnail;
    BatchThumbnailsView& shows = *this;
    thumbnails_ = std::make_unique<BatchThumbnails>(*services_.gridWorkers, *services_.listWorkers,
                                                    services_.makeThumbnail, shows);
    lastPanelFolder_ = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!QFileInfo(lastPanelFolder_).isDir()) lastPanelFolder_ = QDir::homePath();

    intake_ = std::make_unique<PhotoIntake>(*services_.executor);
    intake_->setPresenter(this);
    intake_->setProgressSink(this);

    buildWidgets();
    observeNotifications();
    changePhotosViewImageMode(0, true);
    hideDragnDropImageSetHidden(!AppDelegate::shared().arraySelectedImagesToProcess.isEmpty());

    dragImageAnimation();
}

AddPhotosVC::~AddPhotosVC() {
    // Background work ends before the state it reports to goes.
    intake_->setPresenter(nullptr);
    intake_->setProgressSink(nullptr);
    services_.executor->shutdown();
    ownGridWorkers_.reset();
    ownListWorkers_.reset();
}

// ---------------------------------------------------------------- widgets

void AddPhotosVC::buildWidgets() {
    setStyleSheet(QStringLiteral(
        "#AddPhotosVC { background: #1b1b1b; } QLabel { color: #ddd; }"  // kScreenBackground
        "QPushButton { color: #eee; background: #2b2b2b; border: 1px solid #444; border-radius: 4px; padding: 5px 12px; }"
        "QPushButton:hover { border-color: #1bac8f; } QPushButton:disabled { color: #777; }"
        // The keyboard's place is plain to see; the grid's ring keeps its room, or the photos cover it.
        "QPushButton:default { border-color: #1ab999; } QPushButton:focus { border: 2px solid #1ab999; padding: 4px 11px; }"
        "QPushButton#btnSelectOptions { background: #1bac8f; border: none; font-weight: bold; padding: 8px 18px; }"
        "QPushButton#btnSelectOptions:focus { border: 2px solid #ffffff; padding: 6px 16px; }"
        "#customCollectionView { border: 1px solid transparent; }"
        "#customCollectionView:focus, QTableView:focus { border: 1px solid #1ab999; }"
        "#alertSheet, #windowAddPhotoWithFilter, #vwLoading > QFrame { background: #262626; border: 1px solid #444; border-radius: 10px; }"
        "QDateTimeEdit { background: #1e1e1e; color: #ddd; border: 1px solid #444; padding: 3px; }"
        "QTableView { background: #161515; color: #ddd; gridline-color: #222; border: none; outline: 0; }"
        "QHeaderView { background: #222; } QHeaderView::section { background: #222; color: #bbb; border: none; padding: 4px; }"
        "QScrollBar:vertical { background: transparent; width: 10px; margin: 0; }"
        "QScrollBar::handle:vertical { background: #6a6a6a; border-radius: 4px; min-height: 30px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
    setAttribute(Qt::WA_StyledBackground);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 10, 12, 10);

    // Header: view modes, removal, add more.
    header_ = new QWidget(this);
    header_->setObjectName(QStringLiteral("photosHeader"));
    auto* hl = new QHBoxLayout(header_);
    hl->setContentsMargins(0, 0, 0, 0);
    btnThumbnail_ = makeButton(QStringLiteral("btnThumbnail"), tr("Grid"), header_);
    btnList_ = makeButton(QStringLiteral("btnList"), tr("List"), header_);
    btnDelete_ = makeButton(QStringLiteral("btnDelete"), tr("Remove"), header_);
    btnAddmorePhotos_ = makeButton(QStringLiteral("btnAddmorePhotos"), tr("Add More"), header_);
    hl->addWidget(btnThumbnail_);
    hl->addWidget(btnList_);
    hl->addStretch(1);
    hl->addWidget(btnDelete_);
    hl->addWidget(btnAddmorePhotos_);
    outer->addWidget(header_);
    connect(btnThumbnail_, &QPushButton::clicked, this, [this] { btnViewPhotosModetapped(0); });
    connect(btnList_, &QPushButton::clicked, this, [this] { btnViewPhotosModetapped(1); });
    connect(btnDelete_, &QPushButton::clicked, this, [this] { btnRemoveTapped(); });
    connect(btnAddmorePhotos_, &QPushButton::clicked, this, [this] { btnAddMorePhotosTapped(); });

    // The drop area with the centre buttons.
    viewDragNDrop_ = new QWidget(this);
    viewDragNDrop_->setObjectName(QStringLiteral("viewDragNDrop"));
    auto* dl = new QVBoxLayout(viewDragNDrop_);
    leftBox_ = new DropArea(*services_.center, viewDragNDrop_);
    dl->addWidget(leftBox_);
    auto* inner = new QVBoxLayout(leftBox_);
    // Text and buttons sit below the animated ring, clear of the first tip beside it.
    inner->addStretch(3);
    addPhoto_icon_ = new QLabel(tr("Drag and drop your photos or folders here"), leftBox_);
    addPhoto_icon_->setObjectName(QStringLiteral("addPhoto_icon"));
    addPhoto_icon_->setAlignment(Qt::AlignCenter);
    inner->addWidget(addPhoto_icon_);
    auto* centreRow = new QHBoxLayout;
    centreRow->addStretch(1);
    btnAddPhotosCenter_ = makeButton(QStringLiteral("btnAddPhotosCenter"), tr("ADD PHOTOS"), leftBox_);
    btnAddFolderCenter_ = makeButton(QStringLiteral("btnAddFolderCenter"), tr("ADD FOLDER"), leftBox_);
    btnAddWithFilterCenter_ = makeButton(QStringLiteral("btnAddWithFilterCenter"), tr("ADD WITH FILTER"), leftBox_);
    btnAddIphotoLibrary_ = makeButton(QStringLiteral("btnAddIphotoLibrary"), tr("ADD PHOTOS LIBRARY"), leftBox_);
    for (QPushButton* b : {btnAddPhotosCenter_, btnAddFolderCenter_, btnAddWithFilterCenter_, btnAddIphotoLibrary_})
        centreRow->addWidget(b);
    centreRow->addStretch(1);
    inner->addLayout(centreRow);
    inner->addStretch(2);
    outer->addWidget(viewDragNDrop_, 1);
    connect(btnAddPhotosCenter_, &QPushButton::clicked, this, [this] { btnAddPhotosTapped(); });
    connect(btnAddFolderCenter_, &QPushButton::clicked, this, [this] { btnAddFolderTapped(); });
    // The ring and the words under it are the drop area's own add button.
    addPhoto_icon_->setCursor(Qt::PointingHandCursor);
    addPhoto_icon_->installEventFilter(this);
    leftBox_->installEventFilter(this);
    connect(btnAddWithFilterCenter_, &QPushButton::clicked, this, [this] { btnAddPhotoWithFilterTapped(); });
    connect(btnAddIphotoLibrary_, &QPushButton::clicked, this, [this] { btnAddIphotosTapped(); });
    connect(leftBox_, &DropArea::pasteFailed, this, [this] { showAlert({intake::kPasteErrorTitle, intake::kPasteErrorMessage}); });

    // Grid.
    scrCollectionVw_ = new QWidget(this);
    scrCollectionVw_->setObjectName(QStringLiteral("scrCollectionVw"));
    auto* gl = new QVBoxLayout(scrCollectionVw_);
    gl->setContentsMargins(0, 0, 0, 0);
    customCollectionView_ = new CollectionView(scrCollectionVw_);
    customCollectionView_->setObjectName(QStringLiteral("customCollectionView"));
    auto* layout = new CollectionViewGridLayout;
    layout->setDelegate(this);
    layout->setVerticalSpacing(10);
    customCollectionView_->setCollectionViewLayout(layout);
    customCollectionView_->setDataSource(this);
    customCollectionView_->setDelegate(this);
    customCollectionView_->setAnimatesSelection(false);
    customCollectionView_->registerClass<GridCell>(QStringLiteral("CELL"));
    // The screen's own colour rather than clear: an opaque grid scrolls by moving its pixels.
    customCollectionView_->setBackgroundColor(kScreenBackground);
    gl->addWidget(customCollectionView_);
    // The grid and the list take a drag only when its drop adds something.
    const auto dropAccepted = [this](const QStringList& paths) { return acceptsDrops_ && intake::gridDropIsAcceptable(paths); };
    const auto dropped = [this](const QStringList& paths) { intake::acceptGridOrListDrop(*intake_, paths); };
    new FileDropGate(customCollectionView_->viewport(), dropAccepted, dropped);
    connect(customCollectionView_->contentView(), &ClipView::boundsDidChange, this, [this](QRect bounds) {
        scrollViewBoundDidChange(bounds);
        collectionViewBoundsDidChange();
    });
    outer->addWidget(scrCollectionVw_, 1);

    // List.
    listModel_ = new BatchListModel(&arrTableSelectedRows, this);
    listModel_->setUnavailable(&thumbnails_->unavailable());
    tblPhotos_ = new QTableView(this);
    tblPhotos_->setObjectName(QStringLiteral("tblPhotos"));
    tblPhotos_->setModel(listModel_);
    tblPhotos_->setSelectionMode(QAbstractItemView::NoSelection);
    // Focus for the keyboard's Ctrl+A and Delete; no current-cell frame (outline: 0 above).
    // Tab goes on to the next control: the rows are not cells to walk through.
    tblPhotos_->setFocusPolicy(Qt::StrongFocus);
    tblPhotos_->setTabKeyNavigation(false);
    tblPhotos_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblPhotos_->verticalHeader()->hide();
    tblPhotos_->verticalHeader()->setDefaultSectionSize(35);
    tblPhotos_->setShowGrid(false);
    tblPhotos_->setIconSize(BatchThumbnails::kListSize);
    new FileDropGate(tblPhotos_->viewport(), dropAccepted, dropped);
    tblPhotos_->viewport()->installEventFilter(this);
    auto* hh = tblPhotos_->horizontalHeader();
    hh->setSectionResizeMode(QHeaderView::Interactive);
    hh->resizeSection(BatchListModel::CheckColumn, 36);
    hh->resizeSection(BatchListModel::NameColumn, 240);
    hh->resizeSection(BatchListModel::FileLocationColumn, 360);
    hh->resizeSection(BatchListModel::InfoColumn, 40);
    hh->setStretchLastSection(false);
    hh->setSectionResizeMode(BatchListModel::FileLocationColumn, QHeaderView::Stretch);
    connect(tblPhotos_, &QTableView::clicked, this,
            [this](const QModelIndex& i) { listRowClicked(i.row(), i.column(), listPressModifiers_); });
    connect(tblPhotos_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { tableviewPhotosBoundDidChange(); });
    outer->addWidget(tblPhotos_, 1);

    // In-screen progress of an add.
    progressPanel_ = new QFrame(this);
    progressPanel_->setObjectName(QStringLiteral("progressPanel"));
    auto* pl = new QVBoxLayout(progressPanel_);
    lblProgress_ = new QLabel(progressPanel_);
    lblProgressPath_ = new QLabel(progressPanel_);
    progressBar_ = new QProgressBar(progressPanel_);
    progressBar_->setRange(0, 100);
    btnStopAdding_ = makeButton(QStringLiteral("btnStopAdding"), tr("Stop"), progressPanel_);
    pl->addWidget(lblProgress_);
    pl->addWidget(progressBar_);
    pl->addWidget(lblProgressPath_);
    pl->addWidget(btnStopAdding_, 0, Qt::AlignRight);
    progressPanel_->hide();
    outer->addWidget(progressPanel_);
    connect(btnStopAdding_, &QPushButton::clicked, this, [this] { intake_->btnStopAddingTapped(); });

    // Footer and Next.
    bottom_ = new QWidget(this);
    bottom_->setObjectName(QStringLiteral("bottomContainer"));
    auto* bl = new QHBoxLayout(bottom_);
    bl->setContentsMargins(0, 0, 0, 0);
    lblFooter_ = new QLabel(bottom_);
    lblFooter_->setObjectName(QStringLiteral("lblFooter"));
    lblFooter_->setTextFormat(Qt::RichText);
    lblFooter_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    btnSelectOptions_ = makeButton(QStringLiteral("btnSelectOptions"), tr("SELECT BATCH EFFECTS"), bottom_);
    bl->addWidget(lblFooter_, 1);
    bl->addWidget(btnSelectOptions_);
    outer->addWidget(bottom_);
    connect(btnSelectOptions_, &QPushButton::clicked, this, [this] { btnNextTapped(); });

    // Loading overlay, above everything (placed in resizeEvent).
    vwLoading_ = new QFrame(this);
    vwLoading_->setObjectName(QStringLiteral("vwLoading"));
    vwLoading_->setStyleSheet(QStringLiteral("#vwLoading { background: rgba(0,0,0,120); }"));
    auto* ll = new QVBoxLayout(vwLoading_);
    auto* box = new QFrame(vwLoading_);
    box->setFixedSize(180, 90);
    auto* bxl = new QVBoxLayout(box);
    auto* spin = new QProgressBar(box);
    spin->setRange(0, 0);
    bxl->addWidget(new QLabel(tr("Loading…"), box), 0, Qt::AlignCenter);
    bxl->addWidget(spin);
    ll->addWidget(box, 0, Qt::AlignCenter);
    vwLoading_->hide();

    // The alert sheet: one frame for every alert and confirmation of the screen.
    alertSheet_ = new QFrame(this);
    alertSheet_->setObjectName(QStringLiteral("alertSheet"));
    alertSheet_->setFixedWidth(420);
    auto* al = new QVBoxLayout(alertSheet_);
    lblAlertTitle_ = new QLabel(alertSheet_);
    lblAlertTitle_->setObjectName(QStringLiteral("lblAlertTitle"));
    lblAlertTitle_->setStyleSheet(QStringLiteral("font-weight: bold; font-size: 15px;"));
    lblAlertMessage_ = new QLabel(alertSheet_);
    lblAlertMessage_->setObjectName(QStringLiteral("lblAlertMessage"));
    lblAlertMessage_->setWordWrap(true);
    al->addWidget(lblAlertTitle_);
    al->addWidget(lblAlertMessage_);
    auto* abl = new QHBoxLayout;
    abl->addStretch(1);
    btnRemoveOnAlert_ = makeButton(QStringLiteral("btnRemoveOnAlert"), tr("Remove"), alertSheet_);
    btnNoOnAlert_ = makeButton(QStringLiteral("btnNoOnAlert"), tr("No"), alertSheet_);
    btnYesOnAlert_ = makeButton(QStringLiteral("btnYesOnAlert"), tr("Yes"), alertSheet_);
    btnOkOnAlert_ = makeButton(QStringLiteral("btnOkOnAlert"), tr("OK"), alertSheet_);
    for (QPushButton* b : {btnRemoveOnAlert_, btnNoOnAlert_, btnYesOnAlert_, btnOkOnAlert_}) abl->addWidget(b);
    al->addLayout(abl);
    alertSheet_->hide();
    alertSheet_->installEventFilter(this);
    connect(btnRemoveOnAlert_, &QPushButton::clicked, this, [this] { btnRemoveFromBatchOnAlertTapped(); });
    connect(btnOkOnAlert_, &QPushButton::clicked, this, [this] { btnOkOnAlertWinTapped(); });
    connect(btnYesOnAlert_, &QPushButton::clicked, this, [this] {
        switch (alertKind_) {
        case addphotosalerts::Kind::RemoveSelected: btnYesOnRemoveSelectedPhotoTapped(); break;
        case addphotosalerts::Kind::RemoveAll: btnYesOnRemoveAllPhotoTapped(); break;
        case addphotosalerts::Kind::LastSession: btnLoadLastSessionTapped(); break;
        default: hideAlertSheet();
        }
    });
    connect(btnNoOnAlert_, &QPushButton::clicked, this, [this] {
        switch (alertKind_) {
        case addphotosalerts::Kind::RemoveSelected: btnNoOnRemoveSelectedPhotoTapped(); break;
        case addphotosalerts::Kind::RemoveAll: btnNoOnRemoveAllPhotoTapped(); break;
        case addphotosalerts::Kind::LastSession: btnStartNewSessionTapped(); break;
        default: hideAlertSheet();
        }
    });

    // Tool tips.
    const std::pair<QWidget*, QString> tips[] = {
        {addPhoto_icon_, QStringLiteral("Click here to add folder of photos")},
        {btnAddPhotosCenter_, QStringLiteral("Click here to add photos")},
        {btnAddFolderCenter_, QStringLiteral("Click here to add folder of photos")},
        {btnAddWithFilterCenter_, QStringLiteral("Click here to filter photos date-wise")},
        {btnAddIphotoLibrary_, QStringLiteral("Click here to add iPhoto/Photos library")},
        {btnThumbnail_, QStringLiteral("Thumbnail view")},
        {btnList_, QStringLiteral("List view")},
        {btnDelete_, QStringLiteral("Click to remove")},
        {btnAddmorePhotos_, QStringLiteral("Click here to add photos to your batch")},
        {btnSelectOptions_, QStringLiteral("Click here to start editing your batch of photos")},
    };
    for (const auto& [w, text] : tips) w->setToolTip(text);

    buildDateFilterSheet();

    // The desktop's keys for a list of items: select all, and remove (with the usual question).
    auto* selectAll = new QShortcut(QKeySequence::SelectAll, this);
    selectAll->setContext(Qt::WidgetWithChildrenShortcut);
    connect(selectAll, &QShortcut::activated, this, [this] { selectAllPhotos(); });
    auto* remove = new QShortcut(QKeySequence::Delete, this);
    remove->setContext(Qt::WidgetWithChildrenShortcut);
    connect(remove, &QShortcut::activated, this, [this] {
        if (viewDragNDrop_->isHidden() && !AppDelegate::shared().arraySelectedImagesToProcess.isEmpty())
            btnOnRemovePhotoPopupTapped(0);
    });
}

void AddPhotosVC::buildDateFilterSheet() {
    windowAddPhotoWithFilter_ = new QFrame(this);
    windowAddPhotoWithFilter_->setObjectName(QStringLiteral("windowAddPhotoWithFilter"));
    windowAddPhotoWithFilter_->setFixedWidth(420);
    auto* vl = new QVBoxLayout(windowAddPhotoWithFilter_);
    auto* title = new QLabel(tr("ADD PHOTOS WITH DATE FILTER"), windowAddPhotoWithFilter_);
    title->setStyleSheet(QStringLiteral("font-weight: bold; font-size: 15px;"));
    vl->addWidget(title);
    auto* grid = new QGridLayout;
    const QDateTime now = QDateTime::currentDateTime();
    auto makePicker = [this, now](const QString& name) {
        auto* picker = new QDateTimeEdit(now, windowAddPhotoWithFilter_);
        picker->setObjectName(name);
        picker->setCalendarPopup(true);
        picker->setDisplayFormat(QStringLiteral("yyyy-MM-dd  HH:mm"));
        connect(picker, &QDateTimeEdit::dateTimeChanged, this, [this] { datePickerValueSelected(); });
        return picker;
    };
    datePickerFromDate_ = makePicker(QStringLiteral("datePickerFromDate"));
    datePickerToDate_ = makePicker(QStringLiteral("datePickerToDate"));
    grid->addWidget(new QLabel(tr("From"), windowAddPhotoWithFilter_), 0, 0);
    grid->addWidget(datePickerFromDate_, 0, 1);
    grid->addWidget(new QLabel(tr("To"), windowAddPhotoWithFilter_), 1, 0);
    grid->addWidget(datePickerToDate_, 1, 1);
    vl->addLayout(grid);
    lblFilterError_ = new QLabel(windowAddPhotoWithFilter_);
    lblFilterError_->setObjectName(QStringLiteral("lblFilterError"));
    lblFilterError_->setStyleSheet(QStringLiteral("color: #e0605a;"));
    lblFilterError_->setWordWrap(true);
    lblFilterError_->hide();
    vl->addWidget(lblFilterError_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* close = makeButton(QStringLiteral("btnCloseOnPopup"), tr("Close"), windowAddPhotoWithFilter_);
    auto* add = makeButton(QStringLiteral("btnAddFilterOnPopup"), tr("Add"), windowAddPhotoWithFilter_);
    buttons->addWidget(close);
    buttons->addWidget(add);
    vl->addLayout(buttons);
    windowAddPhotoWithFilter_->hide();
    windowAddPhotoWithFilter_->installEventFilter(this);
    add->setDefault(true);
    connect(close, &QPushButton::clicked, this, [this] { btnCloseOnPopupTapped(); });
    connect(add, &QPushButton::clicked, this, [this] { btnAddFilterOnPopupTapped(); });
}

// Sheets hang from the top edge of the screen, centred.
void AddPhotosVC::placeSheet(QWidget* sheet) {
    sheet->adjustSize();  // at a fixed width, then as tall as its wrapped texts are at that width
    sheet->setGeometry((width() - sheet->width()) / 2, 40, sheet->width(), qMax(sheet->height(), sheet->heightForWidth(sheet->width())));
}

void AddPhotosVC::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    vwLoading_->setGeometry(rect());
    placeSheet(alertSheet_);
    placeSheet(windowAddPhotoWithFilter_);
}

void AddPhotosVC::observeNotifications() {
    auto& c = *services_.center;
    using platform::DeliverOn;
    c.addObserver(names::SelectedPhotoChangedFromfiltersView,
                  [this](const platform::Notification& n) {
                      bool ok = false;
                      const int index = n.userInfo.value(QStringLiteral("selectedIndex")).toInt(&ok);
                      if (ok) selectedPhotoChangedNotification(index);
                  },
                  DeliverOn::MainThread, this);
    c.addObserver(names::FileDragDrop, [this](const platform::Notification& n) { handleFileDragDropNotification(n.userInfo); },
                  DeliverOn::MainThread, this);
    c.addObserver(names::AddPhotosViewAppear, [this](const platform::Notification&) { viewWillAppear(); }, DeliverOn::MainThread, this);
    c.addObserver(names::AddPhotosViewDisAppear, [this](const platform::Notification&) { viewWillDisAppear(); }, DeliverOn::MainThread, this);
    c.addObserver(names::ShowLoading, [this](const platform::Notification&) { showLoading(true); }, DeliverOn::MainThread, this);
    c.addObserver(names::HideLoading, [this](const platform::Notification&) { showLoading(false); }, DeliverOn::MainThread, this);
    c.addObserver(names::ProcessSkippedFiles, [this](const platform::Notification&) { processWithSkippedFilesNotification(); },
                  DeliverOn::MainThread, this);
    auto replaceTip = [this](const platform::Notification&) {
        if (tipsPopUpWindow_) showTipsWithTag(tips_.currentTips());
    };
    c.addObserver(names::WindowResized, replaceTip, DeliverOn::MainThread, this);
    c.addObserver(names::WindowEndResizing, replaceTip, DeliverOn::MainThread, this);
}

// ---------------------------------------------------------------- busy flag

// Every sheet, pop-up and overlay of the screen holds the application busy while it is
// open; the flag drops only when the last thing open anywhere in the window closes.
void AddPhotosVC::holdSubWindow(bool& held, bool on) { busy_.setHeld(held, on); }

// ---------------------------------------------------------------- alerts

void AddPhotosVC::showAlertSheet(const addphotosalerts::Sheet& sheet) {
    using addphotosalerts::Button;
    alertKind_ = sheet.kind;
    lblAlertTitle_->setText(sheet.title);
    lblAlertMessage_->setText(sheet.message);
    btnRemoveOnAlert_->setVisible(sheet.remove);
    btnOkOnAlert_->setVisible(sheet.ok);
    btnYesOnAlert_->setVisible(sheet.yes);
    btnNoOnAlert_->setVisible(sheet.no);
    btnNoOnAlert_->setText(sheet.noText);
    btnYesOnAlert_->setText(sheet.yesText);
    placeSheet(alertSheet_);
    alertSheet_->show();
    alertSheet_->raise();
    // Return presses the sheet's default button, which has the keyboard; Escape cancels.
    QPushButton* preferred = alertButton(sheet.preferred);
    for (QPushButton* b : {btnRemoveOnAlert_, btnOkOnAlert_, btnYesOnAlert_, btnNoOnAlert_}) b->setDefault(b == preferred);
    preferred->setFocus(Qt::OtherFocusReason);
    holdSubWindow(holdsAlert_, true);
}

QPushButton* AddPhotosVC::alertButton(addphotosalerts::Button button) const {
    using addphotosalerts::Button;
    switch (button) {
    case Button::Remove: return btnRemoveOnAlert_;
    case Button::No: return btnNoOnAlert_;
    case Button::Yes: return btnYesOnAlert_;
    case Button::Ok: return btnOkOnAlert_;
    }
    return btnOkOnAlert_;
}

void AddPhotosVC::cancelAlertSheet() {
    addphotosalerts::Button answer;
    if (addphotosalerts::escapeAnswers(alertKind_, &answer)) alertButton(answer)->click();
    else hideAlertSheet();
}

bool AddPhotosVC::sheetKeyPressed(QWidget* sheet, int key) {
    const bool accept = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (key != Qt::Key_Escape && !accept) return false;
    if (sheet == alertSheet_ && isAlertShown()) {
        if (key == Qt::Key_Escape) cancelAlertSheet();
        else for (QPushButton* b : sheet->findChildren<QPushButton*>()) if (b->isDefault() && b->isVisible()) b->click();
        return true;
    }
    if (sheet == windowAddPhotoWithFilter_ && !sheet->isHidden()) {
        if (key == Qt::Key_Escape) btnCloseOnPopupTapped();
        else btnAddFilterOnPopupTapped();
        return true;
    }
    return false;
}

void AddPhotosVC::hideAlertSheet() {
    alertSheet_->hide();
    alertKind_ = addphotosalerts::Kind::None;
    holdSubWindow(holdsAlert_, false);
}

bool AddPhotosVC::isAlertShown() const { return alertSheet_->isVisible() || (!alertSheet_->isHidden() && alertKind_ != addphotosalerts::Kind::None); }
QString AddPhotosVC::alertTitle() const { return isAlertShown() ? lblAlertTitle_->text() : QString(); }
QString AddPhotosVC::alertMessage() const { return isAlertShown() ? lblAlertMessage_->text() : QString(); }

void AddPhotosVC::hideNoNewPhotosAlertWindow(bool hide) {
    if (hide) hideAlertSheet();
    else showAlertSheet(addphotosalerts::info({lblAlertTitle_->text(), lblAlertMessage_->text()}));
}

void AddPhotosVC::showAlert(const intake::IntakeAlert& alert) {
    lblAlertTitle_->setText(alert.title);
    lblAlertMessage_->setText(alert.message);
    hideNoNewPhotosAlertWindow(false);
}

void AddPhotosVC::btnOkOnAlertWinTapped() { hideNoNewPhotosAlertWindow(true); }

// ---------------------------------------------------------------- intake presenter

void AddPhotosVC::hideProgressWindow(bool hide) {
    progressPanel_->setVisible(!hide);
    btnSelectOptions_->setEnabled(hide);
    if (!hide) viewDragNDrop_->hide();
    // Over photos already in the batch the panel stands for a sheet: nothing else may open.
    holdSubWindow(holdsProgress_, !hide && !AppDelegate::shared().arraySelectedImagesToProcess.isEmpty());
}

void AddPhotosVC::setUserInteractionEnabled(bool enabled) {
    header_->setEnabled(enabled);
    enableUserInteration(enabled);
}

void AddPhotosVC::progressReset() {
    progressBar_->setValue(0);
    lblProgress_->clear();
    lblProgressPath_->clear();
}

void AddPhotosVC::progressChanged(const intake::IntakeProgress& progress) {
    progressBar_->setValue(progress.percent);
    lblProgress_->setText(progress.text + QStringLiteral("   ") + progress.label);
    lblProgressPath_->setText(progress.pathText);
}

void AddPhotosVC::showPhotosAfterCompletion(const intake::BatchFooter&) {
    hideProgressWindow(true);
    const bool empty = AppDelegate::shared().arraySelectedImagesToProcess.isEmpty();
    hideDragnDropImageSetHidden(!empty);
    reloadViews();
    if (!empty) {
        changePhotosViewImageMode(IMAGES_VIEW_MODE, true);
        selectFirstPhotoAfterChange();
    }
    updateFooter();
    scheduleTip(AddPhotosTips::SelectEffects, AddPhotosTips::kAfterAddDelay);
}

void AddPhotosVC::updateFooter() {
    const intake::BatchFooter footer = intake_->updateBatchInformationInBottomView();
    lblFooter_->setText(intake::footerHtml(footer));
    lblFooter_->setProperty("plainFooter", footer.text);
}

QString AddPhotosVC::footerText() const { return lblFooter_->property("plainFooter").toString(); }

// ---------------------------------------------------------------- life cycle

void AddPhotosVC::viewWillAppear() {
    auto& app = AppDelegate::shared();
    if (isViewAppearingFirstTime_) {
        checkForLastSession();
        tips_.chainStarted();
        scheduleTip(AddPhotosTips::DropArea, AddPhotosTips::kFirstTipDelay);
        isViewAppearingFirstTime_ = false;
    }
    for (const QString& path : thumbnails_->dropChanged()) listModel_->forgetThumbnail(path);
    dragImageAnimation();
    checkForDeletedPhotosInSourceFolder(false);
    const auto& batch = app.arraySelectedImagesToProcess;
    // The batch may have changed on the other screens (a new batch, the skipped photos of
    // a run): a photo that left it can be added again.
    intake_->syncDuplicateGuard(batch);
    if (app.isSTART_AS_NEW_BATCH && batch.isEmpty()) {
        // Nothing chosen in the last batch carries over into the next.
        arrTableSelectedRows.clear();
        listAnchor_ = -1;
        customCollectionView_->deselectAllItems();
    }
    const int current = app.selectedImageIndex;
    if (app.isPHOTO_DLETED_FROM_DIRECTORY) {
        reloadViews();
        if (!batch.isEmpty() && current >= 0 && current < batch.size()) {
            customCollectionView_->selectItemAtIndexPath({0, current}, CollectionView::ScrollBottom, true);
        } else if (batch.isEmpty()) {
            hideDragnDropImageSetHidden(false);
        }
    } else if (!batch.isEmpty() && current >= 0 && current < batch.size()) {
        if (isListMode()) {
            if (!arrTableSelectedRows.contains(current)) arrTableSelectedRows.append(current);
            listModel_->reload();
            setSeletedPhotoFileWithIndex(current);
        } else {
            customCollectionView_->reloadData();
            customCollectionView_->selectItemAtIndexPath({0, current}, CollectionView::ScrollNearest, true);
        }
    }
    hideDragnDropImageSetHidden(!batch.isEmpty());
    if (isListMode()) tableviewPhotosBoundDidChange();
    else collectionViewBoundsDidChange();
    updateFooter();
}

void AddPhotosVC::viewWillDisAppear() {
    AppDelegate::shared().isPHOTO_DLETED_FROM_DIRECTORY = false;
    // The sheets and pop-ups here are not modal: one still open when the user moves on
    // closes now, or its hold on the busy flag would lock the next screen's buttons.
    if (isAlertShown()) hideAlertSheet();
    if (!windowAddPhotoWithFilter_->isHidden()) btnCloseOnPopupTapped();
    if (tipsPopUpWindow_) {
        removeTipsPopupWindow();
        tips_.dropped();
    }
    removeInfoPopupWindow();
    removeDeletePhotoInfoPopupWindow();
    removeMenuOptionsPopupWindow();
    removeAttachedPopupWindow();
}

void AddPhotosVC::handleFileDragDropNotification(const QVariantMap& userInfo) {
    if (!acceptsDrops_) return;
    intake::handleFileDragDropNotification(*intake_, userInfo);
}

void AddPhotosVC::checkForDeletedPhotosInSourceFolder(bool remove) {
    platform::log(u"check for deleted photos");
    auto& app = AppDelegate::shared();
    // A removal also lets go of the photo the not-available alert was shown for: there or
    // not, it could not be read.
    const intake::SourceCheck check = intake::checkSources(app.arraySelectedImagesToProcess, remove, {},
                                                           remove ? std::exchange(notAvailablePath_, {}) : QString());
    for (const QString& path : check.presentPaths) thumbnails_->forget(path);
    for (int i = 0; i < check.missingPaths.size(); ++i) {
        const QString& path = check.missingPaths[i];
        if (remove) {
            intake_->dictFileAdded.remove(path);
            thumbnails_->forget(path);
        } else {
            thumbnails_->markUnavailable(path);
            setTileImage(check.missingIndexes[i], screenimages::named(screenimages::kNotAvailableBig));
        }
    }
    app.arraySelectedImagesToProcess = check.kept;
    if (check.allGone() && !remove) {
        const int count = int(check.missingPaths.size());
        services_.timers->schedule(QStringLiteral("allDeleted"), 200, [this, count] {
            showAlert(addphotosalerts::allDeleted(count));
        });
    }
}

void AddPhotosVC::photoNotAvailableOnIndex(int index) {
    if (AppDelegate::shared().isSUBWINDOW_OPENED) return;
    const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    const bool inBatch = index >= 0 && index < batch.size();
    const bool exists = inBatch && platform::fileExists(batch[index]->filePath);
    showAlertSheet(addphotosalerts::notAvailable(exists));
    notAvailablePath_ = inBatch ? batch[index]->filePath : QString();
    if (inBatch) {
        thumbnails_->markUnreadable(batch[index]->filePath);
        setTileImage(index, screenimages::named(screenimages::kNotAvailableBig));
    }
}

void AddPhotosVC::btnRemoveFromBatchOnAlertTapped() {
    hideAlertSheet();
    checkForDeletedPhotosInSourceFolder(true);
    reloadViews();
    updateFooter();
    auto& app = AppDelegate::shared();
    arrTableSelectedRows.clear();
    app.selectedImageFile.reset();
    app.selectedImageIndex = -1;
    if (!app.arraySelectedImagesToProcess.isEmpty()) selectFirstPhotoAfterChange();
    else hideDragnDropImageSetHidden(false);
    services_.center->postNotification(names::RemovePhotosFromAddPhoto);
}

void AddPhotosVC::setSeletedPhotoFileWithIndex(int index) {
    auto& app = AppDelegate::shared();
    const auto& batch = app.arraySelectedImagesToProcess;
    if (index < 0 || index >= batch.size()) {
        app.selectedImageFile.reset();
        app.selectedImageIndex = -1;
        return;
    }
    const auto& photo = batch[index];
    if (app.selectedImageFile && app.selectedImageFile->fileURL == photo->fileURL) {
        // The same photo may have moved in the batch (after a removal).
        app.selectedImageIndex = index;
        return;
    }
    if (platform::fileExists(photo->filePath)) {
        app.selectedImageFile = photo;
        app.selectedImageIndex = index;
        setPreviewImage();
    } else {
        photoNotAvailableOnIndex(index);
    }
}

void AddPhotosVC::hideDragnDropImageSetHidden(bool hidden) {
    header_->setVisible(hidden);
    bottom_->setVisible(hidden);
    viewDragNDrop_->setVisible(!hidden);
    const bool empty = AppDelegate::shared().arraySelectedImagesToProcess.isEmpty();
    if (empty || !hidden) {
        scrCollectionVw_->hide();
        tblPhotos_->hide();
        if (empty && AppDelegate::shared().selectedMetatDataSettingObj)
            AppDelegate::shared().selectedMetatDataSettingObj->isReset = true;
    } else {
        scrCollectionVw_->setVisible(IMAGES_VIEW_MODE == 0);
        tblPhotos_->setVisible(IMAGES_VIEW_MODE == 1);
    }
    if (delegate_) delegate_->photosChangedNotification();
}

bool AddPhotosVC::isListMode() const { return IMAGES_VIEW_MODE == 1; }

void AddPhotosVC::changePhotosViewImageMode(int mode, bool isFirstTime) {
    IMAGES_VIEW_MODE = mode;
    const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    const bool empty = batch.isEmpty();
    btnThumbnail_->setStyleSheet(mode == 0 ? QStringLiteral("border-color: #1bac8f;") : QString());
    btnList_->setStyleSheet(mode == 1 ? QStringLiteral("border-color: #1bac8f;") : QString());
    if (mode == 0) {
        scrCollectionVw_->setVisible(!empty && viewDragNDrop_->isHidden());
        tblPhotos_->hide();
        if (!isFirstTime) {
            customCollectionView_->reloadData();
            customCollectionView_->deselectAllItems();
            for (int row : arrTableSelectedRows)
                if (row >= 0 && row < batch.size())
                    customCollectionView_->selectItemAtIndexPath({0, row}, CollectionView::ScrollNone, false,
                                                                  CollectionSelection::Multiple);
            if (arrTableSelectedRows.isEmpty()) setSeletedPhotoFileWithIndex(-1);
        }
        collectionViewBoundsDidChange();
    } else {
        scrCollectionVw_->hide();
        tblPhotos_->setVisible(!empty && viewDragNDrop_->isHidden());
        QList<int> rows;
        for (const IndexPath& p : customCollectionView_->indexPathsForSelectedItems())
            if (p.item >= 0 && p.item < batch.size() && !rows.contains(p.item)) rows.append(p.item);
        if (!isFirstTime) arrTableSelectedRows = rows;
        listModel_->reload();
        setSeletedPhotoFileWithIndex(arrTableSelectedRows.isEmpty() ? -1 : arrTableSelectedRows.last());
        tableviewPhotosBoundDidChange();
    }
}

void AddPhotosVC::btnViewPhotosModetapped(int tag) {
    platform::log(u"view photos mode tapped tapped");
    changePhotosViewImageMode(tag, false);
}

void AddPhotosVC::dragImageAnimation() {
    animationCounter_ = 1;
    services_.timers->schedule(kAnimationTimer, 200, [this] { dragAnimationTick(); });
}

void AddPhotosVC::dragAnimationTick() {
    if (animationCounter_ >= 20) {
        dragImageAnimation();
        return;
    }
    leftBox_->setAnimationFrame(animationCounter_++);
    services_.timers->schedule(kAnimationTimer, 200, [this] { dragAnimationTick(); });
}

void AddPhotosVC::btnNextTapped() {
    btnSelectOptions_->setEnabled(false);
    auto& app = AppDelegate::shared();
    const auto& batch = app.arraySelectedImagesToProcess;
    if (isListMode()) {
        setSeletedPhotoFileWithIndex(arrTableSelectedRows.isEmpty() ? 0 : arrTableSelectedRows.last());
    } else if (customCollectionView_->indexPathsForSelectedItems().empty()) {
        setSeletedPhotoFileWithIndex(0);
    }
    const int current = app.selectedImageIndex;
    // Enabled again whatever happens, so a failed Next can be tried again.
    btnSelectOptions_->setEnabled(true);
    if (current >= 0 && current < batch.size() && platform::fileExists(batch[current]->filePath)) {
        if (delegate_) delegate_->btnNextFromAddPhotosVcTapped();
    } else if (!app.isSUBWINDOW_OPENED && !isAlertShown()) {
        photoNotAvailableOnIndex(current);
    }
}

void AddPhotosVC::processWithSkippedFilesNotification() {
    intake_->syncDuplicateGuard(AppDelegate::shared().arraySelectedImagesToProcess);
    reloadViews();
    hideDragnDropImageSetHidden(!AppDelegate::shared().arraySelectedImagesToProcess.isEmpty());
    updateFooter();
}

void AddPhotosVC::reloadViews() {
    customCollectionView_->reloadData();
    listModel_->reload();
    if (isListMode()) tableviewPhotosBoundDidChange();
    else collectionViewBoundsDidChange();
}

void AddPhotosVC::selectFirstPhotoAfterChange() {
    if (AppDelegate::shared().arraySelectedImagesToProcess.isEmpty()) return;
    if (isListMode()) {
        tableviewPhotosBoundDidChange();
    } else {
        customCollectionView_->selectItemAtIndexPath({0, 0}, CollectionView::ScrollTop, true);
    }
    setSeletedPhotoFileWithIndex(0);
}

// ---------------------------------------------------------------- grid

int AddPhotosVC::numberOfItemsInSection(CollectionView*, int) {
    return int(AppDelegate::shared().arraySelectedImagesToProcess.size());
}

CollectionViewCell* AddPhotosVC::cellForItemAtIndexPath(CollectionView* view, const IndexPath& path) {
    auto* cell = static_cast<GridCell*>(view->dequeueReusableCellWithIdentifier(QStringLiteral("CELL"), path.item));
    const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    if (!cell || path.item < 0 || path.item >= batch.size()) return cell;
    const PhotoFile& photo = *batch[path.item];
    cell->setFileName(photo.displayName());
    cell->setFileDimension(QStringLiteral("Dimensions %1 X %2").arg(int(photo.width)).arg(int(photo.height)));
    cell->setFileSize(QStringLiteral("Size %1").arg(photo.fileSizeAsString));
    cell->setToolTip(thumbnails_->unavailableToolTip(photo.filePath));
    if (thumbnails_->isUnavailable(photo.filePath)) cell->setImage(screenimages::named(screenimages::kNotAvailableBig));
    else if (const QImage* cached = thumbnails_->cachedTile(photo.filePath)) cell->setImage(*cached);
    else cell->setImage(screenimages::named(screenimages::kPlaceHolder));
    cell->setRowIndex(path.item);
    return cell;
}

void AddPhotosVC::setTileImage(int index, const QImage& image) {
    const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    if (index < 0 || index >= batch.size()) return;
    if (auto* cell = qobject_cast<GridCell*>(customCollectionView_->cellForItemAtIndexPath({0, index}))) {
        if (cell->cellIndex() != index) return;
        cell->setImage(image.isNull() ? screenimages::named(screenimages::kNotAvailableBig) : image);
        cell->setToolTip(thumbnails_->unavailableToolTip(batch[index]->filePath));
    }
}

void AddPhotosVC::scrollViewBoundDidChange(QRect bounds) {
    // Only a scroll closes the info pop-up; a new size from layout (a view switch, a
    // window resize) keeps it.
    if (bounds.topLeft() != gridScrollOrigin_) removeInfoPopupWindow();
    gridScrollOrigin_ = bounds.topLeft();
}

void AddPhotosVC::collectionViewBoundsDidChange() {
    thumbnails_->scrollingBegan();
    services_.timers->schedule(QStringLiteral("scrollingEnd"), 300, [this] { scrollingEndAfterDelay(); });
}

void AddPhotosVC::scrollingEndAfterDelay() {
    const int count = int(AppDelegate::shared().arraySelectedImagesToProcess.size());
    QList<int> visible;
    for (const IndexPath& path : customCollectionView_->indexPathsForVisibleItems())
        if (path.item >= 0 && path.item < count && customCollectionView_->cellForItemAtIndexPath(path)) visible << path.item;
    thumbnails_->loadTiles(visible);
}

int AddPhotosVC::shownTileOf(const QString& path) const {
    const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    for (const IndexPath& p : customCollectionView_->indexPathsForVisibleItems())
        if (p.item >= 0 && p.item < batch.size() && batch[p.item]->filePath == path) return p.item;
    return -1;
}

void AddPhotosVC::didSelectItemAtIndexPath(CollectionView* view, const IndexPath& path) {
    auto& app = AppDelegate::shared();
    const auto& batch = app.arraySelectedImagesToProcess;
    if (path.item < 0 || path.item >= batch.size()) return;
    if (thumbnails_->isReadable(batch[path.item]->filePath)) {
        setSeletedPhotoFileWithIndex(path.item);
        return;
    }
    photoNotAvailableOnIndex(path.item);
    const int current = app.selectedImageIndex;
    if (current >= 0 && current < batch.size()) view->selectItemAtIndexPath({0, current}, CollectionView::ScrollNone, false);
    else view->deselectAllItems();
}

void AddPhotosVC::selectedPhotoChangedNotification(int index) {
    const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    if (index < 0 || index >= batch.size()) return;
    if (isListMode()) {
        arrTableSelectedRows = {index};
        listModel_->reload();
    } else {
        customCollectionView_->selectItemAtIndexPath({0, index}, CollectionView::ScrollNone, true);
    }
}

// ---------------------------------------------------------------- list

void AddPhotosVC::listRowClicked(int row, int column, Qt::KeyboardModifiers modifiers) {
    const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    if (row < 0 || row >= batch.size()) return;
    if (column == BatchListModel::InfoColumn) {
        const QRect cell = tblPhotos_->visualRect(listModel_->index(row, column));
        const QPoint origin = cell.center() - kBelowInfoButton;
        btnInfoTappedAtLocationInTableView(tblPhotos_->viewport()->mapTo(viewLevelsAbove(tblPhotos_, 2), origin), row);
        return;
    }
    const auto kind = listselection::clickKind(column == BatchListModel::CheckColumn, modifiers);
    arrTableSelectedRows = listselection::afterClick(arrTableSelectedRows, row, kind, listAnchor_);
    if (kind != listselection::Click::Extend) listAnchor_ = row;
    listModel_->checksChanged();
    setSeletedPhotoFileWithIndex(row);
}

void AddPhotosVC::selectAllPhotos() {
    const int count = int(AppDelegate::shared().arraySelectedImagesToProcess.size());
    if (count == 0 || !viewDragNDrop_->isHidden()) return;
    if (isListMode()) {
        arrTableSelectedRows = listselection::allRows(count);
        listModel_->checksChanged();
    } else {
        customCollectionView_->selectItemAtIndexPath({0, 0}, CollectionView::ScrollNone, false);
        customCollectionView_->selectItemAtIndexPath({0, count - 1}, CollectionView::ScrollNone, false,
                                                     CollectionSelection::Extending);
    }
}

// A right click on a photo that is not selected makes it the selection, as the desktop's
// lists do, so what the menu acts on is the photo under the pointer.
void AddPhotosVC::selectForContextMenu(int index) {
    const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    if (index < 0 || index >= batch.size()) return;
    if (isListMode()) {
        if (arrTableSelectedRows.contains(index)) return;
        arrTableSelectedRows = {index};
        listAnchor_ = index;
        listModel_->checksChanged();
    } else {
        const auto selected = customCollectionView_->indexPathsForSelectedItems();
        if (std::find(selected.begin(), selected.end(), IndexPath{0, index}) != selected.end()) return;
        customCollectionView_->selectItemAtIndexPath({0, index}, CollectionView::ScrollNone, false);
    }
    setSeletedPhotoFileWithIndex(index);
}

void AddPhotosVC::tableviewPhotosBoundDidChange() { loadTableViewThumbnailImages(); }

void AddPhotosVC::loadTableViewThumbnailImages() {
    removeInfoPopupWindow();
    const int count = int(AppDelegate::shared().arraySelectedImagesToProcess.size());
    if (count == 0 || !isListMode()) return;
    int first = tblPhotos_->rowAt(0);
    int last = tblPhotos_->rowAt(tblPhotos_->viewport()->height() - 1);
    if (first < 0) first = 0;
    if (last < 0) last = std::min(count - 1, first + tblPhotos_->viewport()->height() / 35 + 1);
    thumbnails_->loadRows(first, last, [this](const QString& file) { return listModel_->hasThumbnail(file); });
}

void AddPhotosVC::setRowImage(int row, const QString& path, const QImage& image) { listModel_->setThumbnail(row, path, image); }

void AddPhotosVC::unavailableChanged(int index) { listModel_->unavailableChanged(index); }

bool AddPhotosVC::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == alertSheet_ || watched == windowAddPhotoWithFilter_) && event->type() == QEvent::KeyPress)
        return sheetKeyPressed(static_cast<QWidget*>(watched), static_cast<QKeyEvent*>(event)->key());
    if ((watched == addPhoto_icon_ || watched == leftBox_) && event->type() == QEvent::MouseButtonPress) {
        auto* e = static_cast<QMouseEvent*>(event);
        const bool onButton = watched == addPhoto_icon_ ||
                              QLineF(e->position(), leftBox_->ringCentre()).length() <= DropArea::kLargestRingRadius;
        if (e->button() == Qt::LeftButton && onButton) {
            btnAddphotosInMiddleTapped();
            return true;
        }
        return false;
    }
    if (watched == tblPhotos_->viewport()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* e = static_cast<QMouseEvent*>(event);
            listPressModifiers_ = e->modifiers();
            if (e->button() == Qt::RightButton) {
                // Below the last row a right click does nothing.
                const int row = tblPhotos_->rowAt(e->position().toPoint().y());
                if (row >= 0) {
                    selectForContextMenu(row);
                    showMenuOptionsAtLocation(windowPointOf(tblPhotos_->viewport(), e->position().toPoint()), row);
                }
                return true;
            }
            break;
        }
        default: break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- pop-ups

QPoint AddPhotosVC::windowPointOf(QWidget* widget, QPoint local) const { return widget->mapTo(window(), local); }

// Each pop-up is deleted when it closes, by whatever path; its outside-press watcher
// goes with it.
AttachedWindow* AddPhotosVC::makePopup(QWidget* view, QPoint point, int side, bool arrow) {
    stylePopupContent(view);
    auto* popup = new AttachedWindow(view, point, window(), side, 5);
    popup->setBorderColor(Qt::transparent);
    popup->setBackgroundColor(kPopupBackground);
    popup->setHasArrow(arrow ? 1.0f : 0.0f);
    connect(popup, &AttachedWindow::closed, popup, &QObject::deleteLater);
    popup->show();
    popup->raise();
    return popup;
}

void AddPhotosVC::btnInfoTappedAtLocationInCollectionView(const QPoint& location, const IndexPath& path) {
    QWidget* reference = viewLevelsAbove(customCollectionView_, 2);
    openInfoForIndex(path.item, reference->mapTo(window(), location + kBelowInfoButton));
}

void AddPhotosVC::btnInfoTappedAtLocationInTableView(const QPoint& location, int row) {
    QWidget* reference = viewLevelsAbove(tblPhotos_, 2);
    openInfoForIndex(row, reference->mapTo(window(), location + kBelowInfoButton));
}

void AddPhotosVC::btnCheckBoxTappedAtIndex(const QList<int>& indexes) {
    if (indexes.isEmpty()) return;
    const int last = indexes.last();
    if (last >= 0 && last < AppDelegate::shared().arraySelectedImagesToProcess.size()) setSeletedPhotoFileWithIndex(last);
}

void AddPhotosVC::openInfoForIndex(int index, QPoint windowPoint) {
    const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    if (index < 0 || index >= batch.size()) return;
    // Facts of a photo whose picture does not read are still shown, with why (below); only
    // a file that is no picture at all gets the alert.
    if (thumbnails_->isNoPicture(batch[index]->filePath)) {
        photoNotAvailableOnIndex(index);
        return;
    }
    setSeletedPhotoFileWithIndex(index);
    removeInfoPopupWindow();
    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("vWImageMetadata"));
    view->resize(460, 420);
    auto* vl = new QVBoxLayout(view);
    auto* close = makeButton(QStringLiteral("btnClosePhotoInfo"), tr("Close"), view);
    auto* table = new QTableWidget(int(arrMetaData_.size()), 2, view);
    table->setObjectName(QStringLiteral("tvMetaData"));
    table->horizontalHeader()->hide();
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(30);
    table->setColumnWidth(0, 150);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int r = 0; r < arrMetaData_.size(); ++r) {
        table->setItem(r, 0, new QTableWidgetItem(arrMetaData_[r].title));
        auto* value = new QTableWidgetItem(QStringLiteral(":      %1").arg(arrMetaData_[r].value));
        value->setToolTip(arrMetaData_[r].value);
        table->setItem(r, 1, value);
    }
    vl->addWidget(close, 0, Qt::AlignRight);
    const QString notice = thumbnails_->unavailableToolTip(batch[index]->filePath);
    if (!notice.isEmpty()) {
        // What the tile's "!" stands for, above the facts that could still be read.
        auto* label = new QLabel(notice, view);
        label->setObjectName(QStringLiteral("lblUnavailableNotice"));
        label->setWordWrap(true);
        label->setStyleSheet(QStringLiteral("color: #e0605a;"));
        vl->addWidget(label);
    }
    vl->addWidget(table);
    infoWindow_ = makePopup(view, windowPoint, 12, true);
    infoWindow_->setCornerRadius(0);
    connect(close, &QPushButton::clicked, this, [this] { btnClosePhotoInfoTapped(); });
}

void AddPhotosVC::removeInfoPopupWindow() {
    if (infoWindow_) infoWindow_->closePopup();
}

void AddPhotosVC::setPreviewImage() {
    auto& app = AppDelegate::shared();
    if (app.selectedImageFile && !app.selectedImageFile->filePath.isEmpty()) {
        if (auto info = ImageFileInfo::initWithPathForFile(app.selectedImageFile->filePath))
            arrMetaData_ = photoinfo::createArrayToUpdateMetaDataWithNode(*info);
    }
    if (app.arraySelectedImagesToProcess.isEmpty()) hideDragnDropImageSetHidden(false);
    app.isSELECTED_IMAGE_CHANGED = true;
}

// ---------------------------------------------------------------- removal

void AddPhotosVC::btnRemoveTapped() {
    addRemovePhotoPopupWindowAtPoint(windowPointOf(btnDelete_, QPoint(btnDelete_->width() / 2, btnDelete_->height())));
    btnDelete_->setDown(true);
}

void AddPhotosVC::addRemovePhotoPopupWindowAtPoint(QPoint windowPoint) {
    removeDeletePhotoInfoPopupWindow();
    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("vwRemovePhoto"));
    auto* vl = new QVBoxLayout(view);
    auto* selected = makeButton(QStringLiteral("btnRemoveSelected"), tr("Remove Selected"), view);
    auto* all = makeButton(QStringLiteral("btnRemoveAll"), tr("Remove All"), view);
    vl->addWidget(selected);
    vl->addWidget(all);
    stylePopupContent(view);  // before sizing: the style sets the buttons' padding
    view->adjustSize();
    removePhotoWindow_ = makePopup(view, windowPoint, 1, true);
    // A press outside closes the pop-up (its own watcher); the delete button follows.
    connect(removePhotoWindow_, &AttachedWindow::closed, this, [this] { dismissRemovePhotoInfoWindow(); });
    connect(selected, &QPushButton::clicked, this, [this] { btnOnRemovePhotoPopupTapped(0); });
    connect(all, &QPushButton::clicked, this, [this] { btnOnRemovePhotoPopupTapped(1); });
}

void AddPhotosVC::removeDeletePhotoInfoPopupWindow() {
    if (removePhotoWindow_) removePhotoWindow_->closePopup();
    btnDelete_->setDown(false);
}

void AddPhotosVC::dismissRemovePhotoInfoWindow() { removeDeletePhotoInfoPopupWindow(); }

void AddPhotosVC::btnOnRemovePhotoPopupTapped(int tag) {
    if (AppDelegate::shared().isSUBWINDOW_OPENED) return;
    removeDeletePhotoInfoPopupWindow();
    if (tag == 0) showAlertSheet(addphotosalerts::removeSelected(int(getSelectedIndices().size())));
    else if (tag == 1) showAlertSheet(addphotosalerts::removeAll(int(AppDelegate::shared().arraySelectedImagesToProcess.size())));
}

QList<std::shared_ptr<PhotoFile>> AddPhotosVC::getSelectedIndices() const {
    const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    QList<std::shared_ptr<PhotoFile>> photos;
    if (isListMode()) {
        for (int row = 0; row < batch.size(); ++row)
            if (arrTableSelectedRows.contains(row)) photos.append(batch[row]);
    } else {
        for (const IndexPath& p : customCollectionView_->indexPathsForSelectedItems())
            if (p.item >= 0 && p.item < batch.size()) photos.append(batch[p.item]);
    }
    return photos;
}

void AddPhotosVC::removeTempAndMarkReset() {
    auto& app = AppDelegate::shared();
    app.isSELECTED_IMAGE_CHANGED = true;
    if (app.selectedMetatDataSettingObj) app.selectedMetatDataSettingObj->isReset = true;
}

void AddPhotosVC::btnYesOnRemoveSelectedPhotoTapped() {
    hideAlertSheet();
    Utils::sharedUtils().removeTempFilterImageFiles();
    auto& app = AppDelegate::shared();
    const auto doomed = getSelectedIndices();
    for (const auto& photo : doomed) {
        app.arraySelectedImagesToProcess.removeAll(photo);
        intake_->dictFileAdded.remove(photo->filePath);
        thumbnails_->forget(photo->filePath);
    }
    // Row numbers now name other photos: no check survives that the user did not make.
    arrTableSelectedRows.clear();
    app.selectedImageFile.reset();
    app.selectedImageIndex = -1;
    customCollectionView_->deselectAllItems();
    reloadViews();
    if (!app.arraySelectedImagesToProcess.isEmpty()) selectFirstPhotoAfterChange();
    setPreviewImage();
    updateFooter();
    removeTempAndMarkReset();
}

void AddPhotosVC::btnNoOnRemoveSelectedPhotoTapped() { hideAlertSheet(); }

void AddPhotosVC::btnYesOnRemoveAllPhotoTapped() {
    hideAlertSheet();
    Utils::sharedUtils().removeTempFilterImageFiles();
    auto& app = AppDelegate::shared();
    intake_->dictFileAdded.clear();
    app.arraySelectedImagesToProcess.clear();
    thumbnails_->forgetAll();
    arrTableSelectedRows.clear();
    customCollectionView_->deselectAllItems();
    reloadViews();
    setSeletedPhotoFileWithIndex(-1);
    setPreviewImage();
    updateFooter();
    removeTempAndMarkReset();
}

void AddPhotosVC::btnNoOnRemoveAllPhotoTapped() { hideAlertSheet(); }

// ---------------------------------------------------------------- context menu

void AddPhotosVC::didRightClickItemAtIndexPath(CollectionView*, const IndexPath& path, QMouseEvent* event) {
    selectForContextMenu(path.item);
    const QPoint at = event ? customCollectionView_->viewport()->mapTo(window(), event->position().toPoint())
                            : windowPointOf(customCollectionView_, QPoint(20, 20));
    showMenuOptionsAtLocation(at, path.item);
}

void AddPhotosVC::showMenuOptionsAtLocation(QPoint windowPoint, int index) {
    removeMenuOptionsPopupWindow();
    selectedMenuFileIndexPath_ = index;
    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("vwPhotoMenuOptions"));
    auto* vl = new QVBoxLayout(view);
    const std::pair<const char*, QString> entries[] = {
        {"btnReviealInFinder", tr("Show in File Manager")},
        {"btnShowPreview", tr("Open")},
        {"btnGetInfo", tr("Show Info")},
        {"btnDeleteOnMenuOption", tr("Delete")},
    };
    for (int i = 0; i < 4; ++i) {
        auto* b = makeButton(QString::fromLatin1(entries[i].first), entries[i].second, view);
        vl->addWidget(b);
        if (i < 3) connect(b, &QPushButton::clicked, this, [this, i] { btnOnMenuOptionTapped(i); });
        else connect(b, &QPushButton::clicked, this, [this] { btnDeleteOnMenuOptionTapped(); });
    }
    stylePopupContent(view);  // before sizing: the style sets the buttons' padding
    view->adjustSize();
    menuOptionsWindow_ = makePopup(view, windowPoint, 1, false);
}

void AddPhotosVC::removeMenuOptionsPopupWindow() {
    if (menuOptionsWindow_) menuOptionsWindow_->closePopup();
}

void AddPhotosVC::btnOnMenuOptionTapped(int entry) {
    const auto& batch = AppDelegate::shared().arraySelectedImagesToProcess;
    if (selectedMenuFileIndexPath_ < 0 || selectedMenuFileIndexPath_ >= batch.size()) return;
    removeMenuOptionsPopupWindow();
    const QString path = batch[selectedMenuFileIndexPath_]->filePath;
    using openfailure::Request;
    bool taken = true;
    Request request = Request::Open;
    switch (entry) {
    case 0: taken = services_.fileManager->revealFile(path), request = Request::Reveal; break;
    case 1: taken = services_.fileManager->openFile(path), request = Request::Open; break;
    case 2: taken = services_.fileManager->showFileInfo(path), request = Request::Info; break;
    default: break;
    }
    if (!taken) {
        const auto text = openfailure::textFor(request, path);
        showAlert({text.title, text.message});
    }
}

void AddPhotosVC::btnDeleteOnMenuOptionTapped() {
    removeMenuOptionsPopupWindow();
    btnOnRemovePhotoPopupTapped(0);
}

// ---------------------------------------------------------------- overlay

// Showing twice keeps the overlay up (a second show is not a hide).
void AddPhotosVC::showLoading(bool show) {
    loadingShown_ = show;
    vwLoading_->setGeometry(rect());
    vwLoading_->setVisible(show);
    if (show) vwLoading_->raise();
    holdSubWindow(holdsLoading_, show);
    enableUserInteration(!show && !tipsPopUpWindow_);
}

bool AddPhotosVC::isLoadingShown() const { return loadingShown_; }

void AddPhotosVC::enableUserInteration(bool enable) {
    acceptsDrops_ = enable;
    leftBox_->setAcceptDrops(enable);
}

// ---------------------------------------------------------------- tips

bool AddPhotosVC::isTipsAlreadyDisplayed() const { return tips_.isTipsAlreadyDisplayed(); }

void AddPhotosVC::scheduleTip(int tag, int delay) {
    services_.timers->schedule(AddPhotosTips::timerKey(tag), delay, [this, tag] { showTipsWithTag(tag); });
}

void AddPhotosVC::showTipsWithTag(int tag) {
    if (!AddPhotosTips::tipWithTag(tag)) return;
    if (!isVisible()) {
        // Its turn came while another screen shows: it is not shown over that one.
        if (!tips_.isOpen()) tips_.dropped();
        return;
    }
    removeTipsPopupWindow();
    const auto tip = tips_.request(tag);
    if (!tip) return;
    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("tipsPopupView"));
    view->resize(280, tip->height);
    auto* vl = new QVBoxLayout(view);
    auto* text = new QLabel(tip->text, view);
    text->setObjectName(QStringLiteral("lblTipsText"));
    text->setWordWrap(true);
    checkDisableTips_ = new QCheckBox(tr("Don't show tips"), view);
    checkDisableTips_->setObjectName(QStringLiteral("checkDisableTips"));
    checkDisableTips_->setChecked(tipsDisableChecked_);
    connect(checkDisableTips_, &QCheckBox::toggled, this, [this](bool on) { tipsDisableChecked_ = on; });
    auto* next = makeButton(QStringLiteral("btnNextOnTips"), tr("Next"), view);
    auto* gotIt = makeButton(QStringLiteral("btnGotItOnTips"), tr("Got It"), view);
    next->setVisible(tip->next);
    gotIt->setVisible(!tip->next);
    (tip->next ? next : gotIt)->setDefault(true);
    auto* row = new QHBoxLayout;
    row->addWidget(checkDisableTips_);
    row->addStretch(1);
    row->addWidget(next);
    row->addWidget(gotIt);
    vl->addWidget(text, 1);
    vl->addLayout(row);
    connect(next, &QPushButton::clicked, this, [this] { btnCloseOnTipsPopupTapped(); });
    connect(gotIt, &QPushButton::clicked, this, [this] { btnCloseOnTipsPopupTapped(); });
    QPoint point;
    int side = 3;
    if (tag == AddPhotosTips::SelectEffects) {
        point = windowPointOf(btnSelectOptions_, QPoint(btnSelectOptions_->width() / 2, 0));
    } else if (!viewDragNDrop_->isVisible()) {
        // Photos came in before the tip's turn: the ways in are behind the add-more button.
        point = windowPointOf(btnAddmorePhotos_, QPoint(btnAddmorePhotos_->width() / 2, btnAddmorePhotos_->height()));
        side = 1;
    } else if (tag == AddPhotosTips::DropArea) {
        // Beside the drop area's ring, the picture the tip speaks of.
        const QPointF ring = leftBox_->ringCentre() + QPointF(DropArea::kLargestRingRadius + 4, 0);
        point = windowPointOf(leftBox_, ring.toPoint());
        side = 2;
    } else {
        point = windowPointOf(btnAddIphotoLibrary_, QPoint(btnAddIphotoLibrary_->width() / 2, 0));
    }
    stylePopupContent(view);
    auto* popup = AttachedWindow::createTip(view, point, window(), side);
    popup->show();
    popup->raise();
    tipsPopUpWindow_ = popup;
    holdSubWindow(holdsTip_, true);
    enableUserInteration(false);
}

void AddPhotosVC::removeTipsPopupWindow() {
    if (tipsPopUpWindow_) tipsPopUpWindow_->closePopup();
    tipsPopUpWindow_ = nullptr;
    holdSubWindow(holdsTip_, false);
    enableUserInteration(!loadingShown_);
}

void AddPhotosVC::setTipsDisabledChecked(bool on) {
    tipsDisableChecked_ = on;
    if (checkDisableTips_ && tipsPopUpWindow_) checkDisableTips_->setChecked(on);
}

void AddPhotosVC::btnCloseOnTipsPopupTapped() {
    removeTipsPopupWindow();
    if (const auto next = tips_.closed(tipsDisableChecked_)) scheduleTip(*next, AddPhotosTips::kNextTipDelay);
}

// ---------------------------------------------------------------- ways in

void AddPhotosVC::openPanel(intake::OpenPanelSpec spec, intake::AddSource source, int pathType) {
    // The file and folder panels open where the last one was left, at first in Pictures
    // (never in the program's own working folder).
    const bool remembers = source != intake::AddSource::LibraryPanel;
    if (remembers && spec.directory.isEmpty()) spec.directory = lastPanelFolder_;
    QFileDialog* dialog = makeOpenPanel(spec, this, pathType);
    dialog->setObjectName(QStringLiteral("openPanel"));
    // The panel is a child of the screen and would take the screen's light-on-dark labels
    // over its own light background: it gets a complete dark look of its own.
    dialog->setStyleSheet(QStringLiteral(
        "QFileDialog { background: #262626; } QLabel { color: #ddd; }"
        "QLineEdit, QComboBox, QListView, QTreeView { background: #1e1e1e; color: #ddd; border: 1px solid #444; }"
        "QHeaderView::section { background: #2b2b2b; color: #bbb; border: none; padding: 4px; }"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    holdSubWindow(holdsPanel_, true);
    connect(dialog, &QDialog::finished, this, [this, dialog, source, remembers](int result) {
        holdSubWindow(holdsPanel_, false);
        if (remembers) lastPanelFolder_ = dialog->directory().absolutePath();
        if (result == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
            intake::completeOpenPanel(*intake_, source, dialog->selectedFiles(), this);
    });
    dialog->open();
}

void AddPhotosVC::btnAddPhotosTappedWithIndex(int index) {
    static const intake::AddSource sources[] = {intake::AddSource::OpenPanelFiles, intake::AddSource::OpenPanelFolder,
                                                intake::AddSource::OpenPanelFolderWithDateFilter};
    if (index < 0 || index > 2) return;
    openPanel(intake::openPanelSpec(index), sources[index], -1);
}

void AddPhotosVC::btnAddIphotosTapped() {
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    openPanel(intake::libraryPanelSpec(AppDelegate::shared().isPHOTOS_APP_INSTALLED, pictures), intake::AddSource::LibraryPanel,
              intake::PathTypeOlderLibrary);
}

void AddPhotosVC::btnAddMorePhotosTapped() {
    flagCurrentAttachPopupType_ = 1;
    const QStringList options = intake::addPhotosOptions(AppDelegate::shared().isPHOTOS_APP_INSTALLED);
    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("addOptionsView"));
    auto* vl = new QVBoxLayout(view);
    for (int row = 0; row < options.size(); ++row) {
        auto* b = makeButton(QStringLiteral("addOption%1").arg(row), options[row], view);
        vl->addWidget(b);
        connect(b, &QPushButton::clicked, this, [this, row, count = int(options.size())] {
            removeAttachedPopupWindow();
            switch (intake::choiceForRow(row, count, flagCurrentAttachPopupType_)) {
            case intake::AddOptionChoice::OpenFiles: btnAddPhotosTappedWithIndex(0); break;
            case intake::AddOptionChoice::OpenFolder: btnAddPhotosTappedWithIndex(1); break;
            case intake::AddOptionChoice::DateFilterSheet: btnAddPhotoWithFilterTapped(); break;
            case intake::AddOptionChoice::LibraryPanel: btnAddIphotosTapped(); break;
            default: break;
            }
        });
    }
    stylePopupContent(view);  // before sizing: the style sets the buttons' padding
    view->adjustSize();
    vwPopupWithTableOptions_ = view;
    addAttachedPopupWindowWithTag(1);
}

// The file-type list is never offered: only the add options get a pop-up window, so
// every add takes every accepted type ("ALL").
void AddPhotosVC::btnSelectFileTypeTapped() {
    flagCurrentAttachPopupType_ = 0;
    addAttachedPopupWindowWithTag(0);
}

void AddPhotosVC::addAttachedPopupWindowWithTag(int tag) {
    if (tag != 1 || !vwPopupWithTableOptions_) return;
    removeAttachedPopupWindow();
    attachedPopUpWindow_ = makePopup(vwPopupWithTableOptions_, windowPointOf(btnAddmorePhotos_, QPoint(btnAddmorePhotos_->width() / 2,
                                                                                                       btnAddmorePhotos_->height())),
                                     1, true);
}

void AddPhotosVC::btnAddPhotoWithFilterTapped() {
    lblFilterError_->hide();
    intake_->selectedFileType = QStringLiteral("ALL");
    holdSubWindow(holdsFilterSheet_, true);
    placeSheet(windowAddPhotoWithFilter_);
    windowAddPhotoWithFilter_->show();
    windowAddPhotoWithFilter_->raise();
    datePickerFromDate_->setFocus(Qt::OtherFocusReason);
}

void AddPhotosVC::btnAddFilterOnPopupTapped() {
    const QDateTime from = datePickerFromDate_->dateTime();
    const QDateTime to = datePickerToDate_->dateTime();
    const QString error = PhotoIntake::dateFilterError(from, to);
    if (!error.isEmpty()) {
        lblFilterError_->setText(error);
        lblFilterError_->show();
        placeSheet(windowAddPhotoWithFilter_);  // room for the text
        return;
    }
    btnCloseOnPopupTapped();
    intake_->datePickerFromDate = from;
    intake_->datePickerToDate = to;
    btnAddPhotosTappedWithIndex(2);
}

void AddPhotosVC::btnCloseOnPopupTapped() {
    windowAddPhotoWithFilter_->hide();
    holdSubWindow(holdsFilterSheet_, false);
}

void AddPhotosVC::datePickerValueSelected() {
    if (lblFilterError_->isHidden()) return;
    lblFilterError_->hide();
    placeSheet(windowAddPhotoWithFilter_);
}

QString AddPhotosVC::dateFilterErrorText() const { return lblFilterError_->isHidden() ? QString() : lblFilterError_->text(); }

void AddPhotosVC::removeAttachedPopupWindow() {
    if (attachedPopUpWindow_) attachedPopUpWindow_->closePopup();
}

void AddPhotosVC::checkForLastSession() {
    if (!intake::hasLastSession(*services_.defaults)) return;
    services_.timers->schedule(QStringLiteral("lastSession"), 400, [this] { showLoadLastSessionWindow(); });
}

void AddPhotosVC::showLoadLastSessionWindow() {
    showAlertSheet(addphotosalerts::lastSession());
}

void AddPhotosVC::btnLoadLastSessionTapped() {
    hideAlertSheet();
    intake::loadLastSession(*intake_, *services_.executor, this, *services_.defaults, &arrPathsToAccess);
}

void AddPhotosVC::btnStartNewSessionTapped() {
    hideAlertSheet();
    intake::startNewSession(*services_.defaults);
}
