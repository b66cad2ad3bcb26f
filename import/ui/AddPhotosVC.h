#pragma once
// The add-photos screen (screen 0 of the main window): the drop area and the ways in,
// the batch as a grid of tiles or a list, the photo info pop-up, removal, the context
// menu, the loading overlay and the first-use tips. Photos enter through PhotoIntake.
#include <QImage>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

#include "import/AddPhotosAlerts.h"
#include "import/AddPhotosTips.h"
#include "import/BatchThumbnails.h"
#include "import/PhotoIntake.h"
#include "import/PhotoSources.h"
#include "import/ui/PhotoInfoRows.h"
#include "import/ui/PhotoThumbnailCell.h"
#include "import/ui/ScreenServices.h"
#include "ui/AttachedWindow.h"
#include "records/AppDelegate.h"
#include "ui/CollectionView.h"
#include "records/SubWindowHold.h"

// Implemented by the main window: how the add-photos screen moves the user on.
class AddPhotosDelegate {
public:
    virtual ~AddPhotosDelegate() = default;
    virtual void btnNextFromAddPhotosVcTapped() = 0;
    // The batch or the drop area's state changed.
    virtual void photosChangedNotification() = 0;
};

namespace platform {
class UserDefaults;
class NotificationCenter;
}  // namespace platform

class QPushButton;
class QLabel;
class QTableView;
class QCheckBox;
class QFrame;
class QProgressBar;
class QTableWidget;
class QDateTimeEdit;
class BatchListModel;
class DropArea;
class GridCell;

// Stand-ins for tests; every null entry gets the real thing.
struct AddPhotosServices {
    IntakeExecutor* executor = nullptr;
    ThumbnailWorkers* gridWorkers = nullptr;
    ThumbnailWorkers* listWorkers = nullptr;
    ScreenTimers* timers = nullptr;
    FileManagerService* fileManager = nullptr;
    platform::UserDefaults* defaults = nullptr;
    platform::NotificationCenter* center = nullptr;
    // Makes a thumbnail of the file no larger than the size; may run on any thread.
    std::function<QImage(const QString& path, QSize size)> makeThumbnail;
};

