// Program start: the application object and the main window, then the event loop.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Signetrix"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Signetrix"));
    window.resize(722, 656);
    window.show();
    return app.exec();
}
