#include "app/Main.h"

#include "app/Application.h"
#include "app/Childwin.h"
#include "app/ErrorBox.h"
#include "app/ImageControl.h"
#include "app/ImageZoom.h"
#include "app/OpenTiming.h"
#include "app/PictureDialog.h"
#include "app/ScrollBox.h"
#include "app/WindowLayout.h"
#include "app/about.h"
#include "capture/CaptureOverlayForms.h"
#include "capture/OxaCapture.h"
#include "capture/SessionCapturePlatform.h"
#include "framework/Bitmap.h"
#include "framework/Picture.h"
#include "ui_Main.h"

#include <QAbstractEventDispatcher>
#include <QActionGroup>
#include <QDesktopServices>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <functional>

namespace {

constexpr QSize kOuterSize(558, 483);
constexpr int kToolBarHeight = 30;
constexpr QSize kToolButtonSize(23, 22);
constexpr int kStatusBarHeight = 19;
constexpr int kCreditPanelWidth = 154;

// The save dialog's filter, as the stored description has it.
const char* const kSaveFilter
    = "Bitmaps (*.bmp)|*.bmp|JPEG Image File (*.jpg)|*.jpg|JPEG Image File (*.jpeg)|*.jpeg|Icons (*.ico)|*.ico|"
      "Enhanced Metafiles (*.emf)|*.emf|Metafiles (*.wmf)|*.wmf|"
      "All (*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf)|*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf";

std::string LocalFileName(const QString& name)
{
    return QFile::encodeName(name).toStdString();
}

// The files among what is dragged over the frame; folders and remote addresses are not opened.
QStringList DroppedFiles(const QMimeData* data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
            paths.append(url.toLocalFile());
    return paths;
}

} // namespace

TMainForm::TMainForm(QWidget* parent)
    : QMainWindow(parent)
    , ui_(std::make_unique<Ui::MainForm>())
{
    ui_->setupUi(this);
    OpenPictureDialog = new TOpenPictureDialog(this);
    SavePictureDialog1 = new TSavePictureDialog(this);
    OpenPictureDialog->setObjectName(QStringLiteral("OpenPictureDialog"));
    SavePictureDialog1->setObjectName(QStringLiteral("SavePictureDialog1"));
    SavePictureDialog1->Filter = QString::fromUtf8(kSaveFilter);
    SavePictureDialog1->DefaultExt = QStringLiteral("bmp");
    ui_->ActionList1->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
    SetUpToolBar();
    SetUpStatusBar();
    BindCommands();
    LinkMenuItems();
    AddWindowKeys();
    setAcceptDrops(true);
    screenCapture_ = CreateScreenCapture();
    OxaScreenCapture1 = screenCapture_.get();

    // Mouse movement over the empty workspace reaches the frame; the image windows keep their own.
    Workspace()->viewport()->setMouseTracking(true);
    Workspace()->viewport()->installEventFilter(this);
    connect(ui_->Window1, &QMenu::aboutToShow, this, &TMainForm::RebuildWindowList);
    connect(QAbstractEventDispatcher::instance(thread()), &QAbstractEventDispatcher::aboutToBlock, this,
        &TMainForm::UpdateWindowCommands);

    resize(kOuterSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(kOuterSize.width() / 2, kOuterSize.height() / 2));

    RunGuarded(this, [this] { FormCreate(); });
}

TMainForm::~TMainForm() = default;

QMdiArea* TMainForm::Workspace() const
{
    return ui_->MDIClient;
}

void TMainForm::SetUpToolBar()
{
    QToolBar* bar = ui_->ToolBar2;
    bar->setFixedHeight(kToolBarHeight);
    bar->toggleViewAction()->setVisible(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    for (QAction* action : bar->actions()) {
        if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action))) {
            button->setFixedSize(kToolButtonSize);
            button->setAutoRaise(true);
        }
    }
}

