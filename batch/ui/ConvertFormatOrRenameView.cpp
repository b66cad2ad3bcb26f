#include "batch/ui/ConvertFormatOrRenameView.h"

#include "batch/OutputOptionsLogic.h"
#include "batch/RenamePreviewRecomputer.h"
#include "batch/RenameScheme.h"
#include "batch/RunStartGate.h"
#include "batch/ui/OriginalsNotes.h"
#include "batch/ui/OutputFolderChoice.h"
#include "batch/ui/OutputFolderDialog.h"
#include "batch/ui/PreviewTables.h"
#include "engine/Utils.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/NotificationCenterNames.h"
#include "platform/workspace/Workspace.h"
#include "records/AppDelegate.h"
#include "records/BatchRenameSetting.h"
#include "records/CommonFunc.h"
#include "records/OutputOptionSettings.h"
#include "records/OutputPhotoPath.h"
#include "records/PhotoFile.h"
#include "records/ViewHelpers.h"
#include "ui/AttachedWindow.h"
#include "ui/OnlyIntegerValueFormatter.h"
#include "ui/KeyboardHelpers.h"
#include "ui/SmallViews.h"
#include "ui/ShortAlert.h"
#include "records/SubWindowHold.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QStandardPaths>
#include <QStringListModel>
#include <QTableView>
#include <QVBoxLayout>

namespace names = platform::notifications;

namespace {

const QColor kDisabledGrey(130, 129, 142);

void post(const QString& name) { platform::NotificationCenter::defaultCenter().postNotification(name); }

QLabel* heading(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setStyleSheet(QStringLiteral("color:#1ab999; font-weight:bold;"));
    return label;
}

void setTextColor(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::Text, c);
    p.setColor(QPalette::ButtonText, c);
    w->setPalette(p);
}

// Sets a control's value without it reporting the change as the user's.
template <class W, class F>
void quietly(W* w, F&& set) {
    const bool blocked = w->blockSignals(true);
    set(w);
    w->blockSignals(blocked);
}

}  // namespace

ConvertFormatOrRenameView::ConvertFormatOrRenameView(QWidget* parent)
    : QWidget(parent), workspace_(&platform::Workspace::system()), tips_(std::make_unique<SetupTips>()) {
    setObjectName(QStringLiteral("ConvertFormatOrRenameView"));
    recomputer_ = new RenamePreviewRecomputer(
        [this] {
            const AppDelegate& app = AppDelegate::shared();
            return PlanSnapshot::take(app.arraySelectedImagesToProcess, selectedBatchRenameSetting.get(),
                                      seletedOutputOptionSettingObj.get(), formats(), app.arrayAppliedFilters);
        },
        this);
    recomputer_->onBusyChanged = [this](bool busy) {
        if (busy) {
            // A reload before the result is published shows no rows.
            arrayOutputFilePaths.clear();
            post(names::HideLoading);
            post(names::ShowLoading);
            AppDelegate::shared().isPROCESSING_WITH_FILES_SYSTEM = true;
            if (!firstPreview_) AppDelegate::shared().isRENAME_SETTINGS_CHANGED = true;
            if (delegate_) delegate_->showProgressHud(true);
        } else {
            if (delegate_) {
                delegate_->updateProgressVariable();
                delegate_->showProgressHud(false);
            }
        }
    };
    recomputer_->onPublished = [this](const PreviewResult& result) { publish(result); };
    build();
    connectControls();
    buildPopupControls();

    auto& center = platform::NotificationCenter::defaultCenter();
    using platform::DeliverOn;
    center.addObserver(names::SetupConvertAndRename, [this](const auto&) { setupViewNotification(); },
                       DeliverOn::MainThread, this);
    const std::pair<QString, void (ConvertFormatOrRenameView::*)()> observed[] = {
        {names::WindowResized, &ConvertFormatOrRenameView::windowisResizing},
        {names::WindowEndResizing, &ConvertFormatOrRenameView::windowEndResizing},
        {names::ResizeTableHeader, &ConvertFormatOrRenameView::resizeTableHeader},
        {names::StartAsNewBatch, &ConvertFormatOrRenameView::startAsNewBatch},
        {names::DisbalePrevBtn, &ConvertFormatOrRenameView::disablePrevBtn},
        {names::EnbalePrevBtn, &ConvertFormatOrRenameView::enablePrevBtn},
        {names::NextFromBtchEffects, &ConvertFormatOrRenameView::nextFromBatchEffectsView},
        {names::AppearInBatchEffectsView, &ConvertFormatOrRenameView::appearInBatchEffectsView},
    };
    for (const auto& [name, handler] : observed)
        center.addObserver(name, [this, handler = handler](const auto&) { (this->*handler)(); }, DeliverOn::MainThread,
                           this);

    busy_ = std::make_unique<SubWindowHold>(AppDelegate::shared().isSUBWINDOW_OPENED);
    folderChooser_ = [](QWidget* parent, const QString& start, std::function<void(QString)> done) {
        auto* dialog = new OutputFolderDialog(parent->window(), start);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done](int result) {
            const QStringList chosen = dialog->selectedFiles();
            done(result == QDialog::Accepted && !chosen.isEmpty() ? chosen.first() : QString());
        });
        dialog->open();
    };
    setupViewNotification();
    enableScrollView(true);
}

ConvertFormatOrRenameView::~ConvertFormatOrRenameView() {
    platform::NotificationCenter::defaultCenter().removeObservers(this);
    removeAttachedPopupWindow();
    removeInfoPopupWindow();
    removeMenuOptionsPopupWindow();
    removeTipsPopupWindow();
}

QStringList ConvertFormatOrRenameView::formats() const {
    const AppDelegate& app = AppDelegate::shared();
    return app.arrFileFormatsSupported.isEmpty() ? AppDelegate::defaultFileFormats() : app.arrFileFormatsSupported;
}

// ---- building ----

