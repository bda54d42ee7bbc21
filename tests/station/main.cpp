// The station tests' main: every class registered with MORVEN_TEST_CLASS runs.
#include "support/testmain.h"

#include <QCoreApplication>

MORVEN_TEST_MAIN_ALL(QCoreApplication)