void TMainForm::SetUpStatusBar()
{
    QStatusBar* bar = ui_->StatusBar;
    bar->setFixedHeight(kStatusBarHeight);
    creditPanel_ = new QLabel(Maker::CreditLine(), bar);
    creditPanel_->setObjectName(QStringLiteral("StatusPanel1"));
    creditPanel_->setFixedWidth(kCreditPanelWidth);
    addressPanel_ = new QLabel(
        QString::fromUtf8(Maker::kSecondWebAddress) + QStringLiteral(" QQ:") + QString::fromUtf8(Maker::kContactNumber),
        bar);
    addressPanel_->setObjectName(QStringLiteral("StatusPanel2"));
    addressPanel_->setMinimumWidth(50);
    // Each panel a shallow sunken box, the shadow on its top and left edges.
    for (QLabel* panel : { creditPanel_, addressPanel_ })
        panel->setStyleSheet(QStringLiteral("QLabel { border: 1px solid; border-color: palette(mid) palette(light) "
                                            "palette(light) palette(mid); padding: 0px 2px; }"));
    bar->addWidget(creditPanel_);
    bar->addWidget(addressPanel_, 1);
}

void TMainForm::BindCommands()
{
    using Handler = void (TMainForm::*)(QObject*);
    const std::pair<QAction*, Handler> bindings[] = {
        { ui_->FileOpen1, &TMainForm::FileOpen1Execute },
        { ui_->FileClose1, &TMainForm::FileClose1Execute },
        { ui_->FileSave1, &TMainForm::FileSave1Execute },
        { ui_->FileExit1, &TMainForm::FileExit1Execute },
        { ui_->CaptureDesktop1, &TMainForm::CaptureDesktop1Execute },
        { ui_->CaptureArea1, &TMainForm::CaptureArea1Execute },
        { ui_->CaptureActive1, &TMainForm::CaptureActive1Execute },
        { ui_->CaptureObject1, &TMainForm::CaptureObject1Execute },
        { ui_->WindowCascade1, &TMainForm::WindowCascade1Execute },
        { ui_->WindowTileHorizontal1, &TMainForm::WindowTileHorizontal1Execute },
        { ui_->WindowTileVertical1, &TMainForm::WindowTileVertical1Execute },
        { ui_->WindowArrangeAll1, &TMainForm::WindowArrangeAll1Execute },
        { ui_->N16, &TMainForm::N16Click },
        { ui_->N2, &TMainForm::N2Click },
        { ui_->N3, &TMainForm::N3Click },
    };
    for (const auto& [action, handler] : bindings) {
        connect(action, &QAction::triggered, this,
            [this, action = action, handler = handler] { RunGuarded(this, [&] { (this->*handler)(action); }); });
    }
}

void TMainForm::LinkMenuItems()
{
    const std::pair<QAction*, QAction*> links[] = {
        { ui_->FileOpenItem, ui_->FileOpen1 },
        { ui_->FileCloseItem, ui_->FileClose1 },
        { ui_->FileSaveItem, ui_->FileSave1 },
        { ui_->FileExitItem, ui_->FileExit1 },
        { ui_->Desktop1, ui_->CaptureDesktop1 },
        { ui_->Area1, ui_->CaptureArea1 },
        { ui_->ActiveWindow1, ui_->CaptureActive1 },
        { ui_->Object1, ui_->CaptureObject1 },
        { ui_->WindowCascadeItem, ui_->WindowCascade1 },
        { ui_->WindowTileItem, ui_->WindowTileHorizontal1 },
        { ui_->WindowArrangeItem, ui_->WindowArrangeAll1 },
    };
    for (const auto& [item, command] : links) {
        // A menu item shows its command's caption and glyph, is available exactly when the command is,
        // and runs it.
        auto follow = [item = item, command = command] {
            item->setText(command->text());
            item->setIcon(command->icon());
            item->setEnabled(command->isEnabled());
        };
        follow();
        connect(command, &QAction::changed, item, follow);
        connect(item, &QAction::triggered, command, &QAction::trigger);
        // A command's shortcut shows on its item, which answers the key in the whole frame; Qt would
        // call a key that two actions answer ambiguous and run neither, so the command itself only
        // holds it (answering it only while its toolbar button has the focus, which it never takes).
        if (!command->shortcut().isEmpty()) {
            item->setShortcut(command->shortcut());
            command->setShortcutContext(Qt::WidgetShortcut);
        }
    }
}

