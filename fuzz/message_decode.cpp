// A sync message as it arrives, opened: any bytes to SyncMessage::decode.
// What decodes must encode again without trouble.
#include "FuzzSupport.h"
#include "core/sync/SyncMessage.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    startQtForFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (const auto message = SyncMessage::decode(fuzzBytes(data, size)))
        (void)SyncMessage::decode(message->encode());
    return 0;
}
