#pragma once

// What main() must know from the raw arguments before the application object exists.

// Returns whether the arguments ask for a picture (--png or --svg), which needs a
// QGuiApplication for its fonts.
bool ArgumentsWantPicture(int argc, char** argv);
