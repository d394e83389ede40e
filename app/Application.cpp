#include "app/Application.h"

#include "app/display/MetafileRendering.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>
#include <QProxyStyle>
#include <QStyleFactory>

namespace {

// The toolbar's layout: separators eight pixels wide, the first button five pixels in from the left.
class TKavrelStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        switch (metric) {
        case PM_ToolBarSeparatorExtent:
            return 8;
        case PM_ToolBarFrameWidth:
            return 1;
        case PM_ToolBarItemMargin:
            return 4;
        default:
            return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }
};

} // namespace

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitResources()
{
    Q_INIT_RESOURCE(kavrel);
}

QString ApplicationTitle()
{
    return QStringLiteral("Kavrel V2.5");
}

QString Maker::CreditLine()
{
    return QStringLiteral("『") + QString::fromUtf8(kName) + QStringLiteral("出品』");
}

void SetUpApplication(QApplication& application)
{
    // The resources live in a static library; make sure they are linked in and registered.
    InitResources();
    QApplication::setApplicationName(QStringLiteral("kavrel"));
    QApplication::setApplicationVersion(QStringLiteral("2.5"));
    // The desktop entry's name: Wayland compositors know the program by it (its app id), and desktops
    // remember its screenshot permission under it.
    QApplication::setDesktopFileName(QStringLiteral("org.kavrel.Kavrel"));
    QIcon icon;
    for (const char* name : { ":/icons/kavrel.png", ":/icons/kavrel-32.png", ":/icons/kavrel-48.png" })
        icon.addFile(QString::fromLatin1(name));
    QApplication::setWindowIcon(icon);

    // The forms name Windows fonts; map them to what a Linux desktop has, CJK-capable first.
    const QStringList cjk = { QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
        QStringLiteral("Droid Sans Fallback") };
    QFont::insertSubstitutions(QStringLiteral("宋体"), cjk);
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), QStringList { QStringLiteral("DejaVu Sans") } + cjk);

    // The program speaks Chinese: Qt's own dialog buttons and file dialogs too, where Qt's
    // translations are installed.
    auto* translator = new QTranslator(&application);
    if (translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
    else
        delete translator;

    QStyle* base = QStyleFactory::create(QStringLiteral("Fusion"));
    application.setStyle(new TKavrelStyle(base));

    // An enhanced metafile saved under a ".wmf" name is rendered to become a Windows metafile.
    InstallMetafileRasterizer();
}
