#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QMainWindow w;
  w.setWindowTitle(QStringLiteral("ZIRV7 Tuning Tool Version 0.1"));
  w.show();
  return app.exec();
}
