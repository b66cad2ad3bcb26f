#pragma once
// The one way photos enter the batch. Every source (open panels, the library panel,
// drops, the last session) sets the intake flags below and calls addPhotosFromPaths.
//
// An add runs in four stages: start (main thread) → count (background, Count queue) →
// decision (main) → add (background, Add queue) → end (main). The count refuses the whole
// add when it would bring in more than the limit; the add walks the same sources again
// and appends each accepted photo to AppDelegate::arraySelectedImagesToProcess in one
// synchronous main-thread step (append, duplicate guard, progress), so the batch keeps
// the order of the paths and of the folder walks. The end runs exactly once per add.
//
// What the screen supplies is small: an IntakePresenter (alerts, overlays, the lock),
// an IntakeProgressSink (the progress display) and an IntakeExecutor (the queues). A
// photo's date for the date filter comes from a PhotoDateSource. No widget is needed.
#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>

#include "import/IntakeExecutor.h"
#include "import/IntakeRules.h"
#include "platform/imageio/ImageIO.h"

struct PhotoFile;

// What the add asks the screen to show. Every call comes on the main thread.
class IntakePresenter {
public:
    virtual ~IntakePresenter() = default;
    // The alert sheet with its OK button (texts as they are to be shown).
    virtual void showAlert(const intake::IntakeAlert& alert) = 0;
    virtual void setLoadingOverlayVisible(bool visible) {}
    // The progress display (panel, or sheet over a batch that already has photos);
    // showing it also hides the drop area.
    virtual void setProgressDisplayVisible(bool visible) {}
    virtual void setUserInteractionEnabled(bool enabled) {}
    // The add is over and photos went in or not: show the batch (grid or list, the drop
    // area when empty), the footer, and the first-use tip.
    virtual void showPhotosAfterCompletion(const intake::BatchFooter& footer) {}
};

// The progress display. Main thread.
class IntakeProgressSink {
public:
    virtual ~IntakeProgressSink() = default;
    // Before the first photo: empty texts, bar at 0, icon "fill_1.png".
    virtual void progressReset() {}
    virtual void progressChanged(const intake::IntakeProgress& progress) = 0;
};

// The date the date filter judges a photo by: its EXIF capture date, else its file's
// creation date. Called on the background queues.
using PhotoDateSource = std::function<QDateTime(const QString& path)>;
QDateTime photoDateFromFile(const QString& path);

class PhotoIntake : public QObject {
    Q_OBJECT
public:
    // `executor` must outlive the intake and serve it alone; `limit` is the most new
    // photos one add may bring in.
    explicit PhotoIntake(IntakeExecutor& executor, int limit = intake::kBatchLimit, QObject* parent = nullptr);
    ~PhotoIntake() override;

    void setPresenter(IntakePresenter* presenter) { presenter_ = presenter; }
    void setProgressSink(IntakeProgressSink* sink) { progress_ = sink; }
    void setTypeOracle(intake::TypeOracle oracle) { types_ = intake::AcceptedTypes(std::move(oracle)); }
    void setPhotoDateSource(PhotoDateSource source) { photoDate_ = std::move(source); }
    // Called with a photo's path once its file is open for reading, before it is read (not
    // while an add is under way): lets a test change the file under the reader.
    void setSourceReadHook(std::function<void(const QString& path)> hook) { reading_.whileOpen = std::move(hook); }

    // ---- flags the sources set before each add (main thread) ----
    bool isAddFromSubFolderSelected = false;  // folders are walked with their sub-folders
    bool isAddingWithFilter = false;          // the date filter applies
    bool isAddingIphotos = false;             // started from the photo-library panel
    QString selectedFileType = intake::kAllFileTypes;
    QDateTime datePickerFromDate;
    QDateTime datePickerToDate;

    // The duplicate guard: the paths this intake added. Main thread; the screen removes
    // a path when it removes its photo, and empties it for a new batch.
    QSet<QString> dictFileAdded;
    // The guard made to hold exactly the batch's paths again, after the batch was changed
    // elsewhere (a run kept only its skipped photos, a new batch began). Not while an add
    // is under way.
    void syncDuplicateGuard(const QList<std::shared_ptr<PhotoFile>>& batch);

