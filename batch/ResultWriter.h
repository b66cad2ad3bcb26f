#pragma once
// Writes one finished photo of a run to its planned destination: an image file of the
// chosen type (orientation, metadata, quality, the PNG optimiser when compression is on)
// or a page appended to a PDF document; then the file's dates, and the source moved to
// the Trash in move mode.
//
// Nothing the user has is touched before its replacement is complete: the output is
// written under a temporary name in the destination folder, read back (its bytes, compared
// with those encoded; its header and the metadata it was given), given its dates, and only
// then renamed into place (never over an existing file while overwriting is off); the source
// goes to the Trash only after that, and only while it is still the file that was read. An
// output that takes the place of its own source, or of any file at its destination, first
// puts that file in the Trash, so it is never simply overwritten: only a restore run replaces
// in place, and only the very file an earlier run of the batch placed (PlacedOutputs).
//
// Temporary files are named ".brisko-part-<mark>-XXXXXX", the mark of the run's record:
// short, whatever the length of the destination's name, and recognisable, so that those a
// killed run left in the folders it writes to are removed at the next start (the run's
// record names the folders) or by a later run into the folder, once that run is known to
// be over.
#include <QImage>
#include <QSize>
#include <QVariantMap>
#include <QString>
#include <QHash>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/foundation/NativeNames.h"
#include "platform/imageio/ImageIO.h"
#include "platform/workspace/RunRecord.h"
#include "platform/workspace/Trash.h"

struct PhotoFile;
struct BatchRenameSetting;
struct OutputOptionSettings;
struct MetaDataObject;

// The files a batch's runs placed at their destinations, each known by its identity as it
// was placed. A restore run replaces in place only a file that is still one of these: any
// other file at a destination is the user's, whatever run it came before.
class PlacedOutputs {
public:
    void placed(const QString& destination, const platform::FileIdentity& identity);
    // Whether the file at `destination` is still the very one placed there.
    bool holds(const QString& destination) const;

private:
    mutable std::mutex mutex_;
    QHash<QString, platform::FileIdentity> placed_;
};

// The settings one run writes with; taken once when the run starts.
struct ResultWriterSettings {
    std::shared_ptr<const BatchRenameSetting> renameSetting;
    std::shared_ptr<const OutputOptionSettings> outputSetting;
    std::shared_ptr<const MetaDataObject> metaDataSetting;
    std::shared_ptr<const MetaDataObject> metaDataSettingOnlyUpdatedFields;
    bool autoCorrectOrientation = true;
    // A run that gives each photo back its own metadata and dates.
    bool isProcessForRestoreExif = false;
    // What this batch's runs placed: every output placed is noted here, and a restore run
    // replaces in place what is still one of them. None: nothing is replaced in place.
    std::shared_ptr<PlacedOutputs> placedOutputs;
    // The record of the run, told of every folder written to and Trash entry made, so that
    // what a killed run leaves is cleared at the next start; none when null.
    std::shared_ptr<platform::RunRecord> runRecord;
};

class ResultWriter {
public:
    struct Result {
        int processStatus = 0;  // PhotoFile::ProcessStatus
        QString processInfoMessage;
        // A stop asked for during compression: nothing was written and nothing is to be
        // reported for the photo.
        bool abandoned = false;
    };

    explicit ResultWriter(ResultWriterSettings settings);

    // While the PNG optimiser works on the photo in hand (read by the main thread).
    bool isCompressionInProgress() const { return compressionState_ != 0; }
    // A stop was asked for during compression and waits for the optimiser.
    bool isStopRequestWhileCompression() const { return compressionState_ == 2; }
    // Main thread: asks for a stop once the running optimiser is done. False (and nothing
    // asked) when no optimiser runs, so the stop is the caller's to make at once.
    bool requestStopWhileCompression() {
        int running = 1;
        return compressionState_.compare_exchange_strong(running, 2);
    }
    // Called on the writer's thread once such a stop has been acted on.
    std::function<void()> stopProcessAfterCompletionCompression;

    // Moves a source to the Trash, provided it is still the file that was read;
    // platform::trash::moveToTrash by default.
    std::function<platform::TrashEntry(const QString& path, const std::optional<platform::FileIdentity>& expected)>
        moveToTrash;
    // Flushes a placed output and its folder to the disk before its source goes to the
    // Trash; platform::syncFileAndFolder by default.
    std::function<bool(const QString& path)> syncToDisk;
    // Runs on the finished temporary file of `destination` just before it is checked and
    // placed; lets tests stand in for a disk that fails under the writer.
    std::function<void(const QString& temporaryPath, const QString& destination)> beforePlacing;
    // Runs on a temporary file that a user's original will be given up for, once its data
    // are flushed to the disk and before they are read back from it; lets tests change what
    // the disk holds under the pages the writer filled.
    std::function<void(const QString& temporaryPath)> onDisk;
    // Runs on the encoding thread once prepareImg has written the temporary file; lets
    // tests act while a photo's save is under way.
    std::function<void(const QString& temporaryPath, const QString& destination)> afterEncoding;
    // Runs once the PNG optimiser's two working files are made, before they are written;
    // lets tests see where a run killed while optimising would leave them.
    std::function<void(const QString& png, const QString& optimised)> beforeOptimising;