void TMainForm::AddWindowKeys()
{
    // Keys of the image windows that have no menu item: closing a document window as the platform
    // does, and zooming.
    auto add = [this](const char* name, const QList<QKeySequence>& keys, std::function<void(TMDIChild&)> run) {
        auto* action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, run] {
            RunGuarded(this, [&] {
                if (TMDIChild* child = ActiveImageWindow())
                    run(*child);
            });
        });
        addAction(action);
    };
    add("CloseImageWindow", { QKeySequence(Qt::CTRL | Qt::Key_F4) }, [](TMDIChild& child) { child.close(); });
    add("ZoomIn", { QKeySequence(Qt::CTRL | Qt::Key_Equal), QKeySequence(Qt::CTRL | Qt::Key_Plus) },
        [](TMDIChild& child) { child.SetZoom(StepZoom(child.Zoom(), 1)); });
    add("ZoomOut", { QKeySequence(Qt::CTRL | Qt::Key_Minus) },
        [](TMDIChild& child) { child.SetZoom(StepZoom(child.Zoom(), -1)); });
    add("ZoomActualSize", { QKeySequence(Qt::CTRL | Qt::Key_0) }, [](TMDIChild& child) { child.SetZoom(1.0); });
    add("ZoomToFit", { QKeySequence(Qt::CTRL | Qt::Key_9) }, [](TMDIChild& child) { child.SetZoom(child.FitZoom()); });
}

void TMainForm::FormCreate()
{
    OpenPictureDialog->Filter = QString::fromStdString(GraphicFilter(TPicture::Formats(), TBitmap::StaticClass()));
    OpenPictureDialog->DefaultExt
        = QString::fromStdString(GraphicExtension(TPicture::Formats(), TBitmap::StaticClass()));
    UpdateCommandStates();
}

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!placementClosed_) {
        // The window manager adds its frame after the window is mapped; the outer size is corrected
        // once the frame is known, and only during the first moments, so a user's move stands.
        QTimer::singleShot(1500, this, [this] { placementClosed_ = true; });
        PlaceOuterFrame();
    }
}

