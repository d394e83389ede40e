// TRLADecoder on arbitrary bytes; the input layout is described in FuzzDecoder.h.

#include "fuzz/FuzzDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TRLADecoder decoder; // one instance for all inputs, as a reader keeps one for all strips
    TFuzzDecoderInput input;
    if (ParseFuzzDecoderInput(data, size, input))
        FuzzDecodeOnce(decoder, input, FuzzPackedSize(input), nullptr);
    return 0;
}
