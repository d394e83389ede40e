#pragma once

#include "framework/MetafileCanvas.h"

// A canvas that draws nothing and collects the extent of everything drawn onto it (the control
// points of curves included).
class TMetafileBoundsCanvas : public TMetafileCanvas {
public:
    void DrawPath(const TMetafileDrawState&, const TMetafilePath& path, bool, bool) override
    {
        for (const TPointF& p : path.Points())
            Add(p);
    }
    void DrawText(const TMetafileDrawState&, TPointF reference, const std::string&) override { Add(reference); }
    void DrawBitmap(const TMetafileDrawState&, const TPointF (&corners)[3], const TBitmap&, const double (&)[4],
                    TMetafileBlend, uint8_t) override
    {
        for (const TPointF& p : corners)
            Add(p);
        Add({corners[1].x + corners[2].x - corners[0].x, corners[1].y + corners[2].y - corners[0].y});
    }

    bool Empty() const { return !any_; }
    double Left() const { return left_; }
    double Top() const { return top_; }
    double Right() const { return right_; }
    double Bottom() const { return bottom_; }

private:
    void Add(TPointF p)
    {
        if (!any_) {
            left_ = right_ = p.x;
            top_ = bottom_ = p.y;
            any_ = true;
            return;
        }
        left_ = p.x < left_ ? p.x : left_;
        right_ = p.x > right_ ? p.x : right_;
        top_ = p.y < top_ ? p.y : top_;
        bottom_ = p.y > bottom_ ? p.y : bottom_;
    }

    bool any_ = false;
    double left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
};
