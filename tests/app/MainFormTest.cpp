// The frame: command states and when they change, menus and toolbar, window commands, capture
// handlers, error box, Help and Exit.
#include "AppTestSupport.h"
#include "app/Childwin.h"
#include "app/ErrorBox.h"
#include "app/ImageControl.h"
#include "app/Main.h"
#include "app/QtDialogHooks.h"
#include "app/ScrollBox.h"
#include "framework/Bitmap.h"
#include "framework/DialogHooks.h"

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

namespace {

QAction* Command(TMainForm& form, const char* name)
{
    auto* action = form.findChild<QAction*>(QLatin1String(name));
    if (!action)
        qFatal("no command %s", name);
    return action;
}

QStringList EnabledOf(TMainForm& form, const QStringList& names)
{
    QStringList enabled;
    for (const QString& name : names)
        if (Command(form, name.toLatin1().constData())->isEnabled())
            enabled.append(name);
    enabled.sort();
    return enabled;
}

const QStringList kAllCommands = { "FileOpen1", "FileClose1", "FileSave1", "FileExit1", "CaptureDesktop1",
    "CaptureArea1", "CaptureActive1", "CaptureObject1", "WindowCascade1", "WindowTileHorizontal1",
    "WindowTileVertical1", "WindowArrangeAll1", "N16", "N2", "N3" };
QStringList Sorted(QStringList names)
{
    names.sort();
    return names;
}

const QStringList kAlwaysAvailable = { "FileOpen1", "FileExit1", "CaptureDesktop1", "CaptureArea1", "CaptureActive1",
    "CaptureObject1", "N16", "N2", "N3" };

QImage Glyph(int index)
{
    return QImage(QStringLiteral(":/glyphs/%1.png").arg(index, 2, 10, QLatin1Char('0')))
        .convertToFormat(QImage::Format_ARGB32);
}

QImage IconImage(const QAction* action)
{
    return action->icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

// Records the links the desktop is asked to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls.append(url); }
};

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitAppTests(); }

    void commandStatesAtStart()
    {
        TMainForm form;
        QCOMPARE(EnabledOf(form, kAllCommands), Sorted(kAlwaysAvailable));
        form.show();
        RunEventLoop();
        QCOMPARE(EnabledOf(form, kAllCommands), Sorted(kAlwaysAvailable));
    }

    void commandStatesFollowWindows()
    {
        TMainForm form;
        FakeCaptureSource source; // returns none
        form.OxaScreenCapture1 = &source;
        form.show();
        RunEventLoop();
        QTest::qWait(0);
        Command(form, "CaptureDesktop1")->trigger();
        // UpdateCommandStates ran; horizontal tiling is only set when the program is next idle.
        const QStringList afterRefresh = kAlwaysAvailable
            + QStringList { "FileClose1", "FileSave1", "WindowCascade1", "WindowTileVertical1", "WindowArrangeAll1" };
        QCOMPARE(EnabledOf(form, kAllCommands).size(), afterRefresh.size());
        for (const QString& name : afterRefresh)
            QVERIFY2(Command(form, name.toLatin1().constData())->isEnabled(), qPrintable(name));
        QVERIFY(!Command(form, "WindowTileHorizontal1")->isEnabled());
        RunEventLoop();
        QVERIFY(Command(form, "WindowTileHorizontal1")->isEnabled());
        QVERIFY(Command(form, "FileClose1")->isEnabled());

        // Closing the last window through Close: the window still counts while the command refreshes,
        // so everything stays available until the program is idle; Save stays until the next refresh.
        Command(form, "FileClose1")->trigger();
        QVERIFY(Command(form, "FileSave1")->isEnabled());
        QVERIFY(Command(form, "WindowCascade1")->isEnabled());
        RunEventLoop();
        QVERIFY(form.ImageWindows().isEmpty());
        QCOMPARE(EnabledOf(form, kAllCommands), Sorted(kAlwaysAvailable + QStringList { "FileSave1" }));
        // A mouse move over the empty workspace refreshes.
        QMouseEvent move(
            QEvent::MouseMove, QPointF(10, 10), QPointF(10, 10), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form.Workspace()->viewport(), &move);
        QCOMPARE(EnabledOf(form, kAllCommands), Sorted(kAlwaysAvailable));
    }

    void closeBoxLeavesSaveAvailable()
    {
        TMainForm form;
        form.show();
        form.CreateImageWindow(QStringLiteral("one"));
        form.UpdateCommandStates();
        RunEventLoop();
        form.ActiveImageWindow()->close();
        RunEventLoop();
        QVERIFY(form.ImageWindows().isEmpty());
        QCOMPARE(EnabledOf(form, kAllCommands), Sorted(kAlwaysAvailable + QStringList { "FileSave1" }));
        // Save with no active window shows its dialog and writes nothing.
        QVERIFY(WithNextModal([&] { Command(form, "FileSave1")->trigger(); }, [](QWidget*) {}));
    }

    void menusAsDescribed()
    {
        TMainForm form;
        const QList<QAction*> menus = form.menuBar()->actions();
        QStringList titles;
        for (QAction* menu : menus)
            titles.append(menu->text());
        QCOMPARE(titles, (QStringList { "文件(&F)", "抓屏(&C)", "窗口(&W)", "帮助(&H)" }));

        struct Item {
            const char* caption;
            const char* shortcut;
            int glyph; // -1: none
        };
        // The menu items are objects of their own, bound to the commands.
        const QList<QStringList> names = {
            { "FileOpenItem", "FileCloseItem", "FileSaveItem", "N1", "FileExitItem" },
            { "Desktop1", "Area1", "ActiveWindow1", "Object1" },
            { "WindowCascadeItem", "WindowTileItem", "WindowArrangeItem" },
            { "N16", "N2", "N3" },
        };
        const QList<QList<Item>> expected = {
            { { "打开", "Ctrl+O", 7 }, { "关闭", "", -1 }, { "保存", "Ctrl+S", 8 }, { nullptr, "", -1 },
                { "退出", "", 23 } },
            { { "桌面", "Ctrl+D", 19 }, { "区域定制", "Ctrl+Q", 20 }, { "窗口", "Ctrl+C", 21 },
                { "选定对象", "Ctrl+X", 22 } },
            { { "层叠", "", 17 }, { "平铺", "", 15 }, { "自定义", "", -1 } },
            { { "反馈意见和建议", "", 25 }, { "访问软件主页", "", 26 }, { "关于本软件", "", 27 } },
        };
        for (qsizetype m = 0; m < menus.size(); ++m) {
            const QList<QAction*> items = menus[m]->menu()->actions();
            QCOMPARE(items.size(), expected[m].size());
            for (qsizetype i = 0; i < items.size(); ++i) {
                QCOMPARE(items[i]->objectName(), names[m][i]);
                const Item& want = expected[m][i];
                if (!want.caption) {
                    QVERIFY(items[i]->isSeparator());
                    continue;
                }
                QCOMPARE(items[i]->text(), QString::fromUtf8(want.caption));
                QCOMPARE(items[i]->shortcut(), QKeySequence(QString::fromLatin1(want.shortcut)));
                if (want.glyph < 0)
                    QVERIFY(items[i]->icon().isNull());
                else
                    QCOMPARE(IconImage(items[i]), Glyph(want.glyph));
            }
        }
    }

    void toolbarAsDescribed()
    {
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* bar = form.findChild<QToolBar*>(QStringLiteral("ToolBar2"));
        QVERIFY(bar);
        QCOMPARE(bar->height(), 30);
        struct Button {
            const char* command; // null: separator
            const char* hint;
        };
        const Button expected[] = {
            { "FileOpen1", "打开图像文件" },
            { "FileSave1", "保存当前文件" },
            { nullptr, nullptr },
            { "WindowCascade1", "窗口层叠" },
            { "WindowTileHorizontal1", "窗口平铺" },
            { "WindowTileVertical1", "窗口竖排" },
            { nullptr, nullptr },
            { "CaptureDesktop1", "抓取整个桌面" },
            { "CaptureArea1", "抓取选定范围" },
            { "CaptureActive1", "抓取活动窗口" },
            { "CaptureObject1", "抓取选定对象" },
            { nullptr, nullptr },
            { "FileExit1", "退出Kavrel" },
        };
        const QList<QAction*> actions = bar->actions();
        QCOMPARE(actions.size(), qsizetype(std::size(expected)));
        int x = -1;
        for (qsizetype i = 0; i < actions.size(); ++i) {
            QWidget* widget = bar->widgetForAction(actions[i]);
            QVERIFY(widget);
            QVERIFY2(widget->x() > x, "toolbar items run from left to right");
            x = widget->x();
            if (!expected[i].command) {
                QVERIFY(actions[i]->isSeparator());
                QCOMPARE(widget->width(), 8);
                continue;
            }
            QCOMPARE(actions[i]->objectName(), QString::fromLatin1(expected[i].command));
            QCOMPARE(actions[i]->toolTip(), QString::fromUtf8(expected[i].hint));
            auto* button = qobject_cast<QToolButton*>(widget);
            QVERIFY(button);
            QCOMPARE(button->width(), 23);
            QVERIFY(button->autoRaise());
            QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonIconOnly);
        }
        QCOMPARE(bar->widgetForAction(actions.first())->x(), 5);
        // Tiling vertically only on the toolbar; Close and Arrange only in the menu.
        for (const char* menuOnly : { "FileClose1", "WindowArrangeAll1" })
            QVERIFY(!actions.contains(Command(form, menuOnly)));
    }

    void glyphListHoldsTwentyEightCrispImages()
    {
        TMainForm form;
        QCOMPARE(form.ImageList1.Count(), 28);
        for (int i = 0; i < form.ImageList1.Count(); ++i) {
            const QImage image = form.ImageList1.Icon(i).pixmap(16, 16).toImage();
            QCOMPARE(image.size(), QSize(16, 16));
            QCOMPARE(QImage(QStringLiteral(":/glyphs/%1.png").arg(i, 2, 10, QLatin1Char('0'))).size(), QSize(16, 16));
        }
        QVERIFY(form.ImageList1.Icon(28).isNull());
        QVERIFY(form.ImageList1.Icon(-1).isNull());
    }

    void frameworkHooksUseQtDialogs()
    {
        InstallQtDialogHooks();
        QString caption, text;
        bool answer = false;
        QVERIFY(WithNextModal([&] { answer = WarningOkCancel("Replace the file?"); },
            [&](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                QVERIFY(box);
                caption = box->windowTitle();
                text = box->text();
                QCOMPARE(box->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
                box->button(QMessageBox::Ok)->click();
            }));
        QVERIFY(answer);
        QCOMPARE(caption, QStringLiteral("Kavrel V2.5"));
        QCOMPARE(text, QStringLiteral("Replace the file?"));
        QVERIFY(WithNextModal([&] { answer = WarningOkCancel("Again?"); },
            [&](QWidget* modal) { qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Cancel)->click(); }));
        QVERIFY(!answer);
        MessageBeep(); // reaches QApplication::beep without a dialog
    }

    void frameAndStatusBar()
    {
        TMainForm form;
        QCOMPARE(form.windowTitle(), QStringLiteral("【Kavrel】V2.5 —www.kavrel.example.org QQ:10000"));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.frameGeometry().size(), QSize(558, 483));
        QStatusBar* bar = form.statusBar();
        QCOMPARE(bar->height(), 19);
        auto* first = form.findChild<QLabel*>(QStringLiteral("StatusPanel1"));
        auto* second = form.findChild<QLabel*>(QStringLiteral("StatusPanel2"));
        QVERIFY(first && second);
        QCOMPARE(first->width(), 154);
        QCOMPARE(first->text(), QStringLiteral("『Kavrel 开发组出品』"));
        QCOMPARE(second->text(), QStringLiteral("kavrel.example.net QQ:10000"));
        QVERIFY(second->x() > first->x() + 150);
        QVERIFY(second->geometry().right() > bar->width() - 40);
    }

    void captureHandlersFillNewWindows_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("operation");
        QTest::newRow("desktop") << "CaptureDesktop1"
                                 << "Captured Desktop"
                                 << "desktop";
        QTest::newRow("active") << "CaptureActive1"
                                << "Captured Active Window"
                                << "active";
        QTest::newRow("object") << "CaptureObject1"
                                << "Captured Object"
                                << "object";
        QTest::newRow("area") << "CaptureArea1"
                              << "Captured Rect"
                              << "area";
    }

    void captureHandlersFillNewWindows()
    {
        QFETCH(QString, command);
        QFETCH(QString, title);
        QFETCH(QString, operation);
        TMainForm form;
        FakeCaptureSource source;
        source.width = 900;
        source.height = 700;
        form.OxaScreenCapture1 = &source;
        form.show();
        Command(form, command.toLatin1().constData())->trigger();
        Command(form, command.toLatin1().constData())->trigger();
        QCOMPARE(source.calls, (std::vector<std::string> { operation.toStdString(), operation.toStdString() }));
        const QList<TMDIChild*> windows = form.ImageWindows();
        QCOMPARE(windows.size(), 2);
        for (TMDIChild* window : windows) {
            QCOMPARE(window->windowTitle(), title);
            QCOMPARE(window->Image->Picture().Width(), 900);
            QCOMPARE(window->ScrollBox->HorzRange(), 900);
            QCOMPARE(window->ScrollBox->VertRange(), 700);
            QVERIFY(!window->ScrollBox->AutoRange());
        }
        // Each window holds its own copy.
        QVERIFY(windows[0]->Image->Picture().Graphic() != windows[1]->Image->Picture().Graphic());
    }

    void cancelledCaptureLeavesEmptyWindow()
    {
        TMainForm form;
        FakeCaptureSource source; // returns none
        form.OxaScreenCapture1 = &source;
        form.show();
        Command(form, "CaptureArea1")->trigger();
        TMDIChild* window = form.ActiveImageWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("Captured Rect"));
        QVERIFY(window->Image->Picture().Graphic() == nullptr);
        QCOMPARE(window->ScrollBox->HorzRange(), 0);
        QCOMPARE(window->ScrollBox->VertRange(), 0);
        QVERIFY(!window->ScrollBox->AutoRange());
        QVERIFY(Command(form, "FileSave1")->isEnabled());
    }

    void captureShortcutsWinInImageWindows()
    {
        TMainForm form;
        FakeCaptureSource source;
        form.OxaScreenCapture1 = &source;
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        TMDIChild* window = form.CreateImageWindow(QStringLiteral("focus here"));
        window->ScrollBox->setFocus();
        QTest::qWait(10);
        QWidget* focused = QApplication::focusWidget();
        QVERIFY(focused && window->isAncestorOf(focused));
        for (const QKeySequence& keys :
            { QKeySequence(QStringLiteral("Ctrl+C")), QKeySequence(QStringLiteral("Ctrl+X")),
                QKeySequence(QStringLiteral("Ctrl+Q")), QKeySequence(QStringLiteral("Ctrl+D")) })
            QTest::keySequence(QApplication::focusWidget(), keys);
        QCOMPARE(source.calls, (std::vector<std::string> { "active", "object", "area", "desktop" }));

        // The commands' own shortcuts, also while the menu bar holds the focus.
        form.menuBar()->setFocus();
        QVERIFY(
            WithNextModal([&] { QTest::keySequence(&form, QKeySequence(QStringLiteral("Ctrl+O"))); }, [](QWidget*) {}));
        // Ctrl+F4 closes the active image window as its close box does.
        const qsizetype open = form.ImageWindows().size();
        QPointer<TMDIChild> active = form.ActiveImageWindow();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        active->ScrollBox->setFocus();
        QTest::keySequence(active->ScrollBox, QKeySequence(QStringLiteral("Ctrl+F4")));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!active);
        QCOMPARE(form.ImageWindows().size(), open - 1);
    }

    void newCaptureWindowIsActiveAfterTheProgramWasAway()
    {
        TMainForm form;
        FakeCaptureSource source;
        source.width = 20;
        source.height = 10;
        // Minimising the program, or an overlay taking the input, deactivates Qt's active window.
        source.during = [] {
            QEvent away(QEvent::ApplicationDeactivate);
            QCoreApplication::sendEvent(qApp, &away);
        };
        form.OxaScreenCapture1 = &source;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.CreateImageWindow(QStringLiteral("older"));
        Command(form, "CaptureArea1")->trigger();
        TMDIChild* window = form.ActiveImageWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("Captured Rect"));
        QVERIFY(window->windowState() & Qt::WindowActive); // its title bar is drawn active
    }

    void failureShowsErrorBoxAndLeavesWindow()
    {
        TMainForm form;
        FakeCaptureSource source;
        source.failure = "Screen read failed";
        form.OxaScreenCapture1 = &source;
        form.show();
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QList<QAbstractButton*> buttons;
        const bool shown = WithNextModal([&] { Command(form, "CaptureDesktop1")->trigger(); },
            [&](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                QVERIFY(box);
                caption = box->windowTitle();
                text = box->text();
                icon = box->icon();
                buttons = box->buttons();
            });
        QVERIFY(shown);
        QCOMPARE(caption, QStringLiteral("Kavrel V2.5"));
        QCOMPARE(text, QStringLiteral("Screen read failed."));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(buttons.size(), 1);
        // The window made before the failure stays, empty; the refresh after the capture was skipped.
        QCOMPARE(form.ImageWindows().size(), 1);
        QCOMPARE(form.ActiveImageWindow()->windowTitle(), QStringLiteral("Captured Desktop"));
        QVERIFY(!Command(form, "FileSave1")->isEnabled());
    }

    void errorBoxTextRule_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "Not a valid GIF file"
                                << "Not a valid GIF file.";
        QTest::newRow("full stop") << "Not a valid GIF file."
                                   << "Not a valid GIF file.";
        QTest::newRow("digit") << "Cannot open file /tmp/a1"
                               << "Cannot open file /tmp/a1.";
        QTest::newRow("closing parenthesis") << "未知的图象文件扩展名 (.xyz)"
                                             << "未知的图象文件扩展名 (.xyz)";
        QTest::newRow("hyphen is below the stop") << "range 1-"
                                                  << "range 1-";
        QTest::newRow("blank") << "trailing "
                               << "trailing ";
        QTest::newRow("slash is above the stop") << "path/"
                                                 << "path/.";
        QTest::newRow("chinese") << "读取失败"
                                 << "读取失败.";
        QTest::newRow("empty") << ""
                               << "";
    }

    void errorBoxTextRule()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(QString::fromStdString(ErrorBoxText(message.toStdString())), shown);
    }

    void openedFileGetsScrollRanges()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("picture.bmp"));
        TBitmap bitmap;
        bitmap.SetPixelFormat(pf24bit);
        bitmap.SetSize(640, 480);
        bitmap.SaveToFile(path.toStdString());

        TMainForm form;
        form.show();
        TMDIChild* window = form.CreateImageWindow(path);
        QCOMPARE(window->windowTitle(), path);
        QCOMPARE(window->Image->Picture().Width(), 640);
        QCOMPARE(window->ScrollBox->HorzRange(), 640);
        QCOMPARE(window->ScrollBox->VertRange(), 480);

        // A name that is no file gives an empty window and no failure.
        TMDIChild* missing = form.CreateImageWindow(dir.filePath(QStringLiteral("missing.bmp")));
        QVERIFY(missing->Image->Picture().Graphic() == nullptr);
        QVERIFY(missing->ScrollBox->AutoRange());

        // An unregistered extension fails after the window exists; the window stays, empty.
        QFile odd(dir.filePath(QStringLiteral("picture.xyz")));
        QVERIFY(odd.open(QIODevice::WriteOnly));
        odd.write("data");
        odd.close();
        QVERIFY_THROWS_EXCEPTION(std::exception, form.CreateImageWindow(odd.fileName()));
        QCOMPARE(form.ImageWindows().size(), 3);
        QCOMPARE(form.ActiveImageWindow()->windowTitle(), odd.fileName());
        QVERIFY(form.ActiveImageWindow()->Image->Picture().Graphic() == nullptr);
    }

    void windowListMenuMarksActive()
    {
        TMainForm form;
        form.show();
        form.CreateImageWindow(QStringLiteral("first"));
        form.CreateImageWindow(QStringLiteral("second & more"));
        form.Workspace()->setActiveSubWindow(form.ImageWindows().first());
        auto* menu = form.findChild<QMenu*>(QStringLiteral("Window1"));
        QVERIFY(menu);
        emit menu->aboutToShow();
        const QList<QAction*> items = menu->actions();
        QCOMPARE(items.size(), 3 + 1 + 2);
        QVERIFY(items[3]->isSeparator());
        QCOMPARE(items[4]->text(), QStringLiteral("&1 first"));
        QCOMPARE(items[5]->text(), QStringLiteral("&2 second && more"));
        QVERIFY(items[4]->isChecked());
        QVERIFY(!items[5]->isChecked());
        QVERIFY(!items[5]->isCheckable()); // no empty check box beside the other windows
        items[5]->trigger();
        QCOMPARE(form.ActiveImageWindow()->windowTitle(), QStringLiteral("second & more"));
        emit menu->aboutToShow();
        QCOMPARE(menu->actions().size(), 6);
        QVERIFY(menu->actions()[5]->isChecked());
    }

    void tilingCommands()
    {
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        for (int i = 0; i < 3; ++i)
            form.CreateImageWindow(QStringLiteral("w%1").arg(i));
        RunEventLoop(); // the window commands become available when the program is idle
        const QRect area = form.Workspace()->viewport()->rect();

        Command(form, "WindowTileHorizontal1")->trigger();
        QList<QRect> rects;
        for (TMDIChild* window : form.ImageWindows())
            rects.append(window->geometry());
        std::sort(rects.begin(), rects.end(), [](const QRect& a, const QRect& b) { return a.y() < b.y(); });
        int y = area.top();
        for (const QRect& r : rects) {
            QCOMPARE(r.x(), area.x());
            QCOMPARE(r.width(), area.width());
            QCOMPARE(r.y(), y);
            y += r.height();
        }
        QCOMPARE(y, area.bottom() + 1);
        // The active window comes first.
        QCOMPARE(form.ActiveImageWindow()->geometry(), rects.first());

        Command(form, "WindowTileVertical1")->trigger();
        rects.clear();
        for (TMDIChild* window : form.ImageWindows())
            rects.append(window->geometry());
        std::sort(rects.begin(), rects.end(), [](const QRect& a, const QRect& b) { return a.x() < b.x(); });
        int x = area.left();
        for (const QRect& r : rects) {
            QCOMPARE(r.y(), area.y());
            QCOMPARE(r.height(), area.height());
            QCOMPARE(r.x(), x);
            x += r.width();
        }
        QCOMPARE(x, area.right() + 1);

        // Cascade: one size for all, each a title bar below and right of the one beneath it, the
        // stack filling the workspace to its bottom-right corner, no window smaller than a new one.
        const QSize newWindow = form.CreateImageWindow(QStringLiteral("w3"))->size();
        const int titleBar = form.ActiveImageWindow()->contentsMargins().top();
        for (int count : { 4, 9 }) {
            while (form.ImageWindows().size() < count)
                form.CreateImageWindow(QStringLiteral("more"));
            Command(form, "WindowCascade1")->trigger();
            const QList<QMdiSubWindow*> stack = form.Workspace()->subWindowList(QMdiArea::StackingOrder);
            QCOMPARE(stack.first()->pos(), area.topLeft());
            QCOMPARE(stack.last(), form.Workspace()->activeSubWindow());
            for (qsizetype i = 0; i < stack.size(); ++i) {
                QVERIFY(area.contains(stack[i]->geometry()));
                QCOMPARE(stack[i]->size(), stack.first()->size());
                QVERIFY(stack[i]->width() >= newWindow.width() && stack[i]->height() >= newWindow.height());
                if (i > 0 && stack[i]->pos() != area.topLeft()) {
                    const QPoint step = stack[i]->pos() - stack[i - 1]->pos();
                    QCOMPARE(step.x(), step.y());
                    QVERIFY(step.y() >= titleBar && step.y() <= titleBar + 8);
                }
            }
            if (count == 4)
                QCOMPARE(stack.last()->geometry().bottomRight(), area.bottomRight());
        }
    }

    void arrangeMovesOnlyMinimisedWindows()
    {
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        TMDIChild* normal = form.CreateImageWindow(QStringLiteral("normal"));
        TMDIChild* icon1 = form.CreateImageWindow(QStringLiteral("icon one"));
        TMDIChild* icon2 = form.CreateImageWindow(QStringLiteral("icon two"));
        RunEventLoop();
        const QRect normalBefore = normal->geometry();
        // "Arrange" with nothing minimised changes nothing.
        Command(form, "WindowArrangeAll1")->trigger();
        QCOMPARE(normal->geometry(), normalBefore);

        icon1->showMinimized();
        icon2->showMinimized();
        icon1->move(100, 50);
        icon2->move(10, 10);
        Command(form, "WindowArrangeAll1")->trigger();
        const QRect area = form.Workspace()->viewport()->rect();
        QCOMPARE(icon1->geometry().bottom(), area.bottom());
        QCOMPARE(icon2->geometry().bottom(), area.bottom());
        QCOMPARE(icon1->x(), area.left());
        QCOMPARE(icon2->x(), icon1->geometry().right() + 1);
        QCOMPARE(normal->geometry(), normalBefore);

        // Tiling leaves the row of icons free.
        Command(form, "WindowTileHorizontal1")->trigger();
        QCOMPARE(normal->geometry().bottom(), area.bottom() - icon1->height());
    }

    void helpCommandsOpenLinks()
    {
        TMainForm form;
        UrlRecorder recorder;
        for (const char* scheme : { "http", "https", "mailto" })
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &recorder, "Open");
        Command(form, "N16")->trigger();
        Command(form, "N2")->trigger();
        for (const char* scheme : { "http", "https", "mailto" })
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
        QCOMPARE(recorder.urls.size(), 2);
        QCOMPARE(recorder.urls[0].scheme(), QStringLiteral("mailto"));
        QCOMPARE(recorder.urls[1].scheme(), QStringLiteral("http"));
        QCOMPARE(recorder.urls[1].host(), QStringLiteral("www.kavrel.example.org"));
    }

    void exitClosesWithoutPrompt()
    {
        TMainForm form;
        FakeCaptureSource source;
        source.width = 10;
        source.height = 10;
        form.OxaScreenCapture1 = &source;
        form.show();
        Command(form, "CaptureDesktop1")->trigger();
        Command(form, "CaptureDesktop1")->trigger();
        QVERIFY(!WithNextModal([&] { Command(form, "FileExit1")->trigger(); }, [](QWidget*) {}));
        QVERIFY(!form.isVisible());
    }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
