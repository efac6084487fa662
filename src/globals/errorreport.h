#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <utility>

#include "globals/errors.h"

// The application's standard error report: an error that ends a user action is shown with its
// text and the tool runs on. The window installs a message box; tests install a recorder.
using TErrorReporter = std::function<void(const QString& message)>;

// Installs the reporter and returns the previous one.
TErrorReporter SetErrorReporter(TErrorReporter reporter);

// Shows one error through the installed reporter (stderr when none is installed), with an
// explanation that the reporter may show under the message.
void ReportError(const QString& message, const QString& explanation = QString());

// Returns the explanation of the error being reported: valid while the reporter runs, "" when
// the error has none. Reporters that show more than the message read it here.
const QString& ReportedExplanation();

// Runs one user action (a click, a menu command, a timer tick, a receive notification) and
// reports any error that ends it. Qt never sees an exception unwind through its frames.
template <class F>
void Guarded(F&& action) {
  try {
    std::forward<F>(action)();
  } catch (const Exception& e) {
    ReportError(e.Message(), e.Explanation());
  } catch (const std::exception& e) {
    ReportError(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    ReportError(QStringLiteral("Unknown error"));
  }
}
