#include "app/about.h"

#include "app/display/GraphicImage.h"
#include "app/qeHyperLink.h"
#include "framework/JPEGImage.h"
#include "framework/Stream.h"
#include "ui_about.h"

#include <QFile>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <qdrawutil.h>

namespace {

constexpr QSize kOuterSize(248, 204);

// The window manager's frame around a window, none while it is not framed.
QSize Decoration(const QWidget* window)
{
    const QWindow* handle = window->windowHandle();
    if (!handle)
        return {};
    const QMargins margins = handle->frameMargins();
    return QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
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
    QSize decoration = Decoration(this);
    if (decoration.isNull()) {
        if (!showing)
            return; // not framed yet
        if (decoration_.isNull() && over)
            decoration_ = Decoration(over);
        decoration = decoration_;
    } else if (!showing && decoration == decoration_) {
        return;
    }
    decoration_ = decoration;
    setFixedSize(kOuterSize - decoration);
    const QRect target
        = over && over->isVisible() ? over->frameGeometry() : (screen() ? screen()->availableGeometry() : QRect());
    if (target.isValid())
        move(target.topLeft()
            + QPoint((target.width() - kOuterSize.width()) / 2, (target.height() - kOuterSize.height()) / 2));
}
