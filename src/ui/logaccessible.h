#pragma once

// What assistive technology (a screen reader, AT-SPI automation) sees of the log view: its
// text, caret, selection and the format of each run, in the form Qt's own text edits give, and
// each change as it happens. Every query builds only the range it asks for, so a log of a
// million entries answers as fast as a short one.

#include <QString>
#include <QTextCharFormat>
#include <functional>

class QAccessibleEvent;
class TLogView;

// Makes the log view known to Qt's accessibility; later calls do nothing.
void InstallLogViewAccessibility();

// Returns the text attributes of a character format as Qt's text edits report them
// ("font-family:...;font-size:8pt;...;color:rgb(0,0,255);"), which the platform bridge
// passes on (AT-SPI: family-name, size, fg-color, ...).
QString LogTextAttributes(const QTextCharFormat& format);

// Returns whether anyone listens to the log's accessibility events (worth building them).
bool LogAccessibilityListens();

// Tells assistive technology, when any is listening, that the text from pos changed: removed
// was taken out and inserted put in (either may be empty).
void NotifyLogTextChanged(TLogView* view, qsizetype pos, const QString& removed,
                          const QString& inserted);

// Tells assistive technology, when any is listening, that the caret moved, and the selection
// with it when selectionChanged is set.
void NotifyLogCaretMoved(TLogView* view, bool selectionChanged);

// Hands every accessibility event of the log views to listener as well, also while no assistive
// technology listens (tests watch them); an empty function ends it.
void SetLogAccessibilityListener(std::function<void(QAccessibleEvent*)> listener);
