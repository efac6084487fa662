// The "Parameters" page through the whole window against the simulated board: reading,
// marking, writing, the sampling timer around the exchanges, and the parameter files.
#include <QFile>
#include <QFileDialog>
#include <QLocale>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "mainfixture.h"
#include "monitor/sampletimer.h"
#include "parameters/paramtable.h"
#include "ui/logview.h"
#include "ui/spinedit.h"

namespace {

using TWire = std::vector<std::string>;

// The board's double parameters in table order (rows 1 to 8 are all doubles).
double zirvsim::TBoardParams::* const kBoardDoubles[] = {
    &zirvsim::TBoardParams::P,           &zirvsim::TBoardParams::I,
    &zirvsim::TBoardParams::D,           &zirvsim::TBoardParams::Deadband,
    &zirvsim::TBoardParams::MaxOutput,   &zirvsim::TBoardParams::FeedForward0,
    &zirvsim::TBoardParams::FeedForward1, &zirvsim::TBoardParams::FaultError};

enum TOperation { Read, Write };

// Returns the change marks of the fourteen fields: R red, G green, - never marked.
QString Marks(const TfMain& w) {
  QString marks;
  for (const TAdvSpinEdit* field : w.ParameterFields) {
    const TColor c = field->FontColor();
    marks += c == clRed ? u'R' : c == clGreen ? u'G' : u'-';
  }
  return marks;
}

// Returns the texts of the fourteen fields.
QStringList Texts(const TfMain& w) {
  QStringList texts;
  for (const TAdvSpinEdit* field : w.ParameterFields) texts.append(field->Text());
  return texts;
}

// Returns the colour of the last log entry that reads text, or an invalid colour.
QColor LogColourOf(const TfMain& w, const QString& text) {
  const QString plain = w.Panel2->PlainText();
  const qsizetype at = plain.lastIndexOf(QStringLiteral("  ") + text);
  return at < 0 ? QColor() : w.Panel2->reLog->ColourAt(at + 2);
}


// Makes the next modal run of dialog pick fileName (only accept when it is empty); a dialog
// still open after ten seconds is cancelled so that a fault cannot hang the test.
void AnswerDialog(QFileDialog* dialog, const QString& fileName) {
  QTimer::singleShot(0, dialog, [dialog, fileName] {
    if (!fileName.isEmpty()) dialog->selectFile(fileName);
    static_cast<QDialog*>(dialog)->accept();  // the file dialog checks the name first
  });
  QTimer::singleShot(10000, dialog, [dialog] {
    if (dialog->isVisible()) dialog->reject();
  });
}

// Writes a file holding exactly the given bytes.
void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Connects, loads the board with params and reads them into the page; forgets the wire.
void ConnectAndRead(TMainFixture& f, const zirvsim::TBoardParams& params) {
  f.Sim.SetParams(params);
  f.Connect();
  QTest::mouseClick(f.Window->btReadBoardParams, Qt::LeftButton);
  QVERIFY(f.Window->ActPIDParams.Valid);
  f.TakeWire();
}

// Switches the default and the entry fields' user locale to German (decimal ",", thousands
// ".") for one test, and back afterwards.
struct TGermanLocale {
  TGermanLocale() {
    const QLocale german(QLocale::German, QLocale::Germany);
    QLocale::setDefault(german);
    TAdvSpinEdit::SetUserLocale(german);
  }
  ~TGermanLocale() {
    QLocale::setDefault(QLocale::c());
    TAdvSpinEdit::SetUserLocale(std::nullopt);
  }
};

}  // namespace

class TMainParametersTest : public QObject {
  Q_OBJECT

 private slots:
  void ReadShowsAndMarksWhatFieldsCanHold_data();
  void ReadShowsAndMarksWhatFieldsCanHold();
  void WriteSendsEditedFieldsInTableOrder();
  void BoardAnswerOtherThanSentStaysRed_data();
  void BoardAnswerOtherThanSentStaysRed();
  void NothingRedSendsNothing_data();
  void NothingRedSendsNothing();
  void WriteTimeoutStopsAtThatRow();
  void MalformedEchoEndsTheWriteWithItsError();
  void SamplingTimerStateSurvives_data();
  void SamplingTimerStateSurvives();
  void FailedReadKeepsFieldsAndColours_data();
  void FailedReadKeepsFieldsAndColours();
  void NewToolMarksAgainstZero();
  void SaveThenLoadRestoresEveryField();
  void LoadLackingKeysGivesDefaultsMarkedAgainstBoard();
  void LoadWhileDisconnectedFillsDisabledPage();
  void DialogsPickRememberAndPassOnNames();
  void SaveFailureReachesErrorReportOnly();
  void CommaLocaleStillUsesPoint();
};

