#pragma once

#include <QDialog>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <memory>

class QLabel;
class QPushButton;

namespace Ui {
class PicturePreview;
class PreviewForm;
}

// A picture as the previews show it: its own size and an image of it, scaled down to what a
// preview can use.
struct TPreviewPicture {
    QSize size; // the picture's width and height; empty when there is nothing to show
    QImage image;

    bool Valid() const { return !size.isEmpty() && !image.isNull(); }
};

// Reads the file through a picture container of its own (the format registry, as Open does) and
// scales the image down to fit within `bound` when it is larger. Any failure, a file that is no
// regular file among them, gives an empty result: a preview reports nothing. Safe to call on any
// thread.
TPreviewPicture ReadPreviewPicture(const QString& fileName, const QSize& bound);

// The client size of the "预览" window for a picture: the picture, the panel's 5-pixel border on
// each side and 10 more pixels, but at most three quarters of the monitor in each direction.
QSize PreviewClientSize(const QSize& picture, const QSize& monitor);

// Shows an image scaled into the control in proportion and centred. Small images keep their own
// size unless Enlarge is set. Without an image it shows Placeholder centred.
class TPreviewImage : public QWidget {
    Q_OBJECT
public:
    explicit TPreviewImage(QWidget* parent = nullptr);

    void SetImage(const QImage& image);
    const QImage& Image() const { return image_; }
    void SetEnlarge(bool enlarge);
    void SetPlaceholder(const QString& text);
    const QString& Placeholder() const { return placeholder_; }
    // Where the image is drawn, in the control's coordinates; empty without an image.
    QRect ImageRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
    // The image at the size last drawn, so that painting is a plain copy.
    QPixmap scaled_;
    QString placeholder_;
    bool enlarge_ = false;
};

// The preview pane of the picture dialogs: a label with the picture's size, the "预览" button and the
// picture scaled into the pane. Files are read on a worker thread, one at a time; a result for a name
// that is no longer selected is dropped, so a large or hostile file never holds up the dialog.
class TPicturePreview : public QWidget {
    Q_OBJECT
public:
    explicit TPicturePreview(QWidget* parent = nullptr);
    ~TPicturePreview() override;

    // Previews the named file when it is an existing file that a registered reader reads; otherwise,
    // and until the file has been read, the pane reads "图象:" and "(无)" and the button is unavailable.
    void SetFileName(const QString& fileName);
    const QString& FileName() const { return fileName_; }
    // True while a file is being read for the current name.
    bool Reading() const { return reading_; }
    bool HasPicture() const { return picture_.Valid(); }
    const TPreviewPicture& Picture() const { return picture_; }

    QLabel* PictureLabel() const;
    QPushButton* PreviewButton() const;
    TPreviewImage* PaintBox() const;

    // The "预览" button: the picture in the modal "预览" window.
    void PreviewButtonClick();

signals:
    // The pane has settled for the current name: it shows the picture, or the empty state.
    void PreviewSettled();

private:
    struct Channel;

    void StartReading();
    void Finished(quint64 generation, const TPreviewPicture& picture);
    void ShowPicture(const TPreviewPicture& picture);

    std::unique_ptr<Ui::PicturePreview> ui_;
    std::shared_ptr<Channel> channel_;
    QString fileName_;
    TPreviewPicture picture_;
    quint64 generation_ = 0;
    bool reading_ = false; // the current name is being read (or waits for the worker)
    bool workerBusy_ = false;
};

// The modal "预览" tool window: the picture stretched in proportion and centred on a bordered
// panel, the window centred on the screen; Esc closes it.
class TPreviewForm : public QDialog {
    Q_OBJECT
public:
    TPreviewForm(const QImage& image, const QSize& pictureSize, QWidget* parent = nullptr);
    ~TPreviewForm() override;

    TPreviewImage* Image() const;

private:
    std::unique_ptr<Ui::PreviewForm> ui_;
};
