#pragma once

// Installs the application's standard error report: a message box with the error's text,
// after which the tool runs on.
void InstallErrorMessageBox();
