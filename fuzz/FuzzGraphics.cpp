#include "fuzz/FuzzBody.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    LoadThroughEveryReader(data, size);
    return 0;
}