void ConvertFormatOrRenameView::build() {
    // The view paints its own dark background, so its light texts read wherever it sits.
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QStringLiteral(
        "ConvertFormatOrRenameView, #vwContainer, QScrollArea { background:#2b2b2b; border:none; }"
        "QLabel, QCheckBox, QRadioButton { color:white; } QCheckBox:disabled, QRadioButton:disabled { color:#82818e; }"
        "QLineEdit { background:#3a3a3a; color:white; border:1px solid #555; padding:2px; }"
        "QLineEdit:disabled { color:#82818e; } QTableView { background:#222; color:white; gridline-color:#333;"
        " border:1px solid #222; } QTableView:focus { border-color:#1ab999; }"
        "QHeaderView::section { background:#333; color:#bbb; border:none; padding:3px; }"
        "QPushButton { color:white; background:#3a3a3a; border:1px solid #5a5a5a; border-radius:4px; padding:3px 10px; }"
        "QPushButton:hover { border-color:#1bac8f; } QPushButton:disabled { color:#555555; }"
        // Where the keyboard is shows (the style sheet hides the platform's own mark).
        "QPushButton:focus { border:2px solid #1ab999; padding:2px 9px; }"
        "QLineEdit:focus { border-color:#1ab999; } QCheckBox:focus, QRadioButton:focus { color:#1ab999; }") +
                  indicatorStyleSheet());
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(8, 8, 8, 8);
    auto* middle = new QHBoxLayout;
    root->addLayout(middle, 1);

    // Left: options, format and rename rules in one scrolling column.
    scrollViewRename = new DisableScrollView(this);
    scrollViewRename->setObjectName(QStringLiteral("scrollViewRename"));
    scrollViewRename->setWidgetResizable(true);
    // The column scrolls up and down only; its width is settled once its controls are there.
    scrollViewRename->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* container = new QWidget;
    container->setObjectName(QStringLiteral("vwContainer"));
    auto* column = new QVBoxLayout(container);
    scrollViewRename->setWidget(container);
    middle->addWidget(scrollViewRename);

    // Output options.
    auto* options = new QWidget(container);
    options->setObjectName(QStringLiteral("vwOptions"));
    auto* optionsLayout = new QGridLayout(options);
    optionsLayout->addWidget(heading(tr("OUTPUT OPTIONS"), options), 0, 0, 1, 3);
    btnMoveRenametoDestFolder = new QRadioButton(options);
    lblMoveOption = new QLabel(tr("Move to"), options);
    btnCopytoDestFolder = new QRadioButton(tr("Copy to"), options);
    btnUseSourcePhotosFolder = new QRadioButton(tr("Source folder"), options);
    auto* radios = new QHBoxLayout;
    btnMoveOptionInfo = makeInfoButton(QStringLiteral("btnMoveOptionInfo"), options);
    btnUseSourceFolderInfo = makeInfoButton(QStringLiteral("btnUseSourceFolderInfo"), options);
    radios->addWidget(btnMoveRenametoDestFolder);
    radios->addWidget(lblMoveOption);
    radios->addWidget(btnMoveOptionInfo);
    radios->addSpacing(12);
    radios->addWidget(btnCopytoDestFolder);
    radios->addWidget(btnUseSourcePhotosFolder);
    radios->addWidget(btnUseSourceFolderInfo);
    radios->addStretch(1);
    optionsLayout->addLayout(radios, 1, 0, 1, 3);
    txtFolderName = new QLineEdit(options);
    txtFolderName->setReadOnly(true);
    btnSelectFolder = new QPushButton(tr("Choose..."), options);
    optionsLayout->addWidget(txtFolderName, 2, 0, 1, 2);
    optionsLayout->addWidget(btnSelectFolder, 2, 2);
    checkboxOpenFolderAfterProcess = new QCheckBox(options);
    lblOpenOutputFolder = new QLabel(tr("Open output folder after processing"), options);
    auto* openRow = new QHBoxLayout;
    openRow->addWidget(checkboxOpenFolderAfterProcess);
    openRow->addWidget(lblOpenOutputFolder, 1);
    optionsLayout->addLayout(openRow, 3, 0, 1, 3);
    checkboxDeleteSourcePhoto = new QCheckBox(tr("Overwrite existing files"), options);
    checkboxSetOuptputDateAndTimeFormatSame = new QCheckBox(tr("Keep original dates"), options);
    optionsLayout->addWidget(checkboxDeleteSourcePhoto, 4, 0, 1, 3);
    optionsLayout->addWidget(checkboxSetOuptputDateAndTimeFormatSame, 5, 0, 1, 3);
    column->addWidget(options);

    // Output format with its quality and compression panels.
    vwConvertFormat = new QWidget(container);
    auto* formatLayout = new QGridLayout(vwConvertFormat);
    formatLayout->addWidget(heading(tr("OUTPUT FORMAT"), vwConvertFormat), 0, 0, 1, 3);
    txtSelectedFileType = new QLineEdit(vwConvertFormat);
    txtSelectedFileType->setReadOnly(true);
    btnSelectFormat = new QPushButton(QStringLiteral("▾"), vwConvertFormat);
    btnInfoAboutRawFormats = makeInfoButton(QStringLiteral("btnInfoAboutRawFormats"), vwConvertFormat);
    formatLayout->addWidget(txtSelectedFileType, 1, 0, 1, 2);
    formatLayout->addWidget(btnSelectFormat, 1, 2);
    formatLayout->addWidget(btnInfoAboutRawFormats, 1, 3);
    const auto panel = [this](QWidget*& view, QCheckBox*& check, QSlider*& slider, QLabel*& text, const QString& title,
                              int min, int max) {
        view = new QWidget(vwConvertFormat);
        auto* row = new QHBoxLayout(view);
        row->setContentsMargins(0, 0, 0, 0);
        check = new QCheckBox(title, view);
        slider = new QSlider(Qt::Horizontal, view);
        slider->setRange(min, max);
        text = new QLabel(view);
        text->setMinimumWidth(28);
        row->addWidget(check);
        row->addWidget(slider, 1);
        row->addWidget(text);
    };
    panel(vwQuality, checkboxQuality, sliderQualityRatio, txtQualityRatio, tr("Quality"), 0, 100);
    panel(vwCompression, checkboxCompression, sliderCompressionRatio, txtCompressionRatio, tr("Compression"),
          BatchRenameSetting::kMinCompression, BatchRenameSetting::kMaxCompression);
    formatLayout->addWidget(vwQuality, 2, 0, 1, 3);
    formatLayout->addWidget(vwCompression, 3, 0, 1, 3);
    column->addWidget(vwConvertFormat);

    // Rename rules.
    vwRename = new QWidget(container);
    auto* renameLayout = new QVBoxLayout(vwRename);
    renameLayout->addWidget(heading(tr("RENAME"), vwRename));
    btnRenameModeOriginal = new QRadioButton(tr("Keep original names"), vwRename);
    btnRenameModeModifyName = new QRadioButton(tr("Modify names"), vwRename);
    auto* modeRow = new QHBoxLayout;
    modeRow->addWidget(btnRenameModeOriginal);
    modeRow->addWidget(btnRenameModeModifyName);
    renameLayout->addLayout(modeRow);
    vwModifyOriginalName = new QWidget(vwRename);
    auto* rules = new QVBoxLayout(vwModifyOriginalName);
    rules->setContentsMargins(0, 0, 0, 0);
    renameLayout->addWidget(vwModifyOriginalName);
    column->addWidget(vwRename);

    static const char* const ruleTitles[kRenameRuleCount] = {
        "Replace file name", "Date/time stamp", "Append folder name", "Add text",
        "Add number",        "Remove",          "Change case",        "Lower-case extension"};
    static const char* const fieldNames[kRenameFieldCount] = {
        "txtReplaceFileName",  "txtCustomDateTimeStamp", "txtPrefix",         "txtSuffix",
        "txtInsertString",     "txtAtPositionString",    "txtAtPositionAddDigit", "txtStartIndexAddDigit",
        "txtIncrementAddDigit", "txtFirstnRemove",       "txtLaststnRemove",  "txtFromIndexRemove",
        "txtToIndexRemove",    "txtCharsRemove",         "txtWordsRemove"};
    static const char* const fieldLabels[kRenameFieldCount] = {
        "New name", "Custom", "Prefix", "Suffix", "Insert", "At position", "At position", "Starting index",
        "Increment", "First n", "Last n", "From", "To", "Characters", "Words"};
    static const char* const popupLabels[7] = {"", "As", "Date", "Format", "As", "As", "Case"};
    // Which fields and pop-ups each rule's group holds.
    struct Group {
        std::vector<RenameField> fields;
        std::vector<int> popups;
    };
    using F = RenameField;
    const Group groups[kRenameRuleCount] = {
        {{F::ReplaceFileName}, {}},
        {{F::CustomDateTimeStamp}, {PopupDateStampAs, PopupDateStampType, PopupDateStampFormat}},
        {{}, {PopupFolderNameAs}},
        {{F::Prefix, F::Suffix, F::InsertString, F::AtPositionString}, {}},
        {{F::AtPositionAddDigit, F::StartIndexAddDigit, F::IncrementAddDigit}, {PopupDigitAs}},
        {{F::FirstnRemove, F::LaststnRemove, F::FromIndexRemove, F::ToIndexRemove, F::CharsRemove, F::WordsRemove},
         {}},
        {{}, {PopupCaseMode}},
        {{}, {}},
    };
    static const char* const ruleViewNames[kRenameRuleCount] = {
        "vwNewFileName", "vwDateTimeStamp", "vwAppendFolderName", "vwAddString",
        "vwAddDigit",    "vwRemove",        "vwChangeCase",       "vwCaseFileExtension"};
    for (int r = 0; r < kRenameRuleCount; ++r) {
        auto* check = new QCheckBox(tr(ruleTitles[r]), vwModifyOriginalName);
        ruleCheckboxes[r] = check;
        rules->addWidget(check);
        auto* group = new QWidget(vwModifyOriginalName);
        group->setObjectName(QString::fromLatin1(ruleViewNames[r]));
        auto* form = new QFormLayout(group);
        form->setContentsMargins(24, 0, 0, 6);
        for (int type : groups[r].popups) {
            auto* text = new QLineEdit(group);
            text->setReadOnly(true);
            auto* button = new QPushButton(QStringLiteral("▾"), group);
            button->setFixedWidth(28);
            popupTexts[type] = text;
            popupButtons[type] = button;
            auto* row = new QHBoxLayout;
            row->addWidget(text, 1);
            row->addWidget(button);
            form->addRow(tr(popupLabels[type]), row);
        }
        for (RenameField f : groups[r].fields) {
            auto* edit = new QLineEdit(group);
            edit->setObjectName(QString::fromLatin1(fieldNames[int(f)]));
            fields[int(f)] = edit;
            form->addRow(tr(fieldLabels[int(f)]), edit);
        }
        ruleViews[r] = group;
        rules->addWidget(group);
    }
    btnResetAllSettings = new QPushButton(tr("Reset"), container);
    column->addWidget(btnResetAllSettings);
    column->addStretch(1);
    // Wide enough for its widest row with the vertical scroll bar beside it, so no control
    // is cut at the right edge when the rules make the column scroll.
    container->ensurePolished();
    scrollViewRename->setFixedWidth(std::max(400, container->minimumSizeHint().width()) +
                                    scrollViewRename->verticalScrollBar()->sizeHint().width() +
                                    2 * scrollViewRename->frameWidth());

    // Right: the filter buttons over the preview table.
    auto* right = new QVBoxLayout;
    auto* filters = new QHBoxLayout;
    btnAllFileNames = new QPushButton(QStringLiteral("ALL"), this);
    btnErrorFileNames = new QPushButton(this);
    btnWarningFileNames = new QPushButton(this);
    filters->addWidget(btnAllFileNames);
    filters->addSpacing(10);
    filters->addWidget(btnErrorFileNames);
    filters->addSpacing(10);
    filters->addWidget(btnWarningFileNames);
    filters->addStretch(1);
    btnInfo = makeInfoButton(QStringLiteral("btnInfo"), this);
    filters->addWidget(btnInfo);
    right->addLayout(filters);
    // What the planned run does to the originals, in words above the names it plans.
    lblOriginalsNotice = new QLabel(this);
    lblOriginalsNotice->setObjectName(QStringLiteral("lblOriginalsNotice"));
    lblOriginalsNotice->setWordWrap(true);
    lblOriginalsNotice->setStyleSheet(QStringLiteral("color:#e6a028;"));
    lblOriginalsNotice->hide();
    right->addWidget(lblOriginalsNotice);
    tblPreviewNames = new QTableView(this);
    previewModel = new PreviewTableModel(this);
    tblPreviewNames->setModel(previewModel);
    tblPreviewNames->setItemDelegateForColumn(0, new PreviewNameDelegate(tblPreviewNames));
    tblPreviewNames->setSelectionMode(QAbstractItemView::NoSelection);
    tblPreviewNames->setTabKeyNavigation(false);  // one stop for Tab; the arrows move through its rows
    tblPreviewNames->setTextElideMode(Qt::ElideLeft);
    tblPreviewNames->verticalHeader()->hide();
    tblPreviewNames->setShowGrid(false);
    tblPreviewNames->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    resizeTableHeader();
    right->addWidget(tblPreviewNames, 1);
    middle->addLayout(right, 1);

    // Bottom bar.
    auto* bottom = new QHBoxLayout;
    btnBack = new QPushButton(tr("Back"), this);
    lblBatchInfo = new QLabel(this);
    lblBatchInfo->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblBatchInfo->setTextFormat(Qt::RichText);
    btnStart = new QPushButton(tr("Start"), this);
    bottom->addWidget(btnBack);
    bottom->addWidget(lblBatchInfo, 1);
    bottom->addWidget(btnStart);
    root->addLayout(bottom);

    // Objects tests and the host look for by name.
    const std::pair<QObject*, const char*> named[] = {
        {btnMoveRenametoDestFolder, "btnMoveRenametoDestFolder"},
        {btnCopytoDestFolder, "btnCopytoDestFolder"},
        {btnUseSourcePhotosFolder, "btnUseSourcePhotosFolder"},
        {txtFolderName, "txtFolderName"},
        {btnSelectFolder, "btnSelectFolder"},
        {checkboxOpenFolderAfterProcess, "checkboxOpenFolderAfterProcess"},
        {checkboxDeleteSourcePhoto, "checkboxDeleteSourcePhoto"},
        {checkboxSetOuptputDateAndTimeFormatSame, "checkboxSetOuptputDateAndTimeFormatSame"},
        {txtSelectedFileType, "txtSelectedFileType"},
        {btnSelectFormat, "btnSelectFormat"},
        {vwQuality, "vwQuality"},
        {vwCompression, "vwCompression"},
        {checkboxQuality, "checkboxQuality"},
        {checkboxCompression, "checkboxCompression"},
        {sliderQualityRatio, "sliderQualityRatio"},
        {sliderCompressionRatio, "sliderCompressionRatio"},
        {btnRenameModeOriginal, "btnRenameModeOriginal"},
        {btnRenameModeModifyName, "btnRenameModeModifyName"},
        {vwModifyOriginalName, "vwModifyOriginalName"},
        {btnAllFileNames, "btnAllFileNames"},
        {btnErrorFileNames, "btnErrorFileNames"},
        {btnWarningFileNames, "btnWarningFileNames"},
        {tblPreviewNames, "tblPreviewNames"},
        {lblBatchInfo, "lblBatchInfo"},
        {btnStart, "btnStartProcess"},
        {btnBack, "btnBackOnBottomView"},
        {btnResetAllSettings, "btnResetAllSettings"},
    };
    for (const auto& [object, name] : named) object->setObjectName(QString::fromLatin1(name));
    static const char* const checkNames[kRenameRuleCount] = {
        "checkboxReplaceFileName", "checkboxDateTimeStamp", "checkboxAppendFolderName", "checkboxAddString",
        "checkboxAddDigit",        "checkboxRemove",        "checkboxChangeCaseFileName", "checkboxCaseFileExtension"};
    for (int r = 0; r < kRenameRuleCount; ++r) ruleCheckboxes[r]->setObjectName(QString::fromLatin1(checkNames[r]));
    static const char* const popupNames[7] = {"", "btnAsDateTimeStamp", "btnTypeDateTimeStamp",
                                              "btnFormatDateTimeStamp", "btnAsAppendFolder", "btnAsAddDigit",
                                              "btnChangeFilenameCase"};
    for (int type = 1; type <= 6; ++type) popupButtons[type]->setObjectName(QString::fromLatin1(popupNames[type]));
    static const char* const choiceNames[7] = {"", "txtAsDateTimeStamp", "txtTypeDateTimeStamp",
                                               "txtFormatDateTimeStamp", "txtAsAppendFolderName", "txtAsAddDigit",
                                               "txtCaseFileName"};
    for (int type = 1; type <= 6; ++type) popupTexts[type]->setObjectName(QString::fromLatin1(choiceNames[type]));
}

