#pragma once
// The bodies of the fuzz targets: one function per parser of files that come from
// outside, each taking arbitrary bytes. A function returns 0 when the parser coped
// (refused the data cleanly or read it) and traps when it broke a promise (a result of
// the wrong size, a written file that does not read back, a writer with no fixed point).
// The libFuzzer programs call them, and so does the regression test that replays the
// seed corpora and kept reproducers on every build.
#include <cstddef>
#include <cstdint>

namespace fuzz {

int decoders(const uint8_t* data, size_t size);
int thumbnail(const uint8_t* data, size_t size);
int readOnlyFormats(const uint8_t* data, size_t size);
int pngOptimiser(const uint8_t* data, size_t size);
int imageProperties(const uint8_t* data, size_t size);
int vectorHeaders(const uint8_t* data, size_t size);
int plist(const uint8_t* data, size_t size);
int keyedArchive(const uint8_t* data, size_t size);
int userDefaults(const uint8_t* data, size_t size);
int libraryDatabase(const uint8_t* data, size_t size);
int albumData(const uint8_t* data, size_t size);

}  // namespace fuzz
