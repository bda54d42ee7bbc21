// The station layer's tests: every class registered in this folder's files, in one executable.
#include "support/testmain.h"

#include <QCoreApplication>

MORVEN_TEST_MAIN_ALL(QCoreApplication)
