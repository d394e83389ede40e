#pragma once

#include "framework/Bitmap.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class TStream;

// The portable bitmap family: bilevel, grey and colour images in plain text (P1, P2, P3) and binary
// (P4, P5, P6) form. The magic decides the variant, not the extension. Samples are stored as they
// stand: the maximum value is read but never used to scale them.
class TPPMGraphic : public TBitmap {
    KAVREL_DECLARE_GRAPHIC_CLASS(TPPMGraphic)
public:
    void LoadStream(TStream& stream) override;
    // The rows are written once each, top row first.
    bool StreamRowsTo(TRowSink* sink) override
    {
        SetRowSink(sink);
        return true;
    }

private:
    static constexpr int32_t kBufferSize = 4096;

    // Character level: the stream is read in blocks of kBufferSize bytes.
    uint8_t NextChar();
    uint8_t PeekChar() const;
    std::string ReadHeaderLine();
    int32_t NextNumber();
    uint8_t NextDigit();

    bool FillBuffer();
    bool TryNextChar(uint8_t& c);
    void ReadChars(uint8_t* dest, size_t count);
    int64_t CharsLeft();

    void LoadImage(int kind);

    // Only meaningful during a load.
    TStream* source_ = nullptr;
    std::array<uint8_t, kBufferSize> buffer_{};
    int32_t bufferIndex_ = kBufferSize;  // next byte to hand out
    int32_t bufferFill_ = kBufferSize;   // bytes of buffer_ that the last block read delivered
    bool commentPending_ = false;        // the last number ended with "#"
};
