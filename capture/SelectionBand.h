#pragma once

#include "capture/CapturePlatform.h"

#include <cstdint>
#include <functional>
#include <vector>

// The geometry and colours of the area overlay's selection band: the dashed outline through the drag's
// anchor and its moving corner. Coordinates are the overlay's device pixels.

// A framework colour value: 0x00BBGGRR.
using TColor = uint32_t;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clWhite = 0xFFFFFF;

// Calls proc for every point of the line from (x1, y1) up to, but not including, (x2, y2), in that
// order; nothing when the two points coincide.
void LineDDA(int x1, int y1, int x2, int y2, const std::function<void(int x, int y)>& proc);

// Calls proc for every point of the outline through the two corners, as four lines in drawing order:
// along the anchor's row to the moving corner's column, down that column, back along the moving
// corner's row, and up the anchor's column. Each corner comes once, as the first point of a line:
// 2 * |dx| + 2 * |dy| points in all, none when the corners coincide.
void TraceBand(TPoint anchor, TPoint moving, const std::function<void(int x, int y)>& proc);

// The pattern value after the one in dashBits, one point further along the outline (a single set bit
// running from 0x01 to 0x80 and round again).
uint8_t NextDashBits(uint8_t dashBits);
// The colour of a point drawn with this pattern value: red for 0x20, 0x40 and 0x80, white otherwise;
// three red and five white points in every eight.
TColor DashColor(uint8_t dashBits);
// The pattern value with which the next drawing starts: 0x80, 0x20, 0x08, 0x02 and round again, so
// the red dashes move two points along the outline per step.
uint8_t NextDashPhase(uint8_t dashPhase);

// The rectangle between two corners, ordered; Right and Bottom are the larger coordinates (exclusive
// as everywhere, so the corners' own column and row lie just outside it).
TRect OrderedRect(TPoint a, TPoint b);

// The rows and columns that the outline through the corners occupies, as up to four rectangles
// (none when the corners coincide).
std::vector<TRect> BandOutline(TPoint anchor, TPoint moving);

// What removing the band repaints: the ring two pixels wide between the ordered rectangle enlarged by
// one pixel and shrunk by one pixel (on the left and top the outline's own column or row and the one
// outside it, on the right and bottom the outline's own and the one inside). When the shrunk rectangle
// is empty, the whole enlarged rectangle. Up to four rectangles that do not overlap.
std::vector<TRect> BandRing(TPoint anchor, TPoint moving);
