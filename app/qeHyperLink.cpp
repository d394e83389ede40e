#include "app/qeHyperLink.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

const QColor TqeHyperLink::kLinkBlue = QColor(0x00, 0x00, 0xFF);
const QColor TqeHyperLink::kHoverRed = QColor(0xFF, 0x00, 0x00);
const QColor TqeHyperLink::kVisitedFuchsia = QColor(0xFF, 0x00, 0xFF);
const char* const TqeHyperLink::kDefaultURL = "http://www.kavrel.example.org/";

TqeHyperLink::TqeHyperLink(QWidget* parent)
    : QWidget(parent)
{
    url_ = QString::fromLatin1(kDefaultURL);
    caption_ = url_;
    resize(100, 10);
    QFont linkFont = font();
    linkFont.setBold(true);
    linkFont.setUnderline(true);
    setFont(linkFont);
    linkColor_ = kLinkBlue;
    fontColor_ = kLinkBlue;
    // The button face: the background of the dialog the link sits on.
    color_ = palette().color(QPalette::Window);
    setCursor(Qt::PointingHandCursor);
    update();
}

void TqeHyperLink::SetFontName(const QString& name)
{
    if (name == fontName_)
        return;
    fontName_ = name;
    QFont face = font();
    face.setFamily(name);
    setFont(face);
    update();
}

void TqeHyperLink::SetColor(const QColor& color)
{
    if (color == color_)
        return;
    color_ = color;
    update();
}

void TqeHyperLink::SetCaption(const QString& caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    update();
}

void TqeHyperLink::SetURL(const QString& url)
{
    if (url != url_)
        url_ = url;
}

QSize TqeHyperLink::TextSize() const
{
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(caption_) + 6, metrics.height() + 2);
}

void TqeHyperLink::paintEvent(QPaintEvent* event)
{
    // The control follows its text: a longer caption widens it at the next paint.
    const QSize wanted = TextSize();
    if (size() != wanted)
        resize(wanted);
    QPainter painter(this);
    painter.fillRect(event->rect(), color_);
    painter.setFont(font());
    painter.setPen(fontColor_);
    painter.drawText(
        QRect(3, 1, width() - 3, height() - 1), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, caption_);
}

void TqeHyperLink::enterEvent(QEnterEvent* event)
{
    fontColor_ = kHoverRed;
    update();
    QWidget::enterEvent(event);
}

void TqeHyperLink::leaveEvent(QEvent* event)
{
    fontColor_ = linkColor_;
    update();
    QWidget::leaveEvent(event);
}

void TqeHyperLink::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        // Whether a browser could be started is not the label's business.
        QDesktopServices::openUrl(QUrl(url_));
        linkColor_ = kVisitedFuchsia;
    }
    QWidget::mousePressEvent(event);
}
