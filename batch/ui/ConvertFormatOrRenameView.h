#pragma once
// The rename-and-convert view: output options, output format, rename rules and a live
// preview of every planned output with its errors and warnings, and the Start button.
// The output screen hosts it now and the effects screen may host it too; it talks to
// its host only through ConvertFormatOrRenameViewDelegate, and each call is one the
// host may leave unanswered.
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "batch/PreviewClassifier.h"
#include "batch/RenamePreviewRecomputer.h"
#include "batch/ui/OriginalsNotes.h"
#include "batch/RenameSettingsEditor.h"
#include "batch/SetupTips.h"
#include "ui/AttachedWindow.h"
#include "ui/OpenFailure.h"

class DisableScrollView;
class SubWindowHold;
class PreviewTableModel;
class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTableView;
class RenamePreviewRecomputer;
struct BatchRenameSetting;
struct OutputOptionSettings;
struct OutputPhotoPath;
struct PreviewResult;
namespace platform {
class UserDefaults;
class Workspace;
}  // namespace platform

class ConvertFormatOrRenameViewDelegate {
public:
    virtual ~ConvertFormatOrRenameViewDelegate() = default;
    // Busy while a re-planning runs (true before, false after).
    virtual void showProgressHud(bool show) {}
    virtual void updateProgressVariable() {}
    virtual void btnBackOnConvertOrRenameVCTapped() {}
    // The settings and planned outputs have been handed over: check them and start.
    virtual void btnPreviewOnConvertOrRenameVCTapped() {}
    virtual void showAlertOnPreviewTappedWithMsg(const QString& message) {}
};

class ConvertFormatOrRenameView : public QWidget {
    Q_OBJECT
public:
    // Opens a folder chooser starting in `start` and calls back with the chosen folder
    // ("" when cancelled). The default is a window-modal file dialog.
    using FolderChooser = std::function<void(QWidget* parent, const QString& start, std::function<void(QString)>)>;

    explicit ConvertFormatOrRenameView(QWidget* parent = nullptr);
    ~ConvertFormatOrRenameView() override;

    void setDelegate(ConvertFormatOrRenameViewDelegate* delegate) { delegate_ = delegate; }
    ConvertFormatOrRenameViewDelegate* delegate() const { return delegate_; }
    void setFolderChooser(FolderChooser chooser) { folderChooser_ = std::move(chooser); }
    // Runs `work` on the main thread after `ms` milliseconds (the pauses between tips).
    using Scheduler = std::function<void(int ms, std::function<void()> work)>;
    void setScheduler(Scheduler scheduler) { scheduler_ = std::move(scheduler); }
    // The desktop services of the preview rows' menu.
    void setWorkspace(platform::Workspace* workspace) { workspace_ = workspace; }
    // Where the tips' keys are kept.
    void setUserDefaults(platform::UserDefaults* defaults);
    RenamePreviewRecomputer* recomputer() const { return recomputer_; }

    // ---- set-up ----
    void setupViewNotification();
    // The controls' one-time wiring that each set-up repeats: scrolled to the top, the
    // preview list from the start, the number fields' formatter, the header laid out.
    void initialSetup();
    void readDefaultSettings();
    void readDefaultRenameSetting();
    void setupUIForUpdatedOutputSetting(const OutputOptionSettings& s);
    void setupUIForUpdatedRenameSettingDictionary(const BatchRenameSetting& s);
    void resetAllSettings();
    // A new batch began (the shell cleared the batch's settings): output options, format
    // and rename rules back to their defaults.
    void startAsNewBatch();
    void setBatchInfo();
    // "Batch Count: %@  |  Batch Size: %@  |  Batch Steps: %@" and its three values.
    static QString batchInfoText();
    static QStringList batchInfoValues();

    // ---- preview ----
    // Re-plans the batch; `first` only for the preview right after the settings are read.
    void resetPreviewForUpdatedRenameSelections(bool first);
    void calculateErrorFiles();
    void updateErrorAndWarningUI();
    void btnPreviewFilesModeTapped(int tag);
    void resizeTableHeader();

    // ---- output options ----
    void btnDestFolderOptionsTapped(int tag);
    void btnSelectFolderTapped();
    void btncheckBoxOpenOutputFolderAfterProcessTapped(bool on);
    // The already-exists warnings depend on it: the preview is planned again.
    void btncheckBoxOverwriteExistingItemsTapped(bool on);
    void btncheckBoxSetOutputDateTimeSameTapped(bool on);
    // Resets the rename and format settings; the output options stay.
    void btnResetSettingsTapped() { resetAllSettings(); }
    // The options column scrolls, except while an option list hangs from it.
    void enableScrollView(bool enable);
    void windowisResizing() { resizeTableHeader(); }
    void windowEndResizing() { resizeTableHeader(); }