    // The entry point: writes the image to `destination` (the save type chooses the
    // encoder; the extension "pdf" makes a PDF page) and says how it went. It is
    // prepareImg followed at once by placePrepared; the caller keeps its picture, so the
    // writer copies it where it changes it.
    Result saveImgInDirectoryFilteredImg(const QImage& image, const QString& destination,
                                         platform::ImageType saveType, const std::shared_ptr<PhotoFile>& photo);

    // The folders a writer made for its outputs (defined with the writer).
    class CreatedFolders;

    // A photo's output encoded into a temporary file beside its destination and not yet in
    // place. The file goes when this is destroyed, unless placePrepared took it, and with it
    // any folder the writer made for it that it leaves empty.
    class Prepared {
    public:
        Prepared() = default;
        Prepared(Prepared&& other) noexcept { *this = std::move(other); }
        Prepared& operator=(Prepared&& other) noexcept;
        ~Prepared() { discard(); }
        // Removes the temporary file now; the result stays.
        void discard();
        bool ready() const { return !temporaryPath_.isEmpty(); }
        // Without a temporary file: why not (the photo's outcome). Nothing was left on disk.
        Result result;
        static Prepared failed(const QString& message);

    private:
        friend class ResultWriter;
        QString temporaryPath_;
        QString destination_;
        std::shared_ptr<CreatedFolders> folders_;
        // Holds the destination's folder open while the temporary file is named through it.
        std::shared_ptr<platform::ReadablePath> folderAlias_;
        QSize storedSize_;
        bool imageFile_ = true;
        platform::ReadBackMark verified_;  // the file as it read back
        // The pages, frames or pictures the source holds, of which only the first is written.
        int sourcePages_ = 1;
        platform::ImageFormat sourceFormat_ = platform::ImageFormat::Unknown;
        // The source as it was when its picture was read.
        std::optional<platform::FileIdentity> sourceRead_;
        // The destination's folder as the temporary file was made in it, held open: another
        // photo may make a folder of that name again after it was removed, and this one's
        // file is gone all the same (a removed folder has no links left).
        std::shared_ptr<const int> folder_;
    };
    // The first half of a save: an output already at the destination is kept (overwriting
    // off), and the extension chooses between an image file and a PDF page. It depends on
    // no other photo, so several photos may be prepared at once on different threads,
    // except with the PNG optimiser, whose stop state is one per writer (mayUseOptimiser).
    // `sourceRead` is the source as it was when the picture was read from it (taken now
    // when not given): a source that is another file by the time it would go to the Trash
    // stays where it is.
    // The picture is handed over, as the one holder of its pixels: the source's colour
    // profile is attached without a copy of them (see platform::holdsPixelsAlone).
    Prepared prepareImg(QImage&& image, const QString& destination, platform::ImageType saveType,
                        const std::shared_ptr<PhotoFile>& photo,
                        std::optional<platform::FileIdentity> sourceRead = std::nullopt);

    // Writes an image file for `withUrl`: the picture turned as the source's and the
    // record's orientation ask, with the output metadata, in the save type,
    // at this run's quality, or through the PNG optimiser when compression is on. The file
    // is made beside `withUrl` under a temporary name (its folder created when missing) and
    // read back; placePrepared puts it in place.
    Prepared saveImageUsingDefaultMethodInDirectoryFilteredImg(QImage&& filteredImg, const QString& withUrl,
                                                               platform::ImageType saveType,
                                                               const std::shared_ptr<PhotoFile>& photoFile);
    // Writes a PDF page for `newFilePath`: the document there (an empty one when there is
    // none or it cannot be read) with the picture appended as its last page, made beside it
    // under a temporary name and read back, like the image file above.
    Prepared saveImageUsingImageMagick(QImage&& image, const QString& newFilePath,
                                       const std::shared_ptr<PhotoFile>& photoFileNode);
    // The second half, in batch order: the file, still as it read back, is given its dates
    // and renamed into place, and in move mode the source goes to the Trash. An output
    // that takes its own source's place, or with overwriting on a file's at the
    // destination, sends that file to the Trash first.
    Result placePrepared(Prepared& prepared, const QString& destination, const std::shared_ptr<PhotoFile>& photo);

    // How a photo's file is made when its pixels are encoded as they are finished, outside
    // the writer: a JPEG of this quality or a PNG, carrying this profile, in grey when the
    // photo is grey and the writer would write its picture grey while it stays so. That is
    // the writer's own file only where the pixels go out exactly as they are made: `changed`
    // says what else the writer would do to them on their way out.
    struct EncodedRoute {
        platform::ImageType type = platform::ImageType::JPEG;
        double quality = 0;
        QByteArray icc;
        bool gray = false;
        enum class Changed {
            No,
            Type,       // neither a JPEG nor a PNG file (another type, a PDF page)
            Optimiser,  // the PNG optimiser rewrites the file
            Turned,     // the source's orientation tag or the record's turns the picture
            Colours,    // converted to another profile
        };
        Changed changed = Changed::No;
    };
    // For the photo whose file's header is `source`.
    EncodedRoute encodedRoute(platform::ImageType saveType, const QString& destination, const PhotoFile& photo,
                              const platform::ImageHeader& source) const;
    // prepareImg for a file of a picture of `size` that `write` encodes by that route, handing
    // its bytes in order to the function it is given; false from `write` fails the file.
    Prepared prepareEncoded(const EncodedRoute& route, QSize size, const QString& destination,
                            const std::shared_ptr<PhotoFile>& photo, std::optional<platform::FileIdentity> sourceRead,
                            const std::function<bool(const platform::FileBytesSink&)>& write);

