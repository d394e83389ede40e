#pragma once

#include <QAbstractScrollArea>

// The image window's scroll box. Its content control is laid out in the rectangle at
// (-horizontal position, -vertical position) whose size is the larger of each scroll range and the
// client extent. Automatic ranging is on at first: the content fills the box and contributes no range,
// so no scroll bar shows. Setting a range switches automatic ranging off for good.
class TScrollBox : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TScrollBox(QWidget* parent = nullptr);

    void SetContent(QWidget* content);
    QWidget* Content() const { return content_; }

    int HorzRange() const { return horzRange_; }
    int VertRange() const { return vertRange_; }
    void SetHorzRange(int range);
    void SetVertRange(int range);
    bool AutoRange() const { return autoRange_; }

    int HorzPosition() const;
    int VertPosition() const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent* event) override;

private:
    void Relayout();
    void PlaceContent();

    QWidget* content_ = nullptr;
    int horzRange_ = 0;
    int vertRange_ = 0;
    bool autoRange_ = true;
    bool relayouting_ = false;
};
