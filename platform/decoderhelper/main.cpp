// BriskoDecoder: the helper process the program reads camera raw files in (see
// platform/imageio/DecoderHelpers.h). It is started by the program, never by hand.
#include "platform/foundation/BusErrorGuard.h"
#include "platform/imageio/HelperProcess.h"

int main(int argc, char** argv) {
    // Before any thread a decoder may start: a file cut short under it fails that read.
    platform::busguard::install();
    return platform::codec::serveHelperRequests(argc, argv);
}
