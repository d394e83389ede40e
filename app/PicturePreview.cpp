#include "app/PicturePreview.h"

#include "app/display/GraphicImage.h"
#include "framework/Picture.h"
#include "ui_PicturePreview.h"
#include "ui_PreviewForm.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QThreadPool>
#include <algorithm>
#include <mutex>

namespace {

constexpr int kPanelBorder = 5;
constexpr int kWindowMargin = 10;

// The previews never need more pixels than the largest screen shows; a picture is scaled down to that
// once, on the worker, and kept at that size.
QSize LargestScreenPixels()
{
    QSize largest(1920, 1080);
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QSize pixels = screen->geometry().size() * screen->devicePixelRatio();
        largest = largest.expandedTo(pixels);
    }
    return largest;
}

} // namespace

TPreviewPicture ReadPreviewPicture(const QString& fileName, const QSize& bound)
{
    try {
        if (!QFileInfo(fileName).isFile())
            return {};
        TPicture picture;
        picture.LoadFromFile(QFile::encodeName(fileName).toStdString());
        const TGraphic* graphic = picture.Graphic();
        if (!graphic || graphic->Empty())
            return {};
        QImage image = GraphicToImage(*graphic);
        if (image.isNull())
            return {};
        if (image.width() > bound.width() || image.height() > bound.height())
            image = image.scaled(bound, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        return { QSize(graphic->Width(), graphic->Height()), image };
    } catch (...) {
        return {};
    }
}

QSize PreviewClientSize(const QSize& picture, const QSize& monitor)
{
    const int extra = 2 * kPanelBorder + kWindowMargin;
    return { std::min(picture.width() + extra, monitor.width() * 3 / 4),
        std::min(picture.height() + extra, monitor.height() * 3 / 4) };
}

// ---------------------------------------------------------------------------------------------

TPreviewImage::TPreviewImage(QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TPreviewImage::SetImage(const QImage& image)
{
    image_ = image;
    scaled_ = QPixmap();
    update();
}

void TPreviewImage::SetEnlarge(bool enlarge)
{
    enlarge_ = enlarge;
    scaled_ = QPixmap();
    update();
}

void TPreviewImage::SetPlaceholder(const QString& text)
{
    placeholder_ = text;
    update();
}

QRect TPreviewImage::ImageRect() const
{
    if (image_.isNull() || width() <= 0 || height() <= 0)
        return {};
    QSize size = image_.size();
    if (enlarge_ || size.width() > width() || size.height() > height())
        size.scale(this->size(), Qt::KeepAspectRatio);
    size = size.expandedTo(QSize(1, 1));
    return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

void TPreviewImage::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (image_.isNull()) {
        painter.drawText(rect(), Qt::AlignCenter, placeholder_);
        return;
    }
    const QRect target = ImageRect();
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = target.size() * ratio;
    if (scaled_.size() != pixels) {
        scaled_ = QPixmap::fromImage(
            image_.size() == pixels ? image_ : image_.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        scaled_.setDevicePixelRatio(ratio);
    }
    painter.drawPixmap(target.topLeft(), scaled_);
}

// ---------------------------------------------------------------------------------------------

// How a worker hands its result back: the pane unhooks itself here when it goes, so a worker that
// finishes later posts nothing.
struct TPicturePreview::Channel {
    std::mutex mutex;
    TPicturePreview* pane = nullptr;
};

TPicturePreview::TPicturePreview(QWidget* parent)
    : QWidget(parent)
    , ui_(std::make_unique<Ui::PicturePreview>())
    , channel_(std::make_shared<Channel>())
{
    ui_->setupUi(this);
    channel_->pane = this;
    ui_->PaintBox->SetPlaceholder(QStringLiteral("(无)"));
    connect(ui_->PreviewButton, &QPushButton::clicked, this, &TPicturePreview::PreviewButtonClick);
    ShowPicture({});
}

TPicturePreview::~TPicturePreview()
{
    std::lock_guard lock(channel_->mutex);
    channel_->pane = nullptr;
}

QLabel* TPicturePreview::PictureLabel() const
{
    return ui_->PictureLabel;
}

QPushButton* TPicturePreview::PreviewButton() const
{
    return ui_->PreviewButton;
}

TPreviewImage* TPicturePreview::PaintBox() const
{
    return ui_->PaintBox;
}

void TPicturePreview::SetFileName(const QString& fileName)
{
    // The list and the name field both announce a choice; one reading is enough.
    if (fileName == fileName_ && !fileName.isEmpty())
        return;
    fileName_ = fileName;
    ++generation_;
    ShowPicture({});
    if (fileName.isEmpty() || !QFileInfo(fileName).isFile()) {
        reading_ = false;
        emit PreviewSettled();
        return;
    }
    reading_ = true;
    // One file at a time: a name chosen while the worker is busy waits for it, and only the latest
    // such name is read.
    if (!workerBusy_)
        StartReading();
}

void TPicturePreview::StartReading()
{
    workerBusy_ = true;
    QThreadPool::globalInstance()->start(
        [channel = channel_, fileName = fileName_, generation = generation_, bound = LargestScreenPixels()] {
            const TPreviewPicture picture = ReadPreviewPicture(fileName, bound);
            std::lock_guard lock(channel->mutex);
            if (TPicturePreview* pane = channel->pane)
                QMetaObject::invokeMethod(
                    pane, [pane, generation, picture] { pane->Finished(generation, picture); }, Qt::QueuedConnection);
        });
}

void TPicturePreview::Finished(quint64 generation, const TPreviewPicture& picture)
{
    workerBusy_ = false;
    if (generation != generation_) {
        if (reading_)
            StartReading();
        return;
    }
    reading_ = false;
    ShowPicture(picture);
    emit PreviewSettled();
}

void TPicturePreview::ShowPicture(const TPreviewPicture& picture)
{
    picture_ = picture.Valid() ? picture : TPreviewPicture {};
    if (picture_.Valid())
        ui_->PictureLabel->setText(QStringLiteral(" (%1x%2)").arg(picture_.size.width()).arg(picture_.size.height()));
    else
        ui_->PictureLabel->setText(QStringLiteral("图象:"));
    ui_->PaintBox->SetImage(picture_.image);
    ui_->PreviewButton->setEnabled(picture_.Valid());
}

void TPicturePreview::PreviewButtonClick()
{
    if (!picture_.Valid())
        return;
    TPreviewForm form(picture_.image, picture_.size, this);
    form.exec();
}

// ---------------------------------------------------------------------------------------------

TPreviewForm::TPreviewForm(const QImage& image, const QSize& pictureSize, QWidget* parent)
    : QDialog(parent, Qt::Tool)
    , ui_(std::make_unique<Ui::PreviewForm>())
{
    ui_->setupUi(this);
    ui_->Image->SetEnlarge(true);
    ui_->Image->SetImage(image);
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const QRect monitor = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    const QSize client = PreviewClientSize(pictureSize, monitor.size());
    resize(client);
    move(monitor.center() - QPoint(client.width() / 2, client.height() / 2));
}

TPreviewForm::~TPreviewForm() = default;

TPreviewImage* TPreviewForm::Image() const
{
    return ui_->Image;
}
