#pragma once
// Camera raw files are read by LibRaw in helper processes of this program (the program
// BriskoDecoder), never in its own: a crafted file that crashes, aborts, loops or
// exhausts memory there ends that photo as damaged and leaves the program running. A few
// helpers are kept (one per usable CPU at most), reused for request after request, and
// each ends after 30 s without work; the next request starts a fresh one.
//
// The helper program is looked for, in this order: beside the running program (the
// build puts it beside BriskoPhotos), in the installed layout
// (<bin>/../libexec/BriskoPhotos/BriskoDecoder), and in the build folder it was built in
// (for the test programs and benchmarks, which run from other folders).
//
// Test hook, read only by the helper: BRISKO_DECODER_TEST=pause=<ms> makes a helper wait
// that long when a request has come; BRISKO_DECODER_TEST=spin makes it loop;
// BRISKO_DECODER_TEST=unstartable makes it end as it starts, as one that cannot run. A
// helper takes its environment when it starts, so a test that sets it ends the idle
// helpers first (endIdleDecoderHelpers).
#include <QList>
#include <QString>

namespace platform {

// The helper program's path; empty when it is nowhere to be found.
QString decoderHelperPath();

// How long a helper may work on one request before it is killed and the photo fails as
// damaged: by default 20 s for a header and 120 s for a picture. 0 restores those.
void setDecoderHelperTimeLimit(int milliseconds);

// The process ids of the helpers working on a request now.
QList<qint64> busyDecoderHelpers();

// Ends the helpers that wait for work.
void endIdleDecoderHelpers();

}  // namespace platform
