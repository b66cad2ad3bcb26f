#pragma once
// Decoders of libraries that have shown memory faults on crafted files run in a helper
// process of this program (BriskoDecoder, platform/decoderhelper), never in the program's
// own. A helper may crash, abort, loop or run out of memory: the photo in hand ends
// "damaged" and the next request gets a fresh helper. Shared between the codec files of
// platform/imageio; not for use outside this folder.
//
// How a request travels: the parent hands the helper the open file (its descriptor,
// over a Unix socket; bytes held only in memory go into a memfd first) with the decode
// options; the helper maps the file under its own bus-error guard, runs the decoder and
// answers with a short message (the failure kind and words, the facts of the header).
// Pixels and metadata blocks go beside it, in the helper's exchange buffer or a sealed
// memfd of their own (HelperMessages.h), never through the socket. Everything a helper
// sends is checked against the request's budget before it is used.
//
// Moving another decoder into the helper: give it a HelperCodec number, fill its entry
// in helperCodecEntry() (HelperServer.cpp) with the functions that do the work in the
// helper, and make its public functions (ReadOnlyCodecs.h) call helperFacts and
// helperDecode.
#include "platform/imageio/ReadOnlyCodecs.h"

#include <cstdint>

namespace platform::codec {

enum class HelperCodec : uint8_t { Raw = 1 };

// What a decoder does inside the helper. `decode` fills `why` where it fails.
struct HelperCodecEntry {
    ReadOnlyFacts (*facts)(Bytes in);
    QImage (*decode)(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why);
};
const HelperCodecEntry* helperCodecEntry(HelperCodec codec);

// The parent's side: each runs one request in a helper. A helper that dies, times out or
// answers with anything but a well-formed answer gives DecodeFailure::Damaged with the
// detail `damaged` (facts: an invalid header); a file cut short while
// either side read it gives DecodeFailure::ChangedWhileRead (facts: an invalid header).
// What is not the file's doing says so (in the decode's result, and in the facts' failure
// beside an invalid header): no helper that could be started gives Unsupported with words
// that say so, and a helper killed from outside (by another program, or the kernel short
// of memory) OutOfMemory with words that say so.
ReadOnlyFacts helperFacts(HelperCodec codec, Bytes in);
DecodeResult helperDecode(HelperCodec codec, Bytes in, const DecodeOptions& options, const QString& name,
                          const QString& damaged);

// The helper's side: serves requests on `channel` until the parent goes away or the
// helper has waited long enough for work; the helper program's main().
int serveHelperRequests(int argc, char** argv);

// The raw decoder's work inside the helper (RawCodec.cpp).
ReadOnlyFacts rawFactsHere(Bytes in);
QImage rawDecodeHere(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why);

}  // namespace platform::codec
