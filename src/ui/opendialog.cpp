#include "ui/opendialog.h"

#include <QFileInfo>
#include <QMessageBox>

TOpenDialog::TOpenDialog(QWidget* parent) : QFileDialog(parent) {
  setOption(QFileDialog::DontUseNativeDialog);
  setAcceptMode(QFileDialog::AcceptOpen);
  // In its mode for existing files Qt's dialog refuses other names with "File not found";
  // in this mode it lets any name through, and accept() asks about the missing ones.
  setFileMode(QFileDialog::AnyFile);
}

void TOpenDialog::accept() {
  const QStringList files = selectedFiles();
  if (files.size() == 1 && !QFileInfo(files.first()).isDir() &&
      !QFileInfo::exists(files.first()) && !ConfirmCreate(files.first()))
    return;
  QFileDialog::accept();
}

bool TOpenDialog::ConfirmCreate(const QString& fileName) {
  // Asked in the manner of the dialog's own question before replacing a file.
  const QString question = tr("%1 does not exist.\nDo you want to create it?")
                               .arg(QFileInfo(fileName).fileName());
  return QMessageBox::question(this, windowTitle(), question,
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::Yes) == QMessageBox::Yes;
}
