#pragma once

// What link and unlink check of the COMn they change.

#include <QString>

// Returns why com's alias may not be changed without --force: it leads to a device some
// program holds now (the simulated board, a terminal program, the tool), which would lose its
// port from under it. change says what would be done ("re-pointing", "removing"); an alias
// that already leads to keptTarget is not changed at all. "" when nothing is in the way.
QString AliasInUseProblem(const QString& com, const QString& change, const QString& keptTarget = {});