void TMainParametersTest::ReadShowsAndMarksWhatFieldsCanHold_data() {
  QTest::addColumn<int>("row");
  QTest::addColumn<double>("board");
  QTest::addColumn<QString>("shown");
  QTest::addColumn<QString>("marks");
  QTest::addColumn<QString>("sent");    // the Write that follows; empty: nothing sent
  QTest::addColumn<double>("stored");  // ActPIDParams after that Write
  const QString allGreen(14, u'G');
  QString pRed = allGreen;
  pRed[0] = u'R';
  QString maxRed = allGreen;
  maxRed[4] = u'R';
  QTest::newRow("P with more decimals than shown stays red")
      << 0 << 0.000123456 << "0.0001235" << pRed << "p 0.0001235" << 0.0001235;
  QTest::newRow("MaxOutput shown rounded but compared unrounded")
      << 4 << 95.4 << "95" << maxRed << "m 95" << 95.0;
  QTest::newRow("FaultError compared after rounding")
      << 7 << 999.5 << "1000" << allGreen << "" << 999.5;
  QTest::newRow("Deadband shown through its float value")
      << 3 << 12.0 << "12.0000000" << allGreen << "" << 12.0;
  QTest::newRow("negative FF1") << 6 << -0.25 << "-0.2500000" << allGreen << "" << -0.25;
}

void TMainParametersTest::ReadShowsAndMarksWhatFieldsCanHold() {
  QFETCH(int, row);
  QFETCH(double, board);
  QFETCH(QString, shown);
  QFETCH(QString, marks);
  QFETCH(QString, sent);
  QFETCH(double, stored);
  TMainFixture f;
  TfMain& w = *f.Window;
  zirvsim::TBoardParams params;
  params.*kBoardDoubles[row] = board;
  ConnectAndRead(f, params);
  QCOMPARE(w.ActPIDParams.*ParamTable()[row].DoubleField, board);
  QCOMPARE(w.ParameterFields[row]->Text(), shown);
  QCOMPARE(Marks(w), marks);

  QTest::mouseClick(w.btWriteBoardParams, Qt::LeftButton);
  QVERIFY2(f.Errors.isEmpty(), qPrintable(f.Errors.join(u'\n')));
  QCOMPARE(f.TakeWire(), sent.isEmpty() ? TWire{} : TWire{sent.toStdString()});
  QCOMPARE(w.ActPIDParams.*ParamTable()[row].DoubleField, stored);
  QCOMPARE(Marks(w), QString(14, u'G'));
  QCOMPARE(f.LogTexts().constLast(), QStringLiteral("OK writing params"));
  QCOMPARE(LogColourOf(w, QStringLiteral("OK writing params")), ToQColor(clRed));
}

void TMainParametersTest::WriteSendsEditedFieldsInTableOrder() {
  TMainFixture f;
  TfMain& w = *f.Window;
  ConnectAndRead(f, zirvsim::TBoardParams{});
  // Edited bottom-up: the order on the wire must still be the table's.
  TypeInto(w.seParametersD, QStringLiteral("0.25"));
  TypeInto(w.seParametersP, QStringLiteral("0.5"));
  QCOMPARE(w.seParametersP->Text(), QStringLiteral("0.5000000"));
  QCOMPARE(w.seParametersD->Text(), QStringLiteral("0.2500000"));
  QCOMPARE(Marks(w), QStringLiteral("RGRGGGGGGGGGGG"));

  QTest::mouseClick(w.btWriteBoardParams, Qt::LeftButton);
  QCOMPARE(f.TakeWire(), (TWire{"p 0.5", "d 0.25"}));
  QCOMPARE(w.ActPIDParams.P, 0.5);
  QCOMPARE(w.ActPIDParams.D, 0.25);
  QCOMPARE(w.ActPIDParams.I, zirvsim::TBoardParams{}.I);
  QCOMPARE(f.Sim.Params().P, 0.5);
  QCOMPARE(Marks(w), QString(14, u'G'));
  QVERIFY(f.Errors.isEmpty());
}

