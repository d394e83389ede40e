#include "AppTestSupport.h"

#include "app/Application.h"
#include "codecs/GraphicFormats.h"
#include "framework/Exception.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

void InitAppTests()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    EnsureAllFormatsRegistered();
    SetUpApplication(*qobject_cast<QApplication*>(QCoreApplication::instance()));
}

void RunEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool WithNextModal(const std::function<void()>& action, const std::function<void(QWidget*)>& inspect)
{
    bool seen = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || seen)
            return;
        seen = true;
        inspect(modal);
        modal->close();
    });
    poll.start();
    action();
    poll.stop();
    return seen;
}

std::unique_ptr<TBitmap> FakeCaptureSource::Make(const char* what)
{
    calls.emplace_back(what);
    if (during)
        during();
    if (!failure.empty())
        throw Exception(failure);
    if (width == 0)
        return nullptr;
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap->ScanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<uint8_t>(x);
            row[3 * x + 1] = static_cast<uint8_t>(y);
            row[3 * x + 2] = 0x80;
        }
    }
    return bitmap;
}
