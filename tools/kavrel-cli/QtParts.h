#pragma once

// What kavrel-cli-qt, the part of the tool that uses Qt, adds to the Qt-free commands besides the
// capture command (CaptureCommand.h): metafiles drawn with Qt's painter on the offscreen platform.
void InstallQtMetafileRenderer();
