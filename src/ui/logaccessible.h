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

// Makes a log view known to Qt's accessibility and passes on each change of its text and caret
// it announces to assistive technology. Called as soon as the view is made: Qt keeps the first
// interface it hands out for a widget, a generic one when this was not called yet.
void MakeLogViewAccessible(TLogView* view);

// Returns the text attributes of a character format as Qt's text edits report them
// ("font-family:...;font-size:8pt;...;color:rgb(0,0,255);"), which the platform bridge
// passes on (AT-SPI: family-name, size, fg-color, ...).
QString LogTextAttributes(const QTextCharFormat& format);

// Hands every accessibility event of the log views to listener as well, also while no assistive
// technology listens (tests watch them); an empty function ends it.
void SetLogAccessibilityListener(std::function<void(QAccessibleEvent*)> listener);