void ConvertFormatOrRenameView::connectControls() {
    const std::pair<QRadioButton*, int> destinations[] = {{btnMoveRenametoDestFolder, outputoptions::MoveToFolder},
                                                          {btnCopytoDestFolder, outputoptions::CopyToFolder},
                                                          {btnUseSourcePhotosFolder, outputoptions::UseSourceFolder}};
    for (const auto& [radio, tag] : destinations) {
        radio->setAutoExclusive(false);
        connect(radio, &QRadioButton::clicked, this, [this, tag = tag] { btnDestFolderOptionsTapped(tag); });
    }
    connect(btnSelectFolder, &QPushButton::clicked, this, &ConvertFormatOrRenameView::btnSelectFolderTapped);
    connect(checkboxOpenFolderAfterProcess, &QCheckBox::toggled, this,
            &ConvertFormatOrRenameView::btncheckBoxOpenOutputFolderAfterProcessTapped);
    connect(checkboxDeleteSourcePhoto, &QCheckBox::toggled, this,
            &ConvertFormatOrRenameView::btncheckBoxOverwriteExistingItemsTapped);
    connect(checkboxSetOuptputDateAndTimeFormatSame, &QCheckBox::toggled, this,
            &ConvertFormatOrRenameView::btncheckBoxSetOutputDateTimeSameTapped);
    connect(btnResetAllSettings, &QPushButton::clicked, this, &ConvertFormatOrRenameView::btnResetSettingsTapped);
    connect(btnSelectFormat, &QPushButton::clicked, this, &ConvertFormatOrRenameView::selectOutputFormatTapped);

    connect(checkboxQuality, &QCheckBox::toggled, this, &ConvertFormatOrRenameView::btncheckBoxQualityTapped);
    connect(checkboxCompression, &QCheckBox::toggled, this, &ConvertFormatOrRenameView::btncheckBoxCompressionTapped);
    connect(sliderQualityRatio, &QSlider::valueChanged, this, &ConvertFormatOrRenameView::sliderQualityRatioAction);
    connect(sliderCompressionRatio, &QSlider::valueChanged, this,
            &ConvertFormatOrRenameView::sliderCompressionRatioAction);

    btnRenameModeOriginal->setAutoExclusive(false);
    btnRenameModeModifyName->setAutoExclusive(false);
    connect(btnRenameModeOriginal, &QRadioButton::clicked, this, [this] { btnRadioRenamingTypeTapped(0); });
    connect(btnRenameModeModifyName, &QRadioButton::clicked, this, [this] { btnRadioRenamingTypeTapped(1); });

    using View = ConvertFormatOrRenameView;
    void (View::*const ruleActions[kRenameRuleCount])(bool) = {
        &View::btncheckBoxReplaceFileNameTapped, &View::btncheckBoxDateTimeStampTapped,
        &View::btncheckBoxAppendFolderNameTapped, &View::btncheckBoxAddStringTapped,
        &View::btncheckBoxAddDigitTapped,        &View::btncheckBoxRemoveTapped,
        &View::btncheckBoxChangeFileNameCaseTapped, &View::btncheckBoxUseLowerCaseExtensionTapped};
    for (int r = 0; r < kRenameRuleCount; ++r) connect(ruleCheckboxes[r], &QCheckBox::toggled, this, ruleActions[r]);
    void (View::*const popupActions[7])() = {nullptr,
                                             &View::btnAsDateTimeStampTapped,
                                             &View::btnTypeDateTimeStampTapped,
                                             &View::btnFormatDateTimeStampTapped,
                                             &View::btnAsAppendFolderTapped,
                                             &View::btnAsAddDigitTapped,
                                             &View::btnChangeFilenameCaseTapped};
    for (int type = 1; type <= 6; ++type) connect(popupButtons[type], &QPushButton::clicked, this, popupActions[type]);
    for (int f = 0; f < kRenameFieldCount; ++f) {
        connect(fields[f], &QLineEdit::textEdited, this, [this, f] { fieldEdited(RenameField(f)); });
    }
    const std::pair<QPushButton*, int> filterButtons[] = {
        {btnAllFileNames, 0}, {btnErrorFileNames, 1}, {btnWarningFileNames, 2}};
    for (const auto& [button, tag] : filterButtons)
        connect(button, &QPushButton::clicked, this, [this, tag = tag] { btnPreviewFilesModeTapped(tag); });
    connect(btnStart, &QPushButton::clicked, this, &ConvertFormatOrRenameView::btnStartProcessTapped);
    connect(btnBack, &QPushButton::clicked, this, &ConvertFormatOrRenameView::btnBackOnBottomViewTapped);
}

