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
#include "batch/RenameSettingsEditor.h"

class AttachedWindow;
class DisableScrollView;
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
    RenamePreviewRecomputer* recomputer() const { return recomputer_; }

    // ---- set-up ----
    void setupViewNotification();
    void readDefaultSettings();
    void readDefaultRenameSetting();
    void setupUIForUpdatedOutputSetting(const OutputOptionSettings& s);
    void setupUIForUpdatedRenameSettingDictionary(const BatchRenameSetting& s);
    void resetAllSettings();
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

    // ---- pop-up option list ----
    void selectOutputFormatTapped();
    void openPopup(int type, QWidget* anchor);
    void tableViewSelectionDidChange(int row);
    void removeAttachedPopupWindow();
    void layoutFormatPanel(int outputFormat);

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
    PreviewTableModel* previewModel;
    QTableView* tblPopupOptions = nullptr;
    QLabel* lblBatchInfo;
    QPushButton *btnBack, *btnStart;
    DisableScrollView* scrollViewRename;

signals:
    // A re-planning was published (tests and hosts wait on it).
    void previewPublished();

private:
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
    void perfromStartProcess();
    void callDelegateToProcessPhotos();
    QStringList formats() const;

    ConvertFormatOrRenameViewDelegate* delegate_ = nullptr;
    RenamePreviewRecomputer* recomputer_ = nullptr;
    FolderChooser folderChooser_;
    QPointer<AttachedWindow> popup_;
    bool showingSettings_ = false;  // controls are being filled from settings
    bool firstPreview_ = false;
};
