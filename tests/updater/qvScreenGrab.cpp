// Saves a picture of the whole X screen: qvScreenGrab OUTPUT.png
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2 || !app.primaryScreen()) return 2;
  return app.primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
