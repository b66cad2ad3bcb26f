// BriskoDecoder: the helper process the program reads camera raw files in (see
// platform/imageio/DecoderHelpers.h). It is started by the program, never by hand.
#include "platform/foundation/BusErrorGuard.h"
#include "platform/imageio/HelperProcess.h"

#include <csignal>

int main(int argc, char** argv) {
    // Before any thread a decoder may start: a file cut short under it fails that read.
    platform::busguard::install();
    // Ctrl+C in a terminal reaches the whole process group, and the end of a session every
    // process: the program hears them and stops its run itself, and ends its helpers with
    // it (a helper also ends when the program does). Ended by them, the photo a helper reads
    // would be reported as damaged.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGTERM, SIG_IGN);
    return platform::codec::serveHelperRequests(argc, argv);
}