class AddPhotosVC : public QWidget,
                    public IntakePresenter,
                    public IntakeProgressSink,
                    public CollectionViewDataSource,
                    public CollectionViewDelegate,
                    public CollectionViewGridLayoutDelegate,
                    public PhotoThumbnailCellDelegate,
                    public PhotoListCellDelegate,
                    private BatchThumbnailsView {
    Q_OBJECT
public:
    explicit AddPhotosVC(QWidget* parent = nullptr, AddPhotosServices services = {});
    ~AddPhotosVC() override;
    void setDelegate(AddPhotosDelegate* delegate) { delegate_ = delegate; }
    AddPhotosDelegate* delegate() const { return delegate_; }

    // ---- what tests and the shell reach ----
    QPushButton* nextButton() const { return btnSelectOptions_; }
    DropArea* dropArea() const { return leftBox_; }
    CollectionView* collectionView() const { return customCollectionView_; }
    QTableView* tableView() const { return tblPhotos_; }
    BatchListModel* listModel() const { return listModel_; }
    PhotoIntake& intake() { return *intake_; }
    QString footerText() const;
    bool isAlertShown() const;
    QString alertTitle() const;
    QString alertMessage() const;
    AttachedWindow* infoWindow() const { return shownPopup(infoWindow_); }
    AttachedWindow* removePhotoWindow() const { return shownPopup(removePhotoWindow_); }
    AttachedWindow* menuOptionsWindow() const { return shownPopup(menuOptionsWindow_); }
    AttachedWindow* tipsPopUpWindow() const { return shownPopup(tipsPopUpWindow_); }
    bool isLoadingShown() const;
    int currentTips() const { return tips_.currentTips(); }
    const QList<photoinfo::MetaDataRow>& arrMetaData() const { return arrMetaData_; }
    QList<int> arrTableSelectedRows;
    int IMAGES_VIEW_MODE = 0;
    // Decoded grid tiles kept (an LRU bounded by bytes).
    int cachedThumbnailCount() const { return thumbnails_->cachedTileCount(); }
    qint64 cachedThumbnailBytes() const { return thumbnails_->cachedTileBytes(); }

    // ---- life cycle ----
    void viewWillAppear();
    void viewWillDisAppear();
    void handleFileDragDropNotification(const QVariantMap& userInfo);
    void checkForDeletedPhotosInSourceFolder(bool remove);
    void photoNotAvailableOnIndex(int index);
    void setSeletedPhotoFileWithIndex(int index);
    void hideDragnDropImageSetHidden(bool hidden);
    void changePhotosViewImageMode(int mode, bool isFirstTime);
    // The header's grid and list buttons: the tag is the mode.
    void btnViewPhotosModetapped(int tag);
    void btnNextTapped();
    // A double click on a tile acts as Next.
    void collcetionViewCellDoubbleClicked() { btnNextTapped(); }
    void btnHelpTapped() {}
    // The drop area's animation: frames 1 to 19, one every 0.2 s, over and over.
    void dragImageAnimation();
    void processWithSkippedFilesNotification();

    // ---- grid and list ----
    void collectionViewBoundsDidChange();
    // The grid was scrolled or laid out anew: a scroll closes the info pop-up.
    void scrollViewBoundDidChange(QRect bounds);
    void scrollingEndAfterDelay();
    void tableviewPhotosBoundDidChange();
    void loadTableViewThumbnailImages();
    void selectedPhotoChangedNotification(int selectedIndex);
    // A click on a row: a plain click makes it the only checked row, Ctrl (or its check
    // box) toggles it, Shift extends from the last clicked row.
    void listRowClicked(int row, int column, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Ctrl+A: every photo selected in the grid, or checked in the list.
    void selectAllPhotos();
    void selectForContextMenu(int index);

    // ---- info pop-up ----
    void setPreviewImage();
    void openInfoForIndex(int index, QPoint windowPoint);
    void removeInfoPopupWindow();
    void btnClosePhotoInfoTapped() { removeInfoPopupWindow(); }

    // ---- removal and the context menu ----
    void btnRemoveTapped();
    void addRemovePhotoPopupWindowAtPoint(QPoint windowPoint);
    // A press outside the remove pop-up closes it.
    void dismissRemovePhotoInfoWindow();
    void btnOnRemovePhotoPopupTapped(int tag);
    QList<std::shared_ptr<PhotoFile>> getSelectedIndices() const;
    void btnYesOnRemoveSelectedPhotoTapped();
    void btnNoOnRemoveSelectedPhotoTapped();
    void btnYesOnRemoveAllPhotoTapped();
    void btnNoOnRemoveAllPhotoTapped();
    void showMenuOptionsAtLocation(QPoint windowPoint, int index);
    void btnOnMenuOptionTapped(int entry);
    void btnDeleteOnMenuOptionTapped();
    void btnRemoveFromBatchOnAlertTapped();
    void btnOkOnAlertWinTapped();

    // ---- overlay and tips ----
    void showLoading(bool show);
    void showTipsWithTag(int tag);
    bool isTipsAlreadyDisplayed() const;
    void btnCloseOnTipsPopupTapped();
    void setTipsDisabledChecked(bool on);

    // ---- the ways in ----
    void btnAddPhotosTapped() { btnAddPhotosTappedWithIndex(0); }
    void btnAddFolderTapped() { btnAddPhotosTappedWithIndex(1); }
    // The drop area's own add button takes a folder.
    void btnAddphotosInMiddleTapped() { btnAddPhotosTappedWithIndex(1); }
    void btnAddPhotosTappedWithIndex(int index);
    void btnAddIphotosTapped();
    void btnAddMorePhotosTapped();
    void btnSelectFileTypeTapped();
    // Tag 1 shows the add options beside the add-more button; no other list gets a pop-up.
    void addAttachedPopupWindowWithTag(int tag);
    AttachedWindow* attachedPopUpWindow() const { return shownPopup(attachedPopUpWindow_); }
    void checkForLastSession();
    void showLoadLastSessionWindow();
    void btnLoadLastSessionTapped();
    void btnStartNewSessionTapped();
    // The saved session's photos found again, kept for the rest of the run.
    QStringList arrPathsToAccess;
    // The date-filter sheet: two dates, then the folder panel with the filter on.
    void btnAddPhotoWithFilterTapped();
    void btnAddFilterOnPopupTapped();
    void btnCloseOnPopupTapped();
    void datePickerValueSelected();
    QFrame* dateFilterSheet() const { return windowAddPhotoWithFilter_; }
    QDateTimeEdit* datePickerFromDate() const { return datePickerFromDate_; }
    QDateTimeEdit* datePickerToDate() const { return datePickerToDate_; }
    QString dateFilterErrorText() const;

    // The progress panel; over a batch that already has photos it holds the busy flag.
    void hideProgressWindow(bool hide);
    // The alert sheet with its OK button, showing the texts it was given last.
    void hideNoNewPhotosAlertWindow(bool hide);

    // IntakePresenter
    void showAlert(const intake::IntakeAlert& alert) override;
    void setLoadingOverlayVisible(bool visible) override { showLoading(visible); }
    void setProgressDisplayVisible(bool visible) override { hideProgressWindow(!visible); }
    void setUserInteractionEnabled(bool enabled) override;
    void showPhotosAfterCompletion(const intake::BatchFooter& footer) override;
    // IntakeProgressSink
    void progressReset() override;
    void progressChanged(const intake::IntakeProgress& progress) override;
    // CollectionView
    std::optional<int> numberOfSectionsInCollectionView(CollectionView*) override { return 1; }
    int numberOfItemsInSection(CollectionView*, int) override;
    CollectionViewCell* cellForItemAtIndexPath(CollectionView*, const IndexPath&) override;
    void didSelectItemAtIndexPath(CollectionView*, const IndexPath&) override;
    std::optional<bool> shouldDeselectItemAtIndexPath(CollectionView*, const IndexPath&) override { return true; }
    void didRightClickItemAtIndexPath(CollectionView*, const IndexPath&, QMouseEvent*) override;
    void didDoubleClickItemAtIndexPath(CollectionView*, const IndexPath&) override { collcetionViewCellDoubbleClicked(); }
    void btnInfoTappedAtLocationInCollectionView(const QPoint& location, const IndexPath&) override;
    // PhotoThumbnailCellDelegate, PhotoListCellDelegate
    void btnCheckBoxTappedAtIndex(const QList<int>& indexes) override;
    void btnInfoTappedAtLocationInTableView(const QPoint& location, int row) override;
    std::optional<QSizeF> sizeForItemInCollectionView(CollectionView*) override { return QSizeF(220, 300); }

protected:
    // A pop-up that is closing (hidden, its deletion pending) counts as gone.
    static AttachedWindow* shownPopup(const QPointer<AttachedWindow>& p) { return p && !p->isHidden() ? p.data() : nullptr; }
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void buildWidgets();
    void buildDateFilterSheet();
    void placeSheet(QWidget* sheet);
    void observeNotifications();
    void showAlertSheet(const addphotosalerts::Sheet& sheet);
    QPushButton* alertButton(addphotosalerts::Button button) const;
    void hideAlertSheet();
    // Escape on the alert sheet: the answer it stands for, or the sheet only put away.
    void cancelAlertSheet();
    // Escape and Return on an in-screen sheet; true when the key was the sheet's.
    bool sheetKeyPressed(QWidget* sheet, int key);
    void holdSubWindow(bool& held, bool on);
    void reloadViews();
    void selectFirstPhotoAfterChange();
    void updateFooter();
    bool isListMode() const;
    // BatchThumbnailsView
    int shownTileOf(const QString& path) const override;
    void setTileImage(int index, const QImage& image) override;
    void setRowImage(int row, const QString& path, const QImage& image) override;
    void unavailableChanged(int index) override;
    AttachedWindow* makePopup(QWidget* view, QPoint point, int side, bool arrow);
    QPoint windowPointOf(QWidget* widget, QPoint local) const;
    void removeDeletePhotoInfoPopupWindow();
    void removeMenuOptionsPopupWindow();
    void removeTipsPopupWindow();
    void scheduleTip(int tag, int delay);
    void removeAttachedPopupWindow();
    void enableUserInteration(bool enable);
    void openPanel(intake::OpenPanelSpec spec, intake::AddSource source, int pathType);
    void removeTempAndMarkReset();
    void dragAnimationTick();

    AddPhotosServices services_;
    std::unique_ptr<IntakeExecutor> ownExecutor_;
    std::unique_ptr<ThumbnailWorkers> ownGridWorkers_, ownListWorkers_;
    std::unique_ptr<ScreenTimers> ownTimers_;
    std::unique_ptr<FileManagerService> ownFileManager_;
    std::unique_ptr<PhotoIntake> intake_;
    AddPhotosDelegate* delegate_ = nullptr;

    // widgets
    QWidget* viewDragNDrop_ = nullptr;
    DropArea* leftBox_ = nullptr;
    QLabel* addPhoto_icon_ = nullptr;
    QPushButton *btnAddPhotosCenter_ = nullptr, *btnAddFolderCenter_ = nullptr, *btnAddWithFilterCenter_ = nullptr,
                *btnAddIphotoLibrary_ = nullptr;
    QWidget* header_ = nullptr;
    QPushButton *btnThumbnail_ = nullptr, *btnList_ = nullptr, *btnDelete_ = nullptr, *btnAddmorePhotos_ = nullptr;
    QWidget* scrCollectionVw_ = nullptr;
    CollectionView* customCollectionView_ = nullptr;
    QTableView* tblPhotos_ = nullptr;
    BatchListModel* listModel_ = nullptr;
    QWidget* bottom_ = nullptr;
    QLabel* lblFooter_ = nullptr;
    QPushButton* btnSelectOptions_ = nullptr;
    QFrame* progressPanel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QLabel *lblProgress_ = nullptr, *lblProgressPath_ = nullptr;
    QPushButton* btnStopAdding_ = nullptr;
    QFrame* vwLoading_ = nullptr;
    QFrame* alertSheet_ = nullptr;
    QLabel *lblAlertTitle_ = nullptr, *lblAlertMessage_ = nullptr;
    QPushButton *btnRemoveOnAlert_ = nullptr, *btnOkOnAlert_ = nullptr, *btnYesOnAlert_ = nullptr, *btnNoOnAlert_ = nullptr;
    addphotosalerts::Kind alertKind_ = addphotosalerts::Kind::None;
    QFrame* windowAddPhotoWithFilter_ = nullptr;
    QDateTimeEdit *datePickerFromDate_ = nullptr, *datePickerToDate_ = nullptr;
    QLabel* lblFilterError_ = nullptr;

    QPointer<AttachedWindow> infoWindow_, removePhotoWindow_, menuOptionsWindow_, tipsPopUpWindow_, attachedPopUpWindow_;
    QCheckBox* checkDisableTips_ = nullptr;
    bool tipsDisableChecked_ = false;
    AddPhotosTips tips_;

    // state
    QList<photoinfo::MetaDataRow> arrMetaData_;
    QPoint gridScrollOrigin_;
    int selectedMenuFileIndexPath_ = -1;
    // The photo the not-available alert was last shown for; its Remove takes it out.
    QString notAvailablePath_;
    int listAnchor_ = -1;  // the list's row of the last click that was no extension
    // Where the file and folder panels open next: the folder they showed last.
    QString lastPanelFolder_;
    Qt::KeyboardModifiers listPressModifiers_;
    bool isViewAppearingFirstTime_ = true;
    bool acceptsDrops_ = true;
    int animationCounter_ = 1;
    // The application's busy count, held once per open sheet, pop-up, panel or overlay of
    // the screen; whatever is still held goes with the screen.
    SubWindowHold busy_{AppDelegate::shared().isSUBWINDOW_OPENED};
    bool holdsLoading_ = false, holdsAlert_ = false, holdsTip_ = false, holdsPanel_ = false, holdsFilterSheet_ = false,
         holdsProgress_ = false;
    int flagCurrentAttachPopupType_ = 1;  // 1 the add options, 0 the file types
    QPointer<QWidget> vwPopupWithTableOptions_;
    bool loadingShown_ = false;

    // the tiles' and rows' pictures, and the files that could not be read
    std::unique_ptr<BatchThumbnails> thumbnails_;
};
