#pragma once

#include <QFileDialog>

// Keeps Qt's file dialogs from reading and writing their per-user settings file (the folders
// visited, the history, the sidebar), for the whole process: the tool keeps no settings. The
// dialogs remember their last folder and file name as long as they exist, that is for the run.
void KeepFileDialogsFromSettingsFiles();

// The open dialog for parameter files. The file must exist, but a name that does not is not
// refused: the user is asked whether to create it, and "No" keeps the dialog open for another
// choice. "Yes" only accepts the name; the caller receives it as chosen and creates nothing.
class TOpenDialog : public QFileDialog {
  Q_OBJECT

 public:
  explicit TOpenDialog(QWidget* parent = nullptr);

  // Accepts the chosen name as the file dialog does, after asking about a name that does not
  // exist.
  void accept() override;

 private:
  bool ConfirmCreate(const QString& fileName);
};