// ---- set-up ----

void ConvertFormatOrRenameView::setupViewNotification() {
    initialSetup();
    readDefaultSettings();
    setBatchInfo();
    enableScrollView(true);
}

void ConvertFormatOrRenameView::initialSetup() {
    scrollViewRename->verticalScrollBar()->setValue(0);
    tblPreviewNames->setSelectionMode(QAbstractItemView::NoSelection);
    tblPreviewNames->setTabKeyNavigation(false);  // one stop for Tab; the arrows move through its rows
    // The number fields take one whole number of at most four characters, or nothing.
    for (int f = 0; f < kRenameFieldCount; ++f) {
        if (!renameedit::isIntegerField(RenameField(f)) || fields[f]->validator()) continue;
        auto* formatter = new OnlyIntegerValueFormatterWithZero(fields[f]);
        formatter->setMaximumLength(renameedit::kIntegerFieldLength);
        fields[f]->setValidator(formatter);
    }
    flagPreviewFilesMode = 0;
    resizeTableHeader();
    setToolTips();
}

void ConvertFormatOrRenameView::enableScrollView(bool enable) { scrollViewRename->setScrollingEnabled(enable); }

void ConvertFormatOrRenameView::nextFromBatchEffectsView() {
    isNextFromBatchEffectView = true;
    isInsideBatchEffectView = false;
}

