#pragma once

#include <QDialog>
#include <QFrame>
#include <QImage>
#include <QMargins>
#include <memory>

class TqeHyperLink;

namespace Ui {
class AboutBox;
}

// A panel with a raised inner and a lowered outer bevel around the box's colour.
class TPanel : public QFrame {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The product logo: a JPEG picture kept as a resource, decoded by the framework's JPEG class the
// first time the control paints, then drawn stretched over the control.
class TLogoImage : public QWidget {
    Q_OBJECT
public:
    explicit TLogoImage(QWidget* parent = nullptr);

    void SetResource(const QString& path);
    bool Decoded() const { return decoded_; }
    const QImage& Logo() const { return logo_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Decode();

    QString resource_;
    QImage logo_;
    bool decoded_ = false;
};

// The About box: product name, the maker's credit line, the logo and four links. Created once,
// hidden, at start-up and shown modally; a link clicked earlier stays fuchsia. Its outer size, the
// window manager's frame included, is 248 x 204, and each show centres it over the main window.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;

    TqeHyperLink* Link(int number) const;
    TLogoImage* ProgramIcon() const;

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void PlaceOverMainWindow(bool showing);

    std::unique_ptr<Ui::AboutBox> ui_;
    // The window manager's frame around the box as last seen; before the box was first framed, the
    // main window's frame stands in for it.
    QMargins frame_;
    // Whether the box was last placed with its own frame known; a place taken before that is corrected.
    bool placedFramed_ = false;
};
