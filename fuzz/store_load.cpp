// The store file's bytes to the decoder, as both readers of it use it.
#include "FuzzSupport.h"
#include "core/store/StoreCodec.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    startQtForFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = fuzzBytes(data, size);
    if (const auto contents = StoreCodec::decode(bytes))
        (void)StoreCodec::decode(StoreCodec::encode(*contents));
    (void)StoreCodec::decode(bytes, StoreCodec::Unpinned::Ignore);
    return 0;
}