void ConvertFormatOrRenameView::appearInBatchEffectsView() {
    isNextFromBatchEffectView = false;
    isInsideBatchEffectView = true;
}

void ConvertFormatOrRenameView::readDefaultSettings() {
    seletedOutputOptionSettingObj = outputoptions::readDefaultOutputOptionSetting();
    setupUIForUpdatedOutputSetting(*seletedOutputOptionSettingObj);
    readDefaultRenameSetting();
    btnPreviewFilesModeTapped(0);
}

void ConvertFormatOrRenameView::readDefaultRenameSetting() {
    AppDelegate& app = AppDelegate::shared();
    if (app.selectedRenameSettingObj) {
        selectedBatchRenameSetting = app.selectedRenameSettingObj;
    } else {
        selectedBatchRenameSetting = BatchRenameSetting::defaultSettings();
        if (!selectedBatchRenameSetting) {
            // Without the resource every rule is off and names are kept.
            selectedBatchRenameSetting = std::make_shared<BatchRenameSetting>();
            selectedBatchRenameSetting->flagRenamingMode = 0;
            selectedBatchRenameSetting->outputFormat = outputformat::KeepOriginal;
        }
    }
    setupUIForUpdatedRenameSettingDictionary(*selectedBatchRenameSetting);
    resetPreviewForUpdatedRenameSelections(true);
}

void ConvertFormatOrRenameView::showDestinationMode(int tag) {
    const bool toFolder = tag != outputoptions::UseSourceFolder;
    const QColor folderColor = toFolder ? QColor(Qt::white) : QColor::fromRgbF(1 / 3.0, 1 / 3.0, 1 / 3.0);
    txtFolderName->setEnabled(toFolder);
    setTextColor(txtFolderName, folderColor);
    btnSelectFolder->setEnabled(toFolder);
    setTextColor(btnSelectFolder, folderColor);
    checkboxOpenFolderAfterProcess->setEnabled(toFolder);
    if (!toFolder) quietly(checkboxOpenFolderAfterProcess, [](QCheckBox* c) { c->setChecked(false); });
    lblOpenOutputFolder->setStyleSheet(toFolder ? QStringLiteral("color:white;")
                                                : QStringLiteral("color:%1;").arg(kDisabledGrey.name()));
}

void ConvertFormatOrRenameView::setupUIForUpdatedOutputSetting(const OutputOptionSettings& s) {
    const int tag = outputoptions::destinationTagOf(s);
    QRadioButton* radios[] = {btnMoveRenametoDestFolder, btnCopytoDestFolder, btnUseSourcePhotosFolder};
    for (int i = 0; i < 3; ++i) quietly(radios[i], [&](QRadioButton* r) { r->setChecked(i == tag); });
    showDestinationMode(tag);
    quietly(checkboxOpenFolderAfterProcess,
            [&](QCheckBox* c) { c->setChecked(s.openOutputFolderAfterProcessing.value_or(false)); });
    quietly(checkboxDeleteSourcePhoto, [&](QCheckBox* c) { c->setChecked(s.owerwriteExistingFiles.value_or(false)); });
    quietly(checkboxSetOuptputDateAndTimeFormatSame,
            [&](QCheckBox* c) { c->setChecked(s.setOutputDateTimeAsOriginal.value_or(false)); });
    txtFolderName->setText(seletedOutputOptionSettingObj ? seletedOutputOptionSettingObj->outputFolderPath
                                                         : s.outputFolderPath);
}

void ConvertFormatOrRenameView::layoutFormatPanel(int outputFormat) {
    const FormatPanel panel = renameedit::formatPanelFor(outputFormat);
    vwQuality->setVisible(panel == FormatPanel::Quality);
    vwCompression->setVisible(panel == FormatPanel::Compression);
}

void ConvertFormatOrRenameView::showOutputFormat(const BatchRenameSetting& s) {
    txtSelectedFileType->setText(renameedit::popupChoiceText(s, PopupOutputFormat, formats()));
    quietly(sliderCompressionRatio, [&](QSlider* slider) { slider->setValue(int(s.compressionRatio.value_or(1))); });
    txtCompressionRatio->setText(renameedit::compressionText(s.compressionRatio.value_or(1)));
    quietly(sliderQualityRatio, [&](QSlider* slider) { slider->setValue(qRound(s.qualityRatio.value_or(0) * 100)); });
    txtQualityRatio->setText(renameedit::qualityText(s.qualityRatio.value_or(0)));
    layoutFormatPanel(BatchRenameSetting::outputFormatOf(&s));
}

