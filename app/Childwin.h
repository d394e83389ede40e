#pragma once

#include <QMdiSubWindow>
#include <memory>
#include <optional>

class TImage;
class TScrollBox;

namespace Ui {
class Childwin;
}

// What a form's close handler decides: keep the window, minimise it, or free it.
enum class TCloseAction { caNone, caHide, caFree, caMinimize };

// An image window: a document window of the frame's workspace holding one scrolled picture.
class TMDIChild : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit TMDIChild(QWidget* parent = nullptr);
    ~TMDIChild() override;

    // The stored description's components.
    TScrollBox* ScrollBox;
    TImage* Image;

    void FormClose(QObject* sender, TCloseAction& action);

    // Zoom: every window opens at 100 %. A window with a picture shows it at `scale` (at most
    // 1600 %), with scroll ranges of the zoomed size, and keeps the picture point under `anchor`
    // (a point of the scroll box's view; its centre by default) in place. While the zoom is not
    // 100 % the title shows it. Ctrl + mouse wheel zooms about the mouse.
    double Zoom() const;
    void SetZoom(double scale, std::optional<QPointF> anchor = std::nullopt);
    // The zoom at which the whole picture fits the window.
    double FitZoom() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::Childwin> ui_;
    QString unzoomedTitle_;
    int wheelRemainder_ = 0; // wheel turns smaller than one notch, from high-resolution wheels
};
