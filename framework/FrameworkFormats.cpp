#include "framework/FrameworkFormats.h"

#include "framework/Bitmap.h"
#include "framework/Icon.h"
#include "framework/JPEGImage.h"
#include "framework/Metafile.h"
#include "framework/Picture.h"

void RegisterFrameworkFormats()
{
    TPicture::RegisterFormat("wmf", "图元文件", TMetafile::StaticClass());
    TPicture::RegisterFormat("emf", "增强图元文件", TMetafile::StaticClass());
    TPicture::RegisterFormat("ico", "图标", TIcon::StaticClass());
    TPicture::RegisterFormat("bmp", "位图", TBitmap::StaticClass());
    TPicture::RegisterFormat("jpeg", "JPEG Image File", TJPEGImage::StaticClass());
    TPicture::RegisterFormat("jpg", "JPEG Image File", TJPEGImage::StaticClass());
}
