// The file dialogs for parameter files. The open dialog: an existing file opens at once; a name
// that does not exist asks to be created, "Yes" takes the name (creating nothing), "No" keeps
// the dialog open. Both dialogs remember their names for the run only: no settings file.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "globals/errorreport.h"
#include "ui/mainwindow.h"
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
  // Using the dialogs and ending the window leaves the configuration folder as it was, and
  // the history another program's dialogs left there is not read. First of the suite: Qt takes
  // its settings folder once per process, so only the first user of it sees this test's.
  void DialogsKeepNoSettingsFile() {
    const QByteArray existing = "[FileDialog]\nhistory=file:///planted\nlastVisited=file:///planted\n";
    const QString conf = FConfig->filePath(QStringLiteral("QtProject.conf"));
    {
      QFile file(conf);
      QVERIFY(file.open(QIODevice::WriteOnly) && file.write(existing) == existing.size());
    }
    QTemporaryDir dir;
    auto window = std::make_unique<TfMain>();
    QTimer::singleShot(0, window->OpenDialog1, [&] { window->OpenDialog1->reject(); });
    window->Open1->trigger();
    QVERIFY(!window->OpenDialog1->history().contains(QStringLiteral("/planted")));
    window->SaveDialog1->setDirectory(dir.path());
    QTimer::singleShot(0, window->SaveDialog1,
                       [&] { TypeName(*window->SaveDialog1, "kept", QMessageBox::Yes); });
    window->SaveParameters1->trigger();
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("kept.pset"))));
    window.reset();
    const QStringList left = QDir(FConfig->path()).entryList(QDir::AllEntries | QDir::Hidden |
                                                             QDir::NoDotAndDotDot);
    QCOMPARE(left, QStringList("QtProject.conf"));
    QFile file(conf);
    QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), existing);
  }

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

  // Behind "&Open Parameters": a confirmed new name is only taken. The missing file loads as
  // every field's default, silently, and nothing is created, also where nothing could be; the
  // next "&Save Parameters" proposes the name and writes it (or reports why it cannot).
  void OpenTakesAConfirmedNewNameOnly_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("saves");
    QTest::newRow("in an existing folder") << "new.pset" << true;
    QTest::newRow("in a missing folder") << "missing/new.pset" << false;
  }
  void OpenTakesAConfirmedNewNameOnly() {
    QFETCH(QString, name);
    QFETCH(bool, saves);
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
    });
    window->Open1->trigger();
    QCOMPARE(question, QStringLiteral("new.pset does not exist.\nDo you want to create it?"));
    QCOMPARE(errors, QStringList());
    QVERIFY(!QFileInfo::exists(path));
    QCOMPARE(window->seParametersMaxOutput->Value(), 95);
    QCOMPARE(window->seParametersSVMCycle->Value(), 3);
    QCOMPARE(window->SaveDialog1->selectedFiles(), QStringList(path));

    QTimer::singleShot(0, window->SaveDialog1,
                       [&] { static_cast<QDialog*>(window->SaveDialog1)->accept(); });
    window->SaveParameters1->trigger();
    SetErrorReporter(previous);
    QCOMPARE(QFileInfo(path).size() > 0, saves);
    QCOMPARE(errors, saves ? QStringList() : QStringList("Unable to write to " + path));
  }

  // The next save proposes the name as saved, extension included, whether it was typed with
  // one or not; so does the next open.
  void DialogsProposeTheNameWithItsExtension() {
    QTemporaryDir dir;
    auto window = std::make_unique<TfMain>();
    for (QFileDialog* dialog : {window->SaveDialog1, window->OpenDialog1}) {
      QAction* action = dialog == window->SaveDialog1 ? window->SaveParameters1 : window->Open1;
      dialog->setDirectory(dir.path());
      QTimer::singleShot(0, dialog, [dialog] { TypeName(*dialog, "old", QMessageBox::Yes); });
      action->trigger();
      QString proposed;
      QTimer::singleShot(0, dialog, [dialog, &proposed] {
        proposed = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
        dialog->reject();
      });
      action->trigger();
      QCOMPARE(proposed, QStringLiteral("old.pset"));
    }
  }

 private:
  std::unique_ptr<QTemporaryDir> FConfig;  // this test's configuration folder
  QByteArray FSavedConfig;

 private slots:
  void init() {
    FConfig = std::make_unique<QTemporaryDir>();
    FSavedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", FConfig->path().toLocal8Bit());
  }
  void cleanup() {
    if (FSavedConfig.isNull())
      qunsetenv("XDG_CONFIG_HOME");
    else
      qputenv("XDG_CONFIG_HOME", FSavedConfig);
    FConfig.reset();
  }
};

QTEST_MAIN(TOpenDialogTest)
#include "opendialog_test.moc"