    // ---- one add ----
    // Starts an add of files, folders and library packages (main thread). False (and
    // nothing happens) while another add is under way. `isiPhoto` is not read.
    bool addPhotosFromPathUrls(const QList<QUrl>& urls, bool isiPhoto = false);
    bool addPhotosFromPaths(const QStringList& paths);
    // Stop: photos added so far stay; the add ends as usual.
    void btnStopAddingTapped();
    bool isAdding() const { return isAddingPhotosInCollectionView.load(); }

    // Counters of the current (or last) add; readable from any thread.
    std::atomic<int> totalPhotoToAdd{0};
    std::atomic<int> photosAdded{0};
    std::atomic<int> damagedFileCount{0};
    std::atomic<int> alreadyExistsPhotosCount{0};
    std::atomic<bool> isPHOTOS_PROCESSING_IN_PROGERESS{false};
    std::atomic<bool> isMAX_PHOTOS_LIMIT_EXCEEDED{false};
    std::atomic<bool> isAddingPhotosInCollectionView{false};
    std::atomic<bool> isPhotosAlreadyAdded{false};
    std::atomic<bool> isPhotoFormatNotSupported{false};
    // Names of the files the current (or last) add refused as damaged or of a kind not
    // taken, in the order met, as people read them; any thread.
    QStringList refusedFileNames() const;

    // The footer for the batch as it is now (main thread).
    intake::BatchFooter updateBatchInformationInBottomView() const;
    // The date-filter sheet's check of its two dates: the label text, or "".
    static QString dateFilterError(const QDateTime& from, const QDateTime& to) {
        return intake::dateFilterError(from, to);
    }

signals:
    // A photo was appended at `index` of the batch.
    void photoAppended(int index);
    // The add is over (once per add, whatever its outcome).
    void addEnded();

private:
    // Everything the background stages read, copied on the main thread at the start.
    struct AddRequest {
        QStringList paths;
        bool subFolders = false;
        bool dateFilter = false;
        bool fromLibraryPanel = false;
        QString fileType;
        QDateTime from, to;
        QSet<QString> alreadyAdded;  // the guard as it was at the start
    };
    using Request = std::shared_ptr<const AddRequest>;

    // Runs a phase of the add on the executor's queue; one that throws ends the add.
    void inBackground(IntakeExecutor::Queue queue, std::function<void()> work);
    void countTotalPhotosToBeAddedFromUrls(const Request& request);
    bool isValidPhoto(const QString& path, const AddRequest& request, QSet<QString>& counted);
    void decide(const Request& request);
    void addPhase(const Request& request);
    void addToImageArray(const QString& path, const QString& originalFileName, const AddRequest& request);
    void getAllFilesInFolder(const QString& folder, const AddRequest& request);
    void addLibraryEntries(const QString& package, const AddRequest& request);
    void appendOnMain(const std::shared_ptr<PhotoFile>& photo);
    void callForUpdatingProgressCountWithFilePath(const QString& folder);
    void processAfterAllPhotosAdded();
    void showPromtForDamagedFiles();
    void endAdd();
    bool keepGoing() const { return isPHOTOS_PROCESSING_IN_PROGERESS.load() && !shuttingDown_.load(); }
    bool inDateRange(const QDateTime& date, const AddRequest& request) const;

    IntakeExecutor& executor_;
    const int limit_;
    IntakePresenter* presenter_ = nullptr;
    IntakeProgressSink* progress_ = nullptr;
    intake::AcceptedTypes types_;
    PhotoDateSource photoDate_ = photoDateFromFile;
    platform::DecodeOptions reading_;
    std::atomic<bool> isIphotoDirectorySelected{false};
    std::atomic<bool> shuttingDown_{false};
    QSet<QString> handledThisAdd_;  // the add queue's own
    bool ended_ = true;  // main thread: the current add has had its end
    // Notes a refused file for the alert; `undrawable` names the kind of a picture that
    // cannot be drawn.
    void refuse(const QString& path, const QString& undrawable = QString());
    // Notes a file whose header did not read, with why where that was not the file's doing.
    void refuseUnreadable(const QString& path);
    mutable QMutex refusedLock_;
    QStringList refused_;
};
