// The window as a person and assistive technology see it: controls at their design places,
// drawn where they stand, and named after the captions beside them.
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTest>

#include "mainfixture.h"
#include "monitor/chart.h"
#include "ui/spinedit.h"

namespace {

// Returns the name assistive technology reads for a widget. On Linux a drop-down list names
// itself by its current entry and is found through the label it is labelled by.
QString AccessibleName(QWidget* widget) {
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
  if (!iface) return QString();
  if (!qobject_cast<QComboBox*>(widget)) return iface->text(QAccessible::Name);
  const auto labels = iface->relations(QAccessible::Label);
  return labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
}

// Returns the widget's rectangle in the coordinates of its tab page.
QRect OnPage(QWidget* widget, QWidget* page) {
  return QRect(widget->mapTo(page, QPoint(0, 0)), widget->size());
}

}  // namespace

class TMainLayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void RegionsStackAtTheirDesignHeights();
  void ControlsStandAtTheirDesignPlaces_data();
  void ControlsStandAtTheirDesignPlaces();
  void ScreenshotShowsEachControlWhereItStands();
  void ControlsCarryTheNamesPeopleRead();
  void ExtraHeightGoesToTheLog();
};

void TMainLayoutTest::RegionsStackAtTheirDesignHeights() {
  TMainFixture f;
  TfMain& w = *f.Window;
  QCOMPARE(w.centralWidget()->size(), QSize(780, 608));
  QCOMPARE(w.Panel1->height(), 33);
  QCOMPARE(w.PageControl1->height(), 472);
  QCOMPARE(w.Panel2->height(), 100);
  QCOMPARE(w.Splitter1->handleWidth(), 3);
  QVERIFY(w.PageControl1->minimumHeight() >= 450);
  QVERIFY(w.Panel2->minimumHeight() >= 100);
  QCOMPARE(w.menuBar()->actions().size(), 1);
  const QList<QAction*> file = w.File1->actions();
  QCOMPARE(file.size(), 4);
  QCOMPARE(file[0]->text(), QStringLiteral("&Open Parameters"));
  QCOMPARE(file[1]->text(), QStringLiteral("&Save Parameters"));
  QVERIFY(file[2]->isSeparator());
  QCOMPARE(file[3]->text(), QStringLiteral("&E&xit"));
}

void TMainLayoutTest::ControlsStandAtTheirDesignPlaces_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<bool>("monitorPage");
  QTest::addColumn<QRect>("expected");  // on its page; width or height 0 = not checked
  QTest::newRow("All Motor types") << "GroupBox5" << false << QRect(8, 3, 345, 310);
  QTest::newRow("BLDC specific") << "GroupBox6" << false << QRect(368, 3, 346, 146);
  QTest::newRow("P field") << "seParametersP" << false << QRect(8 + 144, 3 + 24, 133, 22);
  QTest::newRow("TPSC field") << "seParametersTPSC" << false
                              << QRect(8 + 144, 3 + 24 + 9 * 28, 133, 22);
  QTest::newRow("SVM field") << "seParametersSVMCycle" << false
                             << QRect(368 + 144, 3 + 24 + 3 * 28, 133, 22);
  QTest::newRow("Read") << "btReadBoardParams" << false << QRect(538, 165, 176, 25);
  QTest::newRow("Write") << "btWriteBoardParams" << false << QRect(538, 196, 176, 25);
  QTest::newRow("Sampling") << "GroupBox1" << true << QRect(8, 8, 169, 175);
  QTest::newRow("Status") << "GroupBox2" << true << QRect(183, 8, 230, 175);
  QTest::newRow("Step input response") << "GroupBox3" << true << QRect(419, 8, 170, 175);
  QTest::newRow("Movement") << "GroupBox4" << true << QRect(595, 8, 166, 175);
  QTest::newRow("Sample status") << "btSampleStatus" << true << QRect(0, 0, 152, 25);
  QTest::newRow("Launch Test") << "btLaunchSITest" << true << QRect(0, 0, 153, 25);
  QTest::newRow("Set") << "btSetOscVal" << true << QRect(0, 0, 149, 25);
  QTest::newRow("Stop") << "btStop" << true << QRect(0, 0, 149, 25);
  QTest::newRow("Chart") << "Chart1" << true << QRect(0, 189, 0, 0);
}

