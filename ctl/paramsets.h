#pragma once

// Parameter sets as the daily commands (params, save, write, diff, restore) read, print and
// write them: the fourteen values of the parameter table, as the window's entry fields hold
// them.

#include <QString>

#include "boardsession/paramswap.h"
#include "ctl/ctlio.h"
#include "parameters/paramfile.h"

// Returns the values as the window's entry fields show them (FieldShownValue): what its Save
// writes after a Read, and what its Write sends after an Open.
TParamValues ShownValues(const TParamValues& values);

// Reads a parameter file as the window's Open fills its fields (ShownValues of the file's
// values), where the file gives every value itself (ReadParamFileStrictly). Prints why not
// ("zirv7ctl: <file>:<line>: <why>" and the explanation) and returns false otherwise.
bool ReadParameterFile(TCtlIo& io, const QString& file, TParamValues& values);

// Writes values into a parameter file as the window's Save writes its fields, keeping every
// other line of an existing file, through the output file writer (UpdateOutputFile).
TResult<void> SaveParameterFile(const QString& file, const TParamValues& values);

// Returns the file values the window's Save writes for fields showing values.
TParamFileValues FileValuesOf(const TParamValues& values);

// Returns the parameter record of a board holding values (integer rows rounded).
TPIDParams ParamsOf(const TParamValues& values);

// Returns the value as a cell: the number text of the tool.
QString ValueText(double value);