void ConvertFormatOrRenameView::setupUIForUpdatedRenameSettingDictionary(const BatchRenameSetting& s) {
    showingSettings_ = true;
    quietly(checkboxCompression, [&](QCheckBox* c) { c->setChecked(s.isSetCompression.value_or(false)); });
    quietly(checkboxQuality, [&](QCheckBox* c) { c->setChecked(s.isSetQuality.value_or(false)); });
    const bool modify = s.flagRenamingMode.value_or(0) != 0;
    vwModifyOriginalName->setVisible(modify);
    quietly(btnRenameModeOriginal, [&](QRadioButton* r) { r->setChecked(!modify); });
    quietly(btnRenameModeModifyName, [&](QRadioButton* r) { r->setChecked(modify); });
    for (int r = 0; r < kRenameRuleCount; ++r)
        quietly(ruleCheckboxes[r], [&](QCheckBox* c) { c->setChecked(renameedit::ruleState(s, RenameRule(r))); });
    showOutputFormat(s);
    for (int f = 0; f < kRenameFieldCount; ++f) {
        // The field being typed in keeps its text: a number field emptied to type anew
        // would otherwise show the 0 it stands for meanwhile.
        if (fields[f]->hasFocus()) continue;
        const QString text = renameedit::fieldText(s, RenameField(f));
        if (fields[f]->text() != text) fields[f]->setText(text);
    }
    for (int type = 1; type <= 6; ++type) popupTexts[type]->setText(renameedit::popupChoiceText(s, type, formats()));
    for (int r = 0; r < kRenameRuleCount; ++r) {
        if (renameedit::ruleState(s, RenameRule(r))) {
            ViewHelpers::enableSubViewsForView(ruleViews[r]);
        } else {
            ViewHelpers::disableSubViewsForView(ruleViews[r]);
        }
    }
    showingSettings_ = false;
}

void ConvertFormatOrRenameView::startAsNewBatch() {
    // The new batch starts from the default output options as well: this view's own record
    // would otherwise be handed back to the application at the next re-planning, and a
    // "Move to" of the last batch would send the new batch's originals to the Trash unasked.
    seletedOutputOptionSettingObj = outputoptions::readDefaultOutputOptionSetting();
    setupUIForUpdatedOutputSetting(*seletedOutputOptionSettingObj);
    resetAllSettings();
}

void ConvertFormatOrRenameView::resetAllSettings() {
    AppDelegate::shared().selectedRenameSettingObj.reset();
    readDefaultRenameSetting();
    scrollViewRename->ensureWidgetVisible(vwConvertFormat);
}

QStringList ConvertFormatOrRenameView::batchInfoValues() {
    const AppDelegate& app = AppDelegate::shared();
    double bytes = 0;
    for (const auto& photo : app.arraySelectedImagesToProcess) bytes += photo ? photo->fileSizeInBytes : 0;
    return {QString::number(app.arraySelectedImagesToProcess.size()),
            CommonFunc::unitStringFromBytes(bytes, 0) + QStringLiteral(" approx."),
            QString::number(Utils::totalBatchStepsApplied())};
}

QString ConvertFormatOrRenameView::batchInfoText() {
    const QStringList v = batchInfoValues();
    return QStringLiteral("Batch Count: %1  |  Batch Size: %2  |  Batch Steps: %3").arg(v[0], v[1], v[2]);
}

void ConvertFormatOrRenameView::setBatchInfo() {
    // The values are found in the line literally: a size such as "1.2 MB" is no pattern.
    lblBatchInfo->setText(
        previewtables::highlightedHtml(batchInfoText(), batchInfoValues(), QColor(184, 184, 184), Qt::white));
}

// ---- preview ----

void ConvertFormatOrRenameView::resizeTableHeader() {
    // The two path columns share the table's width.
    tblPreviewNames->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    // The controls a tip points at have moved with the window.
    if (tipsPopUpWindow()) showTipsWithTag(currentTips());
}

void ConvertFormatOrRenameView::resetPreviewForUpdatedRenameSelections(bool first) {
    if (showingSettings_ || !selectedBatchRenameSetting || !seletedOutputOptionSettingObj) return;
    firstPreview_ = first;
    // The first preview and choices are planned at once; typing waits for a pause.
    recomputer_->requestRecompute(!first);
    previewModel->setContents({}, classification);
}

void ConvertFormatOrRenameView::publish(const PreviewResult& result) {
    AppDelegate& app = AppDelegate::shared();
    arrayOutputFilePaths = result.planned;
    isIphotoExist = result.isIphotoExist;
    app.selectedOuputSettingObj = seletedOutputOptionSettingObj;
    app.selectedRenameSettingObj = selectedBatchRenameSetting;
    app.arrayDestinationPaths = arrayOutputFilePaths;
    classification = result.classification;
    updateErrorAndWarningUI();
    showOriginalsNotice();
    post(names::HideLoading);
    app.isPROCESSING_WITH_FILES_SYSTEM = false;
    previewModel->setContents(arrayOutputFilePaths, classification);
    applyLibraryGuard();
    setupUIForUpdatedRenameSettingDictionary(*selectedBatchRenameSetting);
    // The walk through the view starts once its rows are there; an open tip stays.
    if ((isInsideBatchEffectView || isNextFromBatchEffectView) && !tipsPopUpWindow())
        schedule(300, [this] { showTipsWithTag(7); });
    emit previewPublished();
}

void ConvertFormatOrRenameView::applyLibraryGuard() {
    if (isIphotoExist) {
        outputoptions::applyLibraryGuard(*seletedOutputOptionSettingObj);
        quietly(btnMoveRenametoDestFolder, [](QRadioButton* r) { r->setChecked(false); });
        btnMoveRenametoDestFolder->setEnabled(false);
        if (!seletedOutputOptionSettingObj->useSourceFolder.value_or(false))
            quietly(btnCopytoDestFolder, [](QRadioButton* r) { r->setChecked(true); });
        lblMoveOption->setStyleSheet(QStringLiteral("color:%1;").arg(kDisabledGrey.name()));
    } else {
        btnMoveRenametoDestFolder->setEnabled(true);
        lblMoveOption->setStyleSheet(QStringLiteral("color:white;"));
    }
}

void ConvertFormatOrRenameView::showOriginalsNotice() {
    const QStringList notes = notesAboveNames();
    lblOriginalsNotice->setText(notes.join(u'\n'));
    lblOriginalsNotice->setVisible(!notes.isEmpty());
}

void ConvertFormatOrRenameView::calculateErrorFiles() {
    const AppDelegate& app = AppDelegate::shared();
    const auto& output = app.selectedOuputSettingObj ? app.selectedOuputSettingObj : seletedOutputOptionSettingObj;
    classification = PreviewClassifier::calculateErrorFiles(app.arrayDestinationPaths,
                                                            PreviewClassifier::Options::ofBatch(output.get()));
}