    // ---- flags the hosts set through notifications ----
    // Back is ignored from disablePrevBtn until enablePrevBtn.
    void disablePrevBtn() { shoulbDisablePrevBtn = true; }
    void enablePrevBtn() { shoulbDisablePrevBtn = false; }
    // Reached with Next from the effects screen, or shown inside it (the tips differ).
    void nextFromBatchEffectsView();
    void appearInBatchEffectsView();

    // ---- rename and conversion controls ----
    // Renaming mode: 0 keeps the photos' names, 1 applies the rules.
    void btnRadioRenamingTypeTapped(int tag);
    // The rules' check boxes: each switches its rule; the rule's controls follow when the
    // new preview is published.
    void btncheckBoxReplaceFileNameTapped(bool on);
    void btncheckBoxDateTimeStampTapped(bool on);
    void btncheckBoxAppendFolderNameTapped(bool on);
    void btncheckBoxAddStringTapped(bool on);
    void btncheckBoxAddDigitTapped(bool on);
    void btncheckBoxRemoveTapped(bool on);
    void btncheckBoxChangeFileNameCaseTapped(bool on);
    void btncheckBoxUseLowerCaseExtensionTapped(bool on);
    // The option lists of the rules.
    void btnAsDateTimeStampTapped();
    void btnTypeDateTimeStampTapped();
    void btnFormatDateTimeStampTapped();
    void btnAsAppendFolderTapped();
    void btnAsAddDigitTapped();
    void btnChangeFilenameCaseTapped();
    void btncheckBoxQualityTapped(bool on);
    void btncheckBoxCompressionTapped(bool on);
    // The quality slider runs 0 to 100 for a ratio of 0 to 1.
    void sliderQualityRatioAction(int value);
    void sliderCompressionRatioAction(int value);

    // ---- pop-up option list ----
    void selectOutputFormatTapped();
    void openPopup(int type, QWidget* anchor);
    // Opens the option list (tblPopupOptions) below a point of the window, closing an open one.
    void addAttachedPopupTableAtPoint(QPoint windowPoint);
    void tableViewSelectionDidChange(int row);
    void removeAttachedPopupWindow();
    // The open list was closed by a press elsewhere.
    void dismissPanel();
    void layoutFormatPanel(int outputFormat);

    // ---- tool tips, info pop-ups, the rows' menu and the first-run tips ----
    void setToolTips();
    // Check boxes and radio buttons drawn to be seen on the dark background.
    static QString indicatorStyleSheet();
    void btnMoveOptionInfoTapped();
    void btnUseSourceFolderInfoTapped();
    void btnInfoAboutRawFormatsTapped();
    void btnInfoTapped();
    void addInfoPopupWindowAtPoint(QPoint windowPoint, QWidget* view);
    void removeInfoPopupWindow();
    // A press outside an info pop-up or the rows' menu closes it (the pop-up watches for it).
    void dismissInfoWindow() { removeInfoPopupWindow(); }
    void dismissMenuOptionsWindow() { removeMenuOptionsPopupWindow(); }
    // A right press at a point of the preview table's viewport.
    void rightMouseDown(QPoint viewportPoint);
    void showMenuOptionsAtLocation(QPoint windowPoint);
    void addMenuOptionsPopupWindowAtPoint(QPoint windowPoint);
    void removeMenuOptionsPopupWindow();
    void btnReviealInFinderTapped() { btnOnMenuOptionTapped(0); }
    void btnShowPreviewTapped() { btnOnMenuOptionTapped(1); }
    void btnGetInfoTapped() { btnOnMenuOptionTapped(2); }
    // 0 show in the file manager, 1 open, 2 show info; for the row of the last right press.
    void btnOnMenuOptionTapped(int option);
    void showTipsWithTag(int tag);
    // Opens `view` as the tip pop-up beside a point of `window` (side codes of AttachedWindow).
    void addTipsPopupWindowAtPoint(QPoint windowPoint, QWidget* view, QWidget* window, float cornerRadius,
                                   int arrowSide);
    bool isTipsAlreadyDisplayed() const;
    void btnNextOnTipsPopupTapped();
    void btnGotInOnTipsPopupTapped();
    void btnDisableTipsTapped(bool checked);
    void removeTipsPopupWindow();
    AttachedWindow* infoWindow() const { return shown(infoWindow_); }
    AttachedWindow* menuOptionsWindow() const { return shown(menuOptionsWindow_); }
    AttachedWindow* tipsPopUpWindow() const { return shown(tipsPopUpWindow_); }
    int currentTips() const { return tips_->currentTips(); }
    int selectedMenuFileIndexPath = -1;

    // ---- start ----
    void btnStartProcessTapped();
    void btnBackOnBottomViewTapped();

