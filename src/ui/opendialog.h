#pragma once

#include <QFileDialog>

// The open dialog for parameter files. The file must exist, but a name that does not is not
// refused: the user is asked whether to create it, and "No" keeps the dialog open for another
// choice. Creating the file is left to the caller, which receives the name as chosen.
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