void ConvertFormatOrRenameView::updateErrorAndWarningUI() {
    btnErrorFileNames->setText(QStringLiteral("ERRORS: %1").arg(classification.errorCount()));
    btnWarningFileNames->setText(QStringLiteral("WARNINGS: %1").arg(classification.warningCount()));
    for (QPushButton* b : {btnAllFileNames, btnErrorFileNames, btnWarningFileNames}) {
        QFont f = b->font();
        f.setPointSize(11);
        b->setFont(f);
        b->setFixedWidth(b->fontMetrics().horizontalAdvance(b->text()) + 20 + 16);
    }
}

void ConvertFormatOrRenameView::styleFilterButtons() {
    const QPushButton* buttons[] = {btnAllFileNames, btnErrorFileNames, btnWarningFileNames};
    for (int tag = 0; tag < 3; ++tag) {
        const bool chosen = tag == flagPreviewFilesMode;
        const_cast<QPushButton*>(buttons[tag])
            ->setStyleSheet(chosen ? QStringLiteral("QPushButton { color:white; background:rgba(27,172,143,166);"
                                                    " border:1px solid rgba(11,11,11,166); border-radius:5px;"
                                                    " padding:3px; } QPushButton:focus { border:2px solid #1ab999; }")
                                   : QStringLiteral("QPushButton { color:white; background:rgba(43,43,43,102);"
                                                    " border:1px solid rgba(57,57,57,102); border-radius:5px;"
                                                    " padding:3px; } QPushButton:focus { border:2px solid #1ab999; }"));
    }
}

void ConvertFormatOrRenameView::btnPreviewFilesModeTapped(int tag) {
    if (tag >= 0 && tag <= 2) {
        flagPreviewFilesMode = tag;
        styleFilterButtons();
    }
    if (!recomputer_->isPending()) calculateErrorFiles();
    updateErrorAndWarningUI();
    showOriginalsNotice();
    previewModel->setContents(arrayOutputFilePaths, classification);
    previewModel->setMode(flagPreviewFilesMode);
}

// ---- rename controls ----

void ConvertFormatOrRenameView::fieldEdited(RenameField field) {
    QLineEdit* edit = fields[int(field)];
    const auto shown = renameedit::controlTextDidChange(*selectedBatchRenameSetting, field, edit->text());
    if (!shown) return;  // names are kept: typing is not stored
    if (*shown != edit->text()) {
        const int cursor = std::min<int>(edit->cursorPosition(), int(shown->size()));
        edit->setText(*shown);
        edit->setCursorPosition(cursor);
    }
    resetPreviewForUpdatedRenameSelections(false);
}

void ConvertFormatOrRenameView::ruleToggled(RenameRule rule, bool on) {
    renameedit::setRuleState(*selectedBatchRenameSetting, rule, on);
    resetPreviewForUpdatedRenameSelections(false);
}

void ConvertFormatOrRenameView::btncheckBoxReplaceFileNameTapped(bool on) { ruleToggled(RenameRule::ReplaceFileName, on); }
void ConvertFormatOrRenameView::btncheckBoxDateTimeStampTapped(bool on) { ruleToggled(RenameRule::DateTimeStamp, on); }
void ConvertFormatOrRenameView::btncheckBoxAppendFolderNameTapped(bool on) {
    ruleToggled(RenameRule::AppendFolderName, on);
}
void ConvertFormatOrRenameView::btncheckBoxAddStringTapped(bool on) { ruleToggled(RenameRule::AddString, on); }
void ConvertFormatOrRenameView::btncheckBoxAddDigitTapped(bool on) { ruleToggled(RenameRule::AddDigit, on); }
void ConvertFormatOrRenameView::btncheckBoxRemoveTapped(bool on) { ruleToggled(RenameRule::Remove, on); }
void ConvertFormatOrRenameView::btncheckBoxChangeFileNameCaseTapped(bool on) {
    ruleToggled(RenameRule::ChangeCaseFileName, on);
}
void ConvertFormatOrRenameView::btncheckBoxUseLowerCaseExtensionTapped(bool on) {
    ruleToggled(RenameRule::CaseFileExtension, on);
}

void ConvertFormatOrRenameView::btnAsDateTimeStampTapped() { openPopup(PopupDateStampAs, popupButtons[PopupDateStampAs]); }
void ConvertFormatOrRenameView::btnTypeDateTimeStampTapped() {
    openPopup(PopupDateStampType, popupButtons[PopupDateStampType]);
}
void ConvertFormatOrRenameView::btnFormatDateTimeStampTapped() {
    openPopup(PopupDateStampFormat, popupButtons[PopupDateStampFormat]);
}
void ConvertFormatOrRenameView::btnAsAppendFolderTapped() { openPopup(PopupFolderNameAs, popupButtons[PopupFolderNameAs]); }
void ConvertFormatOrRenameView::btnAsAddDigitTapped() { openPopup(PopupDigitAs, popupButtons[PopupDigitAs]); }
void ConvertFormatOrRenameView::btnChangeFilenameCaseTapped() { openPopup(PopupCaseMode, popupButtons[PopupCaseMode]); }

void ConvertFormatOrRenameView::btnRadioRenamingTypeTapped(int tag) {
    if (tag == 0 || tag == 1) {
        vwModifyOriginalName->setVisible(tag == 1);
        btnRenameModeOriginal->setChecked(tag == 0);
        btnRenameModeModifyName->setChecked(tag == 1);
        btnRenameModeOriginal->setEnabled(true);
        btnRenameModeModifyName->setEnabled(true);
        selectedBatchRenameSetting->flagRenamingMode = tag;
    }
    resetPreviewForUpdatedRenameSelections(false);
}

void ConvertFormatOrRenameView::btncheckBoxQualityTapped(bool on) {
    selectedBatchRenameSetting->isSetQuality = on;
    resetPreviewForUpdatedRenameSelections(false);
}

void ConvertFormatOrRenameView::btncheckBoxCompressionTapped(bool on) {
    selectedBatchRenameSetting->isSetCompression = on;
    resetPreviewForUpdatedRenameSelections(false);
}

void ConvertFormatOrRenameView::sliderQualityRatioAction(int value) {
    selectedBatchRenameSetting->qualityRatio = value / 100.0;
    txtQualityRatio->setText(renameedit::qualityText(value / 100.0));
    resetPreviewForUpdatedRenameSelections(false);
}

void ConvertFormatOrRenameView::sliderCompressionRatioAction(int value) {
    selectedBatchRenameSetting->compressionRatio = double(value);
    txtCompressionRatio->setText(renameedit::compressionText(value));
    resetPreviewForUpdatedRenameSelections(false);
}

// ---- output options ----

void ConvertFormatOrRenameView::btnDestFolderOptionsTapped(int tag) {
    QRadioButton* radios[] = {btnMoveRenametoDestFolder, btnCopytoDestFolder, btnUseSourcePhotosFolder};
    for (int i = 0; i < 3; ++i) quietly(radios[i], [&](QRadioButton* r) { r->setChecked(i == tag); });
    outputoptions::chooseDestination(*seletedOutputOptionSettingObj, tag);
    showDestinationMode(tag);
    resetPreviewForUpdatedRenameSelections(false);
}

