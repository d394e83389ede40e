#pragma once

#include <QColor>
#include <QWidget>

// A hyperlink label: shows its caption bold and underlined, sizes itself to the text whenever it
// paints, and asks the desktop to open its URL when clicked with the left button. The text is blue,
// red while the mouse is over it, and fuchsia once it has been clicked (a visited link).
class TqeHyperLink : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString FontName READ FontName WRITE SetFontName)
    Q_PROPERTY(QColor Color READ Color WRITE SetColor)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QString URL READ URL WRITE SetURL)
public:
    static const QColor kLinkBlue;
    static const QColor kHoverRed;
    static const QColor kVisitedFuchsia;
    static const char* const kDefaultURL;

    explicit TqeHyperLink(QWidget* parent = nullptr);

    QString FontName() const { return fontName_; }
    void SetFontName(const QString& name);
    QColor Color() const { return color_; }
    void SetColor(const QColor& color);
    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    QString URL() const { return url_; }
    void SetURL(const QString& url);

    // The colour the text is drawn in now, and the one it returns to when the mouse leaves.
    QColor FontColor() const { return fontColor_; }
    QColor LinkColor() const { return linkColor_; }

    // The size the control takes at its next paint: the caption's text extent plus 6 by 2.
    QSize TextSize() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QColor linkColor_;
    QString url_;
    QString caption_;
    QColor color_;
    QString fontName_;
    QColor fontColor_;
};
