// A window filled with one colour, for the Wayland capture tests: kavrel-test-window RRGGBB [TITLE].
// Prints "shown" on standard output once the compositor has shown the first frame, and runs until killed.
#include <QApplication>
#include <QPainter>
#include <QWidget>

#include <cstdio>

namespace {

class ColourWindow : public QWidget {
public:
    explicit ColourWindow(QColor colour) : colour_(colour) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).fillRect(rect(), colour_);
        if (!announced_) {
            announced_ = true;
            std::printf("shown\n");
            std::fflush(stdout);
        }
    }

private:
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
    ColourWindow window(QColor(QStringLiteral("#") + args[1]));
    window.setWindowTitle(args.size() > 2 ? args[2] : QStringLiteral("colour"));
    window.resize(300, 200);
    window.show();
    return QApplication::exec();
}
