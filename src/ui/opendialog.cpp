#include "ui/opendialog.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>

void KeepFileDialogsFromSettingsFiles() {
  // Qt's dialogs keep their state through QSettings in its native format, in the user's (and
  // the system's) configuration folder. Pointed into the program's resources, which hold no
  // such file and cannot be written, the dialogs find nothing there and their writes fail
  // without a trace. The tool itself uses no QSettings.
  const QString nowhere = QStringLiteral(":/no-settings");
  for (const QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope})
    QSettings::setPath(QSettings::NativeFormat, scope, nowhere);
}

TOpenDialog::TOpenDialog(QWidget* parent) : QFileDialog(parent) {
  KeepFileDialogsFromSettingsFiles();
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

#include "moc_opendialog.cpp"
