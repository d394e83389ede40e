// A window for the Wayland capture tests: kavrel-test-window RRGGBB|pattern [TITLE]. It is filled with the
// colour, or with a pattern in which neighbouring device pixels all differ. Prints "shown" on standard
// output once it has painted, and runs until killed.
#include <QApplication>
#include <QPainter>
#include <QWidget>

#include <cstdio>

namespace {

class ColourWindow : public QWidget {
public:
    explicit ColourWindow(const QString& fill) : pattern_(fill == QLatin1String("pattern")), colour_(QStringLiteral("#") + fill) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        if (pattern_) {
            const qreal ratio = devicePixelRatioF();
            QImage image(size() * ratio, QImage::Format_RGB32);
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    image.setPixel(x, y, qRgb((x * 7 + y * 3) & 0xFF, (x * 2 + y * 5 + 40) & 0xFF, (x ^ y) & 0xFF));
            image.setDevicePixelRatio(ratio);
            painter.drawImage(0, 0, image);
        } else {
            painter.fillRect(rect(), colour_);
        }
        if (!announced_) {
            announced_ = true;
            std::printf("shown\n");
            std::fflush(stdout);
        }
    }

private:
    bool pattern_;
    QColor colour_;
    bool announced_ = false;
};

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2)
        return 2;
    ColourWindow window(args[1]);
    window.setWindowTitle(args.size() > 2 ? args[2] : QStringLiteral("colour"));
    window.resize(300, 200);
    window.show();
    return QApplication::exec();
}
