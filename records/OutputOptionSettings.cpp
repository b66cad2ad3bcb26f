#include "records/OutputOptionSettings.h"

#include <QDir>
#include <QStandardPaths>

#include "platform/foundation/KeyedArchive.h"
#include "records/Archiving.h"

std::shared_ptr<OutputOptionSettings> OutputOptionSettings::makeDefault() {
    auto s = std::make_shared<OutputOptionSettings>();
    s->dateString = archiving::creationDateString();
    s->outputFolderPath = defaultOutputFolderPath();
    s->moveAndRenameToDestinationFolder = false;
    s->copyyToDestinationFolder = true;
    s->useSourceFolder = false;
    s->openOutputFolderAfterProcessing = true;
    s->owerwriteExistingFiles = false;
    s->setOutputDateTimeAsOriginal = false;
    return s;
}

QString OutputOptionSettings::defaultOutputFolderPath() {
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty()) pictures = QDir::homePath() + QStringLiteral("/Pictures");
    return pictures + QStringLiteral("/Brisko Photos");
}

void OutputOptionSettings::encodeWithCoder(platform::KeyedEncoder& coder) const {
    using archiving::boxed;
    coder.encodeObject(dateString, QStringLiteral("dateString"));
    coder.encodeObject(outputFolderPath, QStringLiteral("outputFolderPath"));
    coder.encodeObject(boxed(moveAndRenameToDestinationFolder), QStringLiteral("moveAndRenameToDestinationFolder"));
    coder.encodeObject(boxed(copyyToDestinationFolder), QStringLiteral("copyyToDestinationFolder"));
    coder.encodeObject(boxed(useSourceFolder), QStringLiteral("useSourceFolder"));
    coder.encodeObject(boxed(openOutputFolderAfterProcessing), QStringLiteral("openOutputFolderAfterProcessing"));
    coder.encodeObject(boxed(owerwriteExistingFiles), QStringLiteral("owerwriteExistingFiles"));
    coder.encodeObject(boxed(setOutputDateTimeAsOriginal), QStringLiteral("setOutputDateTimeAsOriginal"));
}

void OutputOptionSettings::initWithCoder(platform::KeyedDecoder& coder) {
    using archiving::boxedBool;
    dateString = coder.decodeStringForKey(QStringLiteral("dateString"));
    outputFolderPath = coder.decodeStringForKey(QStringLiteral("outputFolderPath"));
    moveAndRenameToDestinationFolder = boxedBool(coder, QStringLiteral("moveAndRenameToDestinationFolder"));
    copyyToDestinationFolder = boxedBool(coder, QStringLiteral("copyyToDestinationFolder"));
    useSourceFolder = boxedBool(coder, QStringLiteral("useSourceFolder"));
    openOutputFolderAfterProcessing = boxedBool(coder, QStringLiteral("openOutputFolderAfterProcessing"));
    owerwriteExistingFiles = boxedBool(coder, QStringLiteral("owerwriteExistingFiles"));
    setOutputDateTimeAsOriginal = boxedBool(coder, QStringLiteral("setOutputDateTimeAsOriginal"));
}
