// TPCXRLE on arbitrary bytes; the input layout is described in FuzzDecoder.h. Option 0 passes packedSize 0 (the
// buffer's end is the only bound), any other passes the buffer's length less option - 1.

#include "fuzz/FuzzDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TPCXRLE decoder;
    TFuzzDecoderInput input;
    if (!ParseFuzzDecoderInput(data, size, input))
        return 0;
    int32_t packedSize = 0;
    if (input.option > 0) {
        const size_t shortBy = input.option - 1u;
        packedSize = static_cast<int32_t>(input.packed.size() > shortBy ? input.packed.size() - shortBy : 0);
    }
    FuzzDecodeOnce(decoder, input, packedSize, nullptr);
    return 0;
}
