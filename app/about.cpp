#include "app/about.h"

#include "app/display/GraphicImage.h"
#include "app/qeHyperLink.h"
#include "framework/JPEGImage.h"
#include "framework/Stream.h"
#include "ui_about.h"

#include <QFile>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <qdrawutil.h>

namespace {

constexpr QSize kOuterSize(248, 204);

// The window manager's frame around a window, none while it is not framed.
// The window manager's frame around a window, as the window system knows it (none before it is framed).
QMargins FrameOf(const QWidget* window)
{
    const QWindow* handle = window->windowHandle();
    return handle ? handle->frameMargins() : QMargins();
}

} // namespace

TPanel::TPanel(QWidget* parent)
    : QFrame(parent)
{
    setAutoFillBackground(true);
}

void TPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // Lowered outer bevel, raised inner bevel: the panel looks like a plate set into the box.
    qDrawShadeRect(&painter, rect(), palette(), true, 1);
    qDrawShadeRect(&painter, rect().adjusted(1, 1, -1, -1), palette(), false, 1);
}

TLogoImage::TLogoImage(QWidget* parent)
    : QWidget(parent)
{ }

void TLogoImage::SetResource(const QString& path)
{
    resource_ = path;
    decoded_ = false;
    logo_ = QImage();
    update();
}

void TLogoImage::Decode()
{
    decoded_ = true;
    QFile file(resource_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    TMemoryStream stream(bytes.constData(), static_cast<size_t>(bytes.size()));
    TJPEGImage jpeg;
    try {
        jpeg.LoadStream(stream);
        logo_ = GraphicToImage(jpeg);
    } catch (const std::exception&) {
        // The logo is ours and decodes; should it ever not, the box shows without it.
        logo_ = QImage();
    }
}

void TLogoImage::paintEvent(QPaintEvent*)
{
    if (!decoded_)
        Decode();
    if (logo_.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), logo_);
}

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent)
    , ui_(std::make_unique<Ui::AboutBox>())
{
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    setWindowIcon(QIcon(QStringLiteral(":/icons/kavrel.png")));
    ui_->ProgramIcon->SetResource(QStringLiteral(":/about/logo.jpg"));
    setFixedSize(kOuterSize);
}

TAboutBox::~TAboutBox() = default;

TqeHyperLink* TAboutBox::Link(int number) const
{
    switch (number) {
    case 1:
        return ui_->qeHyperLink1;
    case 2:
        return ui_->qeHyperLink2;
    case 3:
        return ui_->qeHyperLink3;
    case 4:
        return ui_->qeHyperLink4;
    default:
        return nullptr;
    }
}

TLogoImage* TAboutBox::ProgramIcon() const
{
    return ui_->ProgramIcon;
}

void TAboutBox::showEvent(QShowEvent* event)
{
    PlaceOverMainWindow(true);
    QDialog::showEvent(event);
    // The window manager may announce its frame without the box moving or being activated: look again
    // until the box has been placed with its frame known.
    constexpr int kLookInterval = 20;
    constexpr int kLooks = 50;
    auto* look = new QTimer(this);
    look->setInterval(kLookInterval);
    connect(look, &QTimer::timeout, this, [this, look, left = kLooks]() mutable {
        if (isVisible())
            PlaceOverMainWindow(false);
        if (placedFramed_ || !isVisible() || --left == 0)
            look->deleteLater();
    });
    look->start();
}

bool TAboutBox::event(QEvent* event)
{
    // The window manager frames the box after it is mapped, and Qt learns the frame by the time the
    // box is activated; a wrong guess is then put right. A move by the user changes no frame and stands.
    const QEvent::Type type = event->type();
    if ((type == QEvent::Move || type == QEvent::Resize || type == QEvent::WindowActivate) && isVisible())
        PlaceOverMainWindow(false);
    return QDialog::event(event);
}

void TAboutBox::PlaceOverMainWindow(bool showing)
{
    const QWidget* over = parentWidget() ? parentWidget()->window() : nullptr;
    QMargins frame = FrameOf(this);
    const bool framed = !frame.isNull();
    if (!framed) {
        if (!showing)
            return; // not framed yet
        if (frame_.isNull() && over)
            frame_ = FrameOf(over);
        frame = frame_;
    } else if (!showing && frame == frame_ && placedFramed_) {
        return;
    }
    // A place taken before the frame was known put the inside where the frame belongs.
    placedFramed_ = framed;
    frame_ = frame;
    setFixedSize(kOuterSize - QSize(frame.left() + frame.right(), frame.top() + frame.bottom()));
    const QRect target
        = over && over->isVisible() ? over->frameGeometry() : (screen() ? screen()->availableGeometry() : QRect());
    if (!target.isValid())
        return;
    const QPoint corner = target.topLeft()
        + QPoint((target.width() - kOuterSize.width()) / 2, (target.height() - kOuterSize.height()) / 2);
    // The frame's place itself once the window system knows the frame (the widget's own idea of it may
    // lag behind); before that the inside's, the frame guessed from the main window's.
    if (framed && windowHandle())
        windowHandle()->setFramePosition(corner);
    else
        move(corner + QPoint(frame.left(), frame.top()));
}
