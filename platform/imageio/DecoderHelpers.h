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
// BRISKO_DECODER_TEST=unstartable makes it end as it starts, as one that cannot run (and
// see platform/decoderhelper/HelperServer.cpp for the hooks that try what a confined
// helper may not). A helper starts with none of the program's environment but this hook
// (and, in a sanitizer build, the checkers' options), taken as it starts, so a test that
// sets it ends the idle helpers first (endIdleDecoderHelpers).
//
// A helper is confined once it has started (platform/decoderhelper/HelperSandbox.h): it
// maps the descriptor it is handed rather than opening the file again, and a system call
// filter ends it on any attempt to open, make or change a file, reach the network, start a
// program or another process, or signal another. The camera raw file's metadata is read
// there too, by Exiv2, and handed back as blocks: no parser of raw files runs in the
// program, which does not even link LibRaw (only the helper program does). Under
// AddressSanitizer the filter is the same; a helper's reports are symbolized from what it
// read before it was confined, and LeakSanitizer does not check a helper as it ends (its
// check runs in a tracing process, which the filter refuses).
#include <QList>
#include <QString>

namespace platform {

// The helper program's path; empty when it is nowhere to be found.
QString decoderHelperPath();

// How long a helper may work on one request before it is killed and the photo fails as
// damaged: by default 20 s for a header and 120 s for a picture. 0 restores those. Within
// either, a helper gives up on a file whose layout it cannot make out in 2 s of processor
// time (a crafted file that sends the library's parser round), and the photo fails as
// damaged too.
void setDecoderHelperTimeLimit(int milliseconds);

// The process ids of the helpers working on a request now.
QList<qint64> busyDecoderHelpers();

// Ends the helpers that wait for work.
void endIdleDecoderHelpers();

}  // namespace platform
