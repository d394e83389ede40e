// TCUTRLE on arbitrary bytes, decoded row after row as the Dr. Halo reader does; the input layout is described in
// FuzzDecoder.h (the option is not used). Every call must move the source pointer on, and never past the end.

#include "fuzz/FuzzDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TCUTRLE decoder;
    TFuzzDecoderInput input;
    if (!ParseFuzzDecoderInput(data, size, input))
        return 0;
    const uint8_t* source = input.packed.data();
    const uint8_t* const end = source + input.packed.size();
    while (source < end) {
        const uint8_t* const before = source;
        decoder.Decode(source, end, input.dest.get(), 0, input.destSize);
        if (source <= before || source > end)
            std::abort();
    }
    return 0;
}