void ConvertFormatOrRenameView::btncheckBoxOpenOutputFolderAfterProcessTapped(bool on) {
    seletedOutputOptionSettingObj->openOutputFolderAfterProcessing = on;
}

void ConvertFormatOrRenameView::btncheckBoxOverwriteExistingItemsTapped(bool on) {
    seletedOutputOptionSettingObj->owerwriteExistingFiles = on;
    resetPreviewForUpdatedRenameSelections(false);
}

void ConvertFormatOrRenameView::btncheckBoxSetOutputDateTimeSameTapped(bool on) {
    seletedOutputOptionSettingObj->setOutputDateTimeAsOriginal = on;
}

void ConvertFormatOrRenameView::btnSelectFolderTapped() {
    busy_->acquire();
    // The chooser opens where the photos go now (or the nearest folder above it that is there).
    const QString start = outputfolder::chooserStartFolder(
        seletedOutputOptionSettingObj ? seletedOutputOptionSettingObj->outputFolderPath : QString(),
        QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
    QPointer<ConvertFormatOrRenameView> self(this);
    folderChooser_(this, start, [self](const QString& path) {
        if (!self) return;
        if (!path.isEmpty() && outputoptions::acceptChosenFolder(*self->seletedOutputOptionSettingObj, path)) {
            self->txtFolderName->setText(path);
            self->resetPreviewForUpdatedRenameSelections(false);
        }
        self->busy_->release();
    });
}

// ---- pop-up option list ----

void ConvertFormatOrRenameView::removeAttachedPopupWindow() {
    closeOptionListWindow();
    tblPopupOptions = nullptr;
    enableScrollView(true);
}

void ConvertFormatOrRenameView::closeOptionListWindow() {
    if (!popup_) return;
    AttachedWindow* open = popup_;
    popup_ = nullptr;
    open->disconnect(this);
    open->closePopup();
    open->deleteLater();
}

void ConvertFormatOrRenameView::dismissPanel() { removeAttachedPopupWindow(); }

void ConvertFormatOrRenameView::openPopup(int type, QWidget* anchor) {
    removeAttachedPopupWindow();
    flagCurrentOptionsPopupType = type;
    const QStringList entries = renameedit::popupList(type, formats());
    auto* table = new QTableView;
    table->setObjectName(QStringLiteral("tblPopupOptions"));
    auto* model = new QStringListModel(entries, table);
    table->setModel(model);
    table->horizontalHeader()->hide();
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->setDefaultSectionSize(36);
    table->setShowGrid(false);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setStyleSheet(QStringLiteral("QTableView { background:rgb(41,41,41); color:white; border:none; }"));
    const QSize size = type == PopupOutputFormat ? QSize(200, renameedit::formatListHeight(int(entries.size())))
                                                 : renameedit::popupSize(type, int(entries.size()));
    table->resize(size);
    tblPopupOptions = table;
    keyboard::driveOptionList(table, anchor, renameedit::popupChoiceRow(*selectedBatchRenameSetting, type),
                              [this](int row) { tableViewSelectionDidChange(row); });
    addAttachedPopupTableAtPoint(anchor->mapTo(window(), QPoint(anchor->width() / 2, anchor->height())));
    enableScrollView(false);
}

void ConvertFormatOrRenameView::addAttachedPopupTableAtPoint(QPoint windowPoint) {
    if (!tblPopupOptions) return;
    // The new list moves into the new window; the old window goes.
    closeOptionListWindow();
    popup_ = new AttachedWindow(tblPopupOptions, windowPoint, window(), 1, 5);
    popup_->setObjectName(QStringLiteral("popupOptions"));
    popup_->setBackgroundColor(QColor(41, 41, 41));
    popup_->setBorderColor(Qt::transparent);
    // A press outside the list closes it.
    connect(popup_, &AttachedWindow::closed, this, &ConvertFormatOrRenameView::dismissPanel);
    popup_->show();
    popup_->raise();
}

void ConvertFormatOrRenameView::selectOutputFormatTapped() { openPopup(PopupOutputFormat, btnSelectFormat); }

void ConvertFormatOrRenameView::tableViewSelectionDidChange(int row) {
    const int type = flagCurrentOptionsPopupType;
    removeAttachedPopupWindow();
    const QStringList entries = renameedit::popupList(type, formats());
    if (row < 0 || row >= entries.size()) return;
    BatchRenameSetting& s = *selectedBatchRenameSetting;
    renameedit::choosePopupRow(s, type, row);
    if (type == PopupOutputFormat) {
        showOutputFormat(s);
    } else if (type >= 1 && type <= 6) {
        popupTexts[type]->setText(entries.at(row));
    }
    resetPreviewForUpdatedRenameSelections(false);
    // A choice is not typing: plan it now.
    recomputer_->flushDebounce();
}

// ---- start ----

void ConvertFormatOrRenameView::btnStartProcessTapped() {
    // A change still waiting or being planned is planned now, so the run uses this plan.
    if (recomputer_->isPending()) recomputer_->recomputeNow();
    if (!startgate::destinationAccepted(txtFolderName->text(), seletedOutputOptionSettingObj.get())) {
        showFolderMissingAlert();
        return;
    }
    perfromStartProcess();
}

void ConvertFormatOrRenameView::showFolderMissingAlert() {
    QMessageBox* box = makeShortAlert(this, QStringLiteral("alertDestinationFolder"), QMessageBox::Warning,
                                      startgate::FolderNotFound, startgate::FolderNotFoundInfo);
    box->addButton(QMessageBox::Ok);
    box->open();
}

void ConvertFormatOrRenameView::perfromStartProcess() {
    const QLineEdit* name = fields[int(RenameField::ReplaceFileName)];
    if (startgate::replacementNameMissing(selectedBatchRenameSetting.get(), name->text())) {
        if (delegate_) delegate_->showAlertOnPreviewTappedWithMsg(startgate::BlankReplacementName);
        return;
    }
    callDelegateToProcessPhotos();
}

void ConvertFormatOrRenameView::callDelegateToProcessPhotos() {
    post(names::ProcessStartFromconvertFormat);
    AppDelegate& app = AppDelegate::shared();
    app.selectedOuputSettingObj = seletedOutputOptionSettingObj;
    app.selectedRenameSettingObj = selectedBatchRenameSetting;
    app.arrayDestinationPaths = arrayOutputFilePaths;
    if (delegate_) delegate_->btnPreviewOnConvertOrRenameVCTapped();
}

void ConvertFormatOrRenameView::btnBackOnBottomViewTapped() {
    if (shoulbDisablePrevBtn) return;
    if (delegate_) delegate_->btnBackOnConvertOrRenameVCTapped();
}
