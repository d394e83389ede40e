// The hyperlink label and the About box.
#include "AppTestSupport.h"
#include "app/about.h"
#include "app/qeHyperLink.h"

#include <QDesktopServices>
#include <QLabel>
#include <QTest>

namespace {

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls.append(url); }
};

void Enter(QWidget* widget)
{
    QEnterEvent event(QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)), widget->mapToGlobal(QPointF(2, 2)));
    QCoreApplication::sendEvent(widget, &event);
}

void Leave(QWidget* widget)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace

class AboutBoxTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        InitAppTests();
        for (const char* scheme : { "http", "https", "mailto" })
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &recorder_, "Open");
    }

    void cleanupTestCase()
    {
        for (const char* scheme : { "http", "https", "mailto" })
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }

    void init() { recorder_.urls.clear(); }

    void newLinkDefaults()
    {
        QWidget parent;
        TqeHyperLink link(&parent);
        QCOMPARE(link.URL(), QString::fromLatin1(TqeHyperLink::kDefaultURL));
        QCOMPARE(link.Caption(), link.URL());
        QCOMPARE(link.size(), QSize(100, 10));
        QVERIFY(link.font().bold());
        QVERIFY(link.font().underline());
        QCOMPARE(link.FontColor(), TqeHyperLink::kLinkBlue);
        QCOMPARE(link.cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(link.Color(), parent.palette().color(QPalette::Window));
    }

    void sizesItselfToTheCaptionWhenPainted()
    {
        QWidget parent;
        parent.resize(600, 100);
        TqeHyperLink link(&parent);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        link.repaint();
        const QFontMetrics metrics(link.font());
        QCOMPARE(link.size(), QSize(metrics.horizontalAdvance(link.Caption()) + 6, metrics.height() + 2));

        const QSize before = link.size();
        link.SetURL(QStringLiteral("http://a.much.longer.address.example.org/with/a/path"));
        link.repaint();
        QCOMPARE(link.size(), before); // the URL alone changes nothing shown
        QCOMPARE(link.Caption(), QString::fromLatin1(TqeHyperLink::kDefaultURL));

        link.SetCaption(link.Caption() + QStringLiteral(" and more words"));
        link.repaint();
        QCOMPARE(link.width(), metrics.horizontalAdvance(link.Caption()) + 6);
        QVERIFY(link.width() > before.width());

        link.SetFontName(QStringLiteral("DejaVu Serif"));
        QCOMPARE(link.font().family(), QStringLiteral("DejaVu Serif"));
        QVERIFY(link.font().bold());
    }

    void paintsBackgroundAndTextColour()
    {
        QWidget parent;
        TqeHyperLink link(&parent);
        link.SetCaption(QStringLiteral("MMMM"));
        link.SetColor(QColor(0x12, 0x34, 0x56));
        const QImage shown = link.grab().toImage();
        QCOMPARE(shown.pixelColor(0, 0), QColor(0x12, 0x34, 0x56));
        bool blueText = false;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                blueText = blueText || shown.pixelColor(x, y) == TqeHyperLink::kLinkBlue;
        QVERIFY(blueText);
    }

    void colourStates()
    {
        QWidget parent;
        TqeHyperLink link(&parent);
        link.SetURL(QStringLiteral("http://visit.example.org/"));
        Enter(&link);
        QCOMPARE(link.FontColor(), TqeHyperLink::kHoverRed);
        Leave(&link);
        QCOMPARE(link.FontColor(), TqeHyperLink::kLinkBlue);

        // The right button does nothing.
        Enter(&link);
        QTest::mouseClick(&link, Qt::RightButton);
        Leave(&link);
        QCOMPARE(link.FontColor(), TqeHyperLink::kLinkBlue);
        QVERIFY(recorder_.urls.isEmpty());

        // A left click opens the URL; red while still hovered, fuchsia from then on.
        Enter(&link);
        QTest::mouseClick(&link, Qt::LeftButton);
        QCOMPARE(recorder_.urls, QList<QUrl> { QUrl(QStringLiteral("http://visit.example.org/")) });
        QCOMPARE(link.FontColor(), TqeHyperLink::kHoverRed);
        Leave(&link);
        QCOMPARE(link.FontColor(), TqeHyperLink::kVisitedFuchsia);
        Enter(&link);
        QCOMPARE(link.FontColor(), TqeHyperLink::kHoverRed);
        Leave(&link);
        QCOMPARE(link.FontColor(), TqeHyperLink::kVisitedFuchsia);
    }

    void aboutBoxLayout()
    {
        TAboutBox box;
        QCOMPARE(box.windowTitle(), QStringLiteral("关于本软件"));
        QVERIFY(box.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(box.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(box.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(box.minimumSize(), box.maximumSize());
        QCOMPARE(box.ProgramIcon()->geometry(), QRect(16, 14, 66, 46));
        const int rows[] = { 120, 96, 72, 144 }; // qeHyperLink1 to qeHyperLink4
        QStringList urls;
        for (int n = 1; n <= 4; ++n) {
            TqeHyperLink* link = box.Link(n);
            QVERIFY(link);
            QCOMPARE(link->pos(), QPoint(12, rows[n - 1]));
            QVERIFY(QUrl(link->URL()).isValid());
            urls.append(link->URL());
        }
        QVERIFY(box.Link(4)->Caption().startsWith(QStringLiteral("QQ:")));
        QCOMPARE(box.Link(4)->URL(), box.Link(1)->URL());
        auto* name = box.findChild<QLabel*>(QStringLiteral("ProductName"));
        QVERIFY(name);
        QCOMPARE(name->text(), QStringLiteral("Kavrel V2.5"));
        QCOMPARE(name->pos(), QPoint(96, 24));
    }

    void logoDecodedWhenFirstPainted()
    {
        TAboutBox box;
        QVERIFY(!box.ProgramIcon()->Decoded());
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        box.ProgramIcon()->repaint();
        QVERIFY(box.ProgramIcon()->Decoded());
        QCOMPARE(box.ProgramIcon()->Logo().size(), QSize(66, 46));
        // The logo is drawn where the control is.
        const QImage shown = box.grab().toImage();
        const QColor corner = shown.pixelColor(16 + 2, 14 + 2);
        QVERIFY2(corner.blue() > corner.red() + 40, "the logo's blue background shows");
    }

private:
    UrlRecorder recorder_;
};

QTEST_MAIN(AboutBoxTest)
#include "AboutBoxTest.moc"
