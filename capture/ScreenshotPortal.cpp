#include "capture/ScreenshotPortal.h"

#include "capture/CapturePlatform.h"
#include "framework/Exception.h"
#include "framework/PngDecoder.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QUrl>

#include <unistd.h>

#include <atomic>
#include <cstring>

const char* const kNoScreenshotService =
    "Screen capture on Wayland needs the desktop's screenshot service (xdg-desktop-portal)";

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kObject = QStringLiteral("/org/freedesktop/portal/desktop");
// A non-interactive request is answered in well under a second; a user picking in the desktop's dialog
// may take long.
constexpr int kAnswerTimeoutMs = 30000;
constexpr int kInteractiveTimeoutMs = 15 * 60 * 1000;

}  // namespace

// Receives the Response signal of one request.
class PortalRequest : public QObject {
    Q_OBJECT
public:
    bool answered = false;
    uint code = 2;
    QVariantMap results;
    QEventLoop loop;

public slots:
    void Response(uint responseCode, const QVariantMap& responseResults)
    {
        answered = true;
        code = responseCode;
        results = responseResults;
        loop.quit();
    }
};

namespace {

bool ServiceMissing(const QDBusError& error)
{
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::UnknownMethod:
    case QDBusError::UnknownInterface:
    case QDBusError::UnknownObject:
    case QDBusError::Disconnected:
        return true;
    default:
        return false;
    }
}

TBitmap ReadPicture(const QString& path)
{
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly);
    const QByteArray bytes = opened ? file.readAll() : QByteArray();
    file.close();
    QFile::remove(path);
    if (!opened)
        throw Exception("The desktop's screenshot could not be read: " + file.errorString().toStdString());
    TBitmap bitmap;
    DecodePng({reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())}, bitmap,
              "The desktop's screenshot is not a PNG picture that can be read");
    return bitmap;
}

}  // namespace

TBitmap ScreenshotPortal::Take(bool interactive)
{
    if (!QCoreApplication::instance())
        throw Exception("The screenshot service needs a running application");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        throw Exception(kNoScreenshotService);

    // The answer comes as a signal on a request object whose path the caller chooses: subscribe before
    // asking, or an answer faster than the call's reply is lost.
    static std::atomic<unsigned> counter{0};
    const QString token = QStringLiteral("kavrel%1_%2").arg(::getpid()).arg(++counter);
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
    PortalRequest request;
    bus.connect(kService, path, requestInterface, QStringLiteral("Response"), &request, SLOT(Response(uint, QVariantMap)));

    QDBusMessage call = QDBusMessage::createMethodCall(kService, kObject, QStringLiteral("org.freedesktop.portal.Screenshot"),
                                                       QStringLiteral("Screenshot"));
    call << QString() << QVariantMap{{QStringLiteral("handle_token"), token}, {QStringLiteral("interactive"), interactive},
                                     {QStringLiteral("modal"), true}};
    const QDBusMessage reply = bus.call(call, QDBus::Block, kAnswerTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        bus.disconnect(kService, path, requestInterface, QStringLiteral("Response"), &request, SLOT(Response(uint, QVariantMap)));
        const QDBusError error(reply);
        if (ServiceMissing(error))
            throw Exception(kNoScreenshotService);
        throw Exception("The desktop's screenshot service failed: " + error.message().toStdString());
    }
    // Older services choose the request's path themselves.
    const QString handle = reply.arguments().value(0).value<QDBusObjectPath>().path();
    if (!handle.isEmpty() && handle != path && !request.answered) {
        bus.disconnect(kService, path, requestInterface, QStringLiteral("Response"), &request, SLOT(Response(uint, QVariantMap)));
        path = handle;
        bus.connect(kService, path, requestInterface, QStringLiteral("Response"), &request, SLOT(Response(uint, QVariantMap)));
    }
    if (!request.answered) {
        QTimer::singleShot(interactive ? kInteractiveTimeoutMs : kAnswerTimeoutMs, &request.loop, &QEventLoop::quit);
        request.loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    bus.disconnect(kService, path, requestInterface, QStringLiteral("Response"), &request, SLOT(Response(uint, QVariantMap)));

    if (!request.answered)
        throw Exception("The desktop's screenshot service did not answer");
    if (request.code == 1 && interactive)
        throw ECaptureCancelled();
    if (request.code != 0)
        throw Exception("The desktop's screenshot service refused the screenshot");
    const QUrl uri(request.results.value(QStringLiteral("uri")).toString());
    if (!uri.isLocalFile())
        throw Exception("The desktop's screenshot service gave no picture file");
    return ReadPicture(uri.toLocalFile());
}

#include "ScreenshotPortal.moc"
