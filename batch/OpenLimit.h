#pragma once
// Which photos a run will refuse as larger than this program opens, told before it starts
// from the file's header and the batch's steps, by the rule the run's loading follows.
#include <QList>
#include <memory>

struct AppliedFilter;
struct PhotoFile;

namespace openlimit {

// Whether the run refuses the photo as too large: its header declares more pixels than the
// decoders take, and no reduced decode within that limit serves its only step (a "Resize"
// to half or less of a JPEG or camera raw file is read at a reduced size).
bool refusedAsTooLarge(const PhotoFile& photo, const QList<std::shared_ptr<AppliedFilter>>& steps);

}  // namespace openlimit
