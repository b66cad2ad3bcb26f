// BriskoDecoder: the helper process the program reads camera raw files in (see
// platform/imageio/DecoderHelpers.h). It is started by the program, never by hand.
#include "platform/imageio/HelperProcess.h"

int main(int argc, char** argv) { return platform::codec::serveHelperRequests(argc, argv); }
