// A frame off the network. The first byte picks the path: 0 opens the rest
// as it is (lengths, nonce, tag); anything else seals the rest first, so the
// fuzzer reaches what an authentic frame carries.
#include "FuzzSupport.h"
#include "core/sync/SyncCrypto.h"
#include "core/sync/SyncMessage.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    startQtForFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const QByteArray key(32, '\x5a');
    if (size == 0)
        return 0;
    const QByteArray rest = fuzzBytes(data + 1, size - 1);
    if (data[0] == 0) {
        (void)SyncMessage::open(rest, key);
        (void)SyncCrypto::open(rest, QByteArray(7, 'k')); // a key of the wrong size
        return 0;
    }
    if (const auto sealed = SyncCrypto::seal(rest, key))
        (void)SyncMessage::open(*sealed, key);
    return 0;
}
