// TGIFLZW on arbitrary bytes, the option byte being InitialCodeSize; the input layout is described in FuzzDecoder.h.

#include "fuzz/FuzzDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TGIFLZW decoder; // one instance for all inputs, as a reader keeps one for all frames
    TFuzzDecoderInput input;
    if (!ParseFuzzDecoderInput(data, size, input))
        return 0;
    decoder.InitialCodeSize = input.option;
    FuzzDecodeOnce(decoder, input, static_cast<int32_t>(input.packed.size()), "GIF LZW: invalid opcode.");
    return 0;
}
