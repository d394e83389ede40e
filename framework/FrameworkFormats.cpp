#include "framework/FrameworkFormats.h"

#include "framework/Bitmap.h"
#include "framework/Picture.h"

void RegisterFrameworkFormats()
{
    TPicture::RegisterFormat("bmp", "位图", TBitmap::StaticClass());
}