    // Whether writing `destination` replaces the photo's own source file.
    static bool replacesOwnSource(const QString& destination, const PhotoFile& photo);
    // Whether the file at `destination` stays and the photo is skipped: with overwriting
    // off, any file there but an output of this batch that a restore run replaces.
    bool keepsExisting(const QString& destination) const;

    // The quality factor an image file of this run is written with (compression off).
    float qualityFactorForOutput() const;
    // Whether the PNG optimiser handles an output of this save type number.
    bool usesOptimiser(platform::ImageType saveType) const;
    // Whether any output of this run may go through the PNG optimiser.
    bool mayUseOptimiser() const { return usesOptimiser(platform::ImageType::PNG); }

private:
    // Whether an output may take the place of a file at its destination: with overwriting
    // on, or in a restore run (an earlier output of the batch).
    bool overwrites() const;
    // Whether the user asked for files at the destinations to be replaced (through the Trash).
    bool replacesUsersFiles() const;
    // Whether the file at `destination` is an output of this batch that this run, a restore
    // run, replaces in place.
    bool replacesEarlierOutput(const QString& destination) const;
    // Notes the output now at `destination`, as it was before it took the name.
    void notePlaced(const QString& destination, const std::optional<platform::FileIdentity>& placed) const;
    // Whether outputs are upright and say so, rather than turned as the record asks.
    bool keepsRecordOrientation() const;
    // prepareImg and prepareEncoded around `write`, which makes the temporary file: an
    // existing output kept, the source's identity, the test hook.
    Prepared prepareWith(const QString& destination, const PhotoFile& photo,
                         std::optional<platform::FileIdentity> sourceRead, const std::function<Prepared()>& write);
    // prepareImg for a picture that may still be held elsewhere.
    Prepared preparePicture(QImage&& image, const QString& destination, platform::ImageType saveType,
                            const std::shared_ptr<PhotoFile>& photo, std::optional<platform::FileIdentity> sourceRead);
    // The metadata an output is written with, from the source's own.
    QVariantMap outputProperties(const PhotoFile& photo, const QVariantMap& sourceProperties) const;
    enum class Written { Ok, Failed, Abandoned };
    // A temporary file beside `destination`, its folder made when missing; without one the
    // result says why.
    Prepared temporaryOutputFor(const QString& destination);
    // Keeps a written temporary file only when it reads back as complete, with the groups
    // of `metadata` it was to carry.
    void readBack(Prepared& prepared, Written written, const QString& destination, const platform::WriteCheck& check,
                  const QVariantMap& metadata = {});
    // Whether a file of the user's will be given up for this output once it is placed (its
    // source in move mode, or a file it replaces): its data then reach the disk before it
    // is read back.
    bool originalDependsOn(const QString& destination, const PhotoFile& photo) const;
    // `text` said of a source with pages, frames or pictures past the first one written.
    static QString pagesLost(const Prepared& prepared, const QString& text);
    // The output is in place: with `replaced` its own source's original went to the Trash
    // first. Sends the source to the Trash in move mode.
    Result afterPlacing(const Prepared& prepared, const QString& destination, const PhotoFile& photo);
    Result replaceOwnSource(Prepared& prepared, const QString& destination, const PhotoFile& photo);
    // With overwriting on, a file already at the destination goes to the Trash before the
    // output takes its name (then the move mode's Trash of the source, as for any output).
    Result replaceExisting(Prepared& prepared, const QString& destination, const PhotoFile& photo);
    // Renames the prepared file over `destination` once `replaced` (still `expected`) has a
    // name in the Trash; the failure, said with `notTrashed` when the Trash refused, or
    // nothing when the output is in place.
    std::optional<Result> placeThroughTrash(Prepared& prepared, const QString& destination, const QString& replaced,
                                            const std::optional<platform::FileIdentity>& expected,
                                            const QString& notTrashed);

    // The buffers outputs are read back into: one for each thread writing at a time, kept
    // for the writer's next outputs.
    class ReadBuffers;
    // How an output is checked (see platform::WriteCheck), read back into a buffer of the
    // writer's while it lives.
    class OutputCheck;

    ResultWriterSettings s_;
    std::shared_ptr<CreatedFolders> createdFolders_;
    std::shared_ptr<ReadBuffers> readBuffers_;
    // 0 no optimiser runs, 1 it runs, 2 it runs and a stop waits for it. One value, so a
    // stop asked for as the optimiser ends is either seen by the writer or refused here.
    std::atomic<int> compressionState_{0};
};