void TMainParametersTest::BoardAnswerOtherThanSentStaysRed_data() {
  QTest::addColumn<int>("row");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<int>("fault");  // 0: none, else SetAnswersDifferent by this amount
  QTest::addColumn<QString>("script");  // scripted answer line, or empty
  QTest::addColumn<double>("answer");
  QTest::newRow("board clamps MaxOutput") << 4 << "150" << 0 << "" << 100.0;
  QTest::newRow("board shifts P") << 0 << "0.5" << 2 << "" << 2.5;
  QTest::newRow("scripted other FaultError") << 7 << "500" << 0 << "(f) 498.5" << 498.5;
}

void TMainParametersTest::BoardAnswerOtherThanSentStaysRed() {
  QFETCH(int, row);
  QFETCH(QString, typed);
  QFETCH(int, fault);
  QFETCH(QString, script);
  QFETCH(double, answer);
  TMainFixture f;
  TfMain& w = *f.Window;
  ConnectAndRead(f, zirvsim::TBoardParams{});
  if (fault) f.Sim.SetFault(zirvsim::TFault::SetAnswersDifferent, fault);
  const char letter = ParamTable()[row].Letter;
  if (!script.isEmpty()) f.Sim.ScriptAnswer(std::string(1, letter), {script.toStdString()});
  TAdvSpinEdit* field = w.ParameterFields[row];
  TypeInto(field, typed);
  const QString text = field->Text();

  QTest::mouseClick(w.btWriteBoardParams, Qt::LeftButton);
  QCOMPARE(f.TakeWire(), TWire{letter + (" " + typed.toStdString())});
  QCOMPARE(w.ActPIDParams.*ParamTable()[row].DoubleField, answer);
  QCOMPARE(field->Text(), text);
  QCOMPARE(field->FontColor(), clRed);
  QCOMPARE(f.LogTexts().constLast(), QStringLiteral("OK writing params"));
}

void TMainParametersTest::NothingRedSendsNothing_data() {
  QTest::addColumn<bool>("readFirst");
  QTest::newRow("all green after a read") << true;
  QTest::newRow("never marked") << false;
}

void TMainParametersTest::NothingRedSendsNothing() {
  QFETCH(bool, readFirst);
  TMainFixture f;
  TfMain& w = *f.Window;
  if (readFirst)
    ConnectAndRead(f, zirvsim::TBoardParams{});
  else
    f.Connect();
  const QString marks = Marks(w);
  f.TakeWire();
  QTest::mouseClick(w.btWriteBoardParams, Qt::LeftButton);
  QTest::qWait(50);  // room for a stray command to reach the board
  QCOMPARE(f.TakeWire(), TWire{});
  QCOMPARE(f.LogTexts().constLast(), QStringLiteral("OK writing params"));
  // Marking afterwards colours never-marked fields against the all-zero record.
  QCOMPARE(Marks(w), readFirst ? marks : QStringLiteral("GGGGGGGGGGGGGR"));
}

void TMainParametersTest::WriteTimeoutStopsAtThatRow() {
  TMainFixture f;
  TfMain& w = *f.Window;
  const zirvsim::TBoardParams board;
  ConnectAndRead(f, board);
  TypeInto(w.seParametersP, QStringLiteral("0.5"));
  TypeInto(w.seParametersI, QStringLiteral("0.125"));
  TypeInto(w.seParametersD, QStringLiteral("0.25"));
  TypeInto(w.seParametersMaxOutput, QStringLiteral("80"));
  f.Sim.ScriptAnswer("d", {});  // the "d" command gets no answer at all

  QTest::mouseClick(w.btWriteBoardParams, Qt::LeftButton);
  QVERIFY(f.Errors.isEmpty());
  QCOMPARE(f.TakeWire(), (TWire{"p 0.5", "i 0.125", "d 0.25"}));
  const QStringList log = f.LogTexts();
  QCOMPARE(log.constLast(), QStringLiteral("Error writing params"));
  QCOMPARE(log.at(log.size() - 2), QStringLiteral("Timeout"));
  QCOMPARE(LogColourOf(w, QStringLiteral("Error writing params")), ToQColor(clRed));
  QCOMPARE(w.ActPIDParams.P, 0.5);
  QCOMPARE(w.ActPIDParams.I, 0.125);
  QCOMPARE(w.ActPIDParams.D, board.D);
  QCOMPARE(w.ActPIDParams.MaxOutput, board.MaxOutput);
  // Written rows stay red until the next successful write or read marks them.
  QCOMPARE(Marks(w), QStringLiteral("RRRGRGGGGGGGGG"));
}

