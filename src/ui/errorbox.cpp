#include "ui/errorbox.h"

#include <QApplication>
#include <QMessageBox>

#include "globals/errorreport.h"

void InstallErrorMessageBox() {
  SetErrorReporter([](const QString& message) {
    QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationDisplayName(),
                          message);
  });
}
