#pragma once
// Texts the run shows for a photo's outcome and in its sheets, written once.
#include <QString>

namespace runmessages {

inline const QString Processed = QStringLiteral("File processed successfully");
inline const QString BlankName = QStringLiteral("Filename is blank");
inline const QString InvalidName = QStringLiteral("Invalid filename");
inline const QString DuplicateName = QStringLiteral("Duplicate filename");
inline const QString SourceNotFound = QStringLiteral("File not available in source folder");
inline const QString AlreadyExists = QStringLiteral("File already exists in destination folder.");
inline const QString Unreadable = QStringLiteral("The photo could not be read");
inline const QString TooLarge = QStringLiteral("The photo is larger than this program will open");
// A named pipe, socket or device put where the photo was: never read, never waited on.
inline const QString NotAPhotoFile = QStringLiteral("The source is not a photo file (a pipe, socket or device); nothing was read");
// The same for a kind of file the program recognises but cannot read, with the reason.
inline const QString UnreadableBecause = QStringLiteral("The photo could not be read: %@");
inline const QString EffectFailed = QStringLiteral("The effect \"%@\" gave no picture");
inline const QString FolderNotCreated = QStringLiteral("The destination folder could not be created");
inline const QString WriteFailed = QStringLiteral("The output file could not be written");
inline const QString ProcessingFailed = QStringLiteral("The photo could not be processed");
inline const QString NotEnoughMemory = QStringLiteral("There was not enough memory to make this photo");
inline const QString DiskReadFailed = QStringLiteral("The photo could not be read: the file could not be read from the disk");
inline const QString WouldReplacePending =
    QStringLiteral("The output would replace a photo of the batch that is not processed yet");
inline const QString WouldReplaceSource = QStringLiteral("The output would replace a photo of the batch");
inline const QString TrashFailed =
    QStringLiteral("The output was written, but the source could not be moved to the Trash and stays in place");
inline const QString SourceChanged = QStringLiteral(
    "The source was replaced by another file while the photo was processed; the output was written from the "
    "photo as it was read, and the new file stays in place");
inline const QString SourceChangedWhileRead =
    QStringLiteral("The source changed while it was read; nothing was written");
inline const QString SourceGone =
    QStringLiteral("The source was gone when its turn came (moved or deleted elsewhere); nothing was written");
inline const QString SourceGoneBeforeTrash = QStringLiteral(
    "The output was written, but the source was gone by then (moved or deleted elsewhere), so there was nothing "
    "to move to the Trash");
inline const QString OutputFolderGone =
    QStringLiteral("The destination folder was removed while the output was written; nothing was written");
inline const QString DiskFull = QStringLiteral("The output file could not be written: the disk is full");
inline const QString OutputDiffers = QStringLiteral(
    "The output file did not read back as it was written (is the disk or card failing?); nothing was written");
inline const QString OutputNotOnDisk =
    QStringLiteral("The output file could not be written to the disk or read back from it; nothing was written");
inline const QString MetadataNotWritten =
    QStringLiteral("The output's metadata could not be written (is the disk full?); nothing was written");
// A source of several pages, frames or pictures (the noun, plural), of which the output has
// the first only.
inline const QString OnlyFirstPage = QStringLiteral("Only the first of %@ %@ was written");
inline const QString OnlyFirstPageOriginalKept =
    QStringLiteral("Only the first of %@ %@ was written, so the original stays in place");
inline const QString OnlyFirstPageNotReplaced = QStringLiteral(
    "Only the first of %@ %@ would have been written, so the original was not replaced; nothing was written");
inline const QString PagesNoun = QStringLiteral("pages");
inline const QString FramesNoun = QStringLiteral("frames");
inline const QString PicturesNoun = QStringLiteral("pictures");
inline const QString OriginalNotTrashed =
    QStringLiteral("The original could not be moved to the Trash, so it was not replaced");
inline const QString ExistingNotTrashed =
    QStringLiteral("The file already at the destination could not be moved to the Trash, so it was not replaced");

inline const QString NoPhotos = QStringLiteral("No photos to process.");
inline const QString PleaseWait = QStringLiteral("Please wait...");
inline const QString StopQuestion =
    QStringLiteral("Photos that are not processed will be skipped. Do you still want to stop?");

}  // namespace runmessages