    // ---- state ----
    std::shared_ptr<BatchRenameSetting> selectedBatchRenameSetting;
    std::shared_ptr<OutputOptionSettings> seletedOutputOptionSettingObj;
    QList<std::shared_ptr<OutputPhotoPath>> arrayOutputFilePaths;
    PreviewClassification classification;
    bool isIphotoExist = false;
    int flagPreviewFilesMode = 0;
    int flagCurrentOptionsPopupType = 0;
    bool shoulbDisablePrevBtn = false;
    bool isInsideBatchEffectView = false;
    bool isNextFromBatchEffectView = false;

    // ---- widgets (named as the screen's outlets) ----
    QRadioButton *btnMoveRenametoDestFolder, *btnCopytoDestFolder, *btnUseSourcePhotosFolder;
    QLineEdit* txtFolderName;
    QPushButton* btnSelectFolder;
    QCheckBox *checkboxOpenFolderAfterProcess, *checkboxDeleteSourcePhoto, *checkboxSetOuptputDateAndTimeFormatSame;
    QLabel* lblOpenOutputFolder;
    QLabel* lblMoveOption;
    QPushButton* btnResetAllSettings;
    QLineEdit* txtSelectedFileType;
    QPushButton* btnSelectFormat;
    QWidget *vwQuality, *vwCompression, *vwConvertFormat, *vwRename;
    QCheckBox *checkboxQuality, *checkboxCompression;
    QSlider *sliderQualityRatio, *sliderCompressionRatio;
    QLabel *txtQualityRatio, *txtCompressionRatio;
    QRadioButton *btnRenameModeOriginal, *btnRenameModeModifyName;
    QWidget* vwModifyOriginalName;
    std::array<QCheckBox*, kRenameRuleCount> ruleCheckboxes{};
    std::array<QWidget*, kRenameRuleCount> ruleViews{};
    std::array<QLineEdit*, kRenameFieldCount> fields{};
    // Pop-up buttons and the texts showing their choice, by pop-up type (1 to 6).
    std::array<QPushButton*, 7> popupButtons{};
    std::array<QLineEdit*, 7> popupTexts{};
    QPushButton *btnAllFileNames, *btnErrorFileNames, *btnWarningFileNames;
    QTableView* tblPreviewNames;
    // Says above the planned names which originals the run sends to the Trash.
    QLabel* lblOriginalsNotice = nullptr;
    PreviewTableModel* previewModel;
    QTableView* tblPopupOptions = nullptr;
    QLabel* lblBatchInfo;
    QPushButton *btnBack, *btnStart;
    DisableScrollView* scrollViewRename;
    QPushButton *btnMoveOptionInfo, *btnUseSourceFolderInfo, *btnInfoAboutRawFormats, *btnInfo;
    QWidget* bgViewForTips = nullptr;

signals:
    // A re-planning was published (tests and hosts wait on it).
    void previewPublished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    static AttachedWindow* shown(const QPointer<AttachedWindow>& p) { return p && !p->isHidden() ? p.data() : nullptr; }
    void buildPopupControls();
    void closeOptionListWindow();
    void showInfoText(QPushButton* sender, const QString& text, int width);
    QPoint tipPoint(int tag) const;
    void schedule(int ms, std::function<void()> work);

    void build();
    void connectControls();
    void publish(const PreviewResult& result);
    void applyLibraryGuard();
    // The format's name, its slider values and the panel it shows.
    void showOutputFormat(const BatchRenameSetting& s);
    void showDestinationMode(int tag);
    void fieldEdited(RenameField field);
    void ruleToggled(RenameRule rule, bool on);
    void styleFilterButtons();
    void showFolderMissingAlert();
    void showOriginalsNotice();
    // The notice above the names: why the last plan planned nothing, or what the run does to
    // the originals.
    QStringList notesAboveNames() const {
        return originalsnotes::aboveNames(seletedOutputOptionSettingObj.get(), classification,
                                          recomputer_->lastPublished().failure);
    }
    void showOpenFailure(openfailure::Request request, const QString& path);
    void perfromStartProcess();
    void callDelegateToProcessPhotos();
    QStringList formats() const;

    ConvertFormatOrRenameViewDelegate* delegate_ = nullptr;
    RenamePreviewRecomputer* recomputer_ = nullptr;
    FolderChooser folderChooser_;
    QPointer<AttachedWindow> popup_;
    QPointer<AttachedWindow> infoWindow_, menuOptionsWindow_, tipsPopUpWindow_;
    platform::Workspace* workspace_;
    std::unique_ptr<SetupTips> tips_;
    Scheduler scheduler_;
    bool tipsDisableChecked_ = false;
    // The application's busy count while the folder chooser or a tip is open.
    std::unique_ptr<SubWindowHold> busy_;
    bool tipHeld_ = false;
    bool showingSettings_ = false;  // controls are being filled from settings
    bool firstPreview_ = false;
};