void TMainParametersTest::MalformedEchoEndsTheWriteWithItsError() {
  TMainFixture f;
  TfMain& w = *f.Window;
  const zirvsim::TBoardParams board;
  ConnectAndRead(f, board);
  TypeInto(w.seParametersP, QStringLiteral("0.5"));
  TypeInto(w.seParametersD, QStringLiteral("0.25"));
  f.Sim.SetFault(zirvsim::TFault::MalformedNumber, 0);  // line index 0

  QTest::mouseClick(w.btWriteBoardParams, Qt::LeftButton);
  QCOMPARE(f.Errors, QStringList{QStringLiteral("'1.2.3' is not a valid floating point value")});
  QCOMPARE(f.TakeWire(), TWire{"p 0.5"});
  QVERIFY(w.SampleTimer->Enabled());
  QCOMPARE(w.ActPIDParams.P, board.P);
  QVERIFY(!f.LogTexts().contains(QStringLiteral("OK writing params")));
  QVERIFY(!f.LogTexts().contains(QStringLiteral("Error writing params")));

  // The tool runs on: the next write sends both rows.
  f.Sim.SetFault(zirvsim::TFault::None);
  QTest::mouseClick(w.btWriteBoardParams, Qt::LeftButton);
  QCOMPARE(f.TakeWire(), (TWire{"p 0.5", "d 0.25"}));
  QCOMPARE(Marks(w), QString(14, u'G'));
}

void TMainParametersTest::SamplingTimerStateSurvives_data() {
  QTest::addColumn<int>("operation");
  QTest::addColumn<bool>("enabled");
  QTest::addColumn<bool>("boardSilent");
  for (bool silent : {false, true}) {
    for (bool enabled : {true, false}) {
      const QByteArray suffix = QByteArray(enabled ? " enabled" : " disabled") +
                                (silent ? ", board silent" : "");
      QTest::newRow(("read" + suffix).constData()) << int(Read) << enabled << silent;
      QTest::newRow(("write" + suffix).constData()) << int(Write) << enabled << silent;
    }
  }
}

void TMainParametersTest::SamplingTimerStateSurvives() {
  QFETCH(int, operation);
  QFETCH(bool, enabled);
  QFETCH(bool, boardSilent);
  TMainFixture f;
  TfMain& w = *f.Window;
  ConnectAndRead(f, zirvsim::TBoardParams{});
  TypeInto(w.seParametersP, QStringLiteral("1"));
  w.SampleTimer->SetEnabled(enabled);
  if (boardSilent) f.Sim.SetFault(zirvsim::TFault::NoAnswer);
  // The timer must be off while the exchange waits for the board.
  bool enabledDuringExchange = false;
  QTimer probe;
  connect(&probe, &QTimer::timeout, [&] { enabledDuringExchange |= w.SampleTimer->Enabled(); });
  probe.start(1);
  QTest::mouseClick(operation == Read ? w.btReadBoardParams : w.btWriteBoardParams,
                    Qt::LeftButton);
  probe.stop();
  QVERIFY(!enabledDuringExchange);
  QCOMPARE(w.SampleTimer->Enabled(), enabled);
  const char* outcome = operation == Read ? (boardSilent ? "Error reading params" : "")
                                          : (boardSilent ? "Error writing params"
                                                         : "OK writing params");
  if (*outcome) QCOMPARE(f.LogTexts().constLast(), QLatin1String(outcome));
}

void TMainParametersTest::FailedReadKeepsFieldsAndColours_data() {
  QTest::addColumn<int>("fault");
  QTest::addColumn<int>("param");
  QTest::newRow("no answer") << int(zirvsim::TFault::NoAnswer) << 0;
  QTest::newRow("answer cut short") << int(zirvsim::TFault::CutShort) << 1;
  QTest::newRow("MaxOutput line without its tag") << int(zirvsim::TFault::MissingTag) << 8;  // 0-based
}

void TMainParametersTest::FailedReadKeepsFieldsAndColours() {
  QFETCH(int, fault);
  QFETCH(int, param);
  TMainFixture f;
  TfMain& w = *f.Window;
  ConnectAndRead(f, zirvsim::TBoardParams{});
  TypeInto(w.seParametersI, QStringLiteral("3"));
  zirvsim::TBoardParams other;
  other.P = 0.75;
  other.SVMCycle = 2;
  f.Sim.SetParams(other);
  f.Sim.SetFault(zirvsim::TFault(fault), param);
  const QStringList texts = Texts(w);
  const QString marks = Marks(w);

  QTest::mouseClick(w.btReadBoardParams, Qt::LeftButton);
  QVERIFY2(f.Errors.isEmpty(), qPrintable(f.Errors.join(u'\n')));
  QVERIFY(!w.ActPIDParams.Valid);
  QCOMPARE(f.LogTexts().constLast(), QStringLiteral("Error reading params"));
  QCOMPARE(LogColourOf(w, QStringLiteral("Error reading params")), ToQColor(clRed));
  QCOMPARE(Texts(w), texts);
  QCOMPARE(Marks(w), marks);
}

