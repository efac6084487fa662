#include "ui/errorbox.h"

#include <QApplication>
#include <QMessageBox>

#include "globals/errorreport.h"

void InstallErrorMessageBox() {
  SetErrorReporter([](const QString& message) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(), message,
                    QMessageBox::Ok, QApplication::activeWindow());
    // The error's own text stays the main text; what it means and its cure go beneath.
    box.setInformativeText(ReportedExplanation());
    box.exec();
  });
}
