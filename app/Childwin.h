#pragma once

#include <QMdiSubWindow>
#include <memory>

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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::Childwin> ui_;
};
