#pragma once
// The output options panel without its widgets: the record the view starts from, the
// destination modes, and the folder chooser's answer.
#include <QString>
#include <memory>

struct OutputOptionSettings;

namespace outputoptions {

enum DestinationTag { MoveToFolder = 0, CopyToFolder = 1, UseSourceFolder = 2 };

// The application delegate's record when it holds one (shared, so the panel changes it
// directly); otherwise a new record with the defaults, whose folder is created when it
// does not exist yet (logged either way).
std::shared_ptr<OutputOptionSettings> readDefaultOutputOptionSetting();

// The mode whose flag is on: move, else copy, else the source folders.
int destinationTagOf(const OutputOptionSettings& s);
// Leaves exactly one destination flag on. The outputs go where the planner sends them, and
// it follows "use source folder" whatever else is on, so that flag wins; then move, then
// copy. A record stored with several flags on thus shows the mode the run will use.
void settleDestination(OutputOptionSettings& s);
// Photos of a photo library are never moved: move becomes copy, and output beside the
// sources stays as it is (library photos then go to their own Desktop folder).
void applyLibraryGuard(OutputOptionSettings& s);
// One radio button chosen: all three flags off, then the chosen one on; the source
// folders also switch off opening the folder afterwards.
void chooseDestination(OutputOptionSettings& s, int tag);

// A folder chosen in the chooser: a folder inside a Trash is refused (false, nothing
// changes); any other is stored as chosen, its case kept.
bool acceptChosenFolder(OutputOptionSettings& s, const QString& path);

}  // namespace outputoptions