bool TMainForm::event(QEvent* event)
{
    if (!placementClosed_ && !outerPlaced_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        PlaceOuterFrame();
    return QMainWindow::event(event);
}

void TMainForm::PlaceOuterFrame()
{
    if (outerPlaced_ || !isVisible())
        return;
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    if (frame == client)
        return; // no frame yet
    outerPlaced_ = true;
    const QSize decoration = frame.size() - client.size();
    resize(kOuterSize - decoration);
    if (const QScreen* screen = this->screen()) {
        const QPoint topLeft
            = screen->availableGeometry().center() - QPoint(kOuterSize.width() / 2, kOuterSize.height() / 2);
        move(topLeft);
    }
}

QList<TMDIChild*> TMainForm::ImageWindows() const
{
    // A released window is gone from the workspace's own list at once but is destroyed only when
    // control is back in the event loop; until then it still counts.
    return Workspace()->viewport()->findChildren<TMDIChild*>(Qt::FindDirectChildrenOnly);
}

// The current window stays known while another program or a dialog holds the focus, so Save after
// its dialog, and captures that minimise the program, still find it.
TMDIChild* TMainForm::ActiveImageWindow() const
{
    return qobject_cast<TMDIChild*>(Workspace()->currentSubWindow());
}

void TMainForm::UpdateCommandStates()
{
    ui_->FileOpen1->setEnabled(true);
    const bool any = !ImageWindows().isEmpty();
    ui_->FileClose1->setEnabled(any);
    ui_->FileSave1->setEnabled(any);
    ui_->WindowCascade1->setEnabled(any);
    ui_->WindowTileVertical1->setEnabled(any);
    ui_->WindowArrangeAll1->setEnabled(any);
}

void TMainForm::UpdateWindowCommands()
{
    const bool any = !Workspace()->subWindowList().isEmpty();
    ui_->WindowCascade1->setEnabled(any);
    ui_->WindowTileHorizontal1->setEnabled(any);
    ui_->WindowTileVertical1->setEnabled(any);
    ui_->WindowArrangeAll1->setEnabled(any);
    ui_->FileClose1->setEnabled(ActiveImageWindow() != nullptr);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Workspace()->viewport() && event->type() == QEvent::MouseMove)
        RunGuarded(this, [this] { FormMouseMove(); });
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::FormMouseMove()
{
    UpdateCommandStates();
}

int TMainForm::CaptionStep() const
{
    return style()->pixelMetric(QStyle::PM_TitleBarHeight) + style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
}

TMDIChild* TMainForm::CreateImageWindow(const QString& title)
{
    auto* child = new TMDIChild;
    Workspace()->addSubWindow(child);
    child->setGeometry(DefaultChildPlacement(Workspace()->viewport()->rect(), placedWindows_++, CaptionStep()));
    child->show();
    Workspace()->setActiveSubWindow(child);
    child->setWindowTitle(title);
    if (QFileInfo(title).isFile()) {
        child->Image->LoadFromFile(LocalFileName(title));
        // Opened pictures scroll like captures do.
        child->ScrollBox->SetHorzRange(child->Image->Picture().Width());
        child->ScrollBox->SetVertRange(child->Image->Picture().Height());
    }
    return child;
}

void TMainForm::FileOpen1Execute(QObject*)
{
    if (OpenPictureDialog->Execute()) {
        OpenTiming::Accepted(OpenPictureDialog->FileName.toStdString());
        CreateImageWindow(OpenPictureDialog->FileName);
    }
    UpdateCommandStates();
}

void TMainForm::FileSave1Execute(QObject*)
{
    if (!SavePictureDialog1->Execute())
        return;
    if (TMDIChild* child = ActiveImageWindow())
        child->Image->Picture().SaveToFile(LocalFileName(SavePictureDialog1->FileName));
}

void TMainForm::FileExit1Execute(QObject*)
{
    close();
}

void TMainForm::FileClose1Execute(QObject*)
{
    if (TMDIChild* child = ActiveImageWindow())
        child->close();
    UpdateCommandStates();
}

void TMainForm::CaptureInto(const QString& title, std::unique_ptr<TBitmap> (ICaptureSource::*operation)())
{
    // The new window is the active one.
    TMDIChild* child = CreateImageWindow(title);
    std::unique_ptr<TBitmap> bitmap = OxaScreenCapture1 ? (OxaScreenCapture1->*operation)() : nullptr;
    // The program was minimised, or an overlay held the input, and Qt has deactivated the window
    // meanwhile: make it the active one again, title bar included.
    if (Workspace()->activeSubWindow() != child || !(child->windowState() & Qt::WindowActive)) {
        Workspace()->setActiveSubWindow(nullptr);
        Workspace()->setActiveSubWindow(child);
    }
    child->Image->AssignGraphic(bitmap.get());
    child->ScrollBox->SetHorzRange(child->Image->Picture().Width());
    child->ScrollBox->SetVertRange(child->Image->Picture().Height());
    child->Image->repaint();
    UpdateCommandStates();
}

void TMainForm::CaptureDesktop1Execute(QObject*)
{
    CaptureInto(QStringLiteral("Captured Desktop"), &ICaptureSource::CaptureDesktop);
}

void TMainForm::CaptureActive1Execute(QObject*)
{
    AnnounceWindowPicking();
    CaptureInto(QStringLiteral("Captured Active Window"), &ICaptureSource::CaptureActiveWindow);
}

void TMainForm::CaptureObject1Execute(QObject*)
{
    AnnounceWindowPicking();
    CaptureInto(QStringLiteral("Captured Object"), &ICaptureSource::CaptureObject);
}

void TMainForm::AnnounceWindowPicking()
{
    // A desktop that cannot tell its windows apart lets the user pick the window in its own dialog.
    constexpr int kShownMs = 10000;
    if (DefaultCapturePlatform().PicksWindowsInteractively())
        statusBar()->showMessage(QString::fromUtf8("请在桌面的截图对话框中选择要抓取的窗口"), kShownMs);
}

void TMainForm::CaptureArea1Execute(QObject*)
{
    CaptureInto(QStringLiteral("Captured Rect"), &ICaptureSource::CaptureArea);
}

TMainForm::Arrangement TMainForm::ArrangeableWindows(QMdiArea::WindowOrder order) const
{
    // Shown windows that are not minimised; icons keep their row at the bottom.
    Arrangement arrangement;
    int iconHeight = 0;
    bool hasMinimised = false;
    for (QMdiSubWindow* window : Workspace()->subWindowList(order)) {
        if (window->isHidden())
            continue;
        if (window->isMinimized()) {
            hasMinimised = true;
            iconHeight = std::max(iconHeight, window->height());
            continue;
        }
        arrangement.windows.append(window);
    }
    arrangement.area = TileArea(Workspace()->viewport()->rect(), hasMinimised, iconHeight);
    return arrangement;
}

void TMainForm::PlaceWindows(const QList<QMdiSubWindow*>& windows, const QList<QRect>& rects)
{
    for (qsizetype i = 0; i < windows.size(); ++i) {
        if (windows[i]->isMaximized())
            windows[i]->showNormal();
        windows[i]->setGeometry(rects[i]);
    }
}

void TMainForm::WindowCascade1Execute(QObject*)
{
    // Bottom-most window first, at the top-left; the stacking order stays.
    const Arrangement arrangement = ArrangeableWindows(QMdiArea::StackingOrder);
    const QSize newWindowSize = DefaultChildPlacement(Workspace()->viewport()->rect(), 0, CaptionStep()).size();
    PlaceWindows(arrangement.windows,
        CascadeRects(arrangement.area, static_cast<int>(arrangement.windows.size()), CaptionStep(), newWindowSize));
}

void TMainForm::Tile(bool horizontal)
{
    // Topmost first, as the platform tiles.
    Arrangement arrangement = ArrangeableWindows(QMdiArea::StackingOrder);
    std::reverse(arrangement.windows.begin(), arrangement.windows.end());
    PlaceWindows(arrangement.windows,
        TileRects(arrangement.area, static_cast<int>(arrangement.windows.size()),
            horizontal ? TileMode::Horizontal : TileMode::Vertical));
}

void TMainForm::WindowTileHorizontal1Execute(QObject*)
{
    Tile(true);
}

void TMainForm::WindowTileVertical1Execute(QObject*)
{
    Tile(false);
}

void TMainForm::WindowArrangeAll1Execute(QObject*)
{
    QList<QMdiSubWindow*> icons;
    QList<QSize> sizes;
    for (QMdiSubWindow* window : Workspace()->subWindowList(QMdiArea::CreationOrder)) {
        if (window->isMinimized() && !window->isHidden()) {
            icons.append(window);
            sizes.append(window->size());
        }
    }
    const QList<QPoint> positions = ArrangeIconPositions(Workspace()->viewport()->rect(), sizes);
    for (qsizetype i = 0; i < icons.size(); ++i)
        icons[i]->move(positions[i]);
}

void TMainForm::N16Click(QObject*)
{
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(Maker::kFeedbackMail)));
}

