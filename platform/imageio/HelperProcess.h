#pragma once
// Decoders of libraries that have shown memory faults on crafted files run in a helper
// process of this program (BriskoDecoder, platform/decoderhelper), never in the program's
// own. A helper may crash, abort, loop or run out of memory: the photo in hand ends
// "damaged" and the next request gets a fresh helper. Shared between the codec files of
// platform/imageio and the helper program's (platform/decoderhelper, which alone links
// the libraries it runs); not for use elsewhere.
//
// How a request travels: the parent hands the helper the open file (its descriptor,
// over a Unix socket; bytes held only in memory go into a memfd first) with the decode
// options; the helper maps the file under its own bus-error guard, runs the decoder and
// answers with a short message (the failure kind and words, the facts of the header).
// Pixels and metadata blocks go beside it, in the helper's exchange buffer or its picture
// memory (HelperMessages.h), never through the socket. Everything a helper
// sends is checked against the request's budget before it is used.
//
// Moving another decoder into the helper: give it a HelperCodec number, fill its entry
// in helperCodecEntry() (platform/decoderhelper/HelperServer.cpp) with the functions that
// do the work in the helper (in that folder, linked into the helper program only), and
// make its public functions (ReadOnlyCodecs.h) call helperFacts and helperDecode.
#include "platform/imageio/ReadOnlyCodecs.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform::codec {

enum class HelperCodec : uint8_t { Raw = 1 };
inline constexpr HelperCodec kLastHelperCodec = HelperCodec::Raw;

// What a helper keeps from one request to the next, so that the memory a decoder works in
// is reused rather than given back to the system and taken again for every photo.
struct HelperWorkspace {
    std::shared_ptr<void> raw;  // the raw decoder's library object (RawDevelop.cpp)
    // A picture of this size and format over the memory the program takes pictures from
    // (the helper's picture memory), for a decoder that can write its picture there
    // itself; a null picture when it cannot be had.
    std::function<QImage(int width, int height, QImage::Format format)> sharedPicture;
};

// What a decoder does inside the helper. `decode` fills `why` where it fails.
struct HelperCodecEntry {
    // With `metadata`, the facts carry the file's metadata blocks.
    ReadOnlyFacts (*facts)(Bytes in, bool metadata, const QString& name, HelperWorkspace& workspace);
    QImage (*decode)(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why,
                     HelperWorkspace& workspace);
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
ReadOnlyFacts helperFacts(HelperCodec codec, Bytes in, bool metadata);
DecodeResult helperDecode(HelperCodec codec, Bytes in, const DecodeOptions& options, const QString& name,
                          const QString& damaged);

// The helper's side: serves requests on `channel` until the parent goes away or the
// helper has waited long enough for work; the helper program's main(). `confine` is
// called once start-up is over, before the first request is read (it installs the
// helper's system-call filter; after it, the helper opens nothing): a helper that cannot
// be confined ends at once, as one that could not start.
int serveHelperRequests(int argc, char** argv, bool (*confine)());

// Processor time a helper may take to make out a file's layout (its header, and for facts
// its metadata too): a real file takes milliseconds, a crafted one may send a library's
// parser round for minutes, where the time limits of the program's (HelperClient.cpp) are
// sized for developing a picture. A helper past it ends at once with this exit status,
// and the photo fails as damaged.
inline constexpr int kHelperLayoutSeconds = 2;
inline constexpr int kHelperLayoutTooLongExit = 3;
// Called by a decoder in the helper once it has made out the file's layout: its
// development is bounded by the program's time limit alone.
void helperLayoutKnown();

// The raw decoder's work inside the helper (platform/decoderhelper/RawDevelop.cpp).
ReadOnlyFacts rawFactsHere(Bytes in, bool metadata, const QString& name, HelperWorkspace& workspace);
QImage rawDecodeHere(Bytes in, const DecodeOptions& options, const QString& name, DecodeResult* why,
                     HelperWorkspace& workspace);

// What the helper's raw decoder takes from our own reading of a raw file's bytes
// (RawCodec.cpp).
// A picture a raw file holds besides its sensor data, in the sensor's layout: a JPEG, or
// rows of 8-bit RGB.
struct RawEmbeddedPicture {
    bool jpeg = false;
    Bytes bytes;
    int width = 0, height = 0;  // known for RGB rows; a JPEG's come from its header
};
// The JPEGs and RGB pictures a TIFF-structured file's directories point to (previews and
// thumbnails); none for other containers.
std::vector<RawEmbeddedPicture> rawEmbeddedPictures(Bytes in);
// Whether the bytes are in a container LibRaw reads by its kind (rather than by knowing
// the camera): such a file that LibRaw cannot open is damaged, not of an unknown kind.
bool rawKnownContainer(Bytes in);
// The words of a damaged raw file's failure.
const QString& rawDamagedWords();

}  // namespace platform::codec
