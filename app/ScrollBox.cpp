#include "app/ScrollBox.h"

#include "app/WindowLayout.h"

#include <QEvent>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>

TScrollBox::TScrollBox(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    // The area beyond the picture shows the box's own background, the window's button face.
    viewport()->setBackgroundRole(QPalette::Window);
    viewport()->setAutoFillBackground(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void TScrollBox::SetContent(QWidget* content)
{
    content_ = content;
    if (content_) {
        content_->setParent(viewport());
        content_->show();
    }
    Relayout();
}

void TScrollBox::SetHorzRange(int range)
{
    horzRange_ = std::max(0, range);
    autoRange_ = false;
    Relayout();
}

void TScrollBox::SetVertRange(int range)
{
    vertRange_ = std::max(0, range);
    autoRange_ = false;
    Relayout();
}

int TScrollBox::HorzPosition() const
{
    return horizontalScrollBar()->value();
}

int TScrollBox::VertPosition() const
{
    return verticalScrollBar()->value();
}

void TScrollBox::Relayout()
{
    // Changing the bar policies resizes the viewport, which comes back here; one pass decides all.
    if (relayouting_)
        return;
    relayouting_ = true;
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const ScrollBarLayout layout = ComputeScrollBarLayout(size(), horzRange_, vertRange_, extent);
    setHorizontalScrollBarPolicy(layout.horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(layout.vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    horizontalScrollBar()->setRange(0, layout.horizontalMax);
    horizontalScrollBar()->setPageStep(std::max(1, layout.client.width()));
    horizontalScrollBar()->setSingleStep(std::max(1, layout.client.width() / 20));
    verticalScrollBar()->setRange(0, layout.verticalMax);
    verticalScrollBar()->setPageStep(std::max(1, layout.client.height()));
    verticalScrollBar()->setSingleStep(std::max(1, layout.client.height() / 20));
    relayouting_ = false;
    PlaceContent();
}

void TScrollBox::PlaceContent()
{
    if (!content_)
        return;
    const QSize client = viewport()->size();
    content_->setGeometry(
        -HorzPosition(), -VertPosition(), std::max(horzRange_, client.width()), std::max(vertRange_, client.height()));
}

void TScrollBox::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    Relayout();
}

void TScrollBox::scrollContentsBy(int, int)
{
    PlaceContent();
}

bool TScrollBox::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Resize)
        PlaceContent();
    return QAbstractScrollArea::viewportEvent(event);
}
