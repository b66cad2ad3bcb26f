// BriskoDecoder: the helper process the program reads camera raw files in (see
// platform/imageio/DecoderHelpers.h). It is started by the program, never by hand.
#include "platform/decoderhelper/HelperSandbox.h"
#include "platform/foundation/BusErrorGuard.h"
#include "platform/imageio/HelperProcess.h"

#include <csignal>

#if defined(__SANITIZE_ADDRESS__)
#define BRISKO_HELPER_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define BRISKO_HELPER_LEAK_CHECKED 1
#endif
#endif

#ifdef BRISKO_HELPER_LEAK_CHECKED
// LeakSanitizer checks a process as it ends from a tracing process of its own, which the
// helper's system-call filter refuses (and kills the helper for): a helper is not checked.
extern "C" int __lsan_is_turned_off() { return 1; }
#endif

int main(int argc, char** argv) {
    // Before any thread a decoder may start: a file cut short under it fails that read.
    platform::busguard::install();
    // Ctrl+C in a terminal reaches the whole process group, and the end of a session every
    // process: the program hears them and stops its run itself, and ends its helpers with
    // it (a helper also ends when the program does). Ended by them, the photo a helper reads
    // would be reported as damaged.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGTERM, SIG_IGN);
    return platform::codec::serveHelperRequests(argc, argv, platform::codec::confineHelper);
}
