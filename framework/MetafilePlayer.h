#pragma once

#include "framework/MetafileCanvas.h"

#include <cstdint>
#include <span>

class TMetafile;
class TMetafileDC;

// Plays the records of a metafile onto a canvas so that the picture fills the rectangle from
// (0, 0) to (width, height) of the canvas's device pixels. Unknown records are skipped; a record
// that runs past the end of the data ends the playing, as does the end-of-file record.
void PlayMetafile(const TMetafile& metafile, TMetafileCanvas& canvas, double width, double height);

// The extent of what the records draw (left, top, width, height): for Windows metafiles in logical
// units with the window records ignored, for enhanced metafiles in reference device pixels. False
// when nothing is drawn.
bool MeasureMetafile(const TMetafile& metafile, double (&extent)[4]);
// As PlayMetafile, but shows the given area (in MeasureMetafile's units) instead of the frame.
void PlayMetafileArea(const TMetafile& metafile, TMetafileCanvas& canvas, const double (&area)[4], double width,
                      double height);

// The record loops, for a device context already set up. `wmf` starts at the Windows metafile
// header (after any placeable header); with `followWindow` false the records that set the window
// are ignored, so shapes arrive in logical units (used to find the extent of a metafile that does
// not state it).
void PlayWindowsMetafileRecords(std::span<const uint8_t> wmf, TMetafileDC& dc, bool followWindow);
// `emf` starts at the enhanced metafile's header record.
void PlayEnhancedMetafileRecords(std::span<const uint8_t> emf, TMetafileDC& dc);

// The first window origin and extent that the records of a Windows metafile set; false when no
// extent is set.
bool FindWindowsMetafileWindow(std::span<const uint8_t> wmf, double (&frame)[4]);
