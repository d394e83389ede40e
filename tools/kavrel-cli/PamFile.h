#pragma once

class TBitmap;
class TStream;

// Writes a PAM (P7) file with maxval 255: TUPLTYPE RGB, or RGB_ALPHA for a 32-bit bitmap whose fourth
// byte carries alpha (a fourth byte that is 0 everywhere is taken as unused). Palettes are expanded.
void WritePam(TStream& stream, const TBitmap& bitmap);
