#include <QApplication>

#include "ui/errorbox.h"
#include "ui/main.h"
#include "version.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("zirv7tune"));
  QApplication::setApplicationDisplayName(QStringLiteral("ZIRV7 Tuning Tool"));
  QApplication::setDesktopFileName(QStringLiteral(ZIRV_APP_ID));
  InstallErrorMessageBox();
  TfMain fMain;
  fMain.show();
  return app.exec();
}
