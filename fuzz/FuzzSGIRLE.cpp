// TSGIRLE on arbitrary bytes; the input layout is described in FuzzDecoder.h. The option's low bits are
// SampleSize (1, 2, or others that count as 1); with its top bit set packedSize is 0, otherwise the buffer's length.

#include "fuzz/FuzzDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TSGIRLE decoder;
    TFuzzDecoderInput input;
    if (!ParseFuzzDecoderInput(data, size, input))
        return 0;
    decoder.SampleSize = input.option & 0x7F;
    FuzzDecodeOnce(decoder, input, input.option & 0x80 ? 0 : static_cast<int32_t>(input.packed.size()), nullptr);
    return 0;
}
