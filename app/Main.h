#pragma once

#include "app/ImageList.h"

#include <QList>
#include <QMainWindow>
#include <QMdiArea>
#include <QRect>
#include <memory>

class ICaptureSource;
class QLabel;
class QMdiArea;
class TAboutBox;
class TBitmap;
class TMDIChild;
class TOpenPictureDialog;
class TOxaScreenCapture;
class TSavePictureDialog;

namespace Ui {
class MainForm;
}

// The main frame: the workspace of image windows, the menus, the toolbar, the status bar and the
// command list. Every command handler runs through the error box wrapper.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Creates the image window titled Title and, when a file of that name exists, loads its picture;
    // a failed load propagates and leaves the empty window open.
    TMDIChild* CreateImageWindow(const QString& title);
    void UpdateCommandStates();

    // Image windows in the workspace, released ones included until they are destroyed.
    QList<TMDIChild*> ImageWindows() const;
    TMDIChild* ActiveImageWindow() const;
    QMdiArea* Workspace() const;

    // Start-up wiring: the About box the Help command shows.
    void SetAboutBox(TAboutBox* aboutBox) { aboutBox_ = aboutBox; }
    TAboutBox* AboutBox() const { return aboutBox_; }
    // The capture component the four capture commands use: the frame's own, ScreenCapture(), unless
    // pointed elsewhere (tests point it at a scripted one). Null: captures yield nothing.
    ICaptureSource* OxaScreenCapture1 = nullptr;
    // The frame's capture component on the X display, owned for the frame's lifetime.
    TOxaScreenCapture& ScreenCapture() const { return *screenCapture_; }

    // The glyphs of the menu and the toolbar.
    const TImageList ImageList1 {};

    // The picture dialogs; FormCreate builds the open dialog's filter from the format registry.
    TOpenPictureDialog* OpenPictureDialog = nullptr;
    TSavePictureDialog* SavePictureDialog1 = nullptr;

    // Command handlers.
    void FileOpen1Execute(QObject* sender);
    void FileClose1Execute(QObject* sender);
    void FileSave1Execute(QObject* sender);
    void FileExit1Execute(QObject* sender);
    void CaptureDesktop1Execute(QObject* sender);
    void CaptureArea1Execute(QObject* sender);
    void CaptureActive1Execute(QObject* sender);
    void CaptureObject1Execute(QObject* sender);
    void WindowCascade1Execute(QObject* sender);
    void WindowTileHorizontal1Execute(QObject* sender);
    void WindowTileVertical1Execute(QObject* sender);
    void WindowArrangeAll1Execute(QObject* sender);
    void N16Click(QObject* sender);
    void N2Click(QObject* sender);
    void N3Click(QObject* sender);

    // The idle-time rule of the window commands and Close, run whenever the event queue empties.
    void UpdateWindowCommands();

    // Opens each file as File > Open opens a chosen one: one image window each, a failure reported
    // in the error box before the next file.
    void OpenFiles(const QStringList& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FormCreate();
    void FormMouseMove();
    void BindCommands();
    void LinkMenuItems();
    void AddWindowKeys();
    // How far each cascaded or new window is stepped from the previous: one title bar.
    int CaptionStep() const;
    void SetUpToolBar();
    void SetUpStatusBar();
    void RebuildWindowList();
    // Says in the status bar when the desktop's own dialog picks the window to capture.
    void AnnounceWindowPicking();
    // The steps shared by the four capture commands.
    void CaptureInto(const QString& title, std::unique_ptr<TBitmap> (ICaptureSource::*operation)());
    // The windows that cascade and tile arrange, in the order given, and the area above the icons' row.
    struct Arrangement {
        QList<QMdiSubWindow*> windows;
        QRect area;
    };
    Arrangement ArrangeableWindows(QMdiArea::WindowOrder order) const;
    static void PlaceWindows(const QList<QMdiSubWindow*>& windows, const QList<QRect>& rects);
    void Tile(bool horizontal);
    void PlaceOuterFrame();

    std::unique_ptr<Ui::MainForm> ui_;
    std::unique_ptr<TOxaScreenCapture> screenCapture_;
    TAboutBox* aboutBox_ = nullptr;
    QLabel* creditPanel_ = nullptr;
    QLabel* addressPanel_ = nullptr;
    QList<QAction*> windowListItems_;
    int placedWindows_ = 0;
    bool outerPlaced_ = false;
    bool placementClosed_ = false;
};
