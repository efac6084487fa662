#include <QApplication>

#include "ui/errorbox.h"
#include "ui/mainwindow.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  NameApplication();
  InstallErrorMessageBox();
  TfMain fMain;
  fMain.show();
  return app.exec();
}