void TMainParametersTest::NewToolMarksAgainstZero() {
  TMainFixture f;
  TfMain& w = *f.Window;
  f.Connect();
  QCOMPARE(Marks(w), QString(14, u'-'));
  TypeInto(w.seParametersP, QStringLiteral("0.5"));
  // Every field is marked at the first edit; SVM Cycle starts at 1 against a record of 0.
  QCOMPARE(Marks(w), QStringLiteral("RGGGGGGGGGGGGR"));
  TypeInto(w.seParametersP, QStringLiteral("0"));
  QCOMPARE(w.seParametersP->Text(), QStringLiteral("0.0000000"));
  QCOMPARE(w.seParametersP->FontColor(), clGreen);
  QCOMPARE(f.TakeWire(), TWire{});
}

void TMainParametersTest::SaveThenLoadRestoresEveryField() {
  TMainFixture f;
  TfMain& w = *f.Window;
  // Float keys take the floats in turn, integer keys their own column.
  const double floats[] = {0.00001, 1.0 / 3, -2.5, 12.25, 0, 123456.7};
  const int ints[] = {0, 0, 0, 0, 87, 0, 0, 1500, 7, 9, 65535, 1, 1023, 4};
  int nextFloat = 0;
  for (size_t i = 0; i < ParamTable().size(); ++i) {
    if (ParamTable()[i].FileFloat)
      w.ParameterFields[i]->SetFloatValue(floats[nextFloat++]);
    else
      w.ParameterFields[i]->SetValue(ints[i]);
  }
  const QStringList texts = Texts(w);
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("tuned.pset"));
  w.SaveParameterFile(path);
  const QByteArray saved = ReadFile(path);
  QVERIFY2(saved.startsWith("[ZIRVParam]\r\nP=1E-5\r\nI=0.3333333\r\n"), saved.constData());
  QVERIFY2(saved.contains("\r\nDeadband=12.25\r\nMaxOutput=87\r\n"), saved.constData());

  w.LoadParameterFile(dir.filePath(QStringLiteral("absent.pset")));
  QVERIFY(Texts(w) != texts);
  w.LoadParameterFile(path);
  QCOMPARE(Texts(w), texts);
  QCOMPARE(Marks(w), QStringLiteral("RRRRRGRRRRRRRR"));
  QVERIFY(f.Errors.isEmpty());
}

void TMainParametersTest::LoadLackingKeysGivesDefaultsMarkedAgainstBoard() {
  TMainFixture f;
  TfMain& w = *f.Window;
  const zirvsim::TBoardParams board;  // P 0.2, I 0.0005, D 0.0015, the rest at the defaults
  ConnectAndRead(f, board);
  const TPIDParams before = w.ActPIDParams;
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("partial.pset"));
  WriteFile(path, "[zirvparam]\r\np=0.2\r\nMaxOutput=95abc\r\nTPSC=0x10\r\n");
  w.LoadParameterFile(path);
  QCOMPARE(Texts(w), (QStringList{"0.2000000", "0.0000000", "0.0000000", "0.0000000", "95",
                                  "0.0000000", "0.0000000", "1000", "1", "16", "50", "0", "0",
                                  "3"}));
  QCOMPARE(Marks(w), QStringLiteral("GRRGGGGGGRGGGG"));
  QCOMPARE(w.ActPIDParams.I, before.I);
  QCOMPARE(f.TakeWire(), TWire{});
}

void TMainParametersTest::LoadWhileDisconnectedFillsDisabledPage() {
  TMainFixture f;
  TfMain& w = *f.Window;
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("p.pset"));
  WriteFile(path, "[ZIRVParam]\r\nP=0.5\r\nSVMCycle=9\r\nPhaseAdvance=-3\r\n");
  QVERIFY(!w.tsParameters->isEnabled());
  QVERIFY(w.Open1->isEnabled() && w.SaveParameters1->isEnabled());
  w.LoadParameterFile(path);
  QVERIFY(!w.tsParameters->isEnabled());
  QCOMPARE(w.seParametersP->Text(), QStringLiteral("0.5000000"));
  // Loaded values go through the fields' limits.
  QCOMPARE(w.seParametersSVMCycle->Text(), QStringLiteral("4"));
  QCOMPARE(w.seParametersPhaseAdvance->Text(), QStringLiteral("0"));
  QCOMPARE(Marks(w), QStringLiteral("RGGGRGGRRRRGGR"));
}

