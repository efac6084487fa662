// The window test fixture's meta-object code, compiled once for every window suite.
#include "mainwindowfixture.h"

#include "moc_mainwindowfixture.cpp"