void TMainLayoutTest::ControlsStandAtTheirDesignPlaces() {
  QFETCH(QString, name);
  QFETCH(bool, monitorPage);
  QFETCH(QRect, expected);
  TMainFixture f;
  TfMain& w = *f.Window;
  QWidget* page = monitorPage ? w.tsRTMonitor : w.tsParameters;
  w.PageControl1->setCurrentWidget(page);
  auto* widget = page->findChild<QWidget*>(name);
  QVERIFY2(widget, qPrintable(name));
  const QRect actual = expected.topLeft() == QPoint(0, 0) ? QRect(QPoint(0, 0), widget->size())
                                                          : OnPage(widget, page);
  const int tolerance = 3;
  QVERIFY2(qAbs(actual.x() - expected.x()) <= tolerance, qPrintable(name));
  QVERIFY2(qAbs(actual.y() - expected.y()) <= tolerance, qPrintable(name));
  if (expected.width() > 0) QCOMPARE(actual.width(), expected.width());
  if (expected.height() > 0) QCOMPARE(actual.height(), expected.height());
}

void TMainLayoutTest::ScreenshotShowsEachControlWhereItStands() {
  TMainFixture f;
  TfMain& w = *f.Window;
  f.Connect();  // enabled controls draw their normal look
  for (QWidget* page : {w.tsParameters, w.tsRTMonitor}) {
    w.PageControl1->setCurrentWidget(page);
    QCoreApplication::processEvents();
    const QImage shot = w.grab().toImage();
    for (auto* button : page->findChildren<QPushButton*>()) {
      if (button == w.Chart1->btClear) continue;  // painted over by the chart's own face
      // The button's face, without the rounded corners where the page's own colour shows.
      const QRect face = QRect(QPoint(0, 0), button->size()).adjusted(3, 3, -3, -3);
      const QRect region = face.translated(button->mapTo(&w, QPoint(0, 0)));
      const QImage expected = button->grab().toImage().copy(face).convertToFormat(shot.format());
      QVERIFY2(shot.copy(region) == expected,
               qPrintable(button->objectName() + button->text()));
    }
  }
}

void TMainLayoutTest::ControlsCarryTheNamesPeopleRead() {
  TMainFixture f;
  TfMain& w = *f.Window;
  QCOMPARE(AccessibleName(w.cbPort), QStringLiteral("Port:"));
  QCOMPARE(AccessibleName(w.btConnect), QStringLiteral("Connect"));
  QCOMPARE(AccessibleName(w.btReadBoardParams), QStringLiteral("Read ZIRV parameters"));
  QCOMPARE(AccessibleName(w.cbSampleAutomatic), QStringLiteral("Automatic"));
  QCOMPARE(AccessibleName(w.cbLiveSet), QStringLiteral("Set when changing"));
  QCOMPARE(AccessibleName(w.seParametersP), QStringLiteral("P:"));
  QCOMPARE(AccessibleName(w.seParametersSVMCycle), QStringLiteral("SVM Cycle time (c):"));
  QCOMPARE(AccessibleName(w.seSampleInterval), QStringLiteral("Interval:"));
  QCOMPARE(AccessibleName(w.seMovement), QStringLiteral("Pos X 10 per sec:"));
  QCOMPARE(AccessibleName(w.lbStatusError), QStringLiteral("Error:"));
  QCOMPARE(AccessibleName(w.lbStatusOutputLimited), QStringLiteral("Output Limited:"));
  QCOMPARE(AccessibleName(w.tsParameters), QStringLiteral("Parameters"));
  QCOMPARE(AccessibleName(w.tsRTMonitor), QStringLiteral("RT Monitor"));
  QCOMPARE(AccessibleName(w.Panel2->reLog), QStringLiteral("RS232 logging:"));
  // Every entry field of both pages is named by a caption.
  for (auto* field : w.findChildren<TSpinEditBase*>())
    QVERIFY2(!AccessibleName(field).isEmpty(), qPrintable(field->objectName()));
}

void TMainLayoutTest::ExtraHeightGoesToTheLog() {
  TMainFixture f;
  TfMain& w = *f.Window;
  w.resize(w.width(), w.height() + 200);
  QCoreApplication::processEvents();
  // The platform may cap the window at its screen's height; whatever was gained goes to the log.
  QVERIFY(w.centralWidget()->height() > 608);
  QCOMPARE(w.PageControl1->height(), 472);
  QCOMPARE(w.Panel2->height(), w.centralWidget()->height() - 33 - 472 - 3);
}

// The design size needs a screen taller than the offscreen platform's default 800 x 600.
int main(int argc, char* argv[]) {
  QTemporaryDir dir;
  QFile config(dir.filePath(QStringLiteral("screens.json")));
  if (config.open(QIODevice::WriteOnly))
    config.write(R"({"screens": [{"name": "design", "x": 0, "y": 0, "width": 1280,
                    "height": 1024, "logicalDpiX": 96, "logicalDpiY": 96}]})");
  config.close();
  if (qgetenv("QT_QPA_PLATFORM") == "offscreen")
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toLocal8Bit());
  QApplication app(argc, argv);
  TMainLayoutTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "main_layout_test.moc"