void TMainParametersTest::DialogsPickRememberAndPassOnNames() {
  TMainFixture f;
  TfMain& w = *f.Window;
  for (QFileDialog* dialog : {w.OpenDialog1, w.SaveDialog1}) {
    QCOMPARE(dialog->nameFilters(), QStringList{QStringLiteral("Parameter files (*.pset)")});
    QCOMPARE(dialog->defaultSuffix(), QStringLiteral("pset"));
    QVERIFY(dialog->testOption(QFileDialog::DontUseNativeDialog));
  }
  QTemporaryDir dir;
  // A name typed without extension gets ".pset".
  w.seParametersP->SetFloatValue(0.5);
  AnswerDialog(w.SaveDialog1, dir.filePath(QStringLiteral("first")));
  w.SaveParameters1->trigger();
  QVERIFY2(f.Errors.isEmpty(), qPrintable(f.Errors.join(u'\n')));
  QVERIFY(ReadFile(dir.filePath(QStringLiteral("first.pset"))).contains("\r\nP=0.5\r\n"));

  const QString opened = dir.filePath(QStringLiteral("opened.pset"));
  WriteFile(opened, "[ZIRVParam]\r\nP=0.25\r\n");
  AnswerDialog(w.OpenDialog1, opened);
  w.Open1->trigger();
  QCOMPARE(w.seParametersP->Text(), QStringLiteral("0.2500000"));

  // Saving now proposes the opened file: accepting as proposed overwrites it, asking nothing.
  w.seParametersP->SetFloatValue(0.75);
  AnswerDialog(w.SaveDialog1, QString());
  w.SaveParameters1->trigger();
  QVERIFY2(ReadFile(opened).contains("\r\nP=0.75\r\n"), ReadFile(opened).constData());

  // A cancelled dialog does nothing.
  QTimer::singleShot(0, w.OpenDialog1, &QDialog::reject);
  w.Open1->trigger();
  QCOMPARE(w.seParametersP->Text(), QStringLiteral("0.7500000"));
  QVERIFY(f.Errors.isEmpty());
}

void TMainParametersTest::SaveFailureReachesErrorReportOnly() {
  TMainFixture f;
  TfMain& w = *f.Window;
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("missing/p.pset"));
  const QStringList log = f.LogTexts();
  AnswerDialog(w.SaveDialog1, path);
  w.SaveParameters1->trigger();
  QCOMPARE(f.Errors, QStringList{QStringLiteral("Unable to write to ") + path});
  QCOMPARE(f.LogTexts(), log);
  QVERIFY(!QFile::exists(path));
}

void TMainParametersTest::CommaLocaleStillUsesPoint() {
  TGermanLocale german;
  TMainFixture f;
  TfMain& w = *f.Window;
  zirvsim::TBoardParams board;
  board.P = 0.0125;
  ConnectAndRead(f, board);
  QCOMPARE(w.seParametersP->Text(), QStringLiteral("0.0125000"));
  QCOMPARE(Marks(w), QString(14, u'G'));
  TypeInto(w.seParametersD, QStringLiteral("1.5"));
  QCOMPARE(w.seParametersD->Text(), QStringLiteral("1.5000000"));
  QTest::mouseClick(w.btWriteBoardParams, Qt::LeftButton);
  QCOMPARE(f.TakeWire(), TWire{"d 1.5"});
  QCOMPARE(w.ActPIDParams.D, 1.5);

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("de.pset"));
  w.SaveParameterFile(path);
  QVERIFY2(ReadFile(path).contains("\r\nP=0.0125\r\nI=0.0005\r\nD=1.5\r\n"),
           ReadFile(path).constData());
  WriteFile(path, "[ZIRVParam]\r\nP=0.5\r\nI=0,5\r\n");
  w.LoadParameterFile(path);
  QCOMPARE(w.seParametersP->Text(), QStringLiteral("0.5000000"));
  QCOMPARE(w.seParametersI->Text(), QStringLiteral("0.0000000"));  // "," is no decimal point
  QVERIFY(f.Errors.isEmpty());
}

QTEST_MAIN(TMainParametersTest)
#include "main_parameters_test.moc"