void TMainForm::N2Click(QObject*)
{
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(Maker::kHomePage)));
}

void TMainForm::N3Click(QObject*)
{
    if (aboutBox_)
        aboutBox_->exec();
}

void TMainForm::RebuildWindowList()
{
    for (QAction* item : windowListItems_) {
        ui_->Window1->removeAction(item);
        delete item;
    }
    windowListItems_.clear();
    const QList<QMdiSubWindow*> windows = Workspace()->subWindowList(QMdiArea::CreationOrder);
    if (windows.isEmpty())
        return;
    windowListItems_.append(ui_->Window1->addSeparator());
    const QMdiSubWindow* active = Workspace()->currentSubWindow();
    int number = 0;
    for (QMdiSubWindow* window : windows) {
        ++number;
        QString title = window->windowTitle();
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));
        const QString text = number < 10 ? QStringLiteral("&%1 %2").arg(number).arg(title)
                                         : QStringLiteral("%1 %2").arg(number).arg(title);
        QAction* item = ui_->Window1->addAction(text);
        // Only the active entry carries a mark; the others show no empty box.
        item->setCheckable(window == active);
        item->setChecked(window == active);
        QPointer<QMdiSubWindow> target(window);
        connect(item, &QAction::triggered, this, [this, target] {
            if (!target)
                return;
            if (target->isMinimized())
                target->showNormal();
            Workspace()->setActiveSubWindow(target);
        });
        windowListItems_.append(item);
    }
}

void TMainForm::OpenFiles(const QStringList& paths)
{
    for (const QString& path : paths) {
        RunGuarded(this, [&] {
            CreateImageWindow(path);
            UpdateCommandStates();
        });
    }
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TMainForm::dragMoveEvent(QDragMoveEvent* event)
{
    if (!DroppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event)
{
    const QStringList paths = DroppedFiles(event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    // Opened once the drop is over: the dragging program waits for its answer, and an error box
    // must not keep it waiting.
    QTimer::singleShot(0, this, [this, paths] { OpenFiles(paths); });
}
