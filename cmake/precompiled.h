// The headers most files of the project include, precompiled once (ZirvFastBuild.cmake).
// QtTest and gtest.h stay out: QtTest's header reads per-target macros, and a header of gtest's
// own would cost more to make than the few tests using it would save.
//
// A compiler that cannot take the precompiled form (different options, a target without Qt)
// reads this file as text instead; each Qt group is then included only where the target's
// include folders reach it, so that the file compiles for every target, Qt or not.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#if __has_include(<QString>)
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QTimer>
#endif

#if __has_include(<QPainter>)
#include <QColor>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#endif

#if __has_include(<QWidget>)
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWidget>
#endif
