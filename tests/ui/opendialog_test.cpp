// The open dialog for parameter files: an existing file opens at once; a name that does not
// exist asks to be created, "Yes" opens it as a new empty file, "No" keeps the dialog open.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "globals/errorreport.h"
#include "ui/main.h"
#include "ui/opendialog.h"
#include "ui/spinedit.h"

namespace {

// Answers the next message box with button, recording its text; does nothing when none
// comes up.
void AnswerQuestion(QMessageBox::StandardButton button, QString& text) {
  QTimer::singleShot(0, [button, &text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    text = box->text();
    if (QAbstractButton* pressed = box->button(button))
      pressed->click();
    else
      box->reject();  // a box of another kind, such as a refusal
  });
}

// Types name into the dialog's file name field and presses Return, answering a question with
// answer. Returns the question's text (empty when none was asked).
QString TypeName(QFileDialog& dialog, const QString& name, QMessageBox::StandardButton answer) {
  auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  if (edit == nullptr) return QStringLiteral("no file name field");
  edit->clear();
  QTest::keyClicks(edit, name);
  QString question;
  AnswerQuestion(answer, question);
  QTest::keyClick(edit, Qt::Key_Return);
  QCoreApplication::processEvents();  // an unused answer must not reach the next case
  return question;
}

}  // namespace

class TOpenDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void TypedNames_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("chosen");  // empty when the dialog stays open
    const QString ask = QStringLiteral("new.pset does not exist.\nDo you want to create it?");
    QTest::newRow("an existing file opens unasked") << "there.pset" << 0 << "" << "there.pset";
    QTest::newRow("the extension is added") << "there" << 0 << "" << "there.pset";
    QTest::newRow("a new name asks; yes opens it") << "new" << int(QMessageBox::Yes) << ask
                                                   << "new.pset";
    QTest::newRow("a new name asks; no stays") << "new.pset" << int(QMessageBox::No) << ask
                                               << "";
  }
  void TypedNames() {
    QFETCH(QString, typed);
    QFETCH(int, answer);
    QFETCH(QString, chosen);
    QTemporaryDir dir;
    QFile(dir.filePath(QStringLiteral("there.pset"))).open(QIODevice::WriteOnly);
    TOpenDialog dialog;
    dialog.setNameFilter(QStringLiteral("Parameter files (*.pset)"));
    dialog.setDefaultSuffix(QStringLiteral("pset"));
    dialog.setDirectory(dir.path());
    dialog.show();
    QTEST(TypeName(dialog, typed, QMessageBox::StandardButton(answer)), "question");
    QCOMPARE(dialog.isVisible(), chosen.isEmpty());
    if (!chosen.isEmpty()) {
      QCOMPARE(dialog.result(), int(QDialog::Accepted));
      QCOMPARE(dialog.selectedFiles(), QStringList(dir.filePath(chosen)));
    }
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("new.pset"))));  // the dialog creates none
  }

  // Behind "&Open Parameters": a confirmed new name is created empty and loaded, so every field
  // gets its default and "&Save Parameters" proposes it; where it cannot be created, the
  // standard error report says so and the fields stay.
  void OpenCreatesAConfirmedNewFile_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("created");
    QTest::newRow("in an existing folder") << "new.pset" << true;
    QTest::newRow("in a missing folder") << "missing/new.pset" << false;
  }
  void OpenCreatesAConfirmedNewFile() {
    QFETCH(QString, name);
    QFETCH(bool, created);
    QTemporaryDir dir;
    QStringList errors;
    const TErrorReporter previous = SetErrorReporter([&](const QString& m) { errors << m; });
    auto window = std::make_unique<TfMain>();
    window->seParametersMaxOutput->SetValue(7);
    const QString path = dir.filePath(name);
    QString question;
    QTimer::singleShot(0, window->OpenDialog1, [&] {
      window->OpenDialog1->selectFile(path);
      AnswerQuestion(QMessageBox::Yes, question);
      static_cast<QDialog*>(window->OpenDialog1)->accept();  // checks the name first
      if (window->OpenDialog1->isVisible()) window->OpenDialog1->reject();  // refused
    });
    window->Open1->trigger();
    SetErrorReporter(previous);
    QCOMPARE(question, QStringLiteral("new.pset does not exist.\nDo you want to create it?"));
    QCOMPARE(errors, created ? QStringList() : QStringList("Unable to write to " + path));
    QCOMPARE(QFileInfo(path).isFile() && QFileInfo(path).size() == 0, created);
    QCOMPARE(window->seParametersMaxOutput->Value(), created ? 95 : 7);
    QCOMPARE(window->seParametersSVMCycle->Value(), created ? 3 : 1);
    QCOMPARE(window->SaveDialog1->selectedFiles(), QStringList(path));
  }
};

QTEST_MAIN(TOpenDialogTest)
#include "opendialog_test.moc"
